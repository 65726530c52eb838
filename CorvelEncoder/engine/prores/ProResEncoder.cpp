#include "CorvelEncoder/engine/prores/ProResEncoder.h"

#include "CorvelEncoder/engine/CpuBudget.h"
#include "CorvelEncoder/engine/prores/ProResFrameWriter.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/buffer.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <optional>
#include <thread>

namespace corvel {

namespace {

struct BufferPoolDeleter
{
    void operator()(AVBufferPool* pool) const { av_buffer_pool_uninit(&pool); }
};

class ProResEncoder final : public VideoEncoder
{
public:
    ProResEncoder(ff::CodecContextPtr ctx, const ProResFrameSettings& settings)
        : m_ctx(std::move(ctx)), m_interlaced(settings.interlaced), m_writer(settings),
          m_pending(ff::makePacket())
    {
        m_pool.reset(
            av_buffer_pool_init(m_writer.maxFrameBytes() + AV_INPUT_BUFFER_PADDING_SIZE, nullptr));
    }

    bool valid() const { return m_pool && m_pending; }
    AVCodecContext* context() const override { return m_ctx.get(); }

    int sendFrame(const AVFrame* frame) override
    {
        if (!frame) {
            m_flushing = true;
            return 0;
        }
        if (m_hasPending)
            return AVERROR(EAGAIN);
        const std::optional<ProResSource> source = sourceOf(frame->format);
        if (!source || frame->width != m_ctx->width || frame->height != m_ctx->height)
            return AVERROR(EINVAL);
        ProResPlanes planes;
        planes.source = *source;
        for (int i = 0; i < 4 && frame->data[i]; ++i) {
            planes.data[i] = frame->data[i];
            planes.linesize[i] = frame->linesize[i];
        }
        AVBufferRef* buffer = av_buffer_pool_get(m_pool.get());
        if (!buffer)
            return AVERROR(ENOMEM);
        const size_t size = m_writer.encode(planes, buffer->data);
        std::fill_n(buffer->data + size, AV_INPUT_BUFFER_PADDING_SIZE, 0);
        AVPacket* p = m_pending.get();
        p->buf = buffer;
        p->data = buffer->data;
        p->size = int(size);
        p->pts = p->dts = frame->pts;
        p->duration = 1;
        p->flags |= AV_PKT_FLAG_KEY;
        m_hasPending = true;
        return 0;
    }

    bool takesDirectly(int format) const override
    {
        return format != m_ctx->pix_fmt && sourceOf(format).has_value();
    }

    int receivePacket(AVPacket* packet) override
    {
        if (!m_hasPending)
            return m_flushing ? AVERROR_EOF : AVERROR(EAGAIN);
        av_packet_move_ref(packet, m_pending.get());
        m_hasPending = false;
        return 0;
    }

private:
    // 4:2:0 is turned into 4:2:2 as the slices are read: 4:2:2 profiles, progressive frames.
    std::optional<ProResSource> sourceOf(int format) const
    {
        if (format == m_ctx->pix_fmt)
            return ProResSource::native;
        if (m_ctx->pix_fmt != AV_PIX_FMT_YUV422P10LE || m_interlaced)
            return std::nullopt;
        if (format == AV_PIX_FMT_YUV420P)
            return ProResSource::yuv420p;
        if (format == AV_PIX_FMT_YUV420P10LE)
            return ProResSource::yuv420p10;
        return std::nullopt;
    }

    ff::CodecContextPtr m_ctx;
    const bool m_interlaced;
    ProResFrameWriter m_writer;
    std::unique_ptr<AVBufferPool, BufferPoolDeleter> m_pool;
    ff::PacketPtr m_pending;
    bool m_hasPending = false;
    bool m_flushing = false;
};

} // namespace

std::expected<std::unique_ptr<VideoEncoder>, QString> openProResEncoder(ff::CodecContextPtr ctx,
                                                                        ProResProfile profile)
{
    const ProResProfileInfo& info = proResProfileInfo(profile);
    const AVPixelFormat want444 = AV_PIX_FMT_YUV444P10LE;
    const bool alpha = ctx->pix_fmt == AV_PIX_FMT_YUVA444P10LE;
    const bool ok = info.chroma444 ? (alpha || ctx->pix_fmt == want444)
                                   : ctx->pix_fmt == AV_PIX_FMT_YUV422P10LE;
    // The frame header holds the size in 16 bits; a picture holds at most 65535 slices, far
    // more than the planner's largest frame has.
    if (!ok || ctx->width <= 0 || ctx->height <= 0 || ctx->width > 0xFFFF || ctx->height > 0xFFFF ||
        ctx->time_base.num <= 0)
        return std::unexpected(QStringLiteral("The encoder rejected the video settings."));

    ctx->codec_type = AVMEDIA_TYPE_VIDEO;
    ctx->codec_id = AV_CODEC_ID_PRORES;
    ctx->codec_tag = info.fourcc;
    ctx->profile = info.avProfile;
    ctx->bits_per_raw_sample = 10;

    ProResFrameSettings settings;
    settings.profile = profile;
    settings.width = ctx->width;
    settings.height = ctx->height;
    settings.fps = 1.0 / av_q2d(ctx->time_base);
    settings.alpha = alpha;
    settings.interlaced =
        ctx->field_order != AV_FIELD_UNKNOWN && ctx->field_order != AV_FIELD_PROGRESSIVE;
    settings.topFieldFirst = ctx->field_order == AV_FIELD_TT || ctx->field_order == AV_FIELD_TB;
    settings.primaries = proResPrimaries(ctx->color_primaries);
    settings.transfer = proResTransfer(ctx->color_trc);
    settings.matrix = proResMatrix(ctx->colorspace);
    settings.threads = threadsPerEncode();
    auto encoder = std::make_unique<ProResEncoder>(std::move(ctx), settings);
    if (!encoder->valid())
        return std::unexpected(QStringLiteral("Could not start the encoder."));
    return encoder;
}

} // namespace corvel
