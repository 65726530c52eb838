#pragma once

#include "CorvelEncoder/engine/InspectMedia.h"
#include "CorvelEncoderCore/Records.h"

#include <QString>

#include <optional>

struct AVStream;

namespace corvel {

enum class Transfer
{
    sdr,
    hlg,
    pq
};

// The transfer a colour tag names ("arib-std-b67" is HLG, "smpte2084" PQ).
Transfer transferOf(const std::optional<QString>& tag);

// How the source's picture reaches one output codec: sample depth, colour tags, whether HDR
// becomes SDR, and which HDR metadata travels with it.
struct VideoRendering
{
    int bitDepth = 8;     // of the encoder's pixel format
    ColorTags source;     // the source's tags, which the picture is read with
    ColorTags color;      // what the output is tagged: always what its pixels are
    bool toneMap = false; // HDR converted to BT.709 SDR
    Transfer from = Transfer::sdr;
    std::optional<MasteringDisplay> mastering;
    std::optional<ContentLight> contentLight;

    friend bool operator==(const VideoRendering&, const VideoRendering&) = default;
};

// Decides the rendering for `codec` from the source's tags (primaries, transfer and matrix
// all present), its depth and metadata. ProRes keeps everything at 10 bits; HEVC keeps HDR
// and deep sources as Main10; 8-bit outputs (H.264, HEVC with alpha) take HDR to SDR. An SDR
// source's tags never change. A Dolby Vision record is never carried: no output has its layer.
VideoRendering videoRendering(Codec codec, const ColorTags& source, int sourceBitDepth,
                              const HdrMetadata& hdr);

// The filters that turn a `from` picture tagged `source` into limited-range BT.709 SDR in
// `pixelFormat`: linear light, BT.709 primaries, the Hable curve, then the BT.709 transfer.
QString toneMapChain(Transfer from, const ColorTags& source, const char* pixelFormat);

// x265's text for the mastering display ("G(x,y)B(x,y)R(x,y)WP(x,y)L(max,min)") and the
// content light level ("1000,400").
QString x265MasterDisplay(const MasteringDisplay& display);
QString x265MaxCll(const ContentLight& light);

// Puts the mastering display and content light level `rendering` carries on `stream` as side
// data. False when memory ran out.
bool attachHdrMetadata(AVStream* stream, const VideoRendering& rendering);

// What the source line shows for these facts.
DynamicRange dynamicRangeOf(const ColorTags& color, const HdrMetadata& hdr);

} // namespace corvel
