#include "CorvelEncoder/engine/prores/ProResRateControl.h"

#include "CorvelEncoder/engine/prores/ProResProfile.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace corvel {

namespace {

constexpr int maxCode = 224;

} // namespace

ProResRateControl::ProResRateControl(int64_t budgetBytes, int minQuantiser, int startQuantiser)
    : m_budget(budgetBytes), m_min(minQuantiser),
      m_low(std::clamp(startQuantiser, minQuantiser, maxCode - 1)), m_high(m_low + 1)
{}

void ProResRateControl::beginFrame()
{
    m_floor = m_min;
    m_ceiling = maxCode;
}

bool ProResRateControl::choose(std::span<const int64_t> lowBits, std::span<const int64_t> highBits,
                               int64_t overheadBytes, bool finalTry, std::span<uint8_t> codes)
{
    const double target = targetBits(overheadBytes);
    const double low = std::accumulate(lowBits.begin(), lowBits.end(), 0.0);
    const double high = std::accumulate(highBits.begin(), highBits.end(), 0.0);

    const auto fill = [&](double coarseShare) {
        // Error diffusion spreads the coarser slices evenly over the picture.
        double carry = 0;
        for (uint8_t& code : codes) {
            carry += coarseShare;
            const bool coarse = carry >= 0.5;
            if (coarse)
                carry -= 1;
            code = uint8_t(coarse ? m_high : m_low);
        }
    };

    if (low <= target && m_low == m_min) {
        fill(0);
        return true;
    }
    if (low >= target && high <= target) {
        fill(low > high ? (low - target) / (low - high) : 1.0);
        return true;
    }
    // Narrow the bracket with what the pair showed.
    if (high > target)
        m_floor = std::max(m_floor, m_high + 1);
    if (low <= target)
        m_ceiling = std::min(m_ceiling, m_low);
    if (!finalTry && m_floor <= m_ceiling) {
        // Bits fall roughly as a power of the quantiser; the slope comes from the pair.
        const double qLow = proResQuantiserValue(m_low);
        const double qHigh = proResQuantiserValue(m_high);
        double slope = low > 0 && high > 0 ? std::log(high / low) / std::log(qHigh / qLow) : -1.0;
        slope = std::clamp(slope, -2.5, -0.3);
        const double reference = low > target ? high : low;
        const double qReference = low > target ? qHigh : qLow;
        const double q = qReference * std::pow(target / std::max(reference, 1.0), 1.0 / slope);
        int code = m_min;
        while (code < maxCode - 1 && proResQuantiserValue(code + 1) <= q)
            ++code;
        // The answer's finer code lies in [floor - 1, ceiling - 1]; outside it, bisect.
        const int first = std::max(m_min, m_floor - 1);
        const int last = std::min(m_ceiling, maxCode) - 1;
        if (code < first || code > last)
            code = (first + last) / 2;
        if (code != m_low && first <= last) {
            m_low = code;
            m_high = code + 1;
            return false;
        }
    }
    // Out of tries: the finer of the pair only if it met the budget, else the coarser.
    fill(low <= target ? 0.0 : 1.0);
    return true;
}

double ProResRateControl::targetBits(int64_t overheadBytes) const
{
    return std::max<double>(double(m_budget - overheadBytes) * 8, 1024.0);
}

bool ProResRateControl::lost(std::span<const int64_t> bits, int64_t overheadBytes,
                             std::span<const uint8_t> codes) const
{
    const double target = targetBits(overheadBytes);
    const double total = std::accumulate(bits.begin(), bits.end(), 0.0);
    // Under the budget at the finest code is where easy pictures belong.
    return total > target * 1.1 ||
           (total < target * 0.9 &&
            std::any_of(codes.begin(), codes.end(), [&](uint8_t code) { return code > m_min; }));
}

bool ProResRateControl::refine(std::span<const int64_t> bits, int64_t overheadBytes,
                               std::span<uint8_t> codes)
{
    const double target = targetBits(overheadBytes);
    const double total = std::accumulate(bits.begin(), bits.end(), 0.0);
    // Within this of the budget a frame is left as it is: most frames of a steady picture
    // land there straight from the last frame's codes, so none of their slices is coded twice.
    if (std::abs(total - target) <= target * 0.015)
        return false;
    const bool coarser = total > target;
    const int step = coarser ? 1 : -1;
    const auto movable = [&](int code) {
        return coarser ? code < maxCode : code > m_min;
    };
    std::vector<double> estimate(bits.begin(), bits.end());
    double need = std::abs(total - target);
    bool moved = false;
    while (need > 0) {
        // The extreme code still movable: the finest when too large, the coarsest when small.
        int from = -1;
        for (const uint8_t code : codes) {
            if (movable(code) && (from < 0 || (coarser ? code < from : code > from)))
                from = code;
        }
        if (from < 0)
            break;
        const double ratio = double(proResQuantiserValue(from)) / proResQuantiserValue(from + step);
        double change = 0;
        for (size_t i = 0; i < codes.size(); ++i) {
            if (codes[i] == from)
                change += estimate[i] * std::abs(1 - ratio);
        }
        const double share = change > 0 ? std::min(1.0, need / change) : 1.0;
        // Error diffusion spreads the moved slices evenly over the picture.
        double carry = 0;
        for (size_t i = 0; i < codes.size(); ++i) {
            if (codes[i] != from)
                continue;
            carry += share;
            if (carry < 0.5)
                continue;
            carry -= 1;
            need -= estimate[i] * std::abs(1 - ratio);
            estimate[i] *= ratio;
            codes[i] = uint8_t(from + step);
            moved = true;
        }
        if (share < 1)
            break;
    }
    return moved;
}

} // namespace corvel
