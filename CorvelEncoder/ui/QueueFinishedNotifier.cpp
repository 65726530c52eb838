#include "CorvelEncoder/ui/QueueFinishedNotifier.h"

#include "CorvelEncoder/model/AppModel.h"
#include "CorvelEncoder/model/DesktopServices.h"

#include <QTimer>

namespace corvel {

QueueFinishedNotifier::QueueFinishedNotifier(AppModel& model, DesktopServices& desktop, Send send,
                                             QObject* parent)
    : QObject(parent), m_model(model), m_desktop(desktop), m_send(std::move(send))
{
    for (const EncodingJob& job : model.store().jobs())
        m_seen.insert(job.id, job.status);
    connect(&model.store(), &JobStore::jobChanged, this, &QueueFinishedNotifier::noteJob);
    connect(&model.store(), &JobStore::countsChanged, this, [this] {
        // The scheduler starts the next job right after one ends: look once it has.
        if (m_checkQueued)
            return;
        m_checkQueued = true;
        QTimer::singleShot(0, this, &QueueFinishedNotifier::checkFinished);
    });
}

QString QueueFinishedNotifier::summary(int encoded, int failed)
{
    QString text = encoded == 1 ? QStringLiteral("1 movie encoded")
                                : QStringLiteral("%1 movies encoded").arg(encoded);
    if (failed > 0)
        text += QStringLiteral(", %1 failed").arg(failed);
    return text;
}

void QueueFinishedNotifier::noteJob(int row)
{
    if (row < 0 || row >= m_model.store().jobs().size())
        return;
    const EncodingJob& job = m_model.store().jobs().at(row);
    const auto before = m_seen.value(job.id, JobStatus::queued);
    m_seen.insert(job.id, job.status);
    // Only encodes that end count: a file that fails to read never started one.
    if (before == job.status || (before != JobStatus::encoding && before != JobStatus::paused))
        return;
    if (job.status == JobStatus::completed) {
        ++m_encoded;
        if (job.outputPath && !job.outputPath->isEmpty())
            m_outputs.append(*job.outputPath);
    } else if (job.status == JobStatus::failed) {
        ++m_failed;
    }
}

void QueueFinishedNotifier::checkFinished()
{
    m_checkQueued = false;
    if (m_model.store().activeCount() + m_model.store().pausedCount() > 0)
        return;
    if (m_model.scheduler().isQueueRunning() && !m_model.scheduler().isQueuePaused() &&
        m_model.store().queuedCount() > 0)
        return;
    if (m_encoded + m_failed == 0)
        return;
    const QString text = summary(m_encoded, m_failed);
    const QStringList outputs = std::exchange(m_outputs, {});
    m_encoded = m_failed = 0;
    if (m_desktop.isApplicationActive() || !m_send)
        return;
    DesktopServices* desktop = &m_desktop;
    m_send(text, [desktop, outputs] {
        if (!outputs.isEmpty())
            desktop->revealFiles(outputs);
    });
}

} // namespace corvel
