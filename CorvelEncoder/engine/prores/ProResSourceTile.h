#pragma once

#include <cstddef>
#include <cstdint>

namespace corvel {

// How the planes handed to the encoder are laid out.
enum class ProResSource : uint8_t
{
    native,    // 10-bit, in the profile's own sampling (4:2:2 or 4:4:4, alpha for 4444)
    yuv420p,   // 8-bit 4:2:0, as most cameras and phones record
    yuv420p10, // 10-bit 4:2:0
};

// One slice's rows of a 4:2:0 picture as the transform reads them: 10-bit 4:2:2, with the
// picture's last column and row repeated past its edge. Converting slice by slice, while the
// samples are in the cache, spares a whole-frame conversion in front of the encoder.
struct ProResSourceTile
{
    static constexpr int maxMbs = 8;
    uint16_t luma[16 * 16 * maxMbs];
    uint16_t chroma[2][16 * 8 * maxMbs];
    int lumaStride = 0; // in samples; the chroma planes' is half of it
};

// Fills `tile` with the 16 rows from `y0` and the `mbCount` macroblocks from column `x0` of a
// `width` x `height` picture. Luma is widened; chroma is interpolated between the 4:2:0 rows
// (sited halfway between two picture rows) with the bicubic filter swscale uses.
void fillProResSourceTile(ProResSource source, const uint8_t* const data[3],
                          const ptrdiff_t linesize[3], int width, int height, int x0, int y0,
                          int mbCount, ProResSourceTile& tile);

} // namespace corvel
