#pragma once

#include "CorvelEncoder/engine/prores/ProResProfile.h"
#include "CorvelEncoder/engine/prores/ProResRateControl.h"
#include "CorvelEncoder/engine/prores/ProResSliceWriter.h"
#include "CorvelEncoder/engine/prores/ProResSourceTile.h"
#include "CorvelEncoder/engine/prores/ProResThreadPool.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace corvel {

struct ProResFrameSettings
{
    ProResProfile profile = ProResProfile::hq;
    int width = 0;
    int height = 0;
    double fps = 25;
    bool alpha = false; // 4444 only
    // Fields coded as two pictures, the first in time first.
    bool interlaced = false;
    bool topFieldFirst = true;
    // ISO/IEC 23091-2 code points, as FFmpeg numbers them.
    uint8_t primaries = 2;
    uint8_t transfer = 2;
    uint8_t matrix = 2;
    int threads = 1;
    // Bytes a frame aims at; 0: the profile's rate for this size.
    int64_t budgetBytes = 0;
};

// Planes Y, Cb, Cr and alpha as `source` says (4:2:0 only for 4:2:2 profiles, progressive);
// strides in bytes, as FFmpeg's frames have them.
struct ProResPlanes
{
    const uint8_t* data[4] = {};
    ptrdiff_t linesize[4] = {};
    ProResSource source = ProResSource::native;
};

// Codes whole frames: frame header, then per picture (the frame, or each of its two fields)
// a picture header, slice table and slices of eight macroblocks coded in parallel. All
// buffers are made once, when constructed. Used by one thread at a time.
class ProResFrameWriter final
{
public:
    explicit ProResFrameWriter(const ProResFrameSettings& settings);

    // Bytes encode() may write: the profile's per-frame cap, the headers and room for alpha.
    size_t maxFrameBytes() const { return m_maxFrameBytes; }
    // Writes one frame into `out` (maxFrameBytes() long); returns its size.
    size_t encode(const ProResPlanes& planes, uint8_t* out);

private:
    // Where a slice lies; fixed when constructed.
    struct Slice
    {
        int mbX = 0;
        int mbY = 0;
        int mbCount = 0;
        int picture = 0; // 1: the second field
        size_t coeffOffset = 0;
    };
    // What one frame's passes find out about a slice, a cache line each, so that threads
    // working on neighbouring slices never write the same line.
    struct alignas(64) SliceState
    {
        size_t alphaBytes = 0;
        size_t size = 0;   // in the frame, alpha included
        size_t offset = 0; // from the frame's start
        uint8_t code = 0;
    };
    // 64 coefficients on a cache line of their own.
    struct alignas(64) CoeffLine
    {
        int16_t values[32];
    };

    // The rows a picture codes: every row, or every other one from its field's first.
    struct Rows
    {
        int first = 0;
        int step = 1;
        int count = 0;
    };
    Rows rows(int picture) const;
    void transform(const ProResPlanes& planes, const Slice& slice, int worker,
                   int16_t* coeffs) const;
    const uint16_t* gatherAlpha(const ProResPlanes& planes, const Slice& slice, int worker) const;
    ProResSliceInput input(const Slice& slice, const uint16_t* alpha) const;
    // Transforms slice i and counts its alpha.
    void prepare(const ProResPlanes& planes, size_t i, int worker);
    int64_t overhead() const;
    // Each slice's coded bits but its alpha, as the rate control counts them (in m_lowBits).
    const std::vector<int64_t>& colourBits();
    // The first frame's codes, from exact counts at trial quantisers.
    void chooseQuantisers();
    // Codes slice i at its code (or only its DC at the coarsest quantiser for `dcOnly`) into
    // its own buffer.
    void code(const ProResPlanes& planes, size_t i, int worker, bool dcOnly);
    // code() on every slice; with `previous`, only on those whose code differs from it.
    void codeAll(const ProResPlanes& planes, bool dcOnly, const uint8_t* previous);
    size_t assemble(uint8_t* out);

    ProResFrameSettings m_settings;
    std::unique_ptr<ProResQuantiserTable> m_quantisers;
    const uint8_t* m_scan = nullptr;
    int m_pictures = 1;
    size_t m_secondField = 0; // index of the second field's first slice
    int m_chromaBlocksPerMb = 2;
    int64_t m_cap = 0;
    size_t m_maxFrameBytes = 0;
    size_t m_alphaBytes = 0; // this frame's
    std::vector<Slice> m_slices;
    std::vector<SliceState> m_states;
    std::vector<CoeffLine> m_coeffs;
    std::vector<int64_t> m_lowBits;
    std::vector<int64_t> m_highBits;
    std::vector<uint8_t> m_codes; // the rate control's, kept from frame to frame
    std::vector<uint8_t> m_previousCodes;
    bool m_started = false;
    std::vector<std::vector<uint8_t>> m_sliceData;          // each slice as coded
    std::vector<std::vector<uint8_t>> m_scratch;            // per worker: one slice's room
    mutable std::vector<std::vector<uint16_t>> m_alphaRows; // per worker: one slice's alpha
    mutable std::vector<ProResSourceTile> m_tiles;          // per worker: a 4:2:0 slice converted
    ProResRateControl m_rate;
    std::unique_ptr<ProResThreadPool> m_pool;
};

} // namespace corvel
