#include "CorvelEncoder/engine/EncoderChoice.h"

#include "CorvelEncoder/engine/AsyncFrameEncoder.h"
#include "CorvelEncoder/engine/CpuBudget.h"
#include "CorvelEncoder/engine/FFmpegHandles.h"
#include "CorvelEncoder/engine/prores/ProResEncoder.h"

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string_view>

namespace corvel {

namespace {

// Our own ProRes encoder unless CORVEL_PRORES_ENCODER=ffmpeg asks for prores_ks.
bool useOwnProRes()
{
    const char* choice = std::getenv("CORVEL_PRORES_ENCODER");
    return !choice || std::strcmp(choice, "ffmpeg") != 0;
}

// Y'CbCr with an alpha plane. Packed RGBA inputs do not count: encoders such as NVENC take
// them but convert to 4:2:0 and drop the alpha.
bool isYuvWithAlpha(AVPixelFormat format)
{
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    return desc && (desc->flags & AV_PIX_FMT_FLAG_ALPHA) && !(desc->flags & AV_PIX_FMT_FLAG_RGB) &&
           desc->nb_components == 4;
}

// The first alpha format an HEVC encoder takes, with that encoder.
std::pair<const AVCodec*, AVPixelFormat> hevcAlphaEncoder()
{
    void* it = nullptr;
    while (const AVCodec* codec = av_codec_iterate(&it)) {
        if (codec->id != AV_CODEC_ID_HEVC || !av_codec_is_encoder(codec) || !codec->pix_fmts)
            continue;
        for (const AVPixelFormat* f = codec->pix_fmts; *f != AV_PIX_FMT_NONE; ++f) {
            if (isYuvWithAlpha(*f))
                return {codec, *f};
        }
    }
    return {nullptr, AV_PIX_FMT_NONE};
}

template <class E>
void setColor(E& target, int value)
{
    if (value >= 0)
        target = static_cast<E>(value);
}

} // namespace

bool hevcAlphaEncoderAvailable()
{
    return hevcAlphaEncoder().first != nullptr;
}

std::expected<std::unique_ptr<VideoEncoder>, QString>
FFmpegEncoderChoice::open(const VideoSettings& s, bool globalHeader)
{
    const std::optional<ProResProfile> prores = proResProfile(s.codec);
    const AVCodec* codec = nullptr;
    AVPixelFormat format = AV_PIX_FMT_YUV420P;
    if (s.codec == Codec::hevcWithAlpha) {
        std::tie(codec, format) = hevcAlphaEncoder();
        if (!codec)
            return std::unexpected(hevcAlphaMissingText());
    } else if (prores) {
        codec = avcodec_find_encoder_by_name("prores_ks");
        format = s.codec != Codec::proRes4444 ? AV_PIX_FMT_YUV422P10LE
                 : s.sourceHasAlpha           ? AV_PIX_FMT_YUVA444P10LE
                                              : AV_PIX_FMT_YUV444P10LE;
    } else if (s.codec == Codec::h264) {
        codec = avcodec_find_encoder_by_name(s.hardware ? "h264_nvenc" : "libx264");
    } else {
        codec = avcodec_find_encoder_by_name(s.hardware ? "hevc_nvenc" : "libx265");
        if (s.bitDepth > 8) // Main10
            format = s.hardware ? AV_PIX_FMT_P010LE : AV_PIX_FMT_YUV420P10LE;
    }
    if (!codec)
        return std::unexpected(QStringLiteral("Could not start the encoder."));
    // x265 refuses anything smaller with no reason the user could act on.
    if (codec->id == AV_CODEC_ID_HEVC && (s.width < 16 || s.height < 16))
        return std::unexpected(QStringLiteral("HEVC needs at least 16×16 pixels."));

    ff::CodecContextPtr ctx(avcodec_alloc_context3(codec));
    if (!ctx)
        return std::unexpected(QStringLiteral("Could not start the encoder."));
    ctx->width = s.width;
    ctx->height = s.height;
    ctx->pix_fmt = format;
    ctx->sample_aspect_ratio = {1, 1};
    ctx->time_base = {static_cast<int>(s.frameDuration.value), s.frameDuration.timescale};
    ctx->framerate = av_inv_q(ctx->time_base);
    ctx->color_range = AVCOL_RANGE_MPEG;
    if (s.color.primaries)
        setColor(ctx->color_primaries,
                 av_color_primaries_from_name(s.color.primaries->toLatin1().constData()));
    if (s.color.transfer)
        setColor(ctx->color_trc,
                 av_color_transfer_from_name(s.color.transfer->toLatin1().constData()));
    if (s.color.matrix)
        setColor(ctx->colorspace, av_color_space_from_name(s.color.matrix->toLatin1().constData()));
    // x264's and FFmpeg's own encoders read this. x264 keeps its cores busy with half as many
    // frames again in flight (its own rule for the CPUs it is given), as it waits on rows of
    // the frames it references.
    const bool x264 = std::string_view(codec->name) == "libx264";
    ctx->thread_count = x264 ? std::max(1, threadsPerEncode() * 3 / 2) : threadsPerEncode();
    if (globalHeader)
        ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (s.interlaced) {
        ctx->flags |= AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME;
        ctx->field_order = s.topFieldFirst ? AV_FIELD_TT : AV_FIELD_BB;
    }

    // Ours codes on a thread of its own while the next frames decode; FFmpeg's have theirs.
    if (prores && useOwnProRes()) {
        auto opened = openProResEncoder(std::move(ctx), *prores);
        if (!opened)
            return opened;
        return std::make_unique<AsyncFrameEncoder>(std::move(*opened), 2);
    }

    ff::Options options;
    if (prores) {
        options.set("profile", proResKsProfileName(*prores));
        options.set("vendor", "apl0");
    } else {
        ctx->bit_rate = s.averageBitRate;
        ctx->gop_size = s.maxKeyFrameInterval;
        if (!s.allowFrameReordering)
            ctx->max_b_frames = 0;
        if (s.highProfile)
            options.set("profile", "high");
        if (codec->id == AV_CODEC_ID_HEVC && s.bitDepth > 8)
            options.set("profile", "main10");
        if (codec->id == AV_CODEC_ID_HEVC && !s.hardware) {
            // libx265 takes the colour tags from the context, but HDR10's static metadata only
            // from its own parameters.
            QString params = QStringLiteral("log-level=error:pools=%1").arg(threadsPerEncode());
            if (s.mastering)
                params += QStringLiteral(":master-display=") + x265MasterDisplay(*s.mastering);
            if (s.contentLight)
                params += QStringLiteral(":max-cll=") + x265MaxCll(*s.contentLight);
            options.set("x265-params", params.toLatin1().constData());
        }
    }
    auto opened = openFrameEncoder(std::move(ctx), codec, options);
    if (!opened)
        return std::unexpected(QStringLiteral("The encoder rejected the video settings."));
    return std::move(*opened);
}

bool FFmpegEncoderChoice::hasHardware(Codec codec)
{
    if (codec != Codec::h264 && codec != Codec::hevc)
        return false;
    // Presence is only proven by opening one for real; the answer does not change while we run.
    static std::mutex mutex;
    static std::map<Codec, bool> known;
    std::lock_guard lock(mutex);
    if (const auto it = known.find(codec); it != known.end())
        return it->second;
    VideoSettings probe = videoSettings(codec, 256, 256, 25, 2, {}, true);
    const bool works = open(probe, false).has_value();
    known[codec] = works;
    return works;
}

} // namespace corvel
