#pragma once

#include "CorvelEncoder/ActivityLog.h"
#include "CorvelEncoder/AppSettings.h"
#include "CorvelEncoder/engine/EncodeSession.h"
#include "CorvelEncoderCore/Records.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QUuid>

#include <functional>
#include <map>
#include <memory>
#include <optional>

namespace corvel {

class DesktopServices;
class StateStore;

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

    // Writes "queue.json" 0.4 s after the last call.
    void scheduleSave();
    // Writes "queue.json" now, with encoding and paused jobs stored as queued.
    void writeQueue();
    // Cancels every session, waits for them (bounded), deletes unfinished outputs, and writes
    // the queue and the settings. After it, session reports are ignored and nothing is saved.
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

private:
    struct RunningSession
    {
        quint64 serial = 0;
        std::unique_ptr<EncodeSession> session;
    };

    void restoreState();
    bool normalizeRestoredJobs();
    void writeSettings();
    void writePresets();

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
    bool m_quitting = false;
    int m_quitWaitLimitMs = 3000;

    quint64 m_nextSerial = 0;
    // Sessions whose completion is still to be handled, by job id.
    std::map<QUuid, RunningSession> m_sessions;
    // Sessions cancelled by requeue or removal whose end is still to come, by serial. They no
    // longer speak for their job, but they are kept until they stop.
    std::map<quint64, std::unique_ptr<EncodeSession>> m_retiredSessions;
};

} // namespace corvel
