// The queue commands, the scheduler and the handling of session reports.
#include "CorvelEncoder/model/Scheduler.h"

#include "CorvelEncoder/model/ActivityFeed.h"
#include "CorvelEncoder/model/DesktopServices.h"
#include "CorvelEncoder/model/JobStore.h"
#include "CorvelEncoder/model/ModelClock.h"
#include "CorvelEncoder/model/Persistence.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QPointer>

namespace corvel {

namespace {

constexpr int kRevealDelayMs = 700;

// A job whose source is still being read waits: the reading sets its bitrate, and an encode
// launched before it would write a file its record does not describe. The reading's return
// fills the slots again.
bool isLaunchable(const EncodingJob& job)
{
    return job.status == JobStatus::queued && !job.probing;
}

} // namespace

Scheduler::Scheduler(JobStore& jobs, Persistence& persistence, ActivityFeed& feed,
                     EncodeSessionFactory& sessions, DesktopServices& desktop, ModelClock& clock,
                     QObject* parent)
    : QObject(parent), m_jobs(jobs), m_persistence(persistence), m_feed(feed),
      m_sessionFactory(sessions), m_desktop(desktop),
      m_revealTimer(clock.timer(kRevealDelayMs, true, [this] { revealPending(); }))
{}

Scheduler::~Scheduler()
{
    if (m_quitting)
        return;
    // No worker may outlive the scheduler: stop what is still running before the sessions go.
    stopAllSessions();
}

QString Scheduler::phaseLabel() const
{
    if (m_queuePaused)
        return QStringLiteral("Paused");
    if (const int active = m_jobs.activeCount(); active > 0)
        return QStringLiteral("Encoding %1").arg(active);
    if (m_queueRunning && m_jobs.queuedCount() > 0)
        return QStringLiteral("Starting");
    return QStringLiteral("Idle");
}

void Scheduler::setQueueFlags(bool running, bool paused)
{
    if (running == m_queueRunning && paused == m_queuePaused)
        return;
    m_queueRunning = running;
    m_queuePaused = paused;
    emit queueStateChanged();
}

void Scheduler::prepareForQuit()
{
    if (m_quitting)
        return;
    m_quitting = true;
    // Each session removes its own partial file; a file under a running job's output name is
    // not the job's (it has none until it finishes) and stays.
    stopAllSessions();
    if (m_blockingTermination) {
        m_desktop.enableAutomaticTermination(QStringLiteral("Encoding"));
        m_blockingTermination = false;
    }
}

void Scheduler::startUnlessPaused()
{
    // A paused queue keeps such jobs waiting.
    if (m_queuePaused)
        return;
    setQueueFlags(true, false);
    fillSlots();
}

void Scheduler::fillSlots(const std::optional<QUuid>& preferring)
{
    if (!m_queueRunning || m_queuePaused || m_quitting)
        return;
    const int free = m_persistence.settings().maxParallel - m_jobs.activeCount();
    if (free <= 0)
        return;

    QList<QUuid> candidates;
    if (preferring) {
        const qsizetype row = m_jobs.rowOf(*preferring);
        if (row >= 0 && isLaunchable(m_jobs.jobs().at(row)))
            candidates.append(*preferring);
    }
    for (const EncodingJob& job : m_jobs.jobs()) {
        if (candidates.size() >= free)
            break;
        if (isLaunchable(job) && !candidates.contains(job.id))
            candidates.append(job.id);
    }
    for (const QUuid& id : std::as_const(candidates))
        launch(id);
    updateTermination();
}

void Scheduler::launch(const QUuid& id)
{
    const qsizetype row = m_jobs.rowOf(id);
    if (row < 0)
        return;
    const JobStatus status = m_jobs.jobs().at(row).status;
    if (status == JobStatus::paused) {
        if (const auto it = m_sessions.find(id); it != m_sessions.end()) {
            it->second.session->resume();
            m_jobs.changeRow(row, [](EncodingJob& job) { job.status = JobStatus::encoding; });
        }
        return;
    }
    if (!isLaunchable(m_jobs.jobs().at(row)))
        return;

    // A session still here was cancelled by requeue and must not speak for the new encode.
    retireSession(id);

    const quint64 serial = ++m_nextSerial;
    const QPointer<Scheduler> self(this);
    // Reports come back through the event loop so that none re-enters the model while it is
    // inside a call on the session.
    auto post = [self](auto work) {
        if (self)
            QMetaObject::invokeMethod(
                self.data(),
                [self, work] {
                    if (self)
                        work(*self);
                },
                Qt::QueuedConnection);
    };
    EncodeCallbacks callbacks;
    callbacks.onProgress = [post, id, serial](double fraction, std::optional<double> eta) {
        post([=](Scheduler& m) { m.onSessionProgress(id, serial, fraction, eta); });
    };
    callbacks.onLog = [post](const QString& text, bool isError) {
        post([=](Scheduler& m) { m.m_feed.log(text, isError); });
    };
    callbacks.onReady = [post, id, serial](const QString& outputPath, bool hardware) {
        post([=](Scheduler& m) { m.onSessionReady(id, serial, outputPath, hardware); });
    };
    callbacks.onTracks = [post, id, serial](const QStringList& tracks) {
        post([=](Scheduler& m) {
            if (!m.m_quitting && m.isCurrentSession(id, serial))
                m.m_jobs.update(id, [&](EncodingJob& job) { job.outputTracks = tracks; });
        });
    };
    callbacks.onComplete = [post, id, serial](const EncodeResult& result) {
        post([=](Scheduler& m) { m.onSessionComplete(id, serial, result); });
    };

    const EncodingJob& job = m_jobs.jobs().at(row);
    std::unique_ptr<EncodeSession> session =
        m_sessionFactory.create(id, job.sourcePath, job.settings, std::move(callbacks));
    if (!session)
        return;

    m_jobs.changeRow(row, [](EncodingJob& j) {
        j.status = JobStatus::encoding;
        j.progress = 0;
        j.etaSeconds.reset();
        j.errorMessage.reset();
        j.hardwareEncoder.reset();
    });
    EncodeSession* started = session.get();
    m_sessions[id] = RunningSession{serial, std::move(session)};
    started->start();
    m_feed.log(QStringLiteral("Started ") + m_jobs.jobs().at(row).sourceName());
    updateTermination();
}

void Scheduler::retireSession(const QUuid& id)
{
    const auto it = m_sessions.find(id);
    if (it == m_sessions.end())
        return;
    it->second.session->cancel();
    m_retiredSessions[it->second.serial] = std::move(it->second.session);
    m_sessions.erase(it);
}

bool Scheduler::isCurrentSession(const QUuid& id, quint64 serial) const
{
    const auto it = m_sessions.find(id);
    return it != m_sessions.end() && it->second.serial == serial;
}

void Scheduler::onSessionProgress(const QUuid& id, quint64 serial, double fraction,
                                  std::optional<double> eta)
{
    if (!m_quitting && isCurrentSession(id, serial))
        handleProgress(id, fraction, eta);
}

void Scheduler::onSessionReady(const QUuid& id, quint64 serial, const QString& outputPath,
                               bool hardware)
{
    if (m_quitting || !isCurrentSession(id, serial))
        return;
    m_jobs.update(id, [&](EncodingJob& job) {
        job.outputPath = outputPath;
        job.hardwareEncoder = hardware;
    });
    // The file now exists under its final name. Should the process end without the quit
    // sequence, the stored queue is what lets the next start find and remove it.
    m_jobs.requestWrite();
}

void Scheduler::onSessionComplete(const QUuid& id, quint64 serial, const EncodeResult& result)
{
    // After the quit sequence the stored queue already says what should happen next time.
    if (m_quitting)
        return;
    std::unique_ptr<EncodeSession> finished;
    const bool current = isCurrentSession(id, serial);
    if (current) {
        const auto it = m_sessions.find(id);
        finished = std::move(it->second.session);
        m_sessions.erase(it);
    } else if (const auto it = m_retiredSessions.find(serial); it != m_retiredSessions.end()) {
        finished = std::move(it->second);
        m_retiredSessions.erase(it);
    } else {
        return;
    }
    handleFinish(id, result, current);
}

void Scheduler::handleProgress(const QUuid& id, double fraction, std::optional<double> eta)
{
    const qsizetype row = m_jobs.rowOf(id);
    if (row < 0)
        return;
    const JobStatus status = m_jobs.jobs().at(row).status;
    if (status != JobStatus::encoding && status != JobStatus::paused)
        return;
    m_jobs.changeRow(row, [&](EncodingJob& job) {
        job.progress = fraction;
        job.etaSeconds = eta;
    });
}

void Scheduler::handleFinish(const QUuid& id, const EncodeResult& result, bool current)
{
    const qsizetype row = m_jobs.rowOf(id);
    const QString name = row >= 0 ? m_jobs.jobs().at(row).sourceName() : QStringLiteral("Job");
    // A session that was requeued or removed no longer speaks for its job.
    const bool ownsJob = current && row >= 0;

    if (result) {
        const QString& output = *result;
        bool reveal = false;
        if (ownsJob) {
            m_jobs.changeRow(row, [&](EncodingJob& job) {
                job.status = JobStatus::completed;
                job.progress = 1.0;
                job.etaSeconds.reset();
                job.errorMessage.reset();
                job.outputPath = output;
            });
            reveal = m_jobs.jobs().at(row).settings.revealWhenDone;
        }
        m_feed.log(QStringLiteral("Finished ") + QFileInfo(output).fileName());
        if (reveal)
            revealSoon(output);
        m_finishedSomething = true;
    } else if (result.error().isCancelled()) {
        if (ownsJob) {
            m_jobs.changeRow(row, [](EncodingJob& job) {
                job.status = JobStatus::cancelled;
                job.progress = 0;
                job.etaSeconds.reset();
                job.outputPath.reset();
            });
        }
        m_feed.log(QStringLiteral("Cancelled ") + name);
    } else {
        const QString description = result.error().description();
        if (ownsJob) {
            m_jobs.changeRow(row, [&](EncodingJob& job) {
                job.status = JobStatus::failed;
                job.etaSeconds.reset();
                job.errorMessage = description;
                job.outputPath.reset();
            });
        }
        m_feed.log(QStringLiteral("Failed ") + name + QStringLiteral(": ") + description, true);
    }

    // Written at once: until the stored queue says the job is done, a crash would make the
    // next start take its finished file for a partial one.
    m_jobs.requestWrite();
    fillSlots();
    // A queue with nothing left to do has stopped: a file added later waits for Start Queue
    // instead of sitting under a "Starting" that nothing would honour.
    if (!m_jobs.anyWithStatus({JobStatus::queued, JobStatus::encoding, JobStatus::paused}))
        setQueueFlags(false, false);
    updateTermination();
    maybeBounce();
}

// Commands

void Scheduler::startQueue()
{
    // Paused jobs resume whether the whole queue was paused or only they were left paused
    // after one job was started on its own.
    if (m_queuePaused || m_jobs.pausedCount() > 0) {
        for (auto& [id, running] : m_sessions) {
            running.session->resume();
            const qsizetype row = m_jobs.rowOf(id);
            if (row >= 0 && m_jobs.jobs().at(row).status == JobStatus::paused)
                m_jobs.changeRow(row, [](EncodingJob& job) { job.status = JobStatus::encoding; });
        }
        setQueueFlags(m_queueRunning, false);
        m_feed.log(QStringLiteral("Resumed"));
    }
    if (m_jobs.anyWithStatus({JobStatus::queued, JobStatus::encoding, JobStatus::paused})) {
        setQueueFlags(true, false);
        fillSlots();
        updateTermination();
    } else {
        m_feed.log(QStringLiteral("Nothing is queued."));
        setQueueFlags(false, false);
    }
}

void Scheduler::pauseQueue()
{
    if (m_jobs.activeCount() == 0)
        return;
    setQueueFlags(m_queueRunning, true);
    for (auto& [id, running] : m_sessions) {
        running.session->pause();
        const qsizetype row = m_jobs.rowOf(id);
        if (row >= 0 && m_jobs.jobs().at(row).status == JobStatus::encoding)
            m_jobs.changeRow(row, [](EncodingJob& job) { job.status = JobStatus::paused; });
    }
    m_feed.log(QStringLiteral("Paused"));
    m_jobs.requestSave();
    updateTermination();
}

void Scheduler::stopActive()
{
    setQueueFlags(false, false);
    QList<QUuid> ids;
    for (const auto& [id, running] : m_sessions)
        ids.append(id);
    for (const QUuid& id : std::as_const(ids)) {
        if (const auto it = m_sessions.find(id); it != m_sessions.end())
            it->second.session->cancel();
    }
    if (!ids.isEmpty())
        m_feed.log(QStringLiteral("Stopping"));
    updateTermination();
}

void Scheduler::startJobNow(const QUuid& id)
{
    const qsizetype row = m_jobs.rowOf(id);
    if (row < 0)
        return;
    JobStatus status = m_jobs.jobs().at(row).status;
    if (isTerminal(status)) {
        requeue(id);
        status = JobStatus::queued;
    }
    if (status == JobStatus::paused) {
        if (const auto it = m_sessions.find(id); it != m_sessions.end())
            it->second.session->resume();
        m_jobs.update(id, [](EncodingJob& job) { job.status = JobStatus::encoding; });
        setQueueFlags(true, false);
        fillSlots();
        return;
    }
    setQueueFlags(true, false);
    fillSlots(id);
}

void Scheduler::requeue(const QUuid& id)
{
    // The cancelled session is set aside at once, so its end cannot mark the requeued job
    // cancelled or end a new encode of it.
    retireSession(id);
    m_jobs.update(id, [](EncodingJob& job) {
        job.status = JobStatus::queued;
        job.progress = 0;
        job.etaSeconds.reset();
        job.errorMessage.reset();
        job.outputPath.reset();
        job.hardwareEncoder.reset();
    });
    m_jobs.requestSave();
    fillSlots();
}

void Scheduler::remove(const QList<QUuid>& ids)
{
    for (const QUuid& id : ids)
        retireSession(id);
    m_jobs.remove(ids);
    updateTermination();
}

void Scheduler::stopAllSessions()
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

void Scheduler::setMaxParallel(int value)
{
    m_persistence.updateSettings([value](AppSettings& s) { s.maxParallel = value; });
    fillSlots();
}

void Scheduler::revealSoon(const QString& path)
{
    m_revealPaths.append(path);
    m_revealTimer->start(); // restarting cancels the pending reveal
}

void Scheduler::revealPending()
{
    const QStringList paths = std::exchange(m_revealPaths, {});
    if (!paths.isEmpty())
        m_desktop.revealFiles(paths);
}

void Scheduler::revealOutput(const QUuid& id)
{
    const qsizetype row = m_jobs.rowOf(id);
    if (row < 0)
        return;
    const std::optional<QString>& path = m_jobs.jobs().at(row).outputPath;
    if (path && !path->isEmpty() && QFile::exists(*path))
        m_desktop.revealFiles({*path});
}

void Scheduler::maybeBounce()
{
    if (m_jobs.anyWithStatus({JobStatus::encoding, JobStatus::paused}))
        return;
    if (m_queueRunning && !m_queuePaused && m_jobs.anyWithStatus({JobStatus::queued}))
        return;
    if (!m_finishedSomething)
        return;
    m_finishedSomething = false;
    if (m_persistence.settings().dockBounceWhenIdle && !m_desktop.isApplicationActive())
        m_desktop.requestAttention();
}

void Scheduler::updateTermination()
{
    const bool busy = m_jobs.anyWithStatus({JobStatus::encoding, JobStatus::paused});
    if (busy && !m_blockingTermination) {
        m_desktop.disableAutomaticTermination(QStringLiteral("Encoding"));
        m_blockingTermination = true;
    } else if (!busy && m_blockingTermination) {
        m_desktop.enableAutomaticTermination(QStringLiteral("Encoding"));
        m_blockingTermination = false;
    }
}

} // namespace corvel
