#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace corvel {

// Chooses each slice's quantiser so a frame lands on its budget. Every frame, the slices'
// exact bits are counted at two neighbouring quantisers (the pair the last frame used); when
// the budget lies between the two totals, slices are spread over both in the proportion that
// meets it, so the rate is met to within the headers' padding. When it does not, a log-log
// model of bits against quantiser proposes the next pair to count. Never more than a few
// trial counts per frame, never all quantisers.
class ProResRateControl final
{
public:
    ProResRateControl(int64_t budgetBytes, int minQuantiser, int startQuantiser);

    // Forgets what the last frame's counts bounded.
    void beginFrame();
    // The pair of quantiser codes to count at next: first < second.
    int lowTrial() const { return m_low; }
    int highTrial() const { return m_high; }

    // Given per-slice bits at the trial pair and the bytes beside the coded coefficients
    // (headers, table, alpha), either fills `codes` and returns true, or moves the trial pair
    // and returns false (count again). `finalTry` forces an answer.
    bool choose(std::span<const int64_t> lowBits, std::span<const int64_t> highBits,
                int64_t overheadBytes, bool finalTry, std::span<uint8_t> codes);

    // After each slice was coded at `codes` (bits without alpha), moves slices a code finer or
    // coarser so the total lands on the budget: the slices at the finest (or coarsest) code
    // first, spread over the picture, until their expected change (bits taken as inversely
    // proportional to the quantiser) covers the difference. Returns false, changing nothing,
    // when the frame is already within a small tolerance of the budget or cannot move.
    bool refine(std::span<const int64_t> bits, int64_t overheadBytes, std::span<uint8_t> codes);
    // Whether slices coded at `codes` miss the budget by more than refine() should bridge: a
    // new scene, which calls for trial counts.
    bool lost(std::span<const int64_t> bits, int64_t overheadBytes,
              std::span<const uint8_t> codes) const;

private:
    // The bits the slices may take: the budget less the frame's own bytes, never nothing.
    double targetBits(int64_t overheadBytes) const;

    int64_t m_budget;
    int m_min;
    int m_low;
    int m_high;
    int m_floor = 1;     // this frame: codes below this are known to exceed the budget
    int m_ceiling = 224; // and codes from this one up are known to meet it
};

} // namespace corvel
