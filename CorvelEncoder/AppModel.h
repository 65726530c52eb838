#pragma once

#include "CorvelEncoder/ActivityLog.h"
#include "CorvelEncoder/AppSettings.h"
#include "CorvelEncoder/engine/EncodeSession.h"
#include "CorvelEncoderCore/ParsedJob.h"
#include "CorvelEncoderCore/Records.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <QUuid>

#include <expected>
#include <functional>
#include <map>
#include <memory>
#include <optional>

namespace corvel {

class DesktopServices;
class IncomingOpener;
class OutputJournal;
class MediaProber;
class StateStore;
class WatchFolder;
class WatchSightings;

// The one application model: the queue and its scheduler, the running encode sessions, the
// settings and saved presets with their persistence, the activity log and the banner.
//
// Lives on the main thread; every member is called there. It owns its sessions; a session's
// callbacks hold the model weakly and reach it through the event loop, so a callback never
// re-enters the model from inside a session call. The store, the session factory and the
// desktop services must outlive the model.
//
// Views follow fine-grained signals: rows inserted, removed or changed, counts, flags, log
// lines and the banner. A progress report changes one row and never writes the queue file.
class AppModel final : public QObject
{
    Q_OBJECT

public:
    // Restores settings, presets and queue from `store`. `defaultOutputDirectory` is the
    // output folder of default settings.
    AppModel(StateStore& store, QString defaultOutputDirectory, EncodeSessionFactory& sessions,
             DesktopServices& desktop, QObject* parent = nullptr);
    // Cancels sessions still running and waits for them, bounded, when prepareForQuit did not.
    ~AppModel() override;
    // Removes the partial files of encodes a killed run never finished, and logs each one.
    void removeUnfinishedOutputs(OutputJournal& journal);
    Q_DISABLE_COPY_MOVE(AppModel)

    // The queue, in display order.
    const QList<EncodingJob>& jobs() const { return m_jobs; }
    std::optional<EncodingJob> job(const QUuid& id) const;
    // The row of the first job with that id, or -1.
    qsizetype rowOf(const QUuid& id) const;
    // Applies `change` to the first job with that id; false when there is none. Does not
    // schedule a save: callers that change what is stored call scheduleSave().
    bool update(const QUuid& id, const std::function<void(EncodingJob&)>& change);
    // Appends jobs as given, in order, and schedules a save. The entry point of intake.
    void addJobs(const QList<EncodingJob>& jobs);

    bool isQueueRunning() const { return m_queueRunning; }
    bool isQueuePaused() const { return m_queuePaused; }
    int activeCount() const;
    int pausedCount() const;
    int queuedCount() const;
    int doneCount() const;
    QString phaseLabel() const;
    // Whether a session is running for the job (encoding or paused).
    bool hasSession(const QUuid& id) const { return m_sessions.contains(id); }

    const QSet<QUuid>& selection() const { return m_selection; }
    void setSelection(const QSet<QUuid>& ids);
    // The selected ids in queue order.
    QList<QUuid> selectedIDs() const;
    std::optional<EncodingJob> primaryJob() const;

    // Queue commands. Unknown ids are ignored.
    void startQueue();
    void pauseQueue();
    void stopActive();
    void startJobNow(const QUuid& id);
    void requeue(const QUuid& id);
    void duplicate(const QUuid& id);
    void revealOutput(const QUuid& id);
    void remove(const QList<QUuid>& ids);
    void clearCompleted();
    // The scheduler: launches queued jobs into free slots, `preferring` first.
    void fillSlots(const std::optional<QUuid>& preferring = std::nullopt);

    const AppSettings& settings() const { return m_settings; }
    // Changes settings and writes "settings.json" at once.
    void updateSettings(const std::function<void(AppSettings&)>& change);
    // Clamps to 1...4, writes the settings and fills slots.
    void setMaxParallel(int value);
    const QList<SavedPreset>& savedPresets() const { return m_savedPresets; }
    // Replaces the saved presets and writes "presets.json" at once.
    void setSavedPresets(const QList<SavedPreset>& presets);

