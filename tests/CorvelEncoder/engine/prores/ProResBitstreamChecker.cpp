#include "tests/CorvelEncoder/engine/prores/ProResBitstreamChecker.h"

#include "CorvelEncoder/engine/prores/ProResDct.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <stdexcept>

namespace corvel::test {

namespace {

void require(bool ok, const char* what)
{
    if (!ok)
        throw std::runtime_error(what);
}

uint32_t be16(const uint8_t* p)
{
    return uint32_t(p[0]) << 8 | p[1];
}

uint32_t be32(const uint8_t* p)
{
    return be16(p) << 16 | be16(p + 2);
}

class BitReader
{
public:
    BitReader(const uint8_t* data, size_t size) : m_data(data), m_bits(size * 8) {}
    uint32_t bit()
    {
        require(m_pos < m_bits, "read past the end of a plane");
        const uint32_t b = (m_data[m_pos / 8] >> (7 - m_pos % 8)) & 1;
        ++m_pos;
        return b;
    }
    uint32_t bits(int n)
    {
        uint32_t v = 0;
        while (n-- > 0)
            v = v << 1 | bit();
        return v;
    }
    // Only zero bits up to the next byte boundary, then the end: what is left of the last byte.
    bool atPaddedEnd() const
    {
        return m_pos == m_bits ||
               (m_bits - m_pos < 8 && (m_data[m_pos / 8] & (0xFF >> (m_pos % 8))) == 0);
    }

