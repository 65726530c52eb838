#pragma once

#include "CorvelEncoderCore/Records.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

namespace corvel {

// An exact time as a fraction; 1/24 and 2/48 are different values.
struct RationalTime
{
    int64_t value = 0;
    int32_t timescale = 0;

    double seconds() const
    {
        return timescale == 0 ? 0.0 : static_cast<double>(value) / static_cast<double>(timescale);
    }

    friend bool operator==(const RationalTime&, const RationalTime&) = default;
};

// One entry of the frame-rate menu.
struct FrameRateOption
{
    QString id;
    QString label;
    FrameRateMode mode;

    friend bool operator==(const FrameRateOption&, const FrameRateOption&) = default;
};

inline constexpr int64_t kMinDimension = 2;
inline constexpr int64_t kMaxDimension = 16384;
inline constexpr int64_t kMinCustomBox = 16;
inline constexpr double kMinFrameRate = 1.0;
inline constexpr double kMaxFrameRate = 120.0;
inline constexpr double kFallbackFrameRate = 24.0;

// The frame-rate menu, in order.
const QList<FrameRateOption>& frameRateOptions();

// Each side clamped to 2...16384 and rounded down to even.
PixelSize evenSize(PixelSize size);
// The output size: the source kept, or scaled (up or down) to touch the mode's box.
PixelSize fittedSize(PixelSize source, ResolutionMode mode, PixelSize custom);
// The output size a job will get, from its probed source or 1920 by 1080.
PixelSize predictedPixels(const std::optional<SourceInfo>& info, const PresetBody& body);
// The rate to encode at, always within 1...120.
double resolvedFrameRate(const FrameRateMode& mode, std::optional<double> sourceFPS);
// The rate a source encodes at when it keeps its own: a constant rate as it is; a variable
// one (its average differs from its declared maximum) at the declared maximum when that is a
// standard rate, else at the standard rate nearest its average.
double standardSourceRate(double average, double declaredMaximum);
// The exact duration of one output frame, snapped to the broadcast rates.
RationalTime rationalFrameDuration(double fps);
// The menu tag of a mode: "source", a standard rate's id, or "custom".
QString frameRateOptionID(const FrameRateMode& mode);
// The menu, plus a "custom" entry when `mode` is an exact rate not on it.
QList<FrameRateOption> frameRateMenu(const FrameRateMode& mode);

QString formatFPS(double fps);
QString formatClock(double seconds);
std::optional<QString> formatETA(std::optional<double> seconds);
QString formatPixels(PixelSize size, QStringView separator);
// "mp4" for H.264 or HEVC with AAC, "mov" for everything else.
QString containerExtension(Codec codec, AudioMode audio);

} // namespace corvel
