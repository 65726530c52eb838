#include "CorvelEncoder/engine/VideoRendering.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/mastering_display_metadata.h>
}

#include <cstring>

namespace corvel {

namespace {

bool isProResCodec(Codec codec)
{
    return codec == Codec::proRes422Proxy || codec == Codec::proRes422LT ||
           codec == Codec::proRes422 || codec == Codec::proRes422HQ || codec == Codec::proRes4444;
}

} // namespace

Transfer transferOf(const std::optional<QString>& tag)
{
    if (tag == QStringLiteral("arib-std-b67"))
        return Transfer::hlg;
    if (tag == QStringLiteral("smpte2084"))
        return Transfer::pq;
    return Transfer::sdr;
}

VideoRendering videoRendering(Codec codec, const ColorTags& source, int sourceBitDepth,
                              const HdrMetadata& hdr)
{
    VideoRendering r;
    r.source = source;
    r.color = source;
    r.from = transferOf(source.transfer);
    const bool hdrSource = r.from != Transfer::sdr;
    const bool keepsDepth = isProResCodec(codec) || codec == Codec::hevc;
    if (isProResCodec(codec))
        r.bitDepth = 10;
    else if (codec == Codec::hevc)
        r.bitDepth = hdrSource || sourceBitDepth > 8 ? 10 : 8;
    if (hdrSource && !keepsDepth) {
        // Eight bits cannot hold HDR without banding, and players show PQ or HLG code values
        // tagged as such on an SDR screen washed out: the picture itself becomes SDR.
        r.toneMap = true;
        r.color = {QStringLiteral("bt709"), QStringLiteral("bt709"), QStringLiteral("bt709")};
        return r;
    }
    if (hdrSource) {
        r.mastering = hdr.mastering;
        r.contentLight = hdr.contentLight;
    }
    return r;
}

QString toneMapChain(Transfer from, const ColorTags& source, const char* pixelFormat)
{
    // The source's own tags are given rather than read from each frame, so a picture tagged
    // only in its container converts the same. HLG is display-referred at 1000 cd/m², ten
    // times the SDR white the linear values are scaled to; PQ's peak comes from the frame's
    // mastering metadata when it has any.
    const QString in = QStringLiteral("tin=%1:pin=%2:min=%3:rin=tv")
                           .arg(from == Transfer::hlg ? "arib-std-b67" : "smpte2084",
                                source.primaries.value_or(QStringLiteral("bt2020")),
                                source.matrix.value_or(QStringLiteral("bt2020nc")));
    return QStringLiteral("zscale=%1:t=linear:npl=100,format=gbrpf32le,zscale=p=bt709,"
                          "tonemap=hable:desat=0%2,zscale=t=bt709:m=bt709:r=tv,format=%3")
        .arg(in, from == Transfer::hlg ? QStringLiteral(":peak=10") : QString(),
             QLatin1StringView(pixelFormat));
}

QString x265MasterDisplay(const MasteringDisplay& d)
{
    return QStringLiteral("G(%1,%2)B(%3,%4)R(%5,%6)WP(%7,%8)L(%9,%10)")
        .arg(d.green[0])
        .arg(d.green[1])
        .arg(d.blue[0])
        .arg(d.blue[1])
        .arg(d.red[0])
        .arg(d.red[1])
        .arg(d.white[0])
        .arg(d.white[1])
        .arg(d.maxLuminance)
        .arg(d.minLuminance);
}

QString x265MaxCll(const ContentLight& light)
{
    return QStringLiteral("%1,%2").arg(light.maxCLL).arg(light.maxFALL);
}

bool attachHdrMetadata(AVStream* stream, const VideoRendering& rendering)
{
    if (const auto& d = rendering.mastering) {
        auto* m = reinterpret_cast<AVMasteringDisplayMetadata*>(av_stream_new_side_data(
            stream, AV_PKT_DATA_MASTERING_DISPLAY_METADATA, sizeof(AVMasteringDisplayMetadata)));
        if (!m)
            return false;
        std::memset(m, 0, sizeof *m);
        const int* primaries[3] = {d->red, d->green, d->blue};
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 2; ++j)
                m->display_primaries[i][j] = {primaries[i][j], 50000};
        }
        m->white_point[0] = {d->white[0], 50000};
        m->white_point[1] = {d->white[1], 50000};
        m->max_luminance = {static_cast<int>(d->maxLuminance), 10000};
        m->min_luminance = {static_cast<int>(d->minLuminance), 10000};
        m->has_primaries = m->has_luminance = 1;
    }
    if (const auto& c = rendering.contentLight) {
        auto* l = reinterpret_cast<AVContentLightMetadata*>(av_stream_new_side_data(
            stream, AV_PKT_DATA_CONTENT_LIGHT_LEVEL, sizeof(AVContentLightMetadata)));
        if (!l)
            return false;
        l->MaxCLL = static_cast<unsigned>(c->maxCLL);
        l->MaxFALL = static_cast<unsigned>(c->maxFALL);
    }
    return true;
}

DynamicRange dynamicRangeOf(const ColorTags& color, const HdrMetadata& hdr)
{
    if (hdr.dolbyVision)
        return DynamicRange::dolbyVision;
    switch (transferOf(color.transfer)) {
    case Transfer::hlg:
        return DynamicRange::hlg;
    case Transfer::pq:
        return hdr.mastering || hdr.contentLight ? DynamicRange::hdr10 : DynamicRange::pq;
    case Transfer::sdr:
        break;
    }
    return DynamicRange::sdr;
}

} // namespace corvel
