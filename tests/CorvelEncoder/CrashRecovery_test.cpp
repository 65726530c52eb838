// What a process that dies without its quit sequence leaves behind, and what the next start
// makes of it, one moment at a time. Kill_test drives the same through the real binary.

#include "ModelTestSupport.h"

#include "CorvelEncoder/StateFiles.h"

#include <QDir>
#include <QFile>

namespace corvel::testing {
namespace {

class CrashRecoveryTest : public ModelFixture
{
protected:
    QList<EncodingJob> storedJobs() const
    {
        QFile file(supportDir() + u'/' + kQueueFileName);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        const auto decoded = decodeQueueFile(file.readAll());
        return decoded ? decoded->jobs : QList<EncodingJob>{};
    }

    void put(const QString& full, const QByteArray& data = "bytes")
    {
        QDir().mkpath(QFileInfo(full).path());
        QFile file(full);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(data);
    }
};

TEST_F(CrashRecoveryTest, TheStoredQueueKnowsAnEncodeFromItsFirstFileToItsEnd)
{
    makeModel();
    const QList<EncodingJob> jobs = addQueued(1);
    spin(600); // the save for the addition has gone by; nothing else is pending
    model->startQueue();
    FakeSession* session = sessions.session(jobs[0].id);
    ASSERT_TRUE(session);
    const QString output = path(QStringLiteral("out/clip0.mov"));

    session->ready(output, false);
    deliver();
    QList<EncodingJob> stored = storedJobs();
    ASSERT_EQ(stored.size(), 1);
    EXPECT_EQ(stored[0].status, JobStatus::queued);
    EXPECT_EQ(stored[0].outputPath, output) << "the file under way is on record at once";

    session->succeed(output);
    deliver();
    stored = storedJobs();
    ASSERT_EQ(stored.size(), 1);
    EXPECT_EQ(stored[0].status, JobStatus::completed) << "the finish is on record at once";
    EXPECT_EQ(stored[0].outputPath, output);
}

// Nothing unfinished is ever written under an output name, so whatever stands there is a
// finished movie or someone else's file: the next start removes none of them.
TEST_F(CrashRecoveryTest, TheNextStartRequeuesInterruptedJobsAndRemovesNoOutput)
{
    const struct
    {
        const char* name;
        JobStatus stored;
        bool fileThere;
        bool finishedJobNamesIt;
        bool fileStays;
    } rows[] = {
        {"an interrupted encode's name, taken since", JobStatus::queued, true, false, true},
        {"an interrupted encode whose file is gone", JobStatus::queued, false, false, false},
        {"an encode stored mid-way by an older version", JobStatus::encoding, true, false, true},
        {"a finished job's output", JobStatus::completed, true, false, true},
        {"a path a finished job names as its output", JobStatus::queued, true, true, true},
    };
    QList<EncodingJob> queue;
    QList<QUuid> ids;
    QStringList files;
    for (int i = 0; i < int(std::size(rows)); ++i) {
        EncodingJob job = queuedJob(QStringLiteral("clip%1.mov").arg(i));
        job.status = rows[i].stored;
        job.outputPath = path(QStringLiteral("out/clip%1.mov").arg(i));
        if (rows[i].fileThere)
            put(*job.outputPath);
        if (rows[i].finishedJobNamesIt) {
            EncodingJob finished = queuedJob(QStringLiteral("earlier.mov"));
            finished.status = JobStatus::completed;
            finished.outputPath = job.outputPath;
            queue.append(finished);
        }
        queue.append(job);
        ids.append(job.id);
        files.append(*job.outputPath);
    }
    put(supportDir() + u'/' + kQueueFileName, encodeQueueFile(queue));

    makeModel();
    ASSERT_EQ(model->jobs().size(), queue.size());
    for (int i = 0; i < int(std::size(rows)); ++i) {
        SCOPED_TRACE(rows[i].name);
        EXPECT_EQ(QFile::exists(files[i]), rows[i].fileThere && rows[i].fileStays);
        const qsizetype row = model->rowOf(ids[i]);
        ASSERT_GE(row, 0);
        const EncodingJob& job = model->jobs().at(row);
        if (rows[i].stored == JobStatus::completed)
            EXPECT_EQ(job.outputPath, files[i]);
        else
            EXPECT_FALSE(job.outputPath) << "a queued job has no output yet";
    }
    EXPECT_EQ(storedJobs(), model->jobs()) << "the cleared paths are stored at once";
}

} // namespace
} // namespace corvel::testing
