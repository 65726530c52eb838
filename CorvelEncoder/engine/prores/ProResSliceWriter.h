#pragma once

#include <cstddef>
#include <cstdint>

#include "CorvelEncoder/engine/prores/ProResQuantiser.h"

namespace corvel {

// One slice's transformed samples, ready to be quantised and entropy coded.
struct ProResSliceInput
{
    int mbCount = 0; // 1, 2, 4 or 8 macroblocks side by side
    // Per component, interleaved by scan position: coefficient i of block b (blocks in the
    // decoder's order) at i * blocks + b, the order the bitstream codes them in.
    const int16_t* coeffs[3] = {};
    int blocks[3] = {};              // blocks per component (a power of two)
    bool alphaPlane = false;         // the frame codes alpha: the slice header has its size
    const uint16_t* alpha = nullptr; // 16 rows of 16 * mbCount 10-bit samples, to write it
};

// Entropy coding of one slice (header, Y, Cb, Cr, alpha) at one quantiser. Stateless; any
// number of threads may code different slices at once.
class ProResSliceWriter final
{
public:
    // Bytes the slice takes at quantiser code `qcode`: its header and the three colour
    // components, each padded to a byte (no alpha); 0 when a value does not fit the codes a
    // decoder accepts at this quantiser or a component exceeds the header's 16-bit sizes.
    // `dcOnly` drops every coefficient but the blocks' DC: the smallest slice there is, for
    // pictures the coarsest quantiser cannot hold.
    static size_t size(const ProResSliceInput& slice, const ProResQuantiserTable& quantisers,
                       int qcode, bool dcOnly = false);
    // Whether every coefficient but the blocks' DC quantises to zero at `qcode`.
    static bool onlyDc(const ProResSliceInput& slice, const ProResQuantiserTable& quantisers,
                       int qcode);
    // Writes the whole slice, alpha included, into [out, end). Returns its size in bytes (size()
    // plus the alpha), or 0 when it does not fit there or size() says 0.
    static size_t write(const ProResSliceInput& slice, const ProResQuantiserTable& quantisers,
                        int qcode, bool dcOnly, uint8_t* out, uint8_t* end);
    // Bytes the slice's alpha takes (it is coded losslessly, whatever the quantiser), using
    // [scratch, end) to code it.
    static size_t alphaBytes(const ProResSliceInput& slice, uint8_t* scratch, uint8_t* end);
};

} // namespace corvel
