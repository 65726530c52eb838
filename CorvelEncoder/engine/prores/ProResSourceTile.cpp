#include "CorvelEncoder/engine/prores/ProResSourceTile.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace corvel {

namespace {

// Bicubic weights (B = 0, C = 0.6) at 0.25, 0.75, 1.25 and 1.75 chroma rows from an output
// row, in 4096ths: the nearest row, the other neighbour, then the next two outwards.
constexpr int16_t nearWeight = 3571;
constexpr int16_t otherWeight = 986;
constexpr int16_t farNearWeight = -346;
constexpr int16_t farOtherWeight = -115;

template <class Sample>
const Sample* row(const uint8_t* plane, ptrdiff_t linesize, int y)
{
    return reinterpret_cast<const Sample*>(plane + y * linesize);
}

// 8-bit samples are 10-bit ones shifted by two; the sum's extra scale goes with the shift.
template <class Sample>
constexpr int outShift = sizeof(Sample) == 1 ? 10 : 12;

template <class Sample>
uint16_t interpolate(const Sample* const taps[4], int x)
{
    const int sum = nearWeight * taps[0][x] + otherWeight * taps[1][x] +
                    farNearWeight * taps[2][x] + farOtherWeight * taps[3][x];
    return uint16_t(std::clamp((sum + (1 << (outShift<Sample> - 1))) >> outShift<Sample>, 0, 1023));
}

template <class Sample>
uint16_t widen(Sample s)
{
    return sizeof(Sample) == 1 ? uint16_t(s << 2) : uint16_t(s);
}

#if defined(__SSE2__)
// Eight samples from p, as 16-bit lanes.
template <class Sample>
__m128i load8(const Sample* p)
{
    if constexpr (sizeof(Sample) == 1)
        return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)),
                                 _mm_setzero_si128());
    else
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

template <class Sample>
__m128i interpolate8(const Sample* const taps[4], int x)
{
    const __m128i nearPair = _mm_set1_epi32(int(uint16_t(nearWeight)) | otherWeight << 16);
    const __m128i farPair = _mm_set1_epi32(int(uint16_t(farNearWeight)) | farOtherWeight << 16);
    const __m128i a = load8(taps[0] + x), b = load8(taps[1] + x);
    const __m128i c = load8(taps[2] + x), d = load8(taps[3] + x);
    const __m128i round = _mm_set1_epi32(1 << (outShift<Sample> - 1));
    __m128i lo = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(a, b), nearPair),
                               _mm_madd_epi16(_mm_unpacklo_epi16(c, d), farPair));
    __m128i hi = _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(a, b), nearPair),
                               _mm_madd_epi16(_mm_unpackhi_epi16(c, d), farPair));
    lo = _mm_srai_epi32(_mm_add_epi32(lo, round), outShift<Sample>);
    hi = _mm_srai_epi32(_mm_add_epi32(hi, round), outShift<Sample>);
    const __m128i packed = _mm_packs_epi32(lo, hi);
    return _mm_min_epi16(_mm_max_epi16(packed, _mm_setzero_si128()), _mm_set1_epi16(1023));
}
#endif

template <class Sample>
void fill(const uint8_t* const data[3], const ptrdiff_t linesize[3], int width, int height, int x0,
          int y0, int mbCount, ProResSourceTile& tile)
{
    const int tileWidth = 16 * mbCount;
    tile.lumaStride = tileWidth;
    for (int r = 0; r < 16; ++r) {
        const Sample* src = row<Sample>(data[0], linesize[0], std::min(y0 + r, height - 1));
        uint16_t* out = tile.luma + r * tileWidth;
        int c = 0;
#if defined(__SSE2__)
        for (; c + 8 <= tileWidth && x0 + c + 8 <= width; c += 8) {
            __m128i v = load8(src + x0 + c);
            if constexpr (sizeof(Sample) == 1)
                v = _mm_slli_epi16(v, 2);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + c), v);
        }
#endif
        for (; c < tileWidth; ++c)
            out[c] = widen(src[std::min(x0 + c, width - 1)]);
    }

    const int chromaWidth = (width + 1) / 2;
    const int chromaRows = (height + 1) / 2;
    const int cx0 = x0 / 2;
    const int tileChroma = tileWidth / 2;
    for (int r = 0; r < 16; ++r) {
        // The 4:2:0 row k sits between picture rows 2k and 2k + 1: an even row has its other
        // neighbour above, an odd one below. Both chroma planes read the same rows.
        const int y = std::min(y0 + r, height - 1);
        const int k = y / 2;
        const int toward = y % 2 ? 1 : -1;
        int rows[4] = {k, k + toward, k - toward, k + 2 * toward};
        for (int& tapRow : rows)
            tapRow = std::clamp(tapRow, 0, chromaRows - 1);
        for (int plane = 0; plane < 2; ++plane) {
            const Sample* taps[4];
            for (int t = 0; t < 4; ++t)
                taps[t] = row<Sample>(data[1 + plane], linesize[1 + plane], rows[t]);
            uint16_t* out = tile.chroma[plane] + r * tileChroma;
            int c = 0;
#if defined(__SSE2__)
            for (; c + 8 <= tileChroma && cx0 + c + 8 <= chromaWidth; c += 8)
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + c),
                                 interpolate8<Sample>(taps, cx0 + c));
#endif
            for (; c < tileChroma; ++c)
                out[c] = interpolate<Sample>(taps, std::min(cx0 + c, chromaWidth - 1));
        }
    }
}

} // namespace

void fillProResSourceTile(ProResSource source, const uint8_t* const data[3],
                          const ptrdiff_t linesize[3], int width, int height, int x0, int y0,
                          int mbCount, ProResSourceTile& tile)
{
    if (source == ProResSource::yuv420p)
        fill<uint8_t>(data, linesize, width, height, x0, y0, mbCount, tile);
    else
        fill<uint16_t>(data, linesize, width, height, x0, y0, mbCount, tile);
}

} // namespace corvel
