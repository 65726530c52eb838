#include "CorvelEncoder/AppModel.h"

#include "CorvelEncoder/DesktopServices.h"
#include "CorvelEncoder/MediaProber.h"
#include "CorvelEncoder/ModelClock.h"
#include "CorvelEncoder/StateFiles.h"
#include "CorvelEncoder/StateStore.h"
#include "CorvelEncoder/WatchFolder.h"
#include "CorvelEncoder/WatchRules.h"
#include "CorvelEncoder/engine/OutputJournal.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace corvel {

namespace {

constexpr int kSaveDelayMs = 400;
constexpr int kRevealDelayMs = 700;

} // namespace

AppModel::AppModel(StateStore& store, QString defaultOutputDirectory,
                   EncodeSessionFactory& sessions, DesktopServices& desktop, QObject* parent)
    : QObject(parent), m_store(store), m_defaultOutputDirectory(std::move(defaultOutputDirectory)),
      m_sessionFactory(sessions), m_desktop(desktop)
{
    setClock(ModelClock::system());
    restoreState();
    log(QStringLiteral("Corvel Encoder is ready."));
    // Jobs saved while their source was being read are read again. Later, through the event
    // loop, so that a prober given right after construction is the one asked. Only these:
    // jobs added before the loop runs (the command line's) have their own reading under way.
    QList<QUuid> unread;
    for (const EncodingJob& job : std::as_const(m_jobs)) {
        if (job.probing)
            unread.append(job.id);
    }
    if (!unread.isEmpty()) {
        QMetaObject::invokeMethod(
            this,
            [this, unread] {
                for (const QUuid& id : unread) {
                    const qsizetype row = rowOf(id);
                    if (row >= 0 && m_jobs.at(row).probing)
                        probe(id, m_jobs.at(row).sourcePath);
                }
            },
            Qt::QueuedConnection);
    }
}

void AppModel::setClock(ModelClock& clock)
{
    const bool savePending = m_saveTimer && m_saveTimer->isActive();
    m_clock = &clock;
    m_saveTimer = clock.timer(kSaveDelayMs, true, [this] { writeQueue(); });
    m_revealTimer = clock.timer(kRevealDelayMs, true, [this] { revealPending(); });
    if (savePending)
        m_saveTimer->start();
    m_watchTimer.reset();
    m_scanWork.reset();
}

AppModel::~AppModel()
{
    if (m_quitting)
        return;
    // No worker may outlive the model: stop what is still running before the sessions go.
    stopAllSessions();
}

// Restore and persistence

void AppModel::restoreState()
{
    m_settings = AppSettings::defaults(m_defaultOutputDirectory);
    if (const auto data = m_store.read(kSettingsFileName)) {
        if (auto settings = decodeSettings(*data))
            m_settings = std::move(*settings);
    }

    if (const auto data = m_store.read(kPresetsFileName)) {
        if (auto file = decodePresetFile(*data))
            m_savedPresets = std::move(file->presets);
        else
            m_presetsFileUnreadable = true;
    }

    if (const auto data = m_store.read(kQueueFileName)) {
        if (auto file = decodeQueueFile(*data))
            m_jobs = std::move(file->jobs);
        else
            m_queueFileUnreadable = true;
    }

    if (normalizeRestoredJobs())
        writeQueue();

    // Someone with a queue already knows the application.
    if (!m_jobs.isEmpty() && !m_settings.hasSeenIntro) {
        m_settings.hasSeenIntro = true;
        writeSettings();
    }
}

void AppModel::removeUnfinishedOutputs(OutputJournal& journal)
{
    for (const QString& path : journal.removeUnsettled())
        log(QStringLiteral("Removed the unfinished ") + QFileInfo(path).fileName());
}

namespace {

// An encode that did not finish restarts from the beginning. Its output path stays: it names
// the partial file, which the next start removes.
bool resetUnfinished(EncodingJob& job)
{
    if (job.status != JobStatus::encoding && job.status != JobStatus::paused)
        return false;
    job.status = JobStatus::queued;
    job.progress = 0;
    job.etaSeconds.reset();
    job.hardwareEncoder.reset();
    return true;
}

} // namespace

bool AppModel::normalizeRestoredJobs()
{
    bool changed = false;
    for (EncodingJob& job : m_jobs)
        changed = resetUnfinished(job) || changed;

    // Only an interrupted encode leaves a queued job with an output path. Nothing unfinished
    // ever stands under an output name (the encode writes a hidden partial file), so a file
    // there is a complete movie, or not this job's at all: it stays, and the job starts over.
    for (EncodingJob& job : m_jobs) {
        if (job.status != JobStatus::queued || !job.outputPath)
            continue;
        job.outputPath.reset();
        changed = true;
    }
    return changed;
}

