#include "ModelTestSupport.h"

#include <QFile>
#include <QSignalSpy>

namespace corvel::testing {
namespace {

using QueueTest = ModelFixture;

TEST_F(QueueTest, SlotsFillInQueueOrderAndEachCompletionLaunchesTheNext)
{
    const QList<EncodingJob> jobs = addQueued(5);
    QList<QUuid> ids;
    for (const EncodingJob& job : jobs)
        ids.append(job.id);
    model->scheduler().startQueue();
    ASSERT_EQ(sessions.launched, ids.first(2));
    EXPECT_EQ(model->store().queuedCount(), 3);
    EXPECT_EQ(model->scheduler().phaseLabel(), u"Encoding 2"_s);
    EXPECT_EQ(sessions.session(jobs[0].id)->startCount, 1);

    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        finish(jobs[i], u"out%1.mov"_s.arg(i));
        EXPECT_EQ(status(jobs[i].id), JobStatus::completed);
        EXPECT_EQ(model->store().job(jobs[i].id)->progress, 1.0);
        EXPECT_EQ(sessions.launched, ids.first(std::min(i + 3, 5)));
    }
    EXPECT_EQ(model->store().doneCount(), 5);
    EXPECT_TRUE(logTexts().contains(u"Finished out4.mov"_s));
    // The queue ran dry and stopped: pause and start have nothing to act on, and a job added
    // later waits.
    EXPECT_FALSE(model->scheduler().isQueueRunning());
    model->scheduler().pauseQueue();
    EXPECT_FALSE(model->scheduler().isQueuePaused());
    model->scheduler().startQueue();
    EXPECT_EQ(logTexts().last(), u"Nothing is queued."_s);
    EXPECT_FALSE(model->scheduler().isQueueRunning());
    addQueued(1);
    EXPECT_EQ(model->scheduler().phaseLabel(), u"Idle"_s);
    EXPECT_EQ(sessions.launched.size(), 5);
}

TEST_F(QueueTest, SlotCountIsClampedAndARaiseStartsWaitingJobs)
{
    const std::pair<int, int> rows[] = {{0, 1}, {9, 4}, {-5, 1}, {3, 3}};
    for (const auto& [typed, stored] : rows) {
        SCOPED_TRACE(typed);
        model->scheduler().setMaxParallel(typed);
        EXPECT_EQ(model->editing().parallel(), stored);
        EXPECT_EQ(storedSettings().maxParallel, stored);
    }

    model->scheduler().setMaxParallel(1);
    const QList<EncodingJob> jobs = addQueued(4);
    model->scheduler().startQueue();
    EXPECT_EQ(model->store().activeCount(), 1);
    model->scheduler().setMaxParallel(3);
    EXPECT_EQ(model->store().activeCount(), 3);
    model->scheduler().setMaxParallel(1);
    EXPECT_EQ(model->store().activeCount(), 3) << "a lower count never stops running encodes";
    finish(jobs[0], u"a.mov"_s);
    EXPECT_EQ(status(jobs[3].id), JobStatus::queued) << "a freed slot above the count stays empty";
    model->scheduler().setMaxParallel(9);
    EXPECT_EQ(status(jobs[3].id), JobStatus::encoding);
}

// The block on ending the session is held from the first start to the last end.
TEST_F(QueueTest, PauseAndResumeHoldEverySessionAndTheTerminationBlock)
{
    const QList<EncodingJob> jobs = addQueued(3);
    model->scheduler().startQueue();
    EXPECT_EQ(desktop.terminationCalls, QStringList{u"disable:Encoding"_s});
    model->scheduler().pauseQueue();
    EXPECT_EQ(desktop.terminationCalls.size(), 1) << "paused encodes still hold it";
    EXPECT_TRUE(model->scheduler().isQueuePaused());
    EXPECT_EQ(model->store().pausedCount(), 2);
    EXPECT_EQ(model->store().activeCount(), 0);
    EXPECT_EQ(model->scheduler().phaseLabel(), u"Paused"_s);
    EXPECT_TRUE(sessions.session(jobs[0].id)->paused);
    EXPECT_EQ(logTexts().last(), u"Paused"_s);
    // Paused jobs do not hold slots, but nothing new starts while paused.
    EXPECT_EQ(sessions.launched.size(), 2);

    // Starting one paused job resumes only it, and the slot left free takes a queued job.
    model->scheduler().startJobNow(jobs[0].id);
    EXPECT_FALSE(model->scheduler().isQueuePaused());
    EXPECT_FALSE(sessions.session(jobs[0].id)->paused);
    EXPECT_EQ(status(jobs[1].id), JobStatus::paused);
    EXPECT_EQ(status(jobs[2].id), JobStatus::encoding);
    // The job left paused is not stranded: Start Queue resumes it.
    model->scheduler().startQueue();
    EXPECT_EQ(model->store().activeCount(), 3);
    EXPECT_FALSE(sessions.session(jobs[1].id)->paused);
    EXPECT_TRUE(logTexts().contains(u"Resumed"_s));
    EXPECT_EQ(sessions.launched.size(), 3);
    for (int i = 0; i < 3; ++i)
        finish(jobs[i], u"o%1.mov"_s.arg(i));
    EXPECT_EQ(desktop.terminationCalls, (QStringList{u"disable:Encoding"_s, u"enable:Encoding"_s}));
}

TEST_F(QueueTest, StartJobNowPrefersTheJobOnlyWhenASlotIsFree)
{
    const QList<EncodingJob> jobs = addQueued(4);
    model->scheduler().setMaxParallel(1);
    model->scheduler().startJobNow(jobs[2].id);
    EXPECT_EQ(sessions.launched, QList<QUuid>{jobs[2].id});
    EXPECT_TRUE(model->scheduler().isQueueRunning());

    model->scheduler().setMaxParallel(2);
    EXPECT_EQ(sessions.launched.last(), jobs[0].id);
    model->scheduler().startJobNow(jobs[3].id);
    EXPECT_EQ(sessions.launched.size(), 2) << "every slot is busy";
    EXPECT_EQ(status(jobs[3].id), JobStatus::queued);
    // The preference held for that one fill only: the freed slot goes in queue order.
    finish(jobs[0], u"o.mov"_s);
    EXPECT_EQ(sessions.launched.last(), jobs[1].id);

    // A failure keeps the progress, takes the message and drops the partial file's name; the
    // session's own lines keep their error flag.
    FakeSession* failing = sessions.session(jobs[2].id);
    failing->ready(path(u"partial.mov"_s), true);
    failing->log(u"Hardware encoder refused."_s, true);
    failing->log(u"Using 8 threads."_s, false);
    failing->progress(0.4);
    failing->fail(u"Broken."_s);
    deliver();
    EXPECT_DOUBLE_EQ(current(jobs[2]).progress, 0.4);
    EXPECT_EQ(current(jobs[2]).errorMessage, u"Broken."_s);
    EXPECT_FALSE(current(jobs[2]).outputPath.has_value());
    const QList<LogLine> lines = model->feed().logLines();
    const qsizetype failed = logTexts().indexOf(u"Failed clip2.mov: Broken."_s);
    ASSERT_GE(failed, 2);
    EXPECT_TRUE(lines[failed].isError && lines[failed - 2].isError && !lines[failed - 1].isError);

    // A finished job is queued again and started.
    for (int i : {1, 3})
        finish(jobs[i], u"o%1.mov"_s.arg(i));
    ASSERT_EQ(status(jobs[2].id), JobStatus::failed);
    model->scheduler().startJobNow(jobs[2].id);
    EXPECT_EQ(status(jobs[2].id), JobStatus::encoding);
    EXPECT_FALSE(model->store().job(jobs[2].id)->errorMessage.has_value());
}

TEST_F(QueueTest, RevealsOutputsFinishingCloseTogetherInOneRequest)
{
    model->scheduler().setMaxParallel(4);
    const QList<EncodingJob> jobs = addQueued(3, /*reveal=*/true) + addQueued(1, false);
    model->scheduler().startQueue();
    // A job without reveal finishing in the same period is not shown.
    sessions.session(jobs[3].id)->succeed(path(u"hidden.mov"_s));
    QStringList outputs;
    for (int i = 0; i < 3; ++i) {
        outputs.append(path(u"done%1.mov"_s.arg(i)));
        sessions.session(jobs[i].id)->succeed(outputs.last());
        deliver();
        clock.advance(699);
        EXPECT_TRUE(desktop.reveals.isEmpty()) << "revealed before the quiet period, finish " << i;
    }
    clock.advance(1);
    EXPECT_EQ(desktop.reveals.size(), 1);
    clock.advance(5000);
    ASSERT_EQ(desktop.reveals.size(), 1);
    EXPECT_EQ(desktop.reveals.first(), outputs);
    // Show in Folder reveals only a file that is there: hidden.mov was never written.
    model->scheduler().revealOutput(jobs[3].id);
    model->scheduler().revealOutput(QUuid::createUuid());
    EXPECT_EQ(desktop.reveals.size(), 1);
}

TEST_F(QueueTest, RemovingAnEncodingJobTakesItAwayAtOnceAndRefillsOnItsEnd)
{
    model->scheduler().setMaxParallel(1);
    const QList<EncodingJob> jobs = addQueued(2);
    model->store().setSelection({jobs[0].id, jobs[1].id});
    model->scheduler().startQueue();
    FakeSession* session = sessions.session(jobs[0].id);
    QSignalSpy removed(&model->store(), &JobStore::jobsRemoved);

    model->scheduler().remove({jobs[0].id});
    EXPECT_FALSE(model->store().job(jobs[0].id).has_value());
    EXPECT_EQ(removed.count(), 1);
    EXPECT_EQ(removed.first().at(0).toInt(), 0);
    EXPECT_TRUE(session->cancelRequested);
    EXPECT_EQ(model->store().selection(), QSet<QUuid>{jobs[1].id});
    EXPECT_EQ(sessions.launched.size(), 1);

    session->progress(0.5); // harmless
    session->endCancelled();
    deliver();
    EXPECT_EQ(logTexts().last(), u"Started clip1.mov"_s);
    EXPECT_TRUE(logTexts().contains(u"Cancelled Job"_s));
    EXPECT_EQ(status(jobs[1].id), JobStatus::encoding);
}

TEST_F(QueueTest, RequeueOfAnEncodingJobStartsAFreshEncode)
{
    const QList<EncodingJob> jobs = addQueued(1);
    model->scheduler().startQueue();
    FakeSession* first = sessions.session(jobs[0].id);
    first->ready(path(u"p.mov"_s), true);
    first->progress(0.6);
    deliver();

    model->scheduler().requeue(jobs[0].id);
    EXPECT_TRUE(first->cancelRequested);
    ASSERT_EQ(sessions.launched.size(), 2);
    FakeSession* second = sessions.session(jobs[0].id);
    ASSERT_NE(first, second);
    EXPECT_EQ(status(jobs[0].id), JobStatus::encoding);

    // The old session's end belongs to the old encode only.
    first->endCancelled();
    deliver();
    EXPECT_EQ(status(jobs[0].id), JobStatus::encoding);
    EXPECT_TRUE(model->scheduler().hasSession(jobs[0].id));
    second->progress(0.25);
    deliver();
    EXPECT_DOUBLE_EQ(model->store().job(jobs[0].id)->progress, 0.25);
    finish(jobs[0], u"final.mov"_s);
    EXPECT_EQ(status(jobs[0].id), JobStatus::completed);

    // Stop: a job stays encoding until its session ends, then is cancelled with its progress
    // gone and later reports dropped; a job requeued meanwhile waits.
    const QList<EncodingJob> more = addQueued(2);
    model->scheduler().startQueue();
    FakeSession* requeued = sessions.session(more[0].id);
    FakeSession* stopped = sessions.session(more[1].id);
    stopped->progress(0.3, 20.0);
    deliver();
    EXPECT_EQ(current(more[1]).etaSeconds, 20.0);
    model->scheduler().stopActive();
    EXPECT_EQ(logTexts().last(), u"Stopping"_s);
    EXPECT_EQ(status(more[1].id), JobStatus::encoding);
    model->scheduler().requeue(more[0].id);
    requeued->endCancelled();
    stopped->endCancelled();
    stopped->progress(0.8, 5.0);
    deliver();
    EXPECT_EQ(status(more[0].id), JobStatus::queued);
    EXPECT_EQ(sessions.launched.size(), 4);
    EXPECT_EQ(status(more[1].id), JobStatus::cancelled);
    EXPECT_EQ(current(more[1]).progress, 0.0);
    EXPECT_FALSE(current(more[1]).etaSeconds.has_value());
    EXPECT_FALSE(model->scheduler().isQueueRunning());
    EXPECT_EQ(logTexts().last(), u"Cancelled clip1.mov"_s);
}

TEST_F(QueueTest, ProgressRepaintsOneRowAndNeverWritesTheQueue)
{
    const QList<EncodingJob> jobs = addQueued(3);
    clock.advance(1000); // let the save for the additions go by
    model->scheduler().startQueue();
    FakeSession* session = sessions.session(jobs[1].id);
    session->ready(path(u"p.mov"_s), false);
    deliver();
    const int writesBefore = store->writeCount(u"queue.json"_s);
    EXPECT_EQ(model->store().job(jobs[1].id)->outputPath, path(u"p.mov"_s));
    EXPECT_EQ(model->store().job(jobs[1].id)->hardwareEncoder, false);

    QSignalSpy changed(&model->store(), &JobStore::jobChanged);
    QSignalSpy inserted(&model->store(), &JobStore::jobsInserted);
    QSignalSpy removed(&model->store(), &JobStore::jobsRemoved);
    QSignalSpy counts(&model->store(), &JobStore::countsChanged);
    for (int i = 1; i <= 20; ++i)
        session->progress(i / 40.0, 10.0);
    deliver();
    EXPECT_EQ(changed.count(), 20);
    for (const QList<QVariant>& args : changed)
        EXPECT_EQ(args.at(0).toInt(), 1);
    EXPECT_EQ(inserted.count() + removed.count() + counts.count(), 0);
    clock.advance(1000);
    EXPECT_EQ(store->writeCount(u"queue.json"_s), writesBefore);
}

TEST_F(QueueTest, AttentionOnlyWhenSomethingFinishedAndTheAppIsInTheBackground)
{
    // name, the first job succeeds, app active, bounce setting, attention requests
    const std::tuple<const char*, bool, bool, bool, int> rows[] = {
        {"success in background", true, false, true, 1},
        {"success while active", true, true, true, 0},
        {"success, setting off", true, false, false, 0},
        {"only a failure", false, false, true, 0}};
    for (const auto& [name, succeed, active, bounce, expected] : rows) {
        SCOPED_TRACE(name);
        makeModel();
        desktop.attentionRequests = 0;
        desktop.active = active;
        model->persistence().updateSettings([&](AppSettings& s) { s.dockBounceWhenIdle = bounce; });
        const QList<EncodingJob> jobs = addQueued(2);
        model->scheduler().startQueue();
        if (succeed)
            finish(jobs[0], u"a.mov"_s);
        else
            sessions.session(jobs[0].id)->fail(u"No."_s);
        deliver();
        EXPECT_EQ(desktop.attentionRequests, 0) << "one job still encoding";
        sessions.session(jobs[1].id)->fail(u"No."_s);
        deliver();
        EXPECT_EQ(desktop.attentionRequests, expected);
    }
}

TEST_F(QueueTest, QuitStopsSessionsAndSavesTheirJobsQueued)
{
    const QList<EncodingJob> jobs = addQueued(3);
    model->scheduler().startQueue();
    QStringList partials;
    for (int i = 0; i < 2; ++i) {
        partials.append(path(u"partial%1.mov"_s.arg(i)));
        QFile(partials.last()).open(QIODevice::WriteOnly);
        sessions.session(jobs[i].id)->ready(partials.last(), false);
    }
    deliver();
    model->scheduler().pauseQueue();
    model->scheduler().startJobNow(jobs[0].id);
    FakeSession* a = sessions.session(jobs[0].id);
    FakeSession* b = sessions.session(jobs[1].id);
    // Stuck fakes sleep through each allowance they are given, so their sum bounds the wait.
    model->scheduler().setQuitWaitLimit(300);
    for (FakeSession* s : sessions.live)
        s->stuck = true;

    model->prepareForQuit();
    EXPECT_TRUE(a->cancelRequested && b->cancelRequested);
    int total = 0;
    for (FakeSession* s : sessions.live) {
        ASSERT_EQ(s->waitAllowances.size(), 1);
        total += s->waitAllowances.first();
    }
    EXPECT_LE(total, 300);
    // Sessions remove their own partial files; a file under a job's output name is not the
    // job's while it runs, so the model leaves it.
    EXPECT_TRUE(QFile::exists(partials[0]) && QFile::exists(partials[1]));
    const Decoded<QueueFile> saved =
        decodeQueueFile(store->files.read(kQueueFileName).value_or(QByteArray()));
    ASSERT_TRUE(saved.has_value());
    for (const EncodingJob& job : saved->jobs)
        EXPECT_EQ(job.status, JobStatus::queued);
    EXPECT_TRUE(store->files.read(kSettingsFileName).has_value());
    EXPECT_EQ(desktop.terminationCalls.last(), u"enable:Encoding"_s);

    // The sessions' late ends change nothing that was saved.
    const int writes = int(store->writes.size());
    a->endCancelled();
    b->endCancelled();
    clock.advance(1000);
    EXPECT_EQ(store->writes.size(), writes);
    EXPECT_EQ(status(jobs[0].id), JobStatus::encoding);
}

} // namespace
} // namespace corvel::testing
