#include "CorvelEncoder/model/Persistence.h"

#include "CorvelEncoder/model/ActivityFeed.h"
#include "CorvelEncoder/model/JobStore.h"
#include "CorvelEncoder/model/ModelClock.h"
#include "CorvelEncoder/model/StateStore.h"
#include "CorvelEncoderCore/StateFiles.h"

namespace corvel {

namespace {

constexpr int kSaveDelayMs = 400;

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

bool normalizeRestoredJobs(QList<EncodingJob>& jobs)
{
    bool changed = false;
    for (EncodingJob& job : jobs)
        changed = resetUnfinished(job) || changed;

    // Only an interrupted encode leaves a queued job with an output path. Nothing unfinished
    // ever stands under an output name (the encode writes a hidden partial file), so a file
    // there is a complete movie, or not this job's at all: it stays, and the job starts over.
    for (EncodingJob& job : jobs) {
        if (job.status != JobStatus::queued || !job.outputPath)
            continue;
        job.outputPath.reset();
        changed = true;
    }
    return changed;
}

} // namespace

Persistence::Persistence(StateStore& store, QString defaultOutputDirectory, JobStore& jobs,
                         ActivityFeed& feed, ModelClock& clock, QObject* parent)
    : QObject(parent), m_store(store), m_defaultOutputDirectory(std::move(defaultOutputDirectory)),
      m_jobs(jobs), m_feed(feed),
      m_saveTimer(clock.timer(kSaveDelayMs, true, [this] { writeQueue(); }))
{
    connect(&jobs, &JobStore::saveRequested, this, &Persistence::scheduleSave);
    connect(&jobs, &JobStore::writeRequested, this, &Persistence::writeQueue);
}

Persistence::~Persistence() = default;

void Persistence::restore()
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

    QList<EncodingJob> jobs;
    if (const auto data = m_store.read(kQueueFileName)) {
        if (auto file = decodeQueueFile(*data))
            jobs = std::move(file->jobs);
        else
            m_queueFileUnreadable = true;
    }
    const bool normalized = normalizeRestoredJobs(jobs);
    m_jobs.restore(std::move(jobs));
    if (normalized)
        writeQueue();

    // Someone with a queue already knows the application.
    if (!m_jobs.jobs().isEmpty() && !m_settings.hasSeenIntro) {
        m_settings.hasSeenIntro = true;
        writeSettings();
    }
}

void Persistence::updateSettings(const std::function<void(AppSettings&)>& change)
{
    change(m_settings);
    m_settings.maxParallel = AppSettings::clampParallel(m_settings.maxParallel);
    writeSettings();
    emit settingsChanged();
}

void Persistence::setSavedPresets(const QList<SavedPreset>& presets)
{
    m_savedPresets = presets;
    writePresets();
    emit savedPresetsChanged();
}

void Persistence::scheduleSave()
{
    if (m_stopped)
        return;
    m_saveTimer->start();
}

void Persistence::stopSaving()
{
    m_stopped = true;
    m_saveTimer->stop();
}

void Persistence::writeQueue()
{
    // Whatever was pending is written now.
    m_saveTimer->stop();
    if (!m_store.keeps(kQueueFileName))
        return;
    QList<EncodingJob> copy = m_jobs.jobs();
    for (EncodingJob& job : copy)
        resetUnfinished(job);
    if (m_queueFileUnreadable) {
        m_store.keepCopy(kQueueFileName, QString(kQueueFileName) + kUnreadableSuffix);
        m_queueFileUnreadable = false;
    }
    saveStateFile(kQueueFileName, encodeQueueFile(copy));
}

void Persistence::writeSettings()
{
    saveStateFile(kSettingsFileName, encodeSettings(m_settings));
}

void Persistence::writePresets()
{
    if (m_presetsFileUnreadable) {
        m_store.keepCopy(kPresetsFileName, QString(kPresetsFileName) + kUnreadableSuffix);
        m_presetsFileUnreadable = false;
    }
    saveStateFile(kPresetsFileName, encodePresetFile(m_savedPresets));
}

void Persistence::saveStateFile(const QString& name, const QByteArray& data)
{
    const auto saved = m_store.write(name, data);
    if (saved)
        m_failedSaves.remove(name);
    else if (!m_failedSaves.contains(name)) {
        m_failedSaves.insert(name);
        m_feed.reportError(saved.error()); // the queue or settings may be lost: not only a log line
    }
}

} // namespace corvel