void AppModel::scheduleSave()
{
    if (m_quitting)
        return;
    m_saveTimer->start();
}

void AppModel::writeQueue()
{
    // Whatever was pending is written now.
    m_saveTimer->stop();
    QList<EncodingJob> copy = m_jobs;
    for (EncodingJob& job : copy)
        resetUnfinished(job);
    if (m_queueFileUnreadable) {
        m_store.keepCopy(kQueueFileName, QString(kQueueFileName) + kUnreadableSuffix);
        m_queueFileUnreadable = false;
    }
    saveStateFile(kQueueFileName, encodeQueueFile(copy));
}

void AppModel::writeSettings()
{
    saveStateFile(kSettingsFileName, encodeSettings(m_settings));
}

void AppModel::writePresets()
{
    if (m_presetsFileUnreadable) {
        m_store.keepCopy(kPresetsFileName, QString(kPresetsFileName) + kUnreadableSuffix);
        m_presetsFileUnreadable = false;
    }
    saveStateFile(kPresetsFileName, encodePresetFile(m_savedPresets));
}

void AppModel::saveStateFile(const QString& name, const QByteArray& data)
{
    const auto saved = m_store.write(name, data);
    if (saved)
        m_failedSaves.remove(name);
    else if (!m_failedSaves.contains(name)) {
        m_failedSaves.insert(name);
        log(saved.error(), true);
    }
}

void AppModel::stopAllSessions()
{
    for (auto& [id, running] : m_sessions)
        running.session->cancel();
    for (auto& [serial, session] : m_retiredSessions)
        session->cancel();
    // Each session removes its own partial file as it stops; the wait is bounded so that a
    // stuck worker cannot hold up the quit.
    const QDeadlineTimer deadline(m_quitWaitLimitMs);
    for (auto& [id, running] : m_sessions)
        running.session->waitForStopped(int(deadline.remainingTime()));
    for (auto& [serial, session] : m_retiredSessions)
        session->waitForStopped(int(deadline.remainingTime()));
}

void AppModel::prepareForQuit()
{
    if (m_quitting)
        return;
    m_quitting = true;
    m_saveTimer->stop();

    // Each session removes its own partial file; a file under a running job's output name is
    // not the job's (it has none until it finishes) and stays.
    stopAllSessions();

    writeQueue();
    writeSettings();
    if (m_blockingTermination) {
        m_desktop.enableAutomaticTermination(QStringLiteral("Encoding"));
        m_blockingTermination = false;
    }
}

// Jobs and selection

std::optional<EncodingJob> AppModel::job(const QUuid& id) const
{
    const qsizetype row = rowOf(id);
    if (row < 0)
        return std::nullopt;
    return m_jobs.at(row);
}

qsizetype AppModel::rowOf(const QUuid& id) const
{
    for (qsizetype row = 0; row < m_jobs.size(); ++row) {
        if (m_jobs.at(row).id == id)
            return row;
    }
    return -1;
}

void AppModel::changeRow(qsizetype row, const std::function<void(EncodingJob&)>& change)
{
    EncodingJob& job = m_jobs[row];
    const JobStatus before = job.status;
    change(job);
    emit jobChanged(int(row));
    if (job.status != before)
        emit countsChanged();
}

bool AppModel::update(const QUuid& id, const std::function<void(EncodingJob&)>& change)
{
    const qsizetype row = rowOf(id);
    if (row < 0)
        return false;
    changeRow(row, change);
    return true;
}

void AppModel::addJobs(const QList<EncodingJob>& jobs)
{
    if (jobs.isEmpty())
        return;
    const int first = int(m_jobs.size());
    const int last = first + int(jobs.size()) - 1;
    emit jobsAboutToBeInserted(first, last);
    m_jobs.append(jobs);
    emit jobsInserted(first, last);
    emit countsChanged();
    scheduleSave();
}

void AppModel::removeRows(const QList<qsizetype>& rows)
{
    // `rows` ascend; removing contiguous runs from the back keeps the earlier rows valid.
    qsizetype end = rows.size();
    while (end > 0) {
        qsizetype begin = end - 1;
        while (begin > 0 && rows.at(begin - 1) == rows.at(begin) - 1)
            --begin;
        const int first = int(rows.at(begin));
        const int last = int(rows.at(end - 1));
        emit jobsAboutToBeRemoved(first, last);
        m_jobs.remove(first, last - first + 1);
        emit jobsRemoved(first, last);
        end = begin;
    }
    if (!rows.isEmpty())
        emit countsChanged();
}

bool AppModel::anyJobWithStatus(std::initializer_list<JobStatus> statuses) const
{
    return std::any_of(m_jobs.cbegin(), m_jobs.cend(), [&](const EncodingJob& job) {
        return std::find(statuses.begin(), statuses.end(), job.status) != statuses.end();
    });
}

