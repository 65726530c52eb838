#pragma once

#include <cstddef>
#include <cstdint>

namespace corvel {

// The scan orders of progressive frames and of fields: scan position -> raster index.
extern const uint8_t proResProgressiveScan[64];
extern const uint8_t proResInterlacedScan[64];

// Forward 8x8 DCT of 10-bit samples (row stride in samples), in integers, scaled the way
// the ProRes inverse transform expects: four times the orthonormal DCT of (sample - 512).
// Coefficient scan[i] (raster index) goes to out[i * outStride], so the scan order and the
// blocks' interleaving cost nothing more. SSE2 where the machine has it.
void proResForwardDct(const uint16_t* samples, ptrdiff_t stride, const uint8_t* scan, int16_t* out,
                      ptrdiff_t outStride);
// Two blocks of one plane at once (with AVX2 where the machine has it), the same output,
// `a`'s at out[i * outStride] and `b`'s beside it at out[i * outStride + 1].
void proResForwardDctPair(const uint16_t* a, const uint16_t* b, ptrdiff_t stride,
                          const uint8_t* scan, int16_t* out, ptrdiff_t outStride);
// The same in plain C++, the reference the vector path must match bit for bit.
void proResForwardDctPlain(const uint16_t* samples, ptrdiff_t stride, const uint8_t* scan,
                           int16_t* out, ptrdiff_t outStride);

} // namespace corvel
