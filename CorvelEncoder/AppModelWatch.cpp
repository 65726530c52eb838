// The watch folder: movies and job files copied into it are encoded once they stop changing.

#include "CorvelEncoder/AppModel.h"

#include "CorvelEncoder/IntakeFiles.h"
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
constexpr int kBaselineMs = 2500;

} // namespace

bool AppModel::isWatching() const
{
    return m_watchTimer.isActive();
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
        m_scanWork.setSingleShot(true);
        m_scanWork.setInterval(kScanDelayMs);
        connect(&m_scanWork, &QTimer::timeout, this, &AppModel::scanWatch);
        // The folder watcher sees only the folder's own entries; the timer covers the rest,
        // such as files still growing and files deep in sub-folders.
        m_watchTimer.setInterval(kWatchTickMs);
        connect(&m_watchTimer, &QTimer::timeout, this, &AppModel::scheduleScan);
    }

    m_watchTimer.stop();
    m_scanWork.stop();
    m_watchService->stop();
    m_sightings->clear();

    const QString folder = m_settings.watchFolder;
    if (!m_settings.watchEnabled || folder.isEmpty())
        return;
    if (!QFileInfo(folder).isDir()) {
        setBanner(QStringLiteral("Watch folder is missing."));
        return;
    }
    // Unless asked to, files already there when watching starts are noted, not encoded.
    m_watchBaselineUntil = m_settings.watchProcessExisting
                               ? QDateTime()
                               : QDateTime::currentDateTimeUtc().addMSecs(kBaselineMs);
    m_watchService->start(folder);
    scheduleScan();
    m_watchTimer.start();
}

void AppModel::scheduleScan()
{
    if (m_quitting)
        return;
    m_scanWork.start();
}

void AppModel::scanWatch()
{
    if (!m_settings.watchEnabled || m_settings.watchFolder.isEmpty() || !m_sightings)
        return;
    const QStringList files = collectFiles(m_settings.watchFolder);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const bool baseline = !m_settings.watchProcessExisting && m_watchBaselineUntil.isValid() &&
                          now < m_watchBaselineUntil;
    const QString out = resolvedWatchPath(resolvedWatchOutput());

    QStringList keys = m_settings.seenWatchKeys;
    bool changed = false;
    int added = 0;
    for (const QString& file : files) {
        // The watch never picks up its own results.
        if (isInsideFolder(resolvedWatchPath(file), out))
            continue;
        const bool isJob = isCorvelJobPath(file) || looksLikeJobFile(file);
        if (!isJob && !isVideoFilePath(file))
            continue;
        // Files there when watching started are noted as they are: waiting for them to look
        // stable would outlast the baseline and encode them after all. One still being
        // copied gets a new identity when it is done, and is taken then.
        if (!baseline && !m_sightings->isStable(file, now))
            continue;
        const std::optional<QString> key = watchIdentity(file);
        if (!key || keys.contains(*key))
            continue;
        rememberWatch(keys, *key);
        changed = true;
        if (baseline)
            continue;

        if (isJob) {
            const ImportResult result = importJobFile(file);
            added += int(result.ids.size());
            if (result.start)
                kickWatchQueue();
        } else {
            const EncodingJob job = newJob(file, settingsForWatch());
            addJobs({job});
            probe(job.id, file);
            added += 1;
            kickWatchQueue();
        }
    }
    if (changed)
        updateSettings([&](AppSettings& s) { s.seenWatchKeys = keys; });
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