namespace {

int countStatus(const QList<EncodingJob>& jobs, JobStatus status)
{
    return int(std::count_if(jobs.cbegin(), jobs.cend(),
                             [status](const EncodingJob& job) { return job.status == status; }));
}

} // namespace

int AppModel::activeCount() const
{
    return countStatus(m_jobs, JobStatus::encoding);
}
int AppModel::pausedCount() const
{
    return countStatus(m_jobs, JobStatus::paused);
}
int AppModel::queuedCount() const
{
    return countStatus(m_jobs, JobStatus::queued);
}
int AppModel::doneCount() const
{
    return countStatus(m_jobs, JobStatus::completed);
}

QString AppModel::phaseLabel() const
{
    if (m_queuePaused)
        return QStringLiteral("Paused");
    if (const int active = activeCount(); active > 0)
        return QStringLiteral("Encoding %1").arg(active);
    if (m_queueRunning && queuedCount() > 0)
        return QStringLiteral("Starting");
    return QStringLiteral("Idle");
}

void AppModel::setSelection(const QSet<QUuid>& ids)
{
    if (ids == m_selection)
        return;
    m_selection = ids;
    emit selectionChanged();
}

QList<QUuid> AppModel::selectedIDs() const
{
    QList<QUuid> ids;
    if (m_selection.isEmpty())
        return ids;
    for (const EncodingJob& job : m_jobs) {
        if (m_selection.contains(job.id))
            ids.append(job.id);
    }
    return ids;
}

std::optional<EncodingJob> AppModel::primaryJob() const
{
    for (const EncodingJob& job : m_jobs) {
        if (m_selection.contains(job.id))
            return job;
    }
    return std::nullopt;
}

void AppModel::setQueueFlags(bool running, bool paused)
{
    if (running == m_queueRunning && paused == m_queuePaused)
        return;
    m_queueRunning = running;
    m_queuePaused = paused;
    emit queueStateChanged();
}

// Settings and presets

void AppModel::updateSettings(const std::function<void(AppSettings&)>& change)
{
    change(m_settings);
    m_settings.maxParallel = AppSettings::clampParallel(m_settings.maxParallel);
    writeSettings();
    emit settingsChanged();
}

void AppModel::setMaxParallel(int value)
{
    updateSettings([value](AppSettings& s) { s.maxParallel = value; });
    fillSlots();
}

void AppModel::setSavedPresets(const QList<SavedPreset>& presets)
{
    m_savedPresets = presets;
    writePresets();
    emit savedPresetsChanged();
}

// Log and banner

void AppModel::log(const QString& text, bool isError)
{
    const qsizetype dropped = m_log.append(text, isError, QDateTime::currentDateTime());
    if (dropped > 0)
        emit logLinesRemoved(0, int(dropped) - 1);
    emit logLineAppended();
}

void AppModel::setLogOpen(bool open)
{
    if (open == m_logOpen)
        return;
    m_logOpen = open;
    emit logOpenChanged(open);
}

void AppModel::setBanner(const std::optional<QString>& banner)
{
    if (banner == m_banner)
        return;
    m_banner = banner;
    emit bannerChanged();
}

// Reveal, attention, termination

void AppModel::revealSoon(const QString& path)
{
    m_revealPaths.append(path);
    m_revealTimer->start(); // restarting cancels the pending reveal
}

void AppModel::revealPending()
{
    const QStringList paths = std::exchange(m_revealPaths, {});
    if (!paths.isEmpty())
        m_desktop.revealFiles(paths);
}

void AppModel::revealOutput(const QUuid& id)
{
    const qsizetype row = rowOf(id);
    if (row < 0)
        return;
    const std::optional<QString>& path = m_jobs.at(row).outputPath;
    if (path && !path->isEmpty() && QFile::exists(*path))
        m_desktop.revealFiles({*path});
}

void AppModel::maybeBounce()
{
    if (anyJobWithStatus({JobStatus::encoding, JobStatus::paused}))
        return;
    if (m_queueRunning && !m_queuePaused && anyJobWithStatus({JobStatus::queued}))
        return;
    if (!m_finishedSomething)
        return;
    m_finishedSomething = false;
    if (m_settings.dockBounceWhenIdle && !m_desktop.isApplicationActive())
        m_desktop.requestAttention();
}

void AppModel::updateTermination()
{
    const bool busy = anyJobWithStatus({JobStatus::encoding, JobStatus::paused});
    if (busy && !m_blockingTermination) {
        m_desktop.disableAutomaticTermination(QStringLiteral("Encoding"));
        m_blockingTermination = true;
    } else if (!busy && m_blockingTermination) {
        m_desktop.enableAutomaticTermination(QStringLiteral("Encoding"));
        m_blockingTermination = false;
    }
}

} // namespace corvel
