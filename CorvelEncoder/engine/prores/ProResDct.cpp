#include "CorvelEncoder/engine/prores/ProResDct.h"

#include <array>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

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

void proResForwardDctPlain(const uint16_t* samples, ptrdiff_t stride, const uint8_t* scan,
                           int16_t* scanOut, ptrdiff_t outStride)
{
    int32_t rows[8][8];
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
    int16_t out[64];
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
        scanOut[i * outStride] = out[scan[i]];
}

#if defined(__SSE2__)

namespace {

void transpose(__m128i r[8])
{
    const __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]), a1 = _mm_unpackhi_epi16(r[0], r[1]);
    const __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]), a3 = _mm_unpackhi_epi16(r[2], r[3]);
    const __m128i a4 = _mm_unpacklo_epi16(r[4], r[5]), a5 = _mm_unpackhi_epi16(r[4], r[5]);
    const __m128i a6 = _mm_unpacklo_epi16(r[6], r[7]), a7 = _mm_unpackhi_epi16(r[6], r[7]);
    const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
    const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
    const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
    const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
    r[0] = _mm_unpacklo_epi64(b0, b4);
    r[1] = _mm_unpackhi_epi64(b0, b4);
    r[2] = _mm_unpacklo_epi64(b1, b5);
    r[3] = _mm_unpackhi_epi64(b1, b5);
    r[4] = _mm_unpacklo_epi64(b2, b6);
    r[5] = _mm_unpackhi_epi64(b2, b6);
    r[6] = _mm_unpacklo_epi64(b3, b7);
    r[7] = _mm_unpackhi_epi64(b3, b7);
}

// The first half of the basis in pairs of rows for pmaddwd: pairs[j][k] holds basis[2j][k]
// low, basis[2j+1][k] high.
struct BasisPairs
{
    int32_t w[2][8];
    BasisPairs()
    {
        for (int j = 0; j < 2; ++j) {
            for (int k = 0; k < 8; ++k)
                w[j][k] = int32_t(uint32_t(uint16_t(basis.m[2 * j][k])) |
                                  uint32_t(basis.m[2 * j + 1][k]) << 16);
        }
    }
};

const BasisPairs pairs;

// y[k][l] = (sum_j basis[j][k] x[j][l] + round) >> shift: the same sums as the plain loops,
// in 32 bits, two products at a time. The basis is even about its middle for even k and odd
// for odd k, so each sum needs only the four sums x[j] + x[7 - j] or differences
// x[j] - x[7 - j]: half the products, and the same result to the bit (neither overflows
// 16 bits: the samples are 10-bit and the row pass leaves at most 15 bits).
template <int shift>
void pass(__m128i x[8])
{
    __m128i even[2][2], odd[2][2]; // basis row pairs (0, 1) and (2, 3); low and high halves
    for (int m = 0; m < 2; ++m) {
        const __m128i s0 = _mm_add_epi16(x[2 * m], x[7 - 2 * m]);
        const __m128i s1 = _mm_add_epi16(x[2 * m + 1], x[6 - 2 * m]);
        const __m128i d0 = _mm_sub_epi16(x[2 * m], x[7 - 2 * m]);
        const __m128i d1 = _mm_sub_epi16(x[2 * m + 1], x[6 - 2 * m]);
        even[m][0] = _mm_unpacklo_epi16(s0, s1);
        even[m][1] = _mm_unpackhi_epi16(s0, s1);
        odd[m][0] = _mm_unpacklo_epi16(d0, d1);
        odd[m][1] = _mm_unpackhi_epi16(d0, d1);
    }
    const __m128i round = _mm_set1_epi32(1 << (shift - 1));
    for (int k = 0; k < 8; ++k) {
        const __m128i(&in)[2][2] = k % 2 ? odd : even;
        const __m128i w0 = _mm_set1_epi32(pairs.w[0][k]), w1 = _mm_set1_epi32(pairs.w[1][k]);
        const __m128i sumLo = _mm_add_epi32(
            round, _mm_add_epi32(_mm_madd_epi16(in[0][0], w0), _mm_madd_epi16(in[1][0], w1)));
        const __m128i sumHi = _mm_add_epi32(
            round, _mm_add_epi32(_mm_madd_epi16(in[0][1], w0), _mm_madd_epi16(in[1][1], w1)));
        x[k] = _mm_packs_epi32(_mm_srai_epi32(sumLo, shift), _mm_srai_epi32(sumHi, shift));
    }
}

} // namespace

void proResForwardDct(const uint16_t* samples, ptrdiff_t stride, const uint8_t* scan,
                      int16_t* scanOut, ptrdiff_t outStride)
{
    // Rows of the block, transposed so the row pass sums over vector registers; its result
    // is the transposed row pass, transposed back for the column pass.
    __m128i r[8];
    const __m128i bias = _mm_set1_epi16(512);
    for (int y = 0; y < 8; ++y)
        r[y] = _mm_sub_epi16(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples + y * stride)), bias);
    transpose(r);
    pass<9>(r);
    transpose(r);
    pass<13>(r);
    alignas(16) int16_t out[64];
    for (int v = 0; v < 8; ++v)
        _mm_store_si128(reinterpret_cast<__m128i*>(out + v * 8), r[v]);
    for (int i = 0; i < 64; ++i)
        scanOut[i * outStride] = out[scan[i]];
}

