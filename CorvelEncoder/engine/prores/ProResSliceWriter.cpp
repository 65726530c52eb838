#include "CorvelEncoder/engine/prores/ProResSliceWriter.h"

#include "CorvelEncoder/engine/prores/ProResBitWriter.h"
#include "CorvelEncoder/engine/prores/ProResProfile.h"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace corvel {

namespace {

// Codebooks: bits 0-1 the last unary length before switching to exp-Golomb, bits 2-4 the
// exp-Golomb order, bits 5-7 the Rice order. Chosen from the previous value as the format
// prescribes.
constexpr uint8_t firstDcCodebook = 0xB8;
constexpr uint8_t dcCodebooks[7] = {0x04, 0x28, 0x28, 0x4D, 0x4D, 0x70, 0x70};
constexpr uint8_t runCodebooks[16] = {0x06, 0x06, 0x05, 0x05, 0x04, 0x29, 0x29, 0x29,
                                      0x29, 0x28, 0x28, 0x28, 0x28, 0x28, 0x28, 0x4C};
constexpr uint8_t levelCodebooks[10] = {0x04, 0x0A, 0x05, 0x06, 0x04, 0x28, 0x28, 0x28, 0x28, 0x4C};
// Decoders read one code word from a 25-bit window.
constexpr int maxCodeBits = 25;
constexpr int maxBlocks = 32;

struct BitCounter
{
    int64_t bits = 0;
    bool tooLong = false;
    void put(uint32_t, int n) { bits += n; }
};

struct BitSink
{
    ProResBitWriter& writer;
    bool tooLong = false;
    void put(uint32_t value, int n) { writer.put(value, n); }
};

template <class Sink>
inline void codeword(Sink& sink, uint32_t value, uint8_t codebook)
{
    const int switchBits = codebook & 3;
    const int expOrder = (codebook >> 2) & 7;
    const int riceOrder = codebook >> 5;
    const uint32_t riceLimit = uint32_t(switchBits + 1) << riceOrder;
    if (value < riceLimit) {
        const int unary = int(value >> riceOrder);
        sink.put((1u << riceOrder) | (value & ((1u << riceOrder) - 1)), unary + 1 + riceOrder);
        return;
    }
    const uint32_t w = value - riceLimit + (1u << expOrder);
    const int width = std::bit_width(w);
    const int zeros = width - expOrder + switchBits;
    if (zeros + width > maxCodeBits) {
        sink.tooLong = true;
        return;
    }
    sink.put(w, zeros + width);
}

// The code words of the small values, per codebook, so coding them is one table look-up:
// the word above the low byte, its length in the low byte. A length of 0xFF says "not in the
// table": longer than a decoder takes, or a value past its end.
constexpr int tableSize = 64;
constexpr uint32_t notInTable = 0xFF;
using CodeTable = uint32_t[tableSize];

struct CodeTables
{
    CodeTable dc[7];
    CodeTable run[16];
    CodeTable level[10];
    CodeTables()
    {
        for (int v = 0; v < tableSize; ++v) {
            for (int i = 0; i < 7; ++i)
                dc[i][v] = entry(v, dcCodebooks[i]);
            for (int i = 0; i < 16; ++i)
                run[i][v] = entry(v, runCodebooks[i]);
            for (int i = 0; i < 10; ++i)
                level[i][v] = entry(v, levelCodebooks[i]);
        }
    }
    struct Recorder
    {
        uint32_t bits = 0;
        int length = 0;
        bool tooLong = false;
        void put(uint32_t value, int n)
        {
            bits = value;
            length = n;
        }
    };
    static uint32_t entry(int value, uint8_t codebook)
    {
        Recorder word;
        codeword(word, uint32_t(value), codebook);
        return word.tooLong ? notInTable : word.bits << 8 | uint32_t(word.length);
    }
};

const CodeTables tables;

inline uint32_t lookUp(const CodeTable& table, uint32_t value)
{
    return value < tableSize ? table[value] : notInTable;
}

// Small values through the tables, others through the codebook's rule.
template <class Sink>
inline void code(Sink& sink, uint32_t value, uint8_t codebook, const CodeTable& table)
{
    const uint32_t word = lookUp(table, value);
    if (word != notInTable)
        sink.put(word >> 8, int(word & 0xFF));
    else
        codeword(sink, value, codebook);
}

// Bit j set where levels[j] is not zero.
inline uint64_t nonZeroMask(const int16_t* levels)
{
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    uint64_t mask = 0;
    for (int j = 0; j < 4; ++j) {
        const auto* p = reinterpret_cast<const __m128i*>(levels + 16 * j);
        const __m128i zeros = _mm_packs_epi16(_mm_cmpeq_epi16(_mm_loadu_si128(p), zero),
                                              _mm_cmpeq_epi16(_mm_loadu_si128(p + 1), zero));
        mask |= uint64_t(uint16_t(~_mm_movemask_epi8(zeros))) << (16 * j);
    }
    return mask;
#else
    uint64_t mask = 0;
    for (int j = 0; j < 64; ++j)
        mask |= uint64_t(levels[j] != 0) << j;
    return mask;
#endif
}

template <class Sink>
void codeComponent(Sink& sink, const int16_t* levels, int blocks)
{
    int prev = levels[0];
    codeword(sink, prev >= 0 ? uint32_t(prev) * 2 : uint32_t(-prev) * 2 - 1, firstDcCodebook);
    uint32_t prevCode = 5;
    bool negative = false;
    for (int b = 1; b < blocks; ++b) {
        const int delta = levels[b] - prev;
        prev = levels[b];
        uint32_t value = 0;
        if (delta != 0) {
            const bool neg = delta < 0;
            const uint32_t magnitude = uint32_t(neg ? -delta : delta);
            // An odd code flips the sign the previous difference had.
            value = neg != negative ? magnitude * 2 - 1 : magnitude * 2;
            negative = neg;
        } else {
            negative = false;
        }
        const uint32_t book = std::min(prevCode, 6u);
        code(sink, value, dcCodebooks[book], tables.dc[book]);
        prevCode = value;
    }

    uint32_t prevRun = 4;
    uint32_t prevLevel = 2;
    const int total = 64 * blocks;
    int last = blocks - 1;
    // The non-zero levels found 64 at a time by their bit mask: whether a level is zero is
    // as good as random in grain, where a branch per level would mostly be mispredicted.
    for (int base = 0; base < total; base += 64) {
        uint64_t mask = nonZeroMask(levels + base);
        if (base == 0)
            mask &= ~uint64_t(0) << blocks; // the DCs, coded above
        for (; mask != 0; mask &= mask - 1) {
            const int i = base + std::countr_zero(mask);
            const int v = levels[i];
            const uint32_t run = uint32_t(i - last - 1);
            last = i;
            const uint32_t magnitude = uint32_t(v < 0 ? -v : v);
            const CodeTable& runs = tables.run[std::min(prevRun, 15u)];
            const CodeTable& levels = tables.level[std::min(prevLevel, 9u)];
            const uint32_t runWord = lookUp(runs, run);
            const uint32_t levelWord = lookUp(levels, magnitude - 1);
            const uint32_t runLength = runWord & 0xFF;
            const uint32_t levelLength = levelWord & 0xFF;
            if (runLength + levelLength < 31) {
                // Run, level and sign in one go: most coefficients are small, near the last.
                sink.put((runWord >> 8 << (levelLength + 1)) | (levelWord >> 8 << 1) |
                             uint32_t(v < 0),
                         int(runLength + levelLength + 1));
            } else {
                code(sink, run, runCodebooks[std::min(prevRun, 15u)], runs);
                code(sink, magnitude - 1, levelCodebooks[std::min(prevLevel, 9u)], levels);
                sink.put(uint32_t(v < 0), 1);
            }
            prevRun = run;
            prevLevel = magnitude;
        }
    }
}

// Alpha as 16-bit values: differences to the previous value, short ones in 7 bits, and runs
// of repeats.
void codeAlpha(ProResBitWriter& writer, const uint16_t* alpha, int count)
{
    uint32_t current = 0xFFFF;
    int i = 0;
    while (i < count) {
        const uint32_t value = (uint32_t(alpha[i]) << 6) | (alpha[i] >> 4);
        const int diff = int16_t(uint16_t(value - current));
        if (diff != 0 && diff >= -64 && diff <= 64) {
            const int magnitude = diff < 0 ? -diff : diff;
            writer.put(0, 1);
            writer.put(uint32_t(2 * (magnitude - 1) + (diff < 0 ? 1 : 0)), 7);
        } else {
            writer.put(1, 1);
            writer.put(uint16_t(value - current), 16);
        }
        current = value;
        ++i;
        int run = 0;
        while (i + run < count && run < 2047 && alpha[i + run] == alpha[i - 1])
            ++run;
        if (run == 0 && i < count) {
            writer.put(1, 1); // another value follows
            continue;
        }
        if (i < count)
            writer.put(0, 1);
        if (run > 0 && run < 16) {
            writer.put(uint32_t(run), 4);
        } else {
            writer.put(0, 4);
            writer.put(uint32_t(run), 11);
        }
        i += run;
    }
}

void quantiseInto(const ProResSliceInput& slice, const ProResQuantiserTable& quantisers, int qcode,
                  bool dcOnly, int c, int16_t* levels)
{
    const int blocks = slice.blocks[c];
    proResQuantise(slice.coeffs[c], blocks, quantisers.at(c, qcode), levels);
    if (dcOnly)
        std::fill(levels + blocks, levels + 64 * blocks, int16_t(0));
}

void putBe16(uint8_t* p, size_t v)
{
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}

} // namespace

