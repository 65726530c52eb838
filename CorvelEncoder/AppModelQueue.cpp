// The queue commands, the scheduler and the handling of session reports.
#include "CorvelEncoder/AppModel.h"

#include "CorvelEncoder/DesktopServices.h"

#include <QFileInfo>
#include <QPointer>

namespace corvel {

namespace {

// A job whose source is still being read waits: the reading sets its bitrate, and an encode
// launched before it would write a file its record does not describe. The reading's return
// fills the slots again.
bool isLaunchable(const EncodingJob& job)
{
    return job.status == JobStatus::queued && !job.probing;
}

} // namespace

void AppModel::fillSlots(const std::optional<QUuid>& preferring)
{
    if (!m_queueRunning || m_queuePaused || m_quitting)
        return;
    const int free = m_settings.maxParallel - activeCount();
    if (free <= 0)
        return;

    QList<QUuid> candidates;
    if (preferring) {
        const qsizetype row = rowOf(*preferring);
        if (row >= 0 && isLaunchable(m_jobs.at(row)))
            candidates.append(*preferring);
    }
    for (const EncodingJob& job : std::as_const(m_jobs)) {
        if (candidates.size() >= free)
            break;
        if (isLaunchable(job) && !candidates.contains(job.id))
            candidates.append(job.id);
    }
    for (const QUuid& id : std::as_const(candidates))
        launch(id);
    updateTermination();
}

void AppModel::launch(const QUuid& id)
{
    const qsizetype row = rowOf(id);
    if (row < 0)
        return;
    const JobStatus status = m_jobs.at(row).status;
    if (status == JobStatus::paused) {
        if (const auto it = m_sessions.find(id); it != m_sessions.end()) {
            it->second.session->resume();
            changeRow(row, [](EncodingJob& job) { job.status = JobStatus::encoding; });
        }
        return;
    }
    if (!isLaunchable(m_jobs.at(row)))
        return;

    // A session still here was cancelled by requeue and must not speak for the new encode.
    retireSession(id);

    const quint64 serial = ++m_nextSerial;
    const QPointer<AppModel> self(this);
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
        post([=](AppModel& m) { m.onSessionProgress(id, serial, fraction, eta); });
    };
    callbacks.onLog = [post](const QString& text, bool isError) {
        post([=](AppModel& m) { m.log(text, isError); });
    };
    callbacks.onReady = [post, id, serial](const QString& outputPath, bool hardware) {
        post([=](AppModel& m) { m.onSessionReady(id, serial, outputPath, hardware); });
    };
    callbacks.onComplete = [post, id, serial](const EncodeResult& result) {
        post([=](AppModel& m) { m.onSessionComplete(id, serial, result); });
    };

    const EncodingJob& job = m_jobs.at(row);
    std::unique_ptr<EncodeSession> session =
        m_sessionFactory.create(id, job.sourcePath, job.settings, std::move(callbacks));
    if (!session)
        return;

    changeRow(row, [](EncodingJob& j) {
        j.status = JobStatus::encoding;
        j.progress = 0;
        j.etaSeconds.reset();
        j.errorMessage.reset();
        j.hardwareEncoder.reset();
    });
    EncodeSession* started = session.get();
    m_sessions[id] = RunningSession{serial, std::move(session)};
    started->start();
    log(QStringLiteral("Started ") + m_jobs.at(row).sourceName());
    updateTermination();
}

void AppModel::retireSession(const QUuid& id)
{
    const auto it = m_sessions.find(id);
    if (it == m_sessions.end())
        return;
    it->second.session->cancel();
    m_retiredSessions[it->second.serial] = std::move(it->second.session);
    m_sessions.erase(it);
}

bool AppModel::isCurrentSession(const QUuid& id, quint64 serial) const
{
    const auto it = m_sessions.find(id);
    return it != m_sessions.end() && it->second.serial == serial;
}

