// The watch folder: movies and job files copied into it are encoded once they stop changing.

#include "CorvelEncoder/AppModel.h"

#include "CorvelEncoder/IntakeFiles.h"
#include "CorvelEncoder/ModelClock.h"
#include "CorvelEncoder/NewJobSettings.h"
#include "CorvelEncoder/WatchFolder.h"
#include "CorvelEncoder/WatchRules.h"
#include "CorvelEncoderCore/JobFile.h"
#include "CorvelEncoderCore/Naming.h"

#include <QFileInfo>

namespace corvel {

namespace {

constexpr int kScanDelayMs = 350;
constexpr int kWatchTickMs = 1200;

// The movies and job files below `folder` the watch would take, leaving out its own results
// in `out`.
QStringList watchCandidates(const QString& folder, const QString& out)
{
    QStringList candidates;
    for (const QString& file : collectFiles(folder)) {
        if (isInsideFolder(resolvedWatchPath(file), out))
            continue;
        if (isCorvelJobPath(file) || looksLikeJobFile(file) || isVideoFilePath(file))
            candidates.append(file);
    }
    return candidates;
}

} // namespace

bool AppModel::isWatching() const
{
    return m_watchTimer && m_watchTimer->isActive();
}

QString AppModel::resolvedWatchOutput() const
{
    return corvel::resolvedWatchOutput(m_settings.watchFolder, m_settings.watchOutputDirectory,
                                       m_settings.defaultOutputDirectory);
}

JobSettings AppModel::settingsForWatch() const
{
    // Watch output is never revealed: nobody is sitting there waiting for it.
    return settingsFromPreset(m_settings.watchPresetID, m_savedPresets, resolvedWatchOutput(),
                              false);
}

void AppModel::refreshWatch()
{
    if (!m_watchService) {
        m_watchService = std::make_unique<WatchFolder>();
        m_sightings = std::make_unique<WatchSightings>();
        connect(m_watchService.get(), &WatchFolder::changed, this, &AppModel::scheduleScan);
    }
    if (!m_watchTimer) {
        m_scanWork = m_clock->timer(kScanDelayMs, true, [this] { scanWatch(); });
        // The folder watcher sees only the folder's own entries; the timer covers the rest,
        // such as files still growing and files deep in sub-folders.
        m_watchTimer = m_clock->timer(kWatchTickMs, false, [this] { scheduleScan(); });
    }

    m_watchTimer->stop();
    m_scanWork->stop();
    m_watchService->stop();
    m_sightings->clear();

    const QString folder = m_settings.watchFolder;
    if (!m_settings.watchEnabled || folder.isEmpty())
        return;
    if (!QFileInfo(folder).isDir()) {
        setBanner(QStringLiteral("Watch folder is missing."));
        return;
    }
    m_watchService->start(folder);
    // Unless asked to, the files there now are noted as they are, not encoded; whatever
    // arrives after this moment, however soon, is new. One still being copied gets a new
    // identity when it is done, and is taken then.
    if (!m_settings.watchProcessExisting) {
        QStringList present;
        for (const QString& file :
             watchCandidates(folder, resolvedWatchPath(resolvedWatchOutput()))) {
            if (const std::optional<QString> key = watchIdentity(file))
                present.append(*key);
        }
        QStringList keys = m_settings.seenWatchKeys;
        rememberWatch(keys, present, QSet<QString>(present.cbegin(), present.cend()));
        if (keys != m_settings.seenWatchKeys)
            updateSettings([&](AppSettings& s) { s.seenWatchKeys = keys; });
    }
    scheduleScan();
    m_watchTimer->start();
}

void AppModel::scheduleScan()
{
    if (m_quitting || !m_scanWork)
        return;
    m_scanWork->start();
}

void AppModel::scanWatch()
{
    if (!m_settings.watchEnabled || m_settings.watchFolder.isEmpty() || !m_sightings)
        return;
    const QDateTime now = m_clock->now();
    // The watch never picks up its own results.
    const QStringList files =
        watchCandidates(m_settings.watchFolder, resolvedWatchPath(resolvedWatchOutput()));

    const QSet<QString> known(m_settings.seenWatchKeys.cbegin(), m_settings.seenWatchKeys.cend());
    QSet<QString> present;
    QStringList taken;
    QList<EncodingJob> movies;
    int added = 0;
    bool start = false;
    for (const QString& file : files) {
        const std::optional<QString> key = watchIdentity(file);
        if (!key)
            continue;
        present.insert(*key);
        if (known.contains(*key) || !m_sightings->isStable(file, now))
            continue;
        taken.append(*key);
        if (isCorvelJobPath(file) || looksLikeJobFile(file)) {
            const ImportResult result = importJobFile(file);
            added += int(result.ids.size());
            start = start || result.start;
        } else {
            movies.append(newJob(file, settingsForWatch()));
            start = true;
        }
    }
    // One insertion for everything that arrived together.
    addJobs(movies);
    for (const EncodingJob& job : std::as_const(movies))
        probe(job.id, job.sourcePath);
    added += int(movies.size());
    if (!taken.isEmpty()) {
        QStringList keys = m_settings.seenWatchKeys;
        rememberWatch(keys, taken, present);
        updateSettings([&](AppSettings& s) { s.seenWatchKeys = keys; });
    }
    if (start)
        kickWatchQueue();
    if (added > 0) {
        dismissIntro();
        log(added == 1 ? QStringLiteral("Watch folder added 1 file")
                       : QStringLiteral("Watch folder added %1 files").arg(added));
    }
}

void AppModel::kickWatchQueue()
{
    // A paused queue keeps watch jobs waiting.
    if (m_queuePaused)
        return;
    setQueueFlags(true, false);
    fillSlots();
}

} // namespace corvel
