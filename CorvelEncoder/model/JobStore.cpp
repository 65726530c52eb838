#include "CorvelEncoder/model/JobStore.h"

#include <algorithm>

namespace corvel {

namespace {

int countStatus(const QList<EncodingJob>& jobs, JobStatus status)
{
    return int(std::count_if(jobs.cbegin(), jobs.cend(),
                             [status](const EncodingJob& job) { return job.status == status; }));
}

} // namespace

bool isLockedStatus(JobStatus status)
{
    return status == JobStatus::encoding || status == JobStatus::paused;
}

std::optional<EncodingJob> JobStore::job(const QUuid& id) const
{
    const qsizetype row = rowOf(id);
    if (row < 0)
        return std::nullopt;
    return m_jobs.at(row);
}

qsizetype JobStore::rowOf(const QUuid& id) const
{
    // An index, so that following 100,000 jobs by id is not 100,000 walks of the queue.
    if (m_rowIndexStale) {
        m_rowIndex.clear();
        m_rowIndex.reserve(m_jobs.size());
        // From the back, so the first row of an id is the one kept.
        for (qsizetype row = m_jobs.size() - 1; row >= 0; --row)
            m_rowIndex.insert(m_jobs.at(row).id, row);
        m_rowIndexStale = false;
    }
    const qsizetype row = m_rowIndex.value(id, -1);
    return row >= 0 && row < m_jobs.size() && m_jobs.at(row).id == id ? row : -1;
}

void JobStore::changeRow(qsizetype row, const std::function<void(EncodingJob&)>& change)
{
    EncodingJob& job = m_jobs[row];
    const JobStatus before = job.status;
    const bool wasProbing = job.probing;
    const QUuid id = job.id;
    change(job);
    m_rowIndexStale = m_rowIndexStale || job.id != id;
    emit jobChanged(int(row));
    // The status line counts jobs by status and those still being read.
    if (job.status != before || job.probing != wasProbing)
        emit countsChanged();
}

bool JobStore::update(const QUuid& id, const std::function<void(EncodingJob&)>& change)
{
    const qsizetype row = rowOf(id);
    if (row < 0)
        return false;
    changeRow(row, change);
    return true;
}

void JobStore::addJobs(const QList<EncodingJob>& jobs)
{
    if (jobs.isEmpty())
        return;
    const int first = int(m_jobs.size());
    const int last = first + int(jobs.size()) - 1;
    emit jobsAboutToBeInserted(first, last);
    m_jobs.append(jobs);
    if (!m_rowIndexStale) {
        for (qsizetype row = first; row <= last; ++row) {
            if (!m_rowIndex.contains(m_jobs.at(row).id))
                m_rowIndex.insert(m_jobs.at(row).id, row);
        }
    }
    emit jobsInserted(first, last);
    emit countsChanged();
    requestSave();
}

void JobStore::removeRows(const QList<qsizetype>& rows)
{
    // `rows` ascend; removing contiguous runs from the back keeps the earlier rows valid.
    qsizetype end = rows.size();
    while (end > 0) {
        qsizetype begin = end - 1;
        while (begin > 0 && rows.at(begin - 1) == rows.at(begin) - 1)
            --begin;
        const int first = int(rows.at(begin));
        const int last = int(rows.at(end - 1));
        emit jobsAboutToBeRemoved(first, last);
        m_jobs.remove(first, last - first + 1);
        m_rowIndexStale = true;
        emit jobsRemoved(first, last);
        end = begin;
    }
    if (!rows.isEmpty())
        emit countsChanged();
}

void JobStore::remove(const QList<QUuid>& ids)
{
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
    requestSave();
}

void JobStore::clearCompleted()
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
    requestSave();
}

void JobStore::duplicate(const QUuid& id)
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

bool JobStore::anyWithStatus(std::initializer_list<JobStatus> statuses) const
{
    return std::any_of(m_jobs.cbegin(), m_jobs.cend(), [&](const EncodingJob& job) {
        return std::find(statuses.begin(), statuses.end(), job.status) != statuses.end();
    });
}

int JobStore::activeCount() const
{
    return countStatus(m_jobs, JobStatus::encoding);
}
int JobStore::pausedCount() const
{
    return countStatus(m_jobs, JobStatus::paused);
}
int JobStore::queuedCount() const
{
    return countStatus(m_jobs, JobStatus::queued);
}
int JobStore::doneCount() const
{
    return countStatus(m_jobs, JobStatus::completed);
}

void JobStore::setSelection(const QSet<QUuid>& ids)
{
    if (ids == m_selection)
        return;
    m_selection = ids;
    emit selectionChanged();
}

QList<QUuid> JobStore::selectedIDs() const
{
    QList<QUuid> ids;
    if (m_selection.isEmpty())
        return ids;
    for (const EncodingJob& job : m_jobs) {
        if (m_selection.contains(job.id))
            ids.append(job.id);
    }
    return ids;
}

std::optional<EncodingJob> JobStore::primaryJob() const
{
    for (const EncodingJob& job : m_jobs) {
        if (m_selection.contains(job.id))
            return job;
    }
    return std::nullopt;
}

QList<QUuid> JobStore::editableIDs() const
{
    QList<QUuid> ids;
    if (m_selection.isEmpty())
        return ids;
    for (const EncodingJob& job : m_jobs) {
        if (m_selection.contains(job.id) && !isLockedStatus(job.status))
            ids.append(job.id);
    }
    return ids;
}

QList<EncodingJob> JobStore::selectedJobsOrAll() const
{
    if (m_selection.isEmpty())
        return m_jobs;
    QList<EncodingJob> jobs;
    for (const EncodingJob& job : m_jobs) {
        if (m_selection.contains(job.id))
            jobs.append(job);
    }
    // A selection of ids that are all gone counts as none.
    return jobs.isEmpty() ? m_jobs : jobs;
}

} // namespace corvel