size_t ProResSliceWriter::size(const ProResSliceInput& slice,
                               const ProResQuantiserTable& quantisers, int qcode, bool dcOnly)
{
    alignas(32) int16_t levels[maxBlocks * 64];
    size_t total = slice.alphaPlane ? 8 : 6;
    for (int c = 0; c < 3; ++c) {
        quantiseInto(slice, quantisers, qcode, dcOnly, c, levels);
        BitCounter counter;
        codeComponent(counter, levels, slice.blocks[c]);
        const size_t bytes = size_t(counter.bits + 7) / 8;
        if (counter.tooLong || bytes > 0xFFFF)
            return 0;
        total += bytes;
    }
    return total;
}

bool ProResSliceWriter::onlyDc(const ProResSliceInput& slice,
                               const ProResQuantiserTable& quantisers, int qcode)
{
    int16_t levels[maxBlocks * 64];
    for (int c = 0; c < 3; ++c) {
        const int blocks = slice.blocks[c];
        proResQuantise(slice.coeffs[c], blocks, quantisers.at(c, qcode), levels);
        if (std::any_of(levels + blocks, levels + 64 * blocks, [](int16_t l) { return l != 0; }))
            return false;
    }
    return true;
}

size_t ProResSliceWriter::alphaBytes(const ProResSliceInput& slice, uint8_t* scratch, uint8_t* end)
{
    ProResBitWriter writer(scratch, end);
    codeAlpha(writer, slice.alpha, 256 * slice.mbCount);
    return writer.finish();
}

