#include "CorvelEncoder/engine/prores/ProResFrameWriter.h"

#include "CorvelEncoder/engine/prores/ProResDct.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace corvel {

namespace {

constexpr int sliceMbLog2 = 3;
constexpr size_t frameHeaderSize = 148; // 20 bytes of fields and both matrices
constexpr size_t pictureHeaderSize = 8;
constexpr size_t maxSliceBytes = 0xFFFF;

void putBe16(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}

void putBe32(uint8_t* p, uint32_t v)
{
    putBe16(p, v >> 16);
    putBe16(p + 2, v & 0xFFFF);
}

// The 8x8 block at (x, y) of a plane (samples beyond the picture repeat the edge), stored as
// block `index` of `blocks` interleaved by scan position.
void dctBlock(const uint16_t* plane, ptrdiff_t stride, int width, int height, int x, int y,
              const uint8_t* scan, int16_t* out, int index, int blocks)
{
    if (x + 8 <= width && y + 8 <= height) {
        proResForwardDct(plane + y * stride + x, stride, scan, out + index, blocks);
    } else {
        uint16_t block[64];
        for (int r = 0; r < 8; ++r) {
            const uint16_t* row = plane + std::min(y + r, height - 1) * stride;
            for (int c = 0; c < 8; ++c)
                block[r * 8 + c] = row[std::min(x + c, width - 1)];
        }
        proResForwardDct(block, 8, scan, out + index, blocks);
    }
}

// Blocks `index` and `index + 1`, at (x, y) and (x + dx, y + dy), as dctBlock() stores them.
void dctPair(const uint16_t* plane, ptrdiff_t stride, int width, int height, int x, int y, int dx,
             int dy, const uint8_t* scan, int16_t* out, int index, int blocks)
{
    if (x + dx + 8 <= width && y + dy + 8 <= height) {
        proResForwardDctPair(plane + y * stride + x, plane + (y + dy) * stride + x + dx, stride,
                             scan, out + index, blocks);
    } else {
        dctBlock(plane, stride, width, height, x, y, scan, out, index, blocks);
        dctBlock(plane, stride, width, height, x + dx, y + dy, scan, out, index + 1, blocks);
    }
}

// The frame rate codes the frame header knows; 0 says "not given".
uint8_t frameRateCode(double fps)
{
    static const double rates[] = {24000.0 / 1001, 24, 25,  30000.0 / 1001,  30, 50,
                                   60000.0 / 1001, 60, 100, 120000.0 / 1001, 120};
    for (int i = 0; i < 11; ++i) {
        if (std::abs(rates[i] - fps) < 0.01)
            return uint8_t(i + 1);
    }
    return 0;
}

int64_t frameBudget(const ProResFrameSettings& s)
{
    return s.budgetBytes > 0 ? s.budgetBytes : proResFrameBudget(s.profile, s.width, s.height);
}

} // namespace

