#include "CorvelEncoder/model/AppModel.h"

#include "CorvelEncoder/engine/OutputJournal.h"
#include "CorvelEncoder/model/ModelClock.h"
#include "CorvelEncoder/platform/IncomingOpener.h"

#include <QFileInfo>
#include <QPointer>

namespace corvel {

AppModel::AppModel(StateStore& store, QString defaultOutputDirectory,
                   EncodeSessionFactory& sessions, DesktopServices& desktop, ModelClock& clock,
                   MediaProber* prober, QObject* parent)
    : QObject(parent),
      m_persistence(store, std::move(defaultOutputDirectory), m_store, m_feed, clock),
      m_scheduler(m_store, m_persistence, m_feed, sessions, desktop, clock),
      m_intake(m_store, m_persistence, m_scheduler, m_feed, desktop, clock, prober),
      m_watch(m_persistence, m_store, m_intake, m_scheduler, m_feed, desktop, clock),
      m_editing(m_store, m_persistence, m_sheets, m_feed, desktop)
{
    m_persistence.restore();
    m_feed.log(QStringLiteral("Corvel Encoder is ready."));
    m_intake.probeUnread();
}

AppModel::~AppModel() = default;

void AppModel::beginIntake(IncomingOpener& opener, const QList<QUrl>& commandLine)
{
    QPointer<Intake> intake(&m_intake);
    const QList<QUrl> pending = opener.install(this, [intake](const QList<QUrl>& urls) {
        if (intake)
            intake->handleIncoming(urls);
    });
    if (!pending.isEmpty()) {
        // After construction has finished, like any later arrival.
        QMetaObject::invokeMethod(
            &m_intake, [this, pending] { m_intake.handleIncoming(pending); }, Qt::QueuedConnection);
    }
    m_intake.handleIncoming(commandLine);
    m_watch.refresh();
}

void AppModel::removeUnfinishedOutputs(OutputJournal& journal)
{
    for (const QString& path : journal.removeUnsettled())
        m_feed.log(QStringLiteral("Removed the unfinished ") + QFileInfo(path).fileName());
}

void AppModel::prepareForQuit()
{
    if (m_quitting)
        return;
    m_quitting = true;
    m_persistence.stopSaving();
    m_watch.stop();
    m_scheduler.prepareForQuit();
    m_persistence.writeQueue();
    m_persistence.writeSettings();
}

} // namespace corvel
