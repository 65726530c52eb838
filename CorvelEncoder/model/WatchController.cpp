// The watch folder: movies and job files copied into it are encoded once they stop changing.

#include "CorvelEncoder/model/WatchController.h"

#include "CorvelEncoder/model/ActivityFeed.h"
#include "CorvelEncoder/model/DirectoryChooser.h"
#include "CorvelEncoder/model/Intake.h"
#include "CorvelEncoder/model/IntakeFiles.h"
#include "CorvelEncoder/model/JobStore.h"
#include "CorvelEncoder/model/ModelClock.h"
#include "CorvelEncoder/model/Persistence.h"
#include "CorvelEncoder/model/Scheduler.h"
#include "CorvelEncoder/model/WatchRules.h"
#include "CorvelEncoder/platform/WatchFolder.h"
#include "CorvelEncoder/platform/WatchLock.h"
#include "CorvelEncoderCore/JobFile.h"
#include "CorvelEncoderCore/Naming.h"
#include "CorvelEncoderCore/NewJobSettings.h"
#include "CorvelEncoderCore/PresetConstants.h"
#include "CorvelEncoderCore/Presets.h"

#include <QDir>
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

WatchController::WatchController(Persistence& persistence, JobStore& jobs, Intake& intake,
                                 Scheduler& scheduler, ActivityFeed& feed, DesktopServices& desktop,
                                 ModelClock& clock, QObject* parent)
    : QObject(parent), m_persistence(persistence), m_jobs(jobs), m_intake(intake),
      m_scheduler(scheduler), m_feed(feed), m_desktop(desktop), m_clock(clock)
{}

WatchController::~WatchController() = default;

void WatchController::stop()
{
    m_stopped = true;
}

bool WatchController::isWatching() const
{
    return m_watchTimer && m_watchTimer->isActive();
}

QString WatchController::resolvedOutput() const
{
    return corvel::resolvedWatchOutput(m_persistence.settings().watchFolder,
                                       m_persistence.settings().watchOutputDirectory,
                                       m_persistence.settings().defaultOutputDirectory);
}

JobSettings WatchController::settingsForWatch() const
{
    // Watch output is never revealed: nobody is sitting there waiting for it.
    return settingsFromPreset(m_persistence.settings().watchPresetID, m_persistence.savedPresets(),
                              resolvedOutput(), false);
}

void WatchController::refresh()
{
    restart();
    emit watchingChanged();
}

void WatchController::restart()
{
    if (!m_watchService) {
        m_watchService = std::make_unique<WatchFolder>();
        m_sightings = std::make_unique<WatchSightings>();
        connect(m_watchService.get(), &WatchFolder::changed, this, &WatchController::scheduleScan);
    }
    if (!m_watchTimer) {
        m_scanWork = m_clock.timer(kScanDelayMs, true, [this] { scan(); });
        // The folder watcher sees only the folder's own entries; the timer covers the rest,
        // such as files still growing and files deep in sub-folders.
        m_watchTimer = m_clock.timer(kWatchTickMs, false, [this] { scheduleScan(); });
    }

    m_watchTimer->stop();
    m_scanWork->stop();
    m_watchService->stop();
    m_folderLock.reset();
    m_sightings->clear();
    m_handledFiles.clear(); // noted again at the next scan, from the keys of files still there

    const QString folder = m_persistence.settings().watchFolder;
    if (!m_persistence.settings().watchEnabled || folder.isEmpty())
        return;
    if (!QFileInfo(folder).isDir()) {
        m_feed.setBanner(QStringLiteral("Watch folder is missing."));
        return;
    }
    // Held elsewhere, it is tried again at the next restart of the watch.
    if (m_takesFolderLock) {
        auto lock = WatchLock::takeFolder(resolvedWatchPath(folder));
        if (!lock) {
            const QString text = QStringLiteral("%1 is watched by another Corvel Encoder.")
                                     .arg(QDir::toNativeSeparators(folder));
            m_feed.setBanner(text);
            m_feed.log(text, true);
            return;
        }
        m_folderLock = std::move(*lock);
    }
    m_watchService->start(folder);
    // Unless asked to, the files there now are noted as they are, not encoded; whatever
    // arrives after this moment, however soon, is new. One still being copied gets a new
    // identity when it is done, and is taken then. Noted files are kept apart from taken ones:
    // a later watch that processes existing files still encodes them.
    const AppSettings& settings = m_persistence.settings();
    if (!settings.watchProcessExisting && !m_resuming) {
        const QSet<QString> taken(settings.seenWatchKeys.cbegin(), settings.seenWatchKeys.cend());
        QStringList present;
        for (const QString& file : watchCandidates(folder, resolvedWatchPath(resolvedOutput()))) {
            if (const std::optional<QString> key = watchIdentity(file);
                key && !taken.contains(*key))
                present.append(*key);
        }
        QStringList noted = settings.notedWatchKeys;
        rememberWatch(noted, present, QSet<QString>(present.cbegin(), present.cend()));
        if (noted != settings.notedWatchKeys)
            m_persistence.updateSettings([&](AppSettings& s) { s.notedWatchKeys = noted; });
    }
    scheduleScan();
    m_watchTimer->start();
}

void WatchController::scheduleScan()
{
    if (m_stopped || !m_scanWork)
        return;
    m_scanWork->start();
}