ProResFrameWriter::ProResFrameWriter(const ProResFrameSettings& s)
    : m_settings(s), m_rate(frameBudget(s), proResProfileInfo(s.profile).minQuantiser,
                            proResProfileInfo(s.profile).minQuantiser + 2)
{
    const ProResProfileInfo& info = proResProfileInfo(s.profile);
    m_settings.interlaced = s.interlaced && s.height >= 2;
    m_pictures = m_settings.interlaced ? 2 : 1;
    m_scan = m_settings.interlaced ? proResInterlacedScan : proResProgressiveScan;
    uint8_t luma[64], chroma[64];
    for (int i = 0; i < 64; ++i) {
        luma[i] = info.lumaMatrix[m_scan[i]];
        chroma[i] = info.chromaMatrix[m_scan[i]];
    }
    m_quantisers = std::make_unique<ProResQuantiserTable>(luma, chroma, info.minQuantiser);
    m_settings.alpha = s.alpha && info.chroma444;
    m_chromaBlocksPerMb = info.chroma444 ? 4 : 2;
    const int64_t budget = frameBudget(s);
    m_cap = budget + budget / 2;

    const int mbWidth = (s.width + 15) / 16;
    // Both fields have the macroblock rows the taller (top) one needs.
    const int mbHeight = m_settings.interlaced ? (s.height + 31) / 32 : (s.height + 15) / 16;
    size_t coeffs = 0;
    const int blocksPerMb = 4 + 2 * m_chromaBlocksPerMb;
    for (int picture = 0; picture < m_pictures; ++picture) {
        m_secondField = m_slices.size();
        for (int y = 0; y < mbHeight; ++y) {
            int x = 0;
            for (int count = 1 << sliceMbLog2; x < mbWidth;) {
                while (mbWidth - x < count)
                    count >>= 1;
                m_slices.push_back({x, y, count, picture, coeffs});
                coeffs += size_t(count) * blocksPerMb * 64;
                x += count;
            }
        }
    }
    const size_t n = m_slices.size();
    m_coeffs.resize(coeffs / 32);
    m_states.resize(n);
    m_lowBits.resize(n);
    m_highBits.resize(n);
    m_codes.resize(n);
    const size_t overhead = 8 + frameHeaderSize + pictureHeaderSize * m_pictures + 2 * n;
    // Alpha is lossless, so its size is outside the cap: up to 18 bits a sample plus a run.
    const size_t alphaRoom =
        m_settings.alpha ? n * 8 + size_t(mbWidth) * mbHeight * m_pictures * 256 * 18 / 8 + n * 4
                         : 0;
    // Slices of DC alone at the coarsest quantiser: a few bits a block, whatever the picture.
    const size_t dcOnlyRoom = n * 16 + coeffs / 64 * 4;
    m_maxFrameBytes = overhead + std::max(size_t(m_cap), dcOnlyRoom) + alphaRoom;
    m_pool = std::make_unique<ProResThreadPool>(std::max(1, s.threads));
    m_alphaRows.assign(size_t(m_pool->workers()), std::vector<uint16_t>(16 * 128));
    m_scratch.assign(size_t(m_pool->workers()), std::vector<uint8_t>(maxSliceBytes));
    m_tiles.resize(size_t(m_pool->workers()));
    m_sliceData.resize(n);
}

ProResFrameWriter::Rows ProResFrameWriter::rows(int picture) const
{
    if (!m_settings.interlaced)
        return {0, 1, m_settings.height};
    // The top field holds the even rows.
    const int first = (picture == 0) == m_settings.topFieldFirst ? 0 : 1;
    return {first, 2, (m_settings.height - first + 1) / 2};
}