namespace {

__attribute__((target("avx2"))) void transpose(__m256i r[8])
{
    const __m256i a0 = _mm256_unpacklo_epi16(r[0], r[1]), a1 = _mm256_unpackhi_epi16(r[0], r[1]);
    const __m256i a2 = _mm256_unpacklo_epi16(r[2], r[3]), a3 = _mm256_unpackhi_epi16(r[2], r[3]);
    const __m256i a4 = _mm256_unpacklo_epi16(r[4], r[5]), a5 = _mm256_unpackhi_epi16(r[4], r[5]);
    const __m256i a6 = _mm256_unpacklo_epi16(r[6], r[7]), a7 = _mm256_unpackhi_epi16(r[6], r[7]);
    const __m256i b0 = _mm256_unpacklo_epi32(a0, a2), b1 = _mm256_unpackhi_epi32(a0, a2);
    const __m256i b2 = _mm256_unpacklo_epi32(a1, a3), b3 = _mm256_unpackhi_epi32(a1, a3);
    const __m256i b4 = _mm256_unpacklo_epi32(a4, a6), b5 = _mm256_unpackhi_epi32(a4, a6);
    const __m256i b6 = _mm256_unpacklo_epi32(a5, a7), b7 = _mm256_unpackhi_epi32(a5, a7);
    r[0] = _mm256_unpacklo_epi64(b0, b4);
    r[1] = _mm256_unpackhi_epi64(b0, b4);
    r[2] = _mm256_unpacklo_epi64(b1, b5);
    r[3] = _mm256_unpackhi_epi64(b1, b5);
    r[4] = _mm256_unpacklo_epi64(b2, b6);
    r[5] = _mm256_unpackhi_epi64(b2, b6);
    r[6] = _mm256_unpacklo_epi64(b3, b7);
    r[7] = _mm256_unpackhi_epi64(b3, b7);
}

template <int shift>
__attribute__((target("avx2"))) void pass(__m256i x[8])
{
    __m256i even[2][2], odd[2][2];
    for (int m = 0; m < 2; ++m) {
        const __m256i s0 = _mm256_add_epi16(x[2 * m], x[7 - 2 * m]);
        const __m256i s1 = _mm256_add_epi16(x[2 * m + 1], x[6 - 2 * m]);
        const __m256i d0 = _mm256_sub_epi16(x[2 * m], x[7 - 2 * m]);
        const __m256i d1 = _mm256_sub_epi16(x[2 * m + 1], x[6 - 2 * m]);
        even[m][0] = _mm256_unpacklo_epi16(s0, s1);
        even[m][1] = _mm256_unpackhi_epi16(s0, s1);
        odd[m][0] = _mm256_unpacklo_epi16(d0, d1);
        odd[m][1] = _mm256_unpackhi_epi16(d0, d1);
    }
    const __m256i round = _mm256_set1_epi32(1 << (shift - 1));
    for (int k = 0; k < 8; ++k) {
        const __m256i(&in)[2][2] = k % 2 ? odd : even;
        const __m256i w0 = _mm256_set1_epi32(pairs.w[0][k]), w1 = _mm256_set1_epi32(pairs.w[1][k]);
        const __m256i sumLo =
            _mm256_add_epi32(round, _mm256_add_epi32(_mm256_madd_epi16(in[0][0], w0),
                                                     _mm256_madd_epi16(in[1][0], w1)));
        const __m256i sumHi =
            _mm256_add_epi32(round, _mm256_add_epi32(_mm256_madd_epi16(in[0][1], w0),
                                                     _mm256_madd_epi16(in[1][1], w1)));
        x[k] = _mm256_packs_epi32(_mm256_srai_epi32(sumLo, shift), _mm256_srai_epi32(sumHi, shift));
    }
}

// Two blocks at once, one in each 128-bit lane: the SSE2 steps above work lane by lane.
__attribute__((target("avx2"))) void dctPairAvx2(const uint16_t* a, const uint16_t* b,
                                                 ptrdiff_t stride, const uint8_t* scan,
                                                 int16_t* out, ptrdiff_t outStride)
{
    __m256i r[8];
    const __m256i bias = _mm256_set1_epi16(512);
    for (int y = 0; y < 8; ++y)
        r[y] =
            _mm256_sub_epi16(_mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(b + y * stride),
                                                 reinterpret_cast<const __m128i*>(a + y * stride)),
                             bias);
    transpose(r);
    pass<9>(r);
    transpose(r);
    pass<13>(r);
    // The two blocks' coefficients side by side, as they lie in the output: one 32-bit move
    // per scan position.
    alignas(32) uint32_t pairs[64];
    for (int v = 0; v < 8; ++v) {
        const __m128i lo = _mm256_castsi256_si128(r[v]), hi = _mm256_extracti128_si256(r[v], 1);
        _mm_store_si128(reinterpret_cast<__m128i*>(pairs + v * 8), _mm_unpacklo_epi16(lo, hi));
        _mm_store_si128(reinterpret_cast<__m128i*>(pairs + v * 8 + 4), _mm_unpackhi_epi16(lo, hi));
    }
    for (int i = 0; i < 64; ++i)
        std::memcpy(out + i * outStride, pairs + scan[i], 4);
}

const bool hasAvx2 = __builtin_cpu_supports("avx2");

} // namespace

void proResForwardDctPair(const uint16_t* a, const uint16_t* b, ptrdiff_t stride,
                          const uint8_t* scan, int16_t* out, ptrdiff_t outStride)
{
    if (hasAvx2) {
        dctPairAvx2(a, b, stride, scan, out, outStride);
    } else {
        proResForwardDct(a, stride, scan, out, outStride);
        proResForwardDct(b, stride, scan, out + 1, outStride);
    }
}

#else

void proResForwardDct(const uint16_t* samples, ptrdiff_t stride, const uint8_t* scan, int16_t* out,
                      ptrdiff_t outStride)
{
    proResForwardDctPlain(samples, stride, scan, out, outStride);
}

#endif

} // namespace corvel
