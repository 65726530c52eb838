#include "CorvelEncoder/engine/prores/ProResQuantiser.h"

#include "CorvelEncoder/engine/prores/ProResProfile.h"

#include <bit>

#include <immintrin.h>

namespace corvel {

ProResQuantiser makeProResQuantiser(const uint8_t* matrix, int qscale, bool deadZone)
{
    ProResQuantiser q;
    for (int i = 0; i < 64; ++i) {
        // With 2^(k-1) < step <= 2^k, mult = ceil(2^(15+k) / step) < 2^16 gives the exact
        // quotient of every numerator below 2^15 (Granlund and Montgomery).
        const uint32_t step = uint32_t(matrix[i]) * uint32_t(qscale);
        const int k = std::bit_width(step - 1);
        // With a dead zone, the coefficients but DC round down from 6/16 of a step: small ones
        // cost more bits than the error they remove (+1 dB at the same rate on grain).
        q.rounding[i] = uint16_t(i > 0 && deadZone ? step * 6 / 16 : step / 2);
        q.mult[i] = uint16_t(((uint64_t(1) << (15 + k)) + step - 1) / step);
        q.shift[i] = uint16_t(k - 1);
    }
    return q;
}

ProResQuantiserTable::ProResQuantiserTable(const uint8_t* lumaMatrix, const uint8_t* chromaMatrix,
                                           int floor)
{
    m_quantisers.resize(225 * 2);
    for (int code = 1; code <= 224; ++code) {
        m_quantisers[size_t(code) * 2] =
            makeProResQuantiser(lumaMatrix, proResQuantiserValue(code), code > floor);
        m_quantisers[size_t(code) * 2 + 1] =
            makeProResQuantiser(chromaMatrix, proResQuantiserValue(code), code > floor);
    }
}

void proResQuantisePlain(const int16_t* coeffs, int blocks, const ProResQuantiser& q,
                         int16_t* levels)
{
    for (int i = 0; i < 64; ++i) {
        const uint32_t rounding = q.rounding[i];
        const uint32_t mult = q.mult[i];
        const int shift = q.shift[i];
        const int16_t* c = coeffs + i * blocks;
        int16_t* l = levels + i * blocks;
        for (int b = 0; b < blocks; ++b) {
            const int32_t v = c[b];
            const uint32_t n = uint32_t(v < 0 ? -v : v) + rounding;
            const int32_t level = int32_t(((n * mult) >> 16) >> shift);
            l[b] = int16_t(v < 0 ? -level : level);
        }
    }
}

namespace {

// Eight blocks a position: sign-magnitude by the sign mask, as SSE2 has no abs.
void quantiseSse2(const int16_t* coeffs, int blocks, const ProResQuantiser& q, int16_t* levels)
{
    for (int i = 0; i < 64; ++i) {
        const __m128i rounding = _mm_set1_epi16(int16_t(q.rounding[i]));
        const __m128i mult = _mm_set1_epi16(int16_t(q.mult[i]));
        const __m128i shift = _mm_cvtsi32_si128(q.shift[i]);
        for (int b = 0; b < blocks; b += 8) {
            const __m128i c =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(coeffs + i * blocks + b));
            const __m128i sign = _mm_srai_epi16(c, 15);
            const __m128i a = _mm_sub_epi16(_mm_xor_si128(c, sign), sign);
            const __m128i level =
                _mm_srl_epi16(_mm_mulhi_epu16(_mm_add_epi16(a, rounding), mult), shift);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(levels + i * blocks + b),
                             _mm_sub_epi16(_mm_xor_si128(level, sign), sign));
        }
    }
}

__attribute__((target("avx2"))) void quantiseAvx2(const int16_t* coeffs, int blocks,
                                                  const ProResQuantiser& q, int16_t* levels)
{
    for (int i = 0; i < 64; ++i) {
        const __m256i rounding = _mm256_set1_epi16(int16_t(q.rounding[i]));
        const __m256i mult = _mm256_set1_epi16(int16_t(q.mult[i]));
        const __m128i shift = _mm_cvtsi32_si128(q.shift[i]);
        for (int b = 0; b < blocks; b += 16) {
            const __m256i c =
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(coeffs + i * blocks + b));
            const __m256i a = _mm256_abs_epi16(c);
            const __m256i level =
                _mm256_srl_epi16(_mm256_mulhi_epu16(_mm256_add_epi16(a, rounding), mult), shift);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(levels + i * blocks + b),
                                _mm256_sign_epi16(level, c));
        }
    }
}

const bool hasAvx2 = __builtin_cpu_supports("avx2");

} // namespace

void proResQuantise(const int16_t* coeffs, int blocks, const ProResQuantiser& q, int16_t* levels)
{
    // Whole vectors per scan position only.
    if (hasAvx2 && blocks % 16 == 0)
        quantiseAvx2(coeffs, blocks, q, levels);
    else if (blocks % 8 == 0)
        quantiseSse2(coeffs, blocks, q, levels);
    else
        proResQuantisePlain(coeffs, blocks, q, levels);
}

} // namespace corvel