    // Sheets.
    //
    // The window shows the about panel, the job-file help and the watch settings while their
    // flag is true, and clears the flag when the user closes one.
    bool showAbout() const { return m_showAbout; }
    void setShowAbout(bool shown);
    bool showHelp() const { return m_showHelp; }
    void setShowHelp(bool shown);
    bool showWatchSettings() const { return m_showWatchSettings; }
    void setShowWatchSettings(bool shown);

    // Editing settings and presets.
    //
    // Edits reach the selected jobs that are neither encoding nor paused; with nothing
    // selected, the bindings show and change the defaults of new jobs. Preset ids that name
    // no preset, and "inline", are ignored.

    // The selected ids, in queue order, of jobs that are neither encoding nor paused.
    QList<QUuid> editableIDs() const;
    // The primary job is encoding or paused, so it is shown read-only.
    bool inspectorLocked() const;
    // Applies `change` to every editable job; saves the queue when there was one.
    void mutateEditable(const std::function<void(EncodingJob&)>& change);
    // mutateEditable on the body, then each job's bitrate follows its quality where it should.
    void editBody(const std::function<void(PresetBody&)>& change);

    // Two-way bindings of the inspector and the watch settings. Getters show the primary job,
    // or the defaults when nothing is selected.
    QString presetSelection() const;
    void setPresetSelection(const QString& id);
    QString watchPresetSelection() const;
    void setWatchPresetSelection(const QString& id);
    ResolutionMode resolution() const;
    void setResolution(ResolutionMode mode);
    int64_t customWidth() const;
    void setCustomWidth(int64_t width);
    int64_t customHeight() const;
    void setCustomHeight(int64_t height);
    // A frame-rate menu id ("source", "23.976", …, "custom").
    QString frameRateSelection() const;
    void setFrameRateSelection(const QString& id);
    AudioMode audio() const;
    void setAudio(AudioMode mode);
    // Choosing a tier makes the bitrate follow it again.
    QualityTier quality() const;
    void setQuality(QualityTier tier);
    // Megabits per second, kept in 0.5...200; a typed rate no longer follows the quality.
    double bitrate() const;
    void setBitrate(double mbps);
    QString naming() const;
    void setNaming(const QString& pattern);
    bool reveal() const;
    void setReveal(bool on);
    // Kept in 1...4; a larger value starts queued jobs at once.
    int parallel() const;
    void setParallel(int count);
    // Turning the watch on without a folder asks for one first.
    bool watchEnabled() const;
    void setWatchEnabled(bool on);
    // Turning it on forgets the files already handled in the watch folder.
    bool watchProcessExisting() const;
    void setWatchProcessExisting(bool on);
    bool dockBounce() const;
    void setDockBounce(bool on);

    // Gives the editable jobs the preset's body (output folder and reveal stay) and makes it
    // the default of new jobs.
    void applyPreset(const QString& id);
    void setDefaultPreset(const QString& id);
    void setWatchPreset(const QString& id);
    // Opens the save-preset dialog with a name for the primary job's settings.
    void beginSavePreset();
    const QString& suggestedName() const { return m_suggestedName; }
    bool showSavePreset() const { return m_showSavePreset; }
    void setShowSavePreset(bool shown);
    // Stores the primary job's body under `name` (trimmed; empty does nothing).
    void savePreset(const QString& name);
    // Jobs that used the preset keep their settings and are labelled "Custom".
    void deletePreset(const QUuid& id);
    // A folder chooser; `chosen` runs with the folder's path when the user confirms.
    void chooseDirectory(const QString& title, const QString& message,
                         std::function<void(const QString& path)> chosen);
    void chooseOutputFolder();
    void useOutputAsDefault();
    void chooseWatchFolder();
    void chooseWatchOutput();
    // The selected jobs in queue order, or every job when none is selected.
    QList<EncodingJob> selectedJobsOrAll() const;
    void exportJobFile();
    void writeJobFile(const QList<EncodingJob>& jobs, const QString& path);

