#pragma once

#include <cstddef>
#include <cstdint>

namespace corvel {

// The scan orders of progressive frames and of fields: scan position -> raster index.
extern const uint8_t proResProgressiveScan[64];
extern const uint8_t proResInterlacedScan[64];

// Forward 8x8 DCT of 10-bit samples (row stride in samples), in integers, scaled the way
// the ProRes inverse transform expects: four times the orthonormal DCT of (sample - 512).
// The result is stored in the given scan order. The same output on every machine; the loops
// are written so the compiler vectorises them.
void proResForwardDct(const uint16_t* samples, ptrdiff_t stride, const uint8_t* scan,
                      int16_t* scanOrdered);

} // namespace corvel
