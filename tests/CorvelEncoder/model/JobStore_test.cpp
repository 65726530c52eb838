#include "CorvelEncoder/model/JobStore.h"
#include "tests/QtPrinters.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

namespace corvel {
namespace {

// The store alone: clearing keeps failed and cancelled jobs and prunes the selection, one
// removal per run of rows; a duplicate is a fresh queued copy of the source and settings,
// selected alone.
TEST(JobStoreTest, ClearCompletedKeepsFailedAndCancelledAndDuplicateStartsAfresh)
{
    JobStore store;
    QList<EncodingJob> jobs;
    for (JobStatus s : {JobStatus::completed, JobStatus::failed, JobStatus::completed,
                        JobStatus::cancelled, JobStatus::queued}) {
        jobs.append(EncodingJob());
        jobs.last().id = QUuid::createUuid();
        jobs.last().status = s;
    }
    EncodingJob& failed = jobs[1];
    failed.progress = 0.4;
    failed.etaSeconds = 3;
    failed.outputPath = u"/m/out/a.mov"_s;
    failed.hardwareEncoder = true;
    failed.errorMessage = u"Bad."_s;
    failed.sourceInfo = SourceInfo{1920, 1080, 24, 10, true, false, u"H.264"_s};
    failed.settings.presetName = u"H.264"_s;
    store.addJobs(jobs);
    store.setSelection({jobs[0].id, failed.id});
    QSignalSpy removed(&store, &JobStore::jobsRemoved);
    store.clearCompleted();
    EXPECT_EQ(store.jobs(), (QList<EncodingJob>{failed, jobs[3], jobs[4]}));
    EXPECT_EQ(store.selection(), QSet<QUuid>{failed.id});
    EXPECT_EQ(removed.count(), 2);

    store.duplicate(failed.id);
    ASSERT_EQ(store.jobs().size(), 4);
    const EncodingJob copy = store.jobs().last();
    EXPECT_NE(copy.id, failed.id);
    EXPECT_EQ(copy.status, JobStatus::queued);
    EXPECT_EQ(copy.progress, 0.0);
    EXPECT_FALSE(copy.outputPath || copy.hardwareEncoder || copy.errorMessage || copy.etaSeconds);
    EXPECT_EQ(copy.sourceInfo, failed.sourceInfo);
    EXPECT_EQ(copy.settings, failed.settings);
    EXPECT_EQ(store.selection(), QSet<QUuid>{copy.id});
}

} // namespace
} // namespace corvel
