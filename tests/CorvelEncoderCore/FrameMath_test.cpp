#include "CorvelEncoderCore/FrameMath.h"

#include "../QtPrinters.h"

#include <gtest/gtest.h>

#include <limits>

namespace corvel {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::nan("");

TEST(FrameMath, FittedSize)
{
    using Row = std::tuple<PixelSize, ResolutionMode, PixelSize, PixelSize>;
    const PixelSize none{1920, 1080};
    const Row rows[] = {
        {{1920, 1080}, ResolutionMode::hd720, none, {1280, 720}},
        {{1920, 800}, ResolutionMode::hd1080, none, {1920, 800}},
        {{1080, 1920}, ResolutionMode::hd1080, none, {608, 1080}},
        {{720, 480}, ResolutionMode::uhd4k, none, {3240, 2160}},
        {{4096, 2160}, ResolutionMode::uhd4k, none, {3840, 2024}},
        {{1920, 1080}, ResolutionMode::custom, {1000, 1000}, {1000, 562}},
        {{1920, 1080}, ResolutionMode::custom, {5, 5000}, {16, 8}},
        {{1920, 1080}, ResolutionMode::custom, {99999, 99999}, {16384, 9216}},
        {{0, 0}, ResolutionMode::source, none, {2, 2}},
        {{0, 0}, ResolutionMode::hd1080, none, {1080, 1080}},
        {{20000, 100}, ResolutionMode::source, none, {16384, 100}},
        {{1921, 1081}, ResolutionMode::source, none, {1920, 1080}},
        {{std::numeric_limits<int64_t>::max(), 1}, ResolutionMode::hd720, none, {1280, 2}}};
    for (const auto& [source, mode, custom, expected] : rows) {
        SCOPED_TRACE(testing::Message() << source.width << "x" << source.height << " mode "
                                        << rawValue(mode).toStdString());
        EXPECT_EQ(fittedSize(source, mode, custom), expected);
    }
}

TEST(FrameMath, ResolvedFrameRate)
{
    EXPECT_EQ(resolvedFrameRate(FrameRateMode::source(), std::nullopt), 24);
    EXPECT_EQ(resolvedFrameRate(FrameRateMode::source(), kNaN), 24);
    EXPECT_EQ(resolvedFrameRate(FrameRateMode::source(), 240), 120);
    EXPECT_EQ(resolvedFrameRate(FrameRateMode::source(), 29.97), 29.97);
    EXPECT_EQ(resolvedFrameRate(FrameRateMode::exact(0.5), 30), 1);
    EXPECT_EQ(resolvedFrameRate(FrameRateMode::exact(500), 30), 120);
    EXPECT_EQ(resolvedFrameRate(FrameRateMode::exact(kNaN), 30), 1);
}

// (average, declared maximum) -> the rate a "source" rate encodes at.
TEST(FrameMath, VariableRatesLandOnAStandardRate)
{
    const std::tuple<double, double, double> rows[] = {
        {1369.0 / 50, 30, 30},  // 30 then 24 fps, the maximum declared
        {540.0 / 19, 120, 30},  // the same with a fine time base: nearest whole rate
        {29.83, 600, 30},       // a phone's wobble around 30
        {29.97, 59.94, 29.97},  // field rate declared: constant
        {15, 15, 15},           // constant rates stay, standard or not
        {23.97, 23.976, 23.97}, // within the tolerance: constant
        {30000.0 / 1001, 90, 30000.0 / 1001},
        {0, 30, 0}}; // missing stays missing
    for (const auto& [average, declared, expected] : rows) {
        SCOPED_TRACE(average);
        EXPECT_NEAR(standardSourceRate(average, declared), expected, 1e-9);
    }
}

TEST(FrameMath, RationalFrameDuration)
{
    const std::pair<double, RationalTime> rows[] = {
        {23.976, {1001, 24000}}, {24, {1, 24}},         {29.97, {1001, 30000}},
        {29.999, {1, 30}},       {30, {1, 30}},         {59.94, {1001, 60000}},
        {12, {1000, 12000}},     {12.5, {1000, 12500}}, {120, {1000, 120000}},
        {500, {1000, 120000}},   {0, {1000, 1000}},     {kNaN, {1000, 1000}},
        {kInf, {1000, 120000}}};
    for (const auto& [fps, expected] : rows) {
        SCOPED_TRACE(fps);
        EXPECT_EQ(rationalFrameDuration(fps), expected);
    }
    EXPECT_DOUBLE_EQ((RationalTime{1001, 30000}).seconds(), 1001.0 / 30000.0);
    EXPECT_EQ((RationalTime{5, 0}).seconds(), 0.0);
}

TEST(FrameMath, FrameRateMenu)
{
    EXPECT_EQ(frameRateOptionID(FrameRateMode::source()), u"source");
    EXPECT_EQ(frameRateOptionID(FrameRateMode::exact(23.9765)), u"23.976");
    EXPECT_EQ(frameRateOptionID(FrameRateMode::exact(23.98)), u"custom");
    EXPECT_EQ(frameRateOptionID(FrameRateMode::exact(60)), u"60");

    EXPECT_EQ(frameRateMenu(FrameRateMode::exact(25)).size(), 10);
    const auto menu = frameRateMenu(FrameRateMode::exact(23.98));
    ASSERT_EQ(menu.size(), 11);
    EXPECT_EQ(menu.last(),
              (FrameRateOption{u"custom"_s, u"23.976 fps"_s, FrameRateMode::exact(23.98)}));
    EXPECT_EQ(frameRateMenu(FrameRateMode::exact(12.5)).last().label, u"12.500 fps");
}

TEST(FrameMath, Texts)
{
    const std::pair<double, const char*> fpsRows[] = {
        {0, "\u2014"}, {kNaN, "\u2014"}, {23.976, "23.976"}, {23.99, "23.976"}, {29.97, "29.97"},
        {24, "24"},    {24.0004, "24"},  {12.5, "12.500"},   {47.952, "47.952"}};
    for (const auto& [fps, text] : fpsRows) {
        SCOPED_TRACE(fps);
        EXPECT_EQ(formatFPS(fps), QString::fromUtf8(text));
    }

    EXPECT_EQ(formatClock(75.9), u"1:15");
    EXPECT_EQ(formatClock(0), u"0:00");
    EXPECT_EQ(formatClock(3725.5), u"1:02:05");
    EXPECT_EQ(formatClock(kNaN), u"\u2014");

    const std::pair<std::optional<double>, std::optional<QString>> etaRows[] = {
        {std::nullopt, std::nullopt},  {-0.1, std::nullopt},
        {kInf, std::nullopt},          {kNaN, std::nullopt},
        {0, u"A few seconds left"_qs}, {4.4, u"A few seconds left"_qs},
        {4.5, u"5s left"_qs},          {59.4, u"59s left"_qs},
        {59.6, u"1:00 left"_qs},       {3599, u"59:59 left"_qs},
        {3600, u"1:00:00 left"_qs},    {90061, u"25:01:01 left"_qs}};
    for (const auto& [seconds, text] : etaRows) {
        SCOPED_TRACE(seconds.value_or(-999));
        EXPECT_EQ(formatETA(seconds), text);
    }

    EXPECT_EQ(formatPixels({1920, 1080}, u"\u00D7"), u"1920\u00D71080");
    EXPECT_EQ(containerExtension(Codec::hevc, AudioMode::pcm), u"mov");
    EXPECT_EQ(containerExtension(Codec::h264, AudioMode::aac), u"mp4");
    EXPECT_EQ(containerExtension(Codec::hevcWithAlpha, AudioMode::aac), u"mov");
}

} // namespace
} // namespace corvel