void AppModel::onSessionProgress(const QUuid& id, quint64 serial, double fraction,
                                 std::optional<double> eta)
{
    if (!m_quitting && isCurrentSession(id, serial))
        handleProgress(id, fraction, eta);
}

void AppModel::onSessionReady(const QUuid& id, quint64 serial, const QString& outputPath,
                              bool hardware)
{
    if (m_quitting || !isCurrentSession(id, serial))
        return;
    update(id, [&](EncodingJob& job) {
        job.outputPath = outputPath;
        job.hardwareEncoder = hardware;
    });
    // The file now exists under its final name. Should the process end without the quit
    // sequence, the stored queue is what lets the next start find and remove it.
    writeQueue();
}

void AppModel::onSessionComplete(const QUuid& id, quint64 serial, const EncodeResult& result)
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

void AppModel::handleProgress(const QUuid& id, double fraction, std::optional<double> eta)
{
    const qsizetype row = rowOf(id);
    if (row < 0)
        return;
    const JobStatus status = m_jobs.at(row).status;
    if (status != JobStatus::encoding && status != JobStatus::paused)
        return;
    changeRow(row, [&](EncodingJob& job) {
        job.progress = fraction;
        job.etaSeconds = eta;
    });
}

void AppModel::handleFinish(const QUuid& id, const EncodeResult& result, bool current)
{
    const qsizetype row = rowOf(id);
    const QString name = row >= 0 ? m_jobs.at(row).sourceName() : QStringLiteral("Job");
    // A session that was requeued or removed no longer speaks for its job.
    const bool ownsJob = current && row >= 0;

    if (result) {
        const QString& output = *result;
        bool reveal = false;
        if (ownsJob) {
            changeRow(row, [&](EncodingJob& job) {
                job.status = JobStatus::completed;
                job.progress = 1.0;
                job.etaSeconds.reset();
                job.errorMessage.reset();
                job.outputPath = output;
            });
            reveal = m_jobs.at(row).settings.revealWhenDone;
        }
        log(QStringLiteral("Finished ") + QFileInfo(output).fileName());
        if (reveal)
            revealSoon(output);
        m_finishedSomething = true;
    } else if (result.error().isCancelled()) {
        if (ownsJob) {
            changeRow(row, [](EncodingJob& job) {
                job.status = JobStatus::cancelled;
                job.progress = 0;
                job.etaSeconds.reset();
                job.outputPath.reset();
            });
        }
        log(QStringLiteral("Cancelled ") + name);
    } else {
        const QString description = result.error().description();
        if (ownsJob) {
            changeRow(row, [&](EncodingJob& job) {
                job.status = JobStatus::failed;
                job.etaSeconds.reset();
                job.errorMessage = description;
                job.outputPath.reset();
            });
        }
        log(QStringLiteral("Failed ") + name + QStringLiteral(": ") + description, true);
    }

    // Written at once: until the stored queue says the job is done, a crash would make the
    // next start take its finished file for a partial one.
    writeQueue();
    fillSlots();
    // A queue with nothing left to do has stopped: a file added later waits for Start Queue
    // instead of sitting under a "Starting" that nothing would honour.
    if (!anyJobWithStatus({JobStatus::queued, JobStatus::encoding, JobStatus::paused}))
        setQueueFlags(false, false);
    updateTermination();
    maybeBounce();
}

// Commands

void AppModel::startQueue()
{
    // Paused jobs resume whether the whole queue was paused or only they were left paused
    // after one job was started on its own.
    if (m_queuePaused || pausedCount() > 0) {
        for (auto& [id, running] : m_sessions) {
            running.session->resume();
            const qsizetype row = rowOf(id);
            if (row >= 0 && m_jobs.at(row).status == JobStatus::paused)
                changeRow(row, [](EncodingJob& job) { job.status = JobStatus::encoding; });
        }
        setQueueFlags(m_queueRunning, false);
        log(QStringLiteral("Resumed"));
    }
    if (anyJobWithStatus({JobStatus::queued, JobStatus::encoding, JobStatus::paused})) {
        setQueueFlags(true, false);
        fillSlots();
        updateTermination();
    } else {
        log(QStringLiteral("Nothing is queued."));
        setQueueFlags(false, false);
    }
}

