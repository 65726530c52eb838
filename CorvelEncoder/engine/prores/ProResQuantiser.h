#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace corvel {

// One quantiser code's steps for one matrix, as reciprocals: the level of a coefficient c is
// (|c| + rounding) / step with c's sign, computed as ((|c| + rounding) * mult) >> (16 + shift),
// which equals the division for every numerator below 2^15 (a 10-bit block's transform stays
// within 2^14 + 16, rounding below step / 2 <= 63 * 512 / 2).
struct ProResQuantiser
{
    alignas(32) uint16_t rounding[64]; // per scan position
    alignas(32) uint16_t mult[64];
    alignas(32) uint16_t shift[64];
};

// `matrix` in scan order, `qscale` the quantiser value (not its code). Without a dead zone
// every coefficient rounds to the nearest level.
ProResQuantiser makeProResQuantiser(const uint8_t* matrix, int qscale, bool deadZone);

// The quantisers of every code 1..224, for luma and chroma (matrices in scan order). Codes up
// to the profile's floor, where the budget leaves room, round to the nearest level; coarser
// ones, where bits are short, have the dead zone.
class ProResQuantiserTable final
{
public:
    ProResQuantiserTable(const uint8_t* lumaMatrix, const uint8_t* chromaMatrix, int floor);
    // component 0 is luma, 1 and 2 chroma.
    const ProResQuantiser& at(int component, int code) const
    {
        return m_quantisers[size_t(code) * 2 + (component == 0 ? 0 : 1)];
    }

private:
    std::vector<ProResQuantiser> m_quantisers;
};

// Quantises coefficients interleaved by scan position (`blocks`, a power of two, per
// position) into levels, with the widest vector instructions this machine runs.
void proResQuantise(const int16_t* coeffs, int blocks, const ProResQuantiser& q, int16_t* levels);
// The same in plain C++, for machines without them and to check them against.
void proResQuantisePlain(const int16_t* coeffs, int blocks, const ProResQuantiser& q,
                         int16_t* levels);

} // namespace corvel