void ProResFrameWriter::transform(const ProResPlanes& frame, const Slice& slice, int worker,
                                  int16_t* coeffs) const
{
    const Rows r = rows(slice.picture);
    const uint16_t* data[3];
    ptrdiff_t stride[3];
    int w = m_settings.width;
    int h = r.count;
    int x0 = slice.mbX * 16;
    int y0 = slice.mbY * 16;
    if (frame.source == ProResSource::native) {
        for (int i = 0; i < 3; ++i) {
            data[i] =
                reinterpret_cast<const uint16_t*>(frame.data[i] + r.first * frame.linesize[i]);
            stride[i] = frame.linesize[i] / 2 * r.step;
        }
    } else {
        // 4:2:0 comes in progressive only: the slice's rows, converted, are the plane.
        ProResSourceTile& tile = m_tiles[size_t(worker)];
        fillProResSourceTile(frame.source, frame.data, frame.linesize, w, h, x0, y0, slice.mbCount,
                             tile);
        data[0] = tile.luma;
        data[1] = tile.chroma[0];
        data[2] = tile.chroma[1];
        stride[0] = tile.lumaStride;
        stride[1] = stride[2] = tile.lumaStride / 2;
        w = tile.lumaStride;
        h = 16;
        x0 = y0 = 0;
    }
    const bool c444 = m_chromaBlocksPerMb == 4;
    const int cw = c444 ? w : (w + 1) / 2;
    // Luma: four blocks per macroblock, left to right then top to bottom.
    const int lumaBlocks = slice.mbCount * 4;
    for (int m = 0; m < slice.mbCount; ++m) {
        const int x = x0 + m * 16;
        for (int b = 0; b < 4; b += 2)
            dctPair(data[0], stride[0], w, h, x, y0 + (b >> 1) * 8, 8, 0, m_scan, coeffs, m * 4 + b,
                    lumaBlocks);
    }
    coeffs += lumaBlocks * 64;
    // Chroma: top to bottom, then left to right.
    const int cmb = c444 ? 16 : 8;
    const int chromaBlocks = slice.mbCount * m_chromaBlocksPerMb;
    for (int c = 1; c <= 2; ++c, coeffs += chromaBlocks * 64) {
        for (int m = 0; m < slice.mbCount; ++m) {
            const int x = (x0 / 16 + m) * cmb;
            for (int b = 0; b < m_chromaBlocksPerMb; b += 2)
                dctPair(data[c], stride[c], cw, h, x + (b >> 1) * 8, y0, 0, 8, m_scan, coeffs,
                        m * m_chromaBlocksPerMb + b, chromaBlocks);
        }
    }
}

const uint16_t* ProResFrameWriter::gatherAlpha(const ProResPlanes& p, const Slice& slice,
                                               int worker) const
{
    if (!m_settings.alpha)
        return nullptr;
    uint16_t* out = m_alphaRows[size_t(worker)].data();
    const int width = slice.mbCount * 16;
    const Rows picture = rows(slice.picture);
    for (int r = 0; r < 16; ++r) {
        const int y =
            picture.first + std::min(slice.mbY * 16 + r, picture.count - 1) * picture.step;
        const auto* src = reinterpret_cast<const uint16_t*>(p.data[3] + y * p.linesize[3]);
        for (int c = 0; c < width; ++c)
            out[r * width + c] = src[std::min(slice.mbX * 16 + c, m_settings.width - 1)];
    }
    return out;
}

ProResSliceInput ProResFrameWriter::input(const Slice& slice, const uint16_t* alpha) const
{
    ProResSliceInput in;
    in.mbCount = slice.mbCount;
    const int16_t* c = m_coeffs.data()->values + slice.coeffOffset;
    in.blocks[0] = slice.mbCount * 4;
    in.blocks[1] = in.blocks[2] = slice.mbCount * m_chromaBlocksPerMb;
    in.coeffs[0] = c;
    in.coeffs[1] = c + in.blocks[0] * 64;
    in.coeffs[2] = in.coeffs[1] + in.blocks[1] * 64;
    in.alphaPlane = m_settings.alpha;
    in.alpha = alpha;
    return in;
}

void ProResFrameWriter::prepare(const ProResPlanes& planes, size_t i, int worker)
{
    const Slice& slice = m_slices[i];
    SliceState& state = m_states[i];
    transform(planes, slice, worker, m_coeffs.data()->values + slice.coeffOffset);
    // Alpha is lossless: its size does not depend on the quantiser.
    state.alphaBytes = 0;
    if (m_settings.alpha) {
        uint8_t* scratch = m_scratch[size_t(worker)].data();
        state.alphaBytes = ProResSliceWriter::alphaBytes(
            input(slice, gatherAlpha(planes, slice, worker)), scratch, scratch + maxSliceBytes);
    }
}

int64_t ProResFrameWriter::overhead() const
{
    // Headers and the tables; the slices' counts include their own headers and padding.
    // Alpha is lossless and comes on top of the profile's rate, as the cap does.
    return int64_t(8 + frameHeaderSize + pictureHeaderSize * m_pictures + 2 * m_slices.size());
}

