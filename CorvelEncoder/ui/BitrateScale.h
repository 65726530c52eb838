#pragma once

#include <algorithm>
#include <cmath>

// The bitrate slider's scale: logarithmic from 1 to 150 Mbps, so a proxy's 2 Mbps and a
// master's 120 Mbps are both a short move apart from their neighbours. The field beside it and
// the model take the whole range.
namespace corvel::BitrateScale {

inline constexpr int kPositions = 1000;
inline constexpr double kLowMbps = 1.0;
inline constexpr double kHighMbps = 150.0;

// The rate at a slider position, rounded as people write rates: tenths below 10 Mbps, halves
// below 50, whole megabits above.
inline double mbpsAt(int position)
{
    const double t = std::clamp(position, 0, kPositions) / double(kPositions);
    const double mbps = kLowMbps * std::pow(kHighMbps / kLowMbps, t);
    const double step = mbps < 10 ? 0.1 : mbps < 50 ? 0.5 : 1.0;
    return std::round(mbps / step) * step;
}

// The nearest position to a rate; rates outside the scale sit at its ends.
inline int positionOf(double mbps)
{
    if (!(mbps > kLowMbps)) // NaN too
        return 0;
    const double t = std::log(mbps / kLowMbps) / std::log(kHighMbps / kLowMbps);
    return std::clamp(int(std::lround(t * kPositions)), 0, kPositions);
}

} // namespace corvel::BitrateScale
