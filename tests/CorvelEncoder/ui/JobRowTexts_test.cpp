#include "CorvelEncoder/ui/JobRowTexts.h"
#include "CorvelEncoder/ui/Theme.h"
#include "CorvelEncoderCore/FrameMath.h"

#include "../../QtPrinters.h"

#include <gtest/gtest.h>

#include <cmath>

namespace corvel {
namespace {

using namespace Qt::StringLiterals;

EncodingJob jobWith(JobStatus status, double progress = 0)
{
    EncodingJob job;
    job.status = status;
    job.progress = progress;
    job.errorMessage = u"The file could not be read."_s;
    return job;
}

TEST(JobRowTexts, StatusDecidesTitleDotBarPercentAndFailure)
{
    const struct
    {
        JobStatus status;
        double progress;
        QString percent;
        double bar; // negative: no bar
        QColor dot;
    } rows[] = {
        {JobStatus::queued, 0.5, u"50%"_s, -1, Theme::mute()},
        {JobStatus::encoding, 0, u"Starting"_s, 0, Theme::accent()},
        {JobStatus::encoding, -0.2, u"Starting"_s, 0, Theme::accent()},
        {JobStatus::encoding, std::nan(""), u"Starting"_s, 0, Theme::accent()},
        {JobStatus::encoding, 0.004, u"0%"_s, 0.004, Theme::accent()},
        {JobStatus::encoding, 0.005, u"1%"_s, 0.005, Theme::accent()},
        {JobStatus::encoding, 0.125, u"13%"_s, 0.125, Theme::accent()},
        {JobStatus::encoding, 0.999, u"100%"_s, 0.999, Theme::accent()},
        {JobStatus::paused, 0.5, u"50%"_s, 0.5, Theme::warn()},
        // Completed reads 100% and a full bar whatever progress was stored.
        {JobStatus::completed, 0.37, u"100%"_s, 1, Theme::ok()},
        {JobStatus::failed, 0.5, u"50%"_s, -1, Theme::bad()},
        {JobStatus::cancelled, 0.5, u"50%"_s, -1, Theme::dim()},
    };
    const QStringList titles = {u"Queued"_s, u"Encoding"_s, u"Paused"_s,
                                u"Done"_s,   u"Failed"_s,   u"Cancelled"_s};
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::Message() << int(row.status) << " at " << row.progress);
        const EncodingJob job = jobWith(row.status, row.progress);
        EXPECT_EQ(JobRowTexts::statusTitle(row.status), titles.at(int(row.status)));
        EXPECT_EQ(JobRowTexts::statusColor(row.status), row.dot);
        EXPECT_EQ(JobRowTexts::showsProgress(job), row.bar >= 0);
        if (row.bar >= 0) {
            EXPECT_EQ(JobRowTexts::percentText(job), row.percent);
            EXPECT_DOUBLE_EQ(JobRowTexts::barFraction(job), row.bar);
            EXPECT_EQ(JobRowTexts::barColor(row.status), row.dot);
        }
        EXPECT_EQ(JobRowTexts::offersReveal(job), row.status == JobStatus::completed);
        // A message left from an earlier attempt shows only while the job is failed.
        EXPECT_EQ(JobRowTexts::failureText(job).has_value(), row.status == JobStatus::failed);
    }
    EncodingJob silent;
    silent.status = JobStatus::failed;
    EXPECT_FALSE(JobRowTexts::failureText(silent).has_value());
}

TEST(JobRowTexts, DetailNamesPauseFolderSoftwareTimeLeftOrHardware)
{
    ASSERT_TRUE(formatETA(125.0).has_value());
    const struct
    {
        JobStatus status;
        std::optional<bool> hardware;
        std::optional<double> eta;
        QString expected;
    } rows[] = {
        {JobStatus::paused, false, std::nullopt, u"Paused"_s},
        {JobStatus::completed, false, std::nullopt, u"In Folder"_s},
        {JobStatus::encoding, false, 125.0, u"Software"_s}, // software wins over a time left
        {JobStatus::encoding, true, 125.0, *formatETA(125.0)},
        {JobStatus::encoding, std::nullopt, std::nullopt, u"Hardware"_s}, // not chosen yet
        {JobStatus::encoding, true, std::nullopt, u"Hardware"_s},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.expected.toStdString());
        EncodingJob job = jobWith(row.status, 0.3);
        job.hardwareEncoder = row.hardware;
        job.etaSeconds = row.eta;
        EXPECT_EQ(JobRowTexts::detailText(job), row.expected);
    }
}

} // namespace
} // namespace corvel