const std::vector<int64_t>& ProResFrameWriter::colourBits()
{
    for (size_t i = 0; i < m_slices.size(); ++i)
        m_lowBits[i] = int64_t(m_states[i].size - m_states[i].alphaBytes) * 8;
    return m_lowBits;
}

void ProResFrameWriter::chooseQuantisers()
{
    const size_t n = m_slices.size();
    m_rate.beginFrame();
    for (int attempt = 0;; ++attempt) {
        const int low = m_rate.lowTrial();
        const int high = m_rate.highTrial();
        m_pool->run(int(n), [&](int i, int) {
            const ProResSliceInput in = input(m_slices[size_t(i)], nullptr);
            // A slice that cannot be coded at a quantiser counts as the largest there is.
            const auto bits = [](size_t bytes) {
                return int64_t(bytes ? bytes : maxSliceBytes) * 8;
            };
            m_lowBits[size_t(i)] = bits(ProResSliceWriter::size(in, *m_quantisers, low));
            m_highBits[size_t(i)] = bits(ProResSliceWriter::size(in, *m_quantisers, high));
        });
        if (m_rate.choose(m_lowBits, m_highBits, overhead(), attempt == 5, m_codes))
            return;
    }
}

void ProResFrameWriter::code(const ProResPlanes& planes, size_t i, int worker, bool dcOnly)
{
    const int floor = proResProfileInfo(m_settings.profile).minQuantiser;
    const Slice& slice = m_slices[i];
    SliceState& state = m_states[i];
    const ProResSliceInput in = input(slice, gatherAlpha(planes, slice, worker));
    uint8_t* scratch = m_scratch[size_t(worker)].data();
    const auto write = [&](int code, bool dc) {
        return ProResSliceWriter::write(in, *m_quantisers, code, dc, scratch,
                                        scratch + maxSliceBytes);
    };
    int code = dcOnly ? 224 : m_codes[i];
    // Flat areas come back exact up to quantiser 8 (finer ones round back to the level); the
    // proxy floor lies above, so its flat slices take 8.
    if (!dcOnly && floor > 8 && code == floor &&
        ProResSliceWriter::onlyDc(in, *m_quantisers, floor))
        code = 8;
    size_t size = write(code, dcOnly);
    // A slice whose values need codes longer than decoders take, or too long for the slice
    // table, goes coarser.
    while (size == 0 && code < 224)
        size = write(++code, false);
    // Still nothing codable: DC alone, at the coarsest quantiser, where its codes are short.
    if (size == 0)
        size = write(code = 224, true);
    state.code = uint8_t(code);
    state.size = size;
    m_sliceData[i].assign(scratch, scratch + size);
}

void ProResFrameWriter::codeAll(const ProResPlanes& planes, bool dcOnly, const uint8_t* previous)
{
    m_pool->run(int(m_slices.size()), [&](int i, int worker) {
        // Slices whose code the rate control left alone keep what they have.
        if (!previous || previous[i] != m_codes[size_t(i)])
            code(planes, size_t(i), worker, dcOnly);
    });
}

