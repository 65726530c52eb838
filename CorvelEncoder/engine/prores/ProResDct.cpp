#include "CorvelEncoder/engine/prores/ProResDct.h"

#include <array>
#include <cmath>

namespace corvel {

const uint8_t proResProgressiveScan[64] = {
    0,  1,  8,  9,  2,  3,  10, 11, 16, 17, 24, 25, 18, 19, 26, 27, 4,  5,  12, 20, 13, 6,
    7,  14, 21, 28, 29, 22, 15, 23, 30, 31, 32, 33, 40, 48, 41, 34, 35, 42, 49, 56, 57, 50,
    43, 36, 37, 44, 51, 58, 59, 52, 45, 38, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};
// A field's rows lie twice as far apart, so vertical frequencies come earlier.
const uint8_t proResInterlacedScan[64] = {
    0,  8,  1,  9,  16, 24, 17, 25, 2,  10, 3,  11, 18, 26, 19, 27, 32, 40, 33, 34, 41, 48,
    56, 49, 42, 35, 43, 50, 57, 58, 51, 59, 4,  12, 5,  6,  13, 20, 28, 21, 14, 7,  15, 22,
    29, 36, 44, 37, 30, 23, 31, 38, 45, 52, 60, 53, 46, 39, 47, 54, 61, 62, 55, 63};

namespace {

// basis[x][u] = round(4096 * c(u) * cos((2x + 1) u pi / 16)), the orthonormal DCT-II.
struct Basis
{
    alignas(32) int32_t m[8][8];
    Basis()
    {
        for (int x = 0; x < 8; ++x) {
            for (int u = 0; u < 8; ++u) {
                const double c = u == 0 ? std::sqrt(1.0 / 8) : std::sqrt(2.0 / 8);
                m[x][u] = int32_t(std::lround(4096 * c * std::cos((2 * x + 1) * u * M_PI / 16)));
            }
        }
    }
};

const Basis basis;

} // namespace

__attribute__((target_clones("avx2", "default"))) void proResForwardDct(const uint16_t* samples,
                                                                        ptrdiff_t stride,
                                                                        const uint8_t* scan,
                                                                        int16_t* scanOrdered)
{
    alignas(32) int32_t rows[8][8];
    // Rows: 12-bit basis, down to 3 fractional bits.
    for (int y = 0; y < 8; ++y) {
        int32_t acc[8] = {};
        for (int x = 0; x < 8; ++x) {
            const int32_t s = int32_t(samples[y * stride + x]) - 512;
            for (int u = 0; u < 8; ++u)
                acc[u] += basis.m[x][u] * s;
        }
        for (int u = 0; u < 8; ++u)
            rows[y][u] = (acc[u] + (1 << 8)) >> 9;
    }
    // Columns: back to four times the orthonormal transform.
    alignas(32) int16_t out[64];
    for (int v = 0; v < 8; ++v) {
        int32_t acc[8] = {};
        for (int y = 0; y < 8; ++y) {
            const int32_t b = basis.m[y][v];
            for (int u = 0; u < 8; ++u)
                acc[u] += b * rows[y][u];
        }
        for (int u = 0; u < 8; ++u)
            out[v * 8 + u] = int16_t((acc[u] + (1 << 12)) >> 13);
    }
    for (int i = 0; i < 64; ++i)
        scanOrdered[i] = out[scan[i]];
}

} // namespace corvel