    // Texts of the queue rows and the inspector.
    QString presetLabel(const EncodingJob& job) const;
    QString previewFilename(const EncodingJob& job) const;
    QString summaryLine(const EncodingJob& job) const;
    std::optional<QString> alphaNote(const EncodingJob& job) const;
    QString sourceLine(const EncodingJob& job) const;

    // Intake: movies, folders, job files and links.
    //
    // Classifies each URL (link, folder, job file, movie, other), adds the jobs, selects them
    // and logs one line; starts the queue when a job file or link asks for it.
    void importURLs(const QList<QUrl>& urls, bool fromOutside);
    // Files and links from outside the window: a URL seen in the last 1.5 s is skipped.
    void handleIncoming(const QList<QUrl>& urls);
    // The window's drop; false for an empty drop.
    bool handleDrop(const QList<QUrl>& urls);
    // The "Add to Queue" and "Add Folder" choosers.
    void addFiles();
    void addFolder();
    // The settings a new job gets: the last used preset, the default output folder.
    JobSettings settingsForNewJob() const;
    // Takes over URLs that arrived before the model, then imports `commandLine` and starts
    // the watch folder. Called once, right after construction.
    void beginIntake(IncomingOpener& opener, const QList<QUrl>& commandLine);
    // Replaces the engine prober (tests). The prober must outlive the model.
    void setProber(MediaProber& prober);
    bool showIntro() const { return !m_settings.hasSeenIntro; }
    void dismissIntro();

    // Watch folder.
    //
    // Restarts watching from the current settings.
    void refreshWatch();
    // Looks through the watch folder now (normally 0.35 s after a change or timer tick).
    void scanWatch();
    JobSettings settingsForWatch() const;
    // Where watch jobs write.
    QString resolvedWatchOutput() const;
    // Whether the watch folder is being watched.
    bool isWatching() const;

    // Writes "queue.json" 0.4 s after the last call.
    void scheduleSave();
    // Writes "queue.json" now, with encoding and paused jobs stored as queued.
    void writeQueue();
    // Cancels every session, waits for them (bounded) to remove their partial files, and
    // writes the queue and the settings. After it, session reports are ignored and nothing is
    // saved.
    void prepareForQuit();
    // The total wait of prepareForQuit; 3 s unless changed.
    void setQuitWaitLimit(int msecs) { m_quitWaitLimitMs = msecs; }

    void log(const QString& text, bool isError = false);
    const QList<LogLine>& logLines() const { return m_log.lines(); }
    bool logOpen() const { return m_logOpen; }
    void setLogOpen(bool open);
    const std::optional<QString>& banner() const { return m_banner; }
    void setBanner(const std::optional<QString>& banner);

signals:
    void jobsAboutToBeInserted(int first, int last);
    void jobsInserted(int first, int last);
    void jobsAboutToBeRemoved(int first, int last);
    void jobsRemoved(int first, int last);
    void jobChanged(int row);
    // The status counts and the phase label may have changed.
    void countsChanged();
    // isQueueRunning or isQueuePaused changed.
    void queueStateChanged();
    void selectionChanged();
    void settingsChanged();
    void savedPresetsChanged();
    void logLineAppended();
    // The oldest lines were dropped to keep the log within its cap.
    void logLinesRemoved(int first, int last);
    void logOpenChanged(bool open);
    void bannerChanged();
    void introChanged();
    // The save-preset dialog opened or closed.
    void showSavePresetChanged(bool shown);
    void showAboutChanged(bool shown);
    void showHelpChanged(bool shown);
    void showWatchSettingsChanged(bool shown);

private:
    // Cancels every session and waits for them, within the quit wait limit.
    void stopAllSessions();
    struct RunningSession
    {
        quint64 serial = 0;
        std::unique_ptr<EncodeSession> session;
    };

