#pragma once

#include "CorvelEncoder/engine/EncodeSession.h"

#include <QList>
#include <QObject>
#include <QStringList>
#include <QUuid>

#include <map>
#include <memory>
#include <optional>

namespace corvel {

class ActivityFeed;
class DesktopServices;
class JobStore;
class ModelClock;
class ModelTimer;
class Persistence;

// The queue commands and the session table: launches queued jobs into free slots, follows
// each session's reports into its job, reveals finished files, and keeps the desktop from
// ending the session while something encodes.
//
// It owns its sessions; a session's callbacks hold the scheduler weakly and reach it through
// the event loop, so a callback never re-enters it from inside a session call. A progress
// report changes one row and never writes the queue file.
class Scheduler final : public QObject
{
    Q_OBJECT

public:
    // The session factory and the desktop services must outlive it.
    Scheduler(JobStore& jobs, Persistence& persistence, ActivityFeed& feed,
              EncodeSessionFactory& sessions, DesktopServices& desktop, ModelClock& clock,
              QObject* parent = nullptr);
    // Cancels sessions still running and waits for them, bounded, when prepareForQuit did not.
    ~Scheduler() override;
    Q_DISABLE_COPY_MOVE(Scheduler)

    bool isQueueRunning() const { return m_queueRunning; }
    bool isQueuePaused() const { return m_queuePaused; }
    QString phaseLabel() const;
    // Whether a session is running for the job (encoding or paused).
    bool hasSession(const QUuid& id) const { return m_sessions.contains(id); }

    // Queue commands. Unknown ids are ignored.
    void startQueue();
    void pauseQueue();
    void stopActive();
    void startJobNow(const QUuid& id);
    void requeue(const QUuid& id);
    void revealOutput(const QUuid& id);
    // Ends the jobs' sessions and removes the jobs.
    void remove(const QList<QUuid>& ids);
    // Runs the queue for jobs that arrived on their own, unless it is paused.
    void startUnlessPaused();
    // Launches queued jobs into free slots, `preferring` first.
    void fillSlots(const std::optional<QUuid>& preferring = std::nullopt);
    // Clamps to 1...4, writes the settings and fills slots.
    void setMaxParallel(int value);

    // Cancels every session and waits for them (bounded) to remove their partial files. After
    // it, session reports are ignored and nothing more is launched.
    void prepareForQuit();
    // The total wait of prepareForQuit; 3 s unless changed.
    void setQuitWaitLimit(int msecs) { m_quitWaitLimitMs = msecs; }

signals:
    // isQueueRunning or isQueuePaused changed.
    void queueStateChanged();

private:
    struct RunningSession
    {
        quint64 serial = 0;
        std::unique_ptr<EncodeSession> session;
    };

    // Cancels every session and waits for them, within the quit wait limit.
    void stopAllSessions();
    void launch(const QUuid& id);
    void retireSession(const QUuid& id);
    void onSessionProgress(const QUuid& id, quint64 serial, double fraction,
                           std::optional<double> eta);
    void onSessionReady(const QUuid& id, quint64 serial, const QString& outputPath, bool hardware);
    void onSessionComplete(const QUuid& id, quint64 serial, const EncodeResult& result);
    bool isCurrentSession(const QUuid& id, quint64 serial) const;
    void handleProgress(const QUuid& id, double fraction, std::optional<double> eta);
    void handleFinish(const QUuid& id, const EncodeResult& result, bool current);
    void setQueueFlags(bool running, bool paused);
    void revealSoon(const QString& path);
    void revealPending();
    void maybeBounce();
    void updateTermination();

    JobStore& m_jobs;
    Persistence& m_persistence;
    ActivityFeed& m_feed;
    EncodeSessionFactory& m_sessionFactory;
    DesktopServices& m_desktop;

    bool m_queueRunning = false;
    bool m_queuePaused = false;
    std::unique_ptr<ModelTimer> m_revealTimer;
    QStringList m_revealPaths;
    bool m_finishedSomething = false;
    bool m_blockingTermination = false;
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