size_t ProResSliceWriter::write(const ProResSliceInput& slice,
                                const ProResQuantiserTable& quantisers, int qcode, bool dcOnly,
                                uint8_t* out, uint8_t* end)
{
    const size_t headerSize = slice.alphaPlane ? 8 : 6;
    if (end - out < ptrdiff_t(headerSize))
        return 0;
    alignas(16) int16_t levels[maxBlocks * 64];
    size_t sizes[4] = {};
    uint8_t* p = out + headerSize;
    for (int c = 0; c < 3; ++c) {
        quantiseInto(slice, quantisers, qcode, dcOnly, c, levels);
        ProResBitWriter writer(p, end);
        BitSink sink{writer};
        codeComponent(sink, levels, slice.blocks[c]);
        sizes[c] = writer.finish();
        if (sink.tooLong || writer.overflowed() || sizes[c] > 0xFFFF)
            return 0;
        p += sizes[c];
    }
    if (slice.alphaPlane) {
        ProResBitWriter writer(p, end);
        codeAlpha(writer, slice.alpha, 256 * slice.mbCount);
        sizes[3] = writer.finish();
        if (writer.overflowed())
            return 0;
        p += sizes[3];
    }
    const size_t total = size_t(p - out);
    if (total > 0xFFFF)
        return 0;
    out[0] = uint8_t(headerSize << 3);
    out[1] = uint8_t(qcode);
    putBe16(out + 2, sizes[0]);
    putBe16(out + 4, sizes[1]);
    if (slice.alphaPlane)
        putBe16(out + 6, sizes[2]);
    return total;
}

} // namespace corvel