    // A Rice / exp-Golomb code word of the given codebook.
    uint32_t codeword(uint8_t codebook)
    {
        const int switchBits = codebook & 3;
        const int expOrder = (codebook >> 2) & 7;
        const int riceOrder = codebook >> 5;
        int zeros = 0;
        while (bit() == 0)
            require(++zeros < 32, "code word without a one");
        if (zeros <= switchBits)
            return (uint32_t(zeros) << riceOrder) + bits(riceOrder);
        const int total = expOrder - switchBits + 2 * zeros;
        require(total <= 25, "code word longer than a decoder reads");
        const uint32_t w = (1u << (total - zeros - 1)) | bits(total - zeros - 1);
        return w - (1u << expOrder) + (uint32_t(switchBits + 1) << riceOrder);
    }

private:
    const uint8_t* m_data;
    size_t m_bits;
    size_t m_pos = 0;
};

constexpr uint8_t dcCodebooks[7] = {0x04, 0x28, 0x28, 0x4D, 0x4D, 0x70, 0x70};
constexpr uint8_t runCodebooks[16] = {0x06, 0x06, 0x05, 0x05, 0x04, 0x29, 0x29, 0x29,
                                      0x29, 0x28, 0x28, 0x28, 0x28, 0x28, 0x28, 0x4C};
constexpr uint8_t levelCodebooks[10] = {0x04, 0x0A, 0x05, 0x06, 0x04, 0x28, 0x28, 0x28, 0x28, 0x4C};

// One plane's coefficients; every dequantised value must fit the decoder's 16 bits.
void checkPlane(const uint8_t* data, size_t size, int blocks, const uint8_t* matrix, int qscale,
                const uint8_t* scan)
{
    BitReader r(data, size);
    const auto fits = [&](int level, int index) {
        require(std::abs(level) * matrix[index] * qscale <= 32767, "coefficient out of range");
    };
    uint32_t code = r.codeword(0xB8);
    int dc = int(code >> 1) ^ -int(code & 1);
    fits(dc, 0);
    code = 5;
    int sign = 0;
    for (int b = 1; b < blocks; ++b) {
        code = r.codeword(dcCodebooks[std::min(code, 6u)]);
        sign = code ? sign ^ -int(code & 1) : 0;
        dc += ((int(code + 1) >> 1) ^ sign) - sign;
        fits(dc, 0);
    }
    uint32_t run = 4, level = 2;
    int pos = blocks - 1;
    while (!r.atPaddedEnd()) {
        run = r.codeword(runCodebooks[std::min(run, 15u)]);
        pos += int(run) + 1;
        require(pos < 64 * blocks, "coefficient past the last block");
        level = r.codeword(levelCodebooks[std::min(level, 9u)]) + 1;
        r.bit();
        fits(int(level), scan[pos / blocks]);
    }
}

ProResCheck check(std::span<const uint8_t> f, const ProResExpectation& e)
{
    const ProResProfileInfo& info = proResProfileInfo(e.profile);
    require(f.size() >= 8 + 148 + 8, "frame too short");
    require(be32(f.data()) == f.size(), "frame size field differs from the packet");
    const uint8_t* h = f.data() + 8;
    require(be16(h) == 148, "frame header size");
    require(std::memcmp(h + 4, "apl0", 4) == 0, "vendor is not apl0");
    require((h[12] & 0x33) == 0 && ((h[12] >> 2) & 3) == e.interlaceMode,
            "interlace mode or reserved bits");
    require((h[13] & 0xF) <= 11, "frame rate code");
    require(h[14] == e.primaries && h[15] == e.transfer && h[16] == e.matrix, "colour tags");
    require(h[18] == 0, "reserved byte");
    // Both matrices, the profile's own: they bound the coefficients below.
    require(h[19] == 3, "matrix flags");
    const uint8_t* luma = h + 20;
    const uint8_t* chroma = h + 84;
    require(std::equal(luma, luma + 64, info.lumaMatrix.begin()) &&
                std::equal(chroma, chroma + 64, info.chromaMatrix.begin()),
            "matrices differ from the profile's");

    const uint8_t* pic = h + 148;
    const uint8_t* const frameEnd = f.data() + f.size();
    const uint8_t* scan = e.interlaceMode ? proResInterlacedScan : proResProgressiveScan;
    const int mbWidth = (e.width + 15) / 16;
    // A field's macroblock rows cover half the frame's rows, rounded up.
    const int mbHeight = e.interlaceMode ? (e.height + 31) / 32 : (e.height + 15) / 16;
    int64_t alphaBytes = 0, headers = 8 + 148;
    for (int picture = 0; picture < (e.interlaceMode ? 2 : 1); ++picture) {
        require(frameEnd - pic >= 8 && pic[0] == 8 << 3, "picture header size");
        require(be32(pic + 1) <= size_t(frameEnd - pic), "picture size field");
        const uint8_t* end = pic + be32(pic + 1);
        const int log2Width = pic[7] >> 4, slices = int(be16(pic + 5));
        require(log2Width <= 3 && (pic[7] & 0xF) == 0, "slice size");
        const int perRow =
            (mbWidth >> log2Width) + std::popcount(unsigned(mbWidth & ((1 << log2Width) - 1)));
        require(slices == mbHeight * perRow, "slice count");
        require(pic + 8 + 2 * size_t(slices) <= end, "slice table past the picture");
        headers += 8 + 2 * slices;
        const uint8_t* table = pic + 8;
        const uint8_t* data = table + 2 * slices;
        int mbX = 0;
        for (int i = 0; i < slices; ++i) {
            int mbs = 1 << log2Width;
            while (mbWidth - mbX < mbs)
                mbs >>= 1;
            mbX = (mbX + mbs) % mbWidth;
            const size_t size = be16(table + 2 * i);
            require(size_t(end - data) >= size && size >= 6, "slice size disagrees with the data");
            const uint32_t hs = data[0] >> 3;
            require((data[0] & 7) == 0 && hs == (e.alpha ? 8u : 6u), "slice header size");
            const int code = data[1];
            require(code >= 1 && code <= 224, "quantiser out of range");
            const size_t y = be16(data + 2), u = be16(data + 4);
            const size_t v = e.alpha ? be16(data + 6) : size - hs - y - u;
            require(hs + y + u <= size && (!e.alpha || hs + y + u + v < size),
                    "plane sizes disagree with the slice size");
            const int qscale = proResQuantiserValue(code);
            const int chromaBlocks = mbs * (info.chroma444 ? 4 : 2);
            const uint8_t* p = data + hs;
            checkPlane(p, y, mbs * 4, luma, qscale, scan);
            checkPlane(p + y, u, chromaBlocks, chroma, qscale, scan);
            checkPlane(p + y + u, v, chromaBlocks, chroma, qscale, scan);
            // Alpha is checked by decoding it: it must come back exact.
            alphaBytes += int64_t(size - hs - y - u - v);
            data += size;
        }
        require(data == end, "slices do not fill the picture");
        pic = end;
    }
    require(pic == frameEnd, "pictures do not fill the frame");
    // Alpha is lossless, so the cap leaves it out.
    require(int64_t(f.size()) <=
                proResFrameCap(e.profile, e.width, e.height) + headers + alphaBytes,
            "frame over the profile's maximum size");
    return {"", alphaBytes};
}

} // namespace

ProResCheck checkProResFrame(std::span<const uint8_t> frame, const ProResExpectation& expected)
{
    try {
        return check(frame, expected);
    } catch (const std::runtime_error& failure) {
        return {failure.what()};
    }
}

} // namespace corvel::test