void WatchController::scan()
{
    if (!m_persistence.settings().watchEnabled || m_persistence.settings().watchFolder.isEmpty() ||
        !m_sightings)
        return;
    const QDateTime now = m_clock.now();
    // The watch never picks up its own results.
    const QStringList files =
        watchCandidates(m_persistence.settings().watchFolder, resolvedWatchPath(resolvedOutput()));

    const AppSettings& settings = m_persistence.settings();
    QSet<QString> known(settings.seenWatchKeys.cbegin(), settings.seenWatchKeys.cend());
    // Files noted when a watch began are taken only when existing files are processed.
    if (!settings.watchProcessExisting)
        known.unite(
            QSet<QString>(settings.notedWatchKeys.cbegin(), settings.notedWatchKeys.cend()));
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
        // A file is also known by device and inode: renamed or linked under a new name, a file
        // already handled is noted under that name too, not encoded again.
        const std::optional<QString> same = watchFileIdentity(file);
        if (known.contains(*key)) {
            if (same)
                m_handledFiles.insert(*same);
            continue;
        }
        if (same && m_handledFiles.contains(*same)) {
            taken.append(*key);
            continue;
        }
        if (!m_sightings->isStable(file, now))
            continue;
        taken.append(*key);
        if (same)
            m_handledFiles.insert(*same);
        if (isCorvelJobPath(file) || looksLikeJobFile(file)) {
            const Intake::Result result = m_intake.importJobFile(file);
            added += int(result.ids.size());
            start = start || result.start;
        } else {
            movies.append(newJob(file, settingsForWatch()));
            start = true;
        }
    }
    // One insertion for everything that arrived together.
    m_jobs.addJobs(movies);
    for (const EncodingJob& job : std::as_const(movies))
        m_intake.probe(job.id, job.sourcePath);
    added += int(movies.size());
    if (!taken.isEmpty()) {
        QStringList keys = m_persistence.settings().seenWatchKeys;
        rememberWatch(keys, taken, present);
        // One pass with a set: a watch that processes existing files may take thousands at once.
        const QSet<QString> nowTaken(taken.cbegin(), taken.cend());
        QStringList noted = m_persistence.settings().notedWatchKeys;
        noted.removeIf([&](const QString& key) { return nowTaken.contains(key); });
        m_persistence.updateSettings([&](AppSettings& s) {
            s.seenWatchKeys = keys;
            s.notedWatchKeys = noted;
        });
    }
    if (start)
        m_scheduler.startUnlessPaused();
    if (added > 0) {
        m_intake.dismissIntro();
        m_feed.log(added == 1 ? QStringLiteral("Watch folder added 1 file")
                              : QStringLiteral("Watch folder added %1 files").arg(added));
    }
}

// Bindings

QString WatchController::presetSelection() const
{
    // Watch jobs fall back to ProRes 422 HQ likewise.
    if (presetBody(m_persistence.settings().watchPresetID, m_persistence.savedPresets()))
        return m_persistence.settings().watchPresetID;
    return kFallbackPresetID;
}

bool WatchController::enabled() const
{
    return m_persistence.settings().watchEnabled;
}

void WatchController::setEnabled(bool on)
{
    if (on && m_persistence.settings().watchFolder.isEmpty()) {
        // Without a folder there is nothing to watch: ask for one, and turn on only then.
        chooseDirectory(m_desktop, this, QStringLiteral("Watch Folder"),
                        QStringLiteral("Files copied here are encoded when they finish writing."),
                        [this](const QString& path) {
                            m_persistence.updateSettings([&path](AppSettings& s) {
                                s.watchFolder = path;
                                s.watchEnabled = true;
                            });
                            refresh();
                        });
        return;
    }
    // A refresh forgets every sighting, so a repeated value must not restart the watch.
    if (on == m_persistence.settings().watchEnabled)
        return;
    m_persistence.updateSettings([on](AppSettings& s) { s.watchEnabled = on; });
    refresh();
}

bool WatchController::processExisting() const
{
    return m_persistence.settings().watchProcessExisting;
}

void WatchController::setProcessExisting(bool on)
{
    if (on == m_persistence.settings().watchProcessExisting)
        return;
    m_persistence.updateSettings([on](AppSettings& s) {
        s.watchProcessExisting = on;
        // Files already handled in the folder are taken again.
        if (on && !s.watchFolder.isEmpty())
            forgetWatchFolder(s.seenWatchKeys, s.watchFolder);
    });
    refresh();
}

void WatchController::setPreset(const QString& id)
{
    if (id == kInlinePresetID || !presetBody(id, m_persistence.savedPresets()))
        return;
    // The next watch job reads the preset; the watch itself need not restart.
    m_persistence.updateSettings([&id](AppSettings& s) { s.watchPresetID = id; });
}

void WatchController::chooseFolder()
{
    chooseDirectory(m_desktop, this, QStringLiteral("Watch Folder"),
                    QStringLiteral("Files copied here are encoded when they finish writing."),
                    [this](const QString& path) {
                        m_persistence.updateSettings(
                            [&path](AppSettings& s) { s.watchFolder = path; });
                        refresh();
                    });
}

void WatchController::chooseOutput()
{
    chooseDirectory(
        m_desktop, this, QStringLiteral("Watch Output"),
        QStringLiteral("Leave this unset to write into Corvel Output inside the watch folder."),
        [this](const QString& path) {
            m_persistence.updateSettings(
                [&path](AppSettings& s) { s.watchOutputDirectory = path; });
            refresh();
        });
}

} // namespace corvel