void AppModel::pauseQueue()
{
    if (activeCount() == 0)
        return;
    setQueueFlags(m_queueRunning, true);
    for (auto& [id, running] : m_sessions) {
        running.session->pause();
        const qsizetype row = rowOf(id);
        if (row >= 0 && m_jobs.at(row).status == JobStatus::encoding)
            changeRow(row, [](EncodingJob& job) { job.status = JobStatus::paused; });
    }
    log(QStringLiteral("Paused"));
    scheduleSave();
    updateTermination();
}

void AppModel::stopActive()
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
        log(QStringLiteral("Stopping"));
    updateTermination();
}

void AppModel::startJobNow(const QUuid& id)
{
    const qsizetype row = rowOf(id);
    if (row < 0)
        return;
    JobStatus status = m_jobs.at(row).status;
    if (status == JobStatus::completed || status == JobStatus::failed ||
        status == JobStatus::cancelled) {
        requeue(id);
        status = JobStatus::queued;
    }
    if (status == JobStatus::paused) {
        if (const auto it = m_sessions.find(id); it != m_sessions.end())
            it->second.session->resume();
        update(id, [](EncodingJob& job) { job.status = JobStatus::encoding; });
        setQueueFlags(true, false);
        fillSlots();
        return;
    }
    setQueueFlags(true, false);
    fillSlots(id);
}

void AppModel::requeue(const QUuid& id)
{
    // The cancelled session is set aside at once, so its end cannot mark the requeued job
    // cancelled or end a new encode of it.
    retireSession(id);
    update(id, [](EncodingJob& job) {
        job.status = JobStatus::queued;
        job.progress = 0;
        job.etaSeconds.reset();
        job.errorMessage.reset();
        job.outputPath.reset();
        job.hardwareEncoder.reset();
    });
    scheduleSave();
    fillSlots();
}

void AppModel::remove(const QList<QUuid>& ids)
{
    for (const QUuid& id : ids)
        retireSession(id);
    const QSet<QUuid> doomed(ids.cbegin(), ids.cend());
    QList<qsizetype> rows;
    for (qsizetype row = 0; row < m_jobs.size(); ++row) {
        if (doomed.contains(m_jobs.at(row).id))
            rows.append(row);
    }
    removeRows(rows);
    QSet<QUuid> selection = m_selection;
    for (const QUuid& id : ids)
        selection.remove(id);
    setSelection(selection);
    scheduleSave();
    updateTermination();
}

void AppModel::clearCompleted()
{
    QList<qsizetype> rows;
    for (qsizetype row = 0; row < m_jobs.size(); ++row) {
        if (m_jobs.at(row).status == JobStatus::completed)
            rows.append(row);
    }
    removeRows(rows);
    QSet<QUuid> selection;
    for (const EncodingJob& job : std::as_const(m_jobs)) {
        if (m_selection.contains(job.id))
            selection.insert(job.id);
    }
    setSelection(selection);
    scheduleSave();
}

void AppModel::duplicate(const QUuid& id)
{
    const qsizetype row = rowOf(id);
    if (row < 0)
        return;
    const EncodingJob& original = m_jobs.at(row);
    EncodingJob copy;
    copy.id = QUuid::createUuid();
    copy.sourcePath = original.sourcePath;
    copy.sourceInfo = original.sourceInfo;
    copy.settings = original.settings;
    copy.status = JobStatus::queued;
    copy.addedAt = QDateTime::currentDateTimeUtc();
    const QUuid newID = copy.id;
    addJobs({copy});
    setSelection({newID});
}

} // namespace corvel
