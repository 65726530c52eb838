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
    job.errorMessage = u"The file could not be read."_s;
    return job;
}

TEST(JobRowTexts, StatusDecidesBarPercentRevealAndFailure)
{
    // status, progress, percent text, bar fraction (negative: no bar)
    const std::tuple<JobStatus, double, QString, double> rows[] = {
        {JobStatus::queued, 0.5, u"50%"_s, -1},
        {JobStatus::encoding, 0, u"Starting"_s, 0},
        {JobStatus::encoding, -0.2, u"Starting"_s, 0},
        {JobStatus::encoding, std::nan(""), u"Starting"_s, 0},
        {JobStatus::encoding, 0.004, u"0%"_s, 0.004},
        {JobStatus::encoding, 0.005, u"1%"_s, 0.005},
        {JobStatus::encoding, 0.125, u"13%"_s, 0.125},
        {JobStatus::encoding, 0.999, u"100%"_s, 0.999},
        {JobStatus::paused, 0.5, u"50%"_s, 0.5},
        // Completed reads 100% and a full bar whatever progress was stored.
        {JobStatus::completed, 0.37, u"100%"_s, 1},
        {JobStatus::failed, 0.5, u"50%"_s, -1},
        {JobStatus::cancelled, 0.5, u"50%"_s, -1}};
    for (const auto& [status, progress, percent, bar] : rows) {
        SCOPED_TRACE(::testing::Message() << int(status) << " at " << progress);
        const EncodingJob job = jobWith(status, progress);
        EXPECT_EQ(JobRowTexts::showsProgress(job), bar >= 0);
        if (bar >= 0) {
            EXPECT_EQ(JobRowTexts::percentText(job), percent);
            EXPECT_DOUBLE_EQ(JobRowTexts::barFraction(job), bar);
            EXPECT_EQ(JobRowTexts::barColor(status), JobRowTexts::statusColor(status));
        }
        EXPECT_EQ(JobRowTexts::offersReveal(job), status == JobStatus::completed);
        // A message left from an earlier attempt shows only while the job is failed.
        EXPECT_EQ(JobRowTexts::failureText(job).has_value(), status == JobStatus::failed);
    }
    EncodingJob silent;
    silent.status = JobStatus::failed;
    EXPECT_FALSE(JobRowTexts::failureText(silent).has_value());
}

TEST(JobRowTexts, DetailNamesPauseFolderSoftwareTimeLeftOrHardware)
{
    ASSERT_TRUE(formatETA(125.0).has_value());
    // status, hardware encoder, time left, detail text
    const std::tuple<JobStatus, std::optional<bool>, std::optional<double>, QString> rows[] = {
        {JobStatus::paused, false, std::nullopt, u"Paused"_s},
        {JobStatus::completed, false, std::nullopt, u"In Folder"_s},
        {JobStatus::encoding, false, 125.0, *formatETA(125.0)}, // a software encode too
        {JobStatus::encoding, true, 125.0, *formatETA(125.0)},
        {JobStatus::encoding, false, std::nullopt, u"Software"_s},
        {JobStatus::encoding, std::nullopt, std::nullopt, u"Hardware"_s}, // not chosen yet
        {JobStatus::encoding, true, std::nullopt, u"Hardware"_s}};
    for (const auto& [status, hardware, eta, expected] : rows) {
        SCOPED_TRACE(expected.toStdString());
        EncodingJob job = jobWith(status, 0.3);
        job.hardwareEncoder = hardware;
        job.etaSeconds = eta;
        EXPECT_EQ(JobRowTexts::detailText(job), expected);
    }
}

// WCAG 2 contrast; a translucent colour is laid over the window first.
double contrast(const QColor& a, const QColor& b)
{
    auto luminance = [](QColor c) {
        c = Theme::rgb(c.redF() * c.alphaF() + Theme::window().redF() * (1 - c.alphaF()),
                       c.greenF() * c.alphaF() + Theme::window().greenF() * (1 - c.alphaF()),
                       c.blueF() * c.alphaF() + Theme::window().blueF() * (1 - c.alphaF()));
        auto channel = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
               0.0722 * channel(c.blueF()) + 0.05;
    };
    return std::max(luminance(a), luminance(b)) / std::min(luminance(a), luminance(b));
}

TEST(Appearance, TextReadsAtFourAndAHalfAndControlEdgesAtThreeInBothSchemes)
{
    for (const bool light : {false, true}) {
        Theme::setLight(light);
        const std::pair<QColor, double> colours[] = {{Theme::text(), 4.5}, {Theme::dim(), 4.5},
                                                     {Theme::mute(), 4.5}, {Theme::badText(), 4.5},
                                                     {Theme::edge(), 3.0}, {Theme::accent(), 3.0}};
        for (const auto& [colour, least] : colours) {
            for (const QColor& background : {Theme::window(), Theme::panel(), Theme::raised(),
                                             Theme::field(), Theme::selection()}) {
                SCOPED_TRACE(::testing::Message() << light << colour.name().toStdString() << " on "
                                                  << background.name().toStdString());
                EXPECT_GE(contrast(colour, background), least);
            }
        }
        EXPECT_GE(contrast(Qt::white, Theme::accentFill()), 4.5) << light;
        EXPECT_GE(contrast(Theme::warn(), Theme::panel()), 4.5) << light;
    }
    Theme::setLight(false);
}

} // namespace
} // namespace corvel