size_t ProResFrameWriter::encode(const ProResPlanes& planes, uint8_t* out)
{
    const int n = int(m_slices.size());
    // The first frame, and a new scene, count bits at trial quantisers; other frames start
    // from the codes the last frame ended on, each slice coded while its coefficients are
    // still in the cache, and only the slices the rate control moves are coded again.
    if (!m_started) {
        m_pool->run(n, [&](int i, int worker) { prepare(planes, size_t(i), worker); });
        chooseQuantisers();
        codeAll(planes, false, nullptr);
        m_started = true;
    } else {
        m_pool->run(n, [&](int i, int worker) {
            prepare(planes, size_t(i), worker);
            code(planes, size_t(i), worker, false);
        });
        if (m_rate.lost(colourBits(), overhead(), m_codes)) {
            chooseQuantisers();
            codeAll(planes, false, nullptr);
        }
    }
    m_alphaBytes = 0;
    for (const SliceState& state : m_states)
        m_alphaBytes += state.alphaBytes;
    for (int pass = 0; pass < 4; ++pass) {
        m_previousCodes = m_codes;
        if (!m_rate.refine(colourBits(), overhead(), m_codes))
            break;
        codeAll(planes, false, m_previousCodes.data());
    }
    // Over the cap (a sudden change the rate control missed): everything a step coarser,
    // until the coarsest quantiser; where even that does not fit (noise beyond any budget),
    // the slices keep only their DC, which always fits.
    const size_t limit = size_t(m_cap) + m_alphaBytes;
    const auto total = [&] {
        size_t sum = 0;
        for (const SliceState& state : m_states)
            sum += state.size;
        return sum;
    };
    while (total() > limit) {
        if (std::all_of(m_states.begin(), m_states.end(),
                        [](const SliceState& s) { return s.code == 224; })) {
            codeAll(planes, true, nullptr);
            break;
        }
        for (size_t i = 0; i < m_codes.size(); ++i)
            m_codes[i] = uint8_t(std::min(224, m_states[i].code + 1 + m_states[i].code / 8));
        codeAll(planes, false, nullptr);
    }
    return assemble(out);
}

size_t ProResFrameWriter::assemble(uint8_t* out)
{
    const ProResProfileInfo& info = proResProfileInfo(m_settings.profile);
    uint8_t* h = out + 8;
    std::memset(h, 0, frameHeaderSize);
    putBe16(h, frameHeaderSize);
    putBe16(h + 2, m_settings.alpha || info.chroma444 ? 1 : 0);
    std::memcpy(h + 4, "apl0", 4);
    putBe16(h + 8, uint32_t(m_settings.width));
    putBe16(h + 10, uint32_t(m_settings.height));
    const int interlaceMode = m_settings.interlaced ? (m_settings.topFieldFirst ? 1 : 2) : 0;
    h[12] = uint8_t((info.chroma444 ? 3 : 2) << 6 | interlaceMode << 2);
    h[13] = frameRateCode(m_settings.fps); // aspect ratio not given
    h[14] = m_settings.primaries;
    h[15] = m_settings.transfer;
    h[16] = m_settings.matrix;
    h[17] = m_settings.alpha ? 2 : 0; // 16-bit alpha
    h[19] = 3;                        // both matrices follow
    std::memcpy(h + 20, info.lumaMatrix.data(), 64);
    std::memcpy(h + 84, info.chromaMatrix.data(), 64);

    // The headers and tables from the slices' final sizes, so each slice can then be copied
    // straight to its place in the frame.
    uint8_t* pic = h + frameHeaderSize;
    for (int picture = 0; picture < m_pictures; ++picture) {
        const size_t first = picture == 0 ? 0 : m_secondField;
        const size_t n = (picture + 1 == m_pictures ? m_slices.size() : m_secondField) - first;
        uint8_t* table = pic + pictureHeaderSize;
        size_t offset = size_t(table - out) + 2 * n;
        for (size_t i = 0; i < n; ++i) {
            SliceState& s = m_states[first + i];
            putBe16(table + 2 * i, uint32_t(s.size));
            s.offset = offset;
            offset += s.size;
        }
        pic[0] = uint8_t(pictureHeaderSize << 3);
        putBe32(pic + 1, uint32_t(out + offset - pic));
        putBe16(pic + 5, uint32_t(n));
        pic[7] = uint8_t(sliceMbLog2 << 4);
        pic = out + offset;
    }
    for (size_t i = 0; i < m_slices.size(); ++i)
        std::memcpy(out + m_states[i].offset, m_sliceData[i].data(), m_states[i].size);

    const size_t total = size_t(pic - out);
    putBe32(out, uint32_t(total));
    std::memcpy(out + 4, "icpf", 4);
    return total;
}

} // namespace corvel
