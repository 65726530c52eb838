#include "CorvelEncoder/ui/JobRowTexts.h"
#include "CorvelEncoder/ui/Theme.h"
#include "CorvelEncoderCore/FrameMath.h"

#include "../../QtPrinters.h"

#include <gtest/gtest.h>

#include <cmath>

namespace corvel {
namespace {

EncodingJob jobWith(JobStatus status, double progress = 0)
{
    EncodingJob job;
    job.status = status;
    job.progress = progress;
    return job;
}

TEST(JobRowTexts, PercentIsStartingAtZeroAndRoundsHalvesUp)
{
    struct Row
    {
        JobStatus status;
        double progress;
        const char* expected;
    };
    const Row rows[] = {
        {JobStatus::encoding, 0, "Starting"},
        {JobStatus::encoding, -0.2, "Starting"},
        {JobStatus::encoding, std::nan(""), "Starting"},
        {JobStatus::encoding, 0.004, "0%"},
        {JobStatus::encoding, 0.005, "1%"},
        {JobStatus::encoding, 0.125, "13%"},
        {JobStatus::paused, 0.5, "50%"},
        {JobStatus::encoding, 0.999, "100%"},
        // Completed reads 100% whatever progress was stored.
        {JobStatus::completed, 0, "100%"},
        {JobStatus::completed, 0.37, "100%"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << int(row.status) << " at " << row.progress);
        EXPECT_EQ(JobRowTexts::percentText(jobWith(row.status, row.progress)),
                  QString::fromUtf8(row.expected));
    }
}

TEST(JobRowTexts, DetailNamesPauseFolderSoftwareTimeLeftOrHardware)
{
    EncodingJob paused = jobWith(JobStatus::paused, 0.4);
    paused.hardwareEncoder = false;
    EXPECT_EQ(JobRowTexts::detailText(paused), QStringLiteral("Paused"));

    EncodingJob done = jobWith(JobStatus::completed, 1);
    done.hardwareEncoder = false;
    EXPECT_EQ(JobRowTexts::detailText(done), QStringLiteral("In Folder"));

    // Software wins over a known time left.
    EncodingJob software = jobWith(JobStatus::encoding, 0.3);
    software.hardwareEncoder = false;
    software.etaSeconds = 125;
    EXPECT_EQ(JobRowTexts::detailText(software), QStringLiteral("Software"));

    EncodingJob hardware = software;
    hardware.hardwareEncoder = true;
    ASSERT_TRUE(formatETA(125.0).has_value());
    EXPECT_EQ(JobRowTexts::detailText(hardware), *formatETA(125.0));

    // Encoder not chosen yet and no time left.
    EncodingJob starting = jobWith(JobStatus::encoding, 0);
    EXPECT_EQ(JobRowTexts::detailText(starting), QStringLiteral("Hardware"));
    starting.hardwareEncoder = true;
    EXPECT_EQ(JobRowTexts::detailText(starting), QStringLiteral("Hardware"));
}

TEST(JobRowTexts, BarAndFailureShowByStatus)
{
    struct Row
    {
        JobStatus status;
        const char* title;
        QColor dot;
        bool bar;
    };
    const Row rows[] = {
        {JobStatus::queued, "Queued", Theme::mute(), false},
        {JobStatus::encoding, "Encoding", Theme::accent(), true},
        {JobStatus::paused, "Paused", Theme::warn(), true},
        {JobStatus::completed, "Done", Theme::ok(), true},
        {JobStatus::failed, "Failed", Theme::bad(), false},
        {JobStatus::cancelled, "Cancelled", Theme::dim(), false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.title);
        const EncodingJob job = jobWith(row.status, 0.5);
        EXPECT_EQ(JobRowTexts::statusTitle(row.status), QString::fromUtf8(row.title));
        EXPECT_EQ(JobRowTexts::statusColor(row.status), row.dot);
        EXPECT_EQ(JobRowTexts::showsProgress(job), row.bar);
        EXPECT_EQ(JobRowTexts::offersReveal(job), row.status == JobStatus::completed);
    }
    EXPECT_EQ(JobRowTexts::barColor(JobStatus::encoding), Theme::accent());
    EXPECT_EQ(JobRowTexts::barColor(JobStatus::paused), Theme::warn());
    EXPECT_EQ(JobRowTexts::barColor(JobStatus::completed), Theme::ok());

    EXPECT_EQ(JobRowTexts::barFraction(jobWith(JobStatus::completed, 0.2)), 1.0);
    EXPECT_EQ(JobRowTexts::barFraction(jobWith(JobStatus::encoding, -1)), 0.0);
    EXPECT_EQ(JobRowTexts::barFraction(jobWith(JobStatus::encoding, 1.7)), 1.0);

    EncodingJob failed = jobWith(JobStatus::failed);
    EXPECT_FALSE(JobRowTexts::failureText(failed).has_value());
    failed.errorMessage = QStringLiteral("The file could not be read.");
    EXPECT_EQ(JobRowTexts::failureText(failed), failed.errorMessage);
    // A message left from an earlier attempt is not shown once requeued.
    failed.status = JobStatus::queued;
    EXPECT_FALSE(JobRowTexts::failureText(failed).has_value());
}

} // namespace
} // namespace corvel
