#include "CorvelEncoderCore/FrameMath.h"

#include <algorithm>
#include <cmath>

namespace corvel {

namespace {

struct StandardDuration
{
    double rate;
    int64_t value;
    int32_t timescale;
};

constexpr StandardDuration kStandardDurations[] = {
    {23.976, 1001, 24000}, {24, 1, 24}, {25, 1, 25},          {29.97, 1001, 30000}, {30, 1, 30},
    {48, 1, 48},           {50, 1, 50}, {59.94, 1001, 60000}, {60, 1, 60},
};

// A dimension below 3 counts as 2 everywhere in the size rules.
int64_t atLeastTwo(int64_t v)
{
    return v < 3 ? 2 : v;
}

// Rounds half away from zero into an int64, saturating rather than overflowing.
int64_t roundToInt64(double v)
{
    if (std::isnan(v))
        return 0;
    constexpr double limit = 9.2e18;
    return static_cast<int64_t>(std::round(std::clamp(v, -limit, limit)));
}

// Rates at most 1 (and NaN) become 1; above 120 become 120.
double limitedRate(double fps)
{
    return !(fps > 1) ? 1.0 : std::min(fps, kMaxFrameRate);
}

} // namespace

const QList<FrameRateOption>& frameRateOptions()
{
    static const QList<FrameRateOption> options{
        {QStringLiteral("source"), QStringLiteral("Source"), FrameRateMode::source()},
        {QStringLiteral("23.976"), QStringLiteral("23.976 fps"), FrameRateMode::exact(23.976)},
        {QStringLiteral("24"), QStringLiteral("24 fps"), FrameRateMode::exact(24)},
        {QStringLiteral("25"), QStringLiteral("25 fps"), FrameRateMode::exact(25)},
        {QStringLiteral("29.97"), QStringLiteral("29.97 fps"), FrameRateMode::exact(29.97)},
        {QStringLiteral("30"), QStringLiteral("30 fps"), FrameRateMode::exact(30)},
        {QStringLiteral("48"), QStringLiteral("48 fps"), FrameRateMode::exact(48)},
        {QStringLiteral("50"), QStringLiteral("50 fps"), FrameRateMode::exact(50)},
        {QStringLiteral("59.94"), QStringLiteral("59.94 fps"), FrameRateMode::exact(59.94)},
        {QStringLiteral("60"), QStringLiteral("60 fps"), FrameRateMode::exact(60)},
    };
    return options;
}

PixelSize evenSize(PixelSize size)
{
    auto even = [](int64_t v) {
        v = std::min(atLeastTwo(v), kMaxDimension);
        return v - v % 2;
    };
    return {even(size.width), even(size.height)};
}

PixelSize fittedSize(PixelSize source, ResolutionMode mode, PixelSize custom)
{
    const PixelSize src{atLeastTwo(source.width), atLeastTwo(source.height)};
    PixelSize box;
    switch (mode) {
    case ResolutionMode::source:
        return evenSize(src);
    case ResolutionMode::uhd4k:
        box = {3840, 2160};
        break;
    case ResolutionMode::hd1080:
        box = {1920, 1080};
        break;
    case ResolutionMode::hd720:
        box = {1280, 720};
        break;
    case ResolutionMode::custom:
        box = {std::clamp(custom.width, kMinCustomBox, kMaxDimension),
               std::clamp(custom.height, kMinCustomBox, kMaxDimension)};
        break;
    }
    const double sw = static_cast<double>(src.width);
    const double sh = static_cast<double>(src.height);
    const double scale =
        std::min(static_cast<double>(box.width) / sw, static_cast<double>(box.height) / sh);
    return evenSize({roundToInt64(sw * scale), roundToInt64(sh * scale)});
}

PixelSize predictedPixels(const std::optional<SourceInfo>& info, const PresetBody& body)
{
    const PixelSize source = info ? PixelSize{info->width, info->height} : PixelSize{1920, 1080};
    return fittedSize(source, body.resolution, {body.customWidth, body.customHeight});
}

double resolvedFrameRate(const FrameRateMode& mode, std::optional<double> sourceFPS)
{
    if (const auto rate = mode.exactRate()) {
        if (std::isnan(*rate))
            return kMinFrameRate;
        return std::min(std::max(*rate, kMinFrameRate), kMaxFrameRate);
    }
    const double s = sourceFPS.value_or(0.0);
    if (!(s >= 1))
        return kFallbackFrameRate;
    return std::min(s, kMaxFrameRate);
}

double standardSourceRate(double average, double declaredMaximum)
{
    static constexpr double kRates[] = {24000.0 / 1001, 24, 25, 30000.0 / 1001, 30, 50,
                                        60000.0 / 1001, 60};
    // A declared rate that is a whole multiple of the average (a field rate, a fine time base)
    // says nothing about variation.
    const double multiple = declaredMaximum / average;
    const bool variable = average >= 1 && declaredMaximum >= 1 &&
                          std::abs(multiple - std::round(multiple)) > 0.002 * multiple;
    if (!variable)
        return average;
    for (const double rate : kRates) {
        if (std::abs(rate - declaredMaximum) < 0.01)
            return rate;
    }
    // Phones vary around whole rates, so a 1000/1001 rate only wins when the average is on it.
    double best = kRates[1];
    for (const double rate : kRates) {
        const bool ntsc = std::abs(rate - std::round(rate)) > 0.001;
        if (ntsc && std::abs(rate - average) >= 0.01)
            continue;
        if (std::abs(rate - average) < std::abs(best - average))
            best = rate;
    }
    return best;
}

RationalTime rationalFrameDuration(double fps)
{
    const double f = limitedRate(fps);
    const StandardDuration* best = nullptr;
    for (const StandardDuration& row : kStandardDurations) {
        const double distance = std::abs(row.rate - f);
        if (distance < 0.03 && (!best || distance < std::abs(best->rate - f)))
            best = &row;
    }
    if (best)
        return {best->value, best->timescale};
    return {1000, static_cast<int32_t>(std::max<int64_t>(1, roundToInt64(f * 1000.0)))};
}

QString frameRateOptionID(const FrameRateMode& mode)
{
    const auto rate = mode.exactRate();
    if (!rate)
        return QStringLiteral("source");
    for (const FrameRateOption& option : frameRateOptions()) {
        const auto optionRate = option.mode.exactRate();
        if (optionRate && std::abs(*optionRate - *rate) < 0.001)
            return option.id;
    }
    return QStringLiteral("custom");
}

QList<FrameRateOption> frameRateMenu(const FrameRateMode& mode)
{
    QList<FrameRateOption> menu = frameRateOptions();
    if (const auto rate = mode.exactRate(); rate && frameRateOptionID(mode) == u"custom")
        menu.append({QStringLiteral("custom"), formatFPS(*rate) + QStringLiteral(" fps"), mode});
    return menu;
}

QString formatFPS(double fps)
{
    if (!std::isfinite(fps) || fps <= 0)
        return QStringLiteral("\u2014");
    if (std::abs(fps - 23.976) <= 0.02)
        return QStringLiteral("23.976");
    if (std::abs(fps - 29.97) <= 0.02)
        return QStringLiteral("29.97");
    if (std::abs(fps - 59.94) <= 0.02)
        return QStringLiteral("59.94");
    const double r = std::round(fps);
    if (std::abs(fps - r) < 0.001)
        return QString::number(roundToInt64(r));
    return QString::number(fps, 'f', 3);
}

QString formatClock(double seconds)
{
    if (!std::isfinite(seconds) || seconds < 0)
        return QStringLiteral("\u2014");
    const int64_t s = roundToInt64(std::floor(seconds));
    if (s < 3600)
        return QString::asprintf("%lld:%02lld", static_cast<long long>(s / 60),
                                 static_cast<long long>(s % 60));
    return QString::asprintf("%lld:%02lld:%02lld", static_cast<long long>(s / 3600),
                             static_cast<long long>(s / 60 % 60), static_cast<long long>(s % 60));
}

std::optional<QString> formatETA(std::optional<double> seconds)
{
    if (!seconds || !std::isfinite(*seconds) || *seconds < 0)
        return std::nullopt;
    const long long s = roundToInt64(*seconds);
    if (s < 5)
        return QStringLiteral("A few seconds left");
    if (s < 60)
        return QStringLiteral("%1s left").arg(s);
    if (s <= 3599)
        return QString::asprintf("%lld:%02lld left", s / 60, s % 60);
    return QString::asprintf("%lld:%02lld:%02lld left", s / 3600, s / 60 % 60, s % 60);
}

QString formatPixels(PixelSize size, QStringView separator)
{
    return QString::number(size.width) + separator.toString() + QString::number(size.height);
}

QString containerExtension(Codec codec, AudioMode audio)
{
    const bool mp4Codec = codec == Codec::h264 || codec == Codec::hevc;
    return mp4Codec && audio == AudioMode::aac ? QStringLiteral("mp4") : QStringLiteral("mov");
}

} // namespace corvel
