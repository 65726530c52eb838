#pragma once

#include "CorvelEncoderCore/Records.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QUuid>

#include <functional>
#include <initializer_list>
#include <optional>

namespace corvel {

// The queue's jobs in display order and the selection. Views follow its fine-grained signals;
// it does not write anything itself but asks for the queue to be stored.
class JobStore final : public QObject
{
    Q_OBJECT

public:
    explicit JobStore(QObject* parent = nullptr) : QObject(parent) {}
    Q_DISABLE_COPY_MOVE(JobStore)

    const QList<EncodingJob>& jobs() const { return m_jobs; }
    // Replaces the jobs without signals; for the restore, before any view follows.
    void restore(QList<EncodingJob> jobs)
    {
        m_jobs = std::move(jobs);
        m_rowIndexStale = true;
    }
    std::optional<EncodingJob> job(const QUuid& id) const;
    // The row of the first job with that id, or -1.
    qsizetype rowOf(const QUuid& id) const;
    // Applies `change` to the first job with that id; false when there is none. Does not ask
    // for a save: callers that change what is stored call requestSave().
    bool update(const QUuid& id, const std::function<void(EncodingJob&)>& change);
    void changeRow(qsizetype row, const std::function<void(EncodingJob&)>& change);
    // Appends jobs as given, in order, and asks for a save. The entry point of intake.
    void addJobs(const QList<EncodingJob>& jobs);
    // Removes the rows, which ascend.
    void removeRows(const QList<qsizetype>& rows);
    // Removes the jobs and drops them from the selection. A job a session holds is removed by
    // the scheduler, which ends the session first.
    void remove(const QList<QUuid>& ids);
    void clearCompleted();
    // A queued copy of the job, added at the end and selected alone.
    void duplicate(const QUuid& id);

    bool anyWithStatus(std::initializer_list<JobStatus> statuses) const;
    int activeCount() const;
    int pausedCount() const;
    int queuedCount() const;
    int doneCount() const;

    const QSet<QUuid>& selection() const { return m_selection; }
    void setSelection(const QSet<QUuid>& ids);
    // The selected ids in queue order.
    QList<QUuid> selectedIDs() const;
    std::optional<EncodingJob> primaryJob() const;
    // The selected ids, in queue order, of jobs that are neither encoding nor paused.
    QList<QUuid> editableIDs() const;
    // The selected jobs in queue order, or every job when none is selected.
    QList<EncodingJob> selectedJobsOrAll() const;

    // Asks for the queue to be stored soon, or at once.
    void requestSave() { emit saveRequested(); }
    void requestWrite() { emit writeRequested(); }

signals:
    void jobsAboutToBeInserted(int first, int last);
    void jobsInserted(int first, int last);
    void jobsAboutToBeRemoved(int first, int last);
    void jobsRemoved(int first, int last);
    void jobChanged(int row);
    // The status counts and the phase label may have changed.
    void countsChanged();
    void selectionChanged();
    void saveRequested();
    void writeRequested();

private:
    QList<EncodingJob> m_jobs;
    QSet<QUuid> m_selection;
    mutable QHash<QUuid, qsizetype> m_rowIndex; // id to row, rebuilt after a removal
    mutable bool m_rowIndexStale = true;
};

// Encoding or paused: a session holds the job and its settings are fixed.
bool isLockedStatus(JobStatus status);

} // namespace corvel