    void restoreState();
    bool normalizeRestoredJobs();
    void writeSettings();
    void writePresets();
    // Writes one state file; a failure is logged as an error once, until a save of that file
    // succeeds again.
    void saveStateFile(const QString& name, const QByteArray& data);

    void launch(const QUuid& id);
    void retireSession(const QUuid& id);
    void onSessionProgress(const QUuid& id, quint64 serial, double fraction,
                           std::optional<double> eta);
    void onSessionReady(const QUuid& id, quint64 serial, const QString& outputPath, bool hardware);
    void onSessionComplete(const QUuid& id, quint64 serial, const EncodeResult& result);
    bool isCurrentSession(const QUuid& id, quint64 serial) const;
    void handleProgress(const QUuid& id, double fraction, std::optional<double> eta);
    void handleFinish(const QUuid& id, const EncodeResult& result, bool current);
    void revealSoon(const QString& path);
    void revealPending();
    void maybeBounce();
    void updateTermination();

    void changeRow(qsizetype row, const std::function<void(EncodingJob&)>& change);
    void removeRows(const QList<qsizetype>& rows);
    void setQueueFlags(bool running, bool paused);
    bool anyJobWithStatus(std::initializer_list<JobStatus> statuses) const;

    // Intake and watch folder helpers.
    struct ImportResult
    {
        QList<QUuid> ids;
        std::optional<QString> sender;
        bool start = false;
    };
    ImportResult importOne(const QUrl& url);
    ImportResult importFolder(const QString& folder);
    // Adds a movie or job file's jobs to `into`; false when the file is neither.
    bool importFile(const QString& path, ImportResult& into);
    ImportResult importScheme(const QUrl& url);
    ImportResult importJobFile(const QString& path);
    ImportResult importParsed(const ParsedJobs& parsed);
    EncodingJob newJob(const QString& sourcePath, const JobSettings& settings) const;
    void probe(const QUuid& id, const QString& path);
    void applyProbe(const QUuid& id, const std::expected<SourceInfo, QString>& result);
    void scheduleScan();
    void kickWatchQueue();

    StateStore& m_store;
    QString m_defaultOutputDirectory;
    EncodeSessionFactory& m_sessionFactory;
    DesktopServices& m_desktop;

    QList<EncodingJob> m_jobs;
    QSet<QUuid> m_selection;
    bool m_queueRunning = false;
    bool m_queuePaused = false;
    AppSettings m_settings;
    QList<SavedPreset> m_savedPresets;

    ActivityLog m_log;
    bool m_logOpen = false;
    std::optional<QString> m_banner;

    QTimer m_saveTimer;
    QTimer m_revealTimer;
    QStringList m_revealPaths;
    bool m_finishedSomething = false;
    bool m_blockingTermination = false;
    // A state file that existed but could not be read is copied aside before it is replaced.
    bool m_queueFileUnreadable = false;
    bool m_presetsFileUnreadable = false;
    QSet<QString> m_failedSaves;
    bool m_quitting = false;
    int m_quitWaitLimitMs = 3000;

    std::unique_ptr<MediaProber> m_ownProber;
    MediaProber* m_prober = nullptr;
    QList<std::pair<QString, QDateTime>> m_recentImports;
    std::unique_ptr<WatchFolder> m_watchService;
    std::unique_ptr<WatchSightings> m_sightings;
    QTimer m_watchTimer;
    QTimer m_scanWork;

    // Editing.
    QString m_suggestedName = QStringLiteral("Preset");
    bool m_showSavePreset = false;

    // Sheets.
    bool m_showAbout = false;
    bool m_showHelp = false;
    bool m_showWatchSettings = false;

    quint64 m_nextSerial = 0;
    // Sessions whose completion is still to be handled, by job id.
    std::map<QUuid, RunningSession> m_sessions;
    // Sessions cancelled by requeue or removal whose end is still to come, by serial. They no
    // longer speak for their job, but they are kept until they stop.
    std::map<quint64, std::unique_ptr<EncodeSession>> m_retiredSessions;
};

} // namespace corvel
