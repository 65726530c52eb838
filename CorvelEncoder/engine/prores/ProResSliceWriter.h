#pragma once

#include <cstddef>
#include <cstdint>

namespace corvel {

// One slice's transformed samples, ready to be quantised and entropy coded.
struct ProResSliceInput
{
    int mbCount = 0; // 1, 2, 4 or 8 macroblocks side by side
    // Per component, interleaved by scan position: coefficient i of block b (blocks in the
    // decoder's order) at i * blocks + b, the order the bitstream codes them in.
    const int16_t* coeffs[3] = {};
    int blocks[3] = {};              // blocks per component (a power of two)
    const uint16_t* alpha = nullptr; // 16 rows of 16 * mbCount 10-bit samples, or none
};

// Quantisation matrices in scan order, for luma and chroma.
struct ProResScanMatrices
{
    uint8_t luma[64];
    uint8_t chroma[64];
};

// Entropy coding of one slice (header, Y, Cb, Cr, alpha) at one quantiser. Stateless; any
// number of threads may code different slices at once.
class ProResSliceWriter final
{
public:
    // Bits the slice's three colour components take at quantiser code `qcode` (no header, no
    // alpha); -1 when a value does not fit the codes a decoder accepts at this quantiser.
    static int64_t countBits(const ProResSliceInput& slice, const ProResScanMatrices& matrices,
                             int qcode);
    // Whether every coefficient but the blocks' DC quantises to zero at `qcode`.
    static bool onlyDc(const ProResSliceInput& slice, const ProResScanMatrices& matrices,
                       int qcode);
    // Writes the whole slice into [out, end). Returns its size in bytes, or 0 when it does not
    // fit there, a component exceeds the 16-bit sizes of the header, or a value needs longer
    // codes than a decoder accepts (then a coarser quantiser is needed).
    static size_t write(const ProResSliceInput& slice, const ProResScanMatrices& matrices,
                        int qcode, uint8_t* out, uint8_t* end);
    // Bytes the slice's alpha takes (it is coded losslessly, whatever the quantiser), using
    // [scratch, end) to code it.
    static size_t alphaBytes(const ProResSliceInput& slice, uint8_t* scratch, uint8_t* end);
};

} // namespace corvel
