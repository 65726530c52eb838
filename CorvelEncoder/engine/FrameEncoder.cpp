#include "CorvelEncoder/engine/FrameEncoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace corvel {

namespace {

class CodecFrameEncoder final : public FrameEncoder
{
public:
    explicit CodecFrameEncoder(ff::CodecContextPtr ctx) : m_ctx(std::move(ctx)) {}
    AVCodecContext* context() const override { return m_ctx.get(); }
    int sendFrame(const AVFrame* frame) override { return avcodec_send_frame(m_ctx.get(), frame); }
    int receivePacket(AVPacket* packet) override
    {
        return avcodec_receive_packet(m_ctx.get(), packet);
    }

private:
    ff::CodecContextPtr m_ctx;
};

} // namespace

int FrameEncoder::drain(const PacketSink& sink)
{
    for (;;) {
        ff::PacketPtr owned = ff::makePacket();
        if (!owned)
            return AVERROR(ENOMEM);
        const int ret = receivePacket(owned.get());
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return 0;
        if (ret < 0)
            return ret;
        if (!sink(owned.get()))
            return kSinkStopped;
    }
}

std::expected<std::unique_ptr<FrameEncoder>, int>
openFrameEncoder(ff::CodecContextPtr ctx, const AVCodec* codec, ff::Options& options)
{
    const int ret =
        options.pass([&](AVDictionary** dict) { return avcodec_open2(ctx.get(), codec, dict); });
    if (ret < 0)
        return std::unexpected(ret);
    return std::make_unique<CodecFrameEncoder>(std::move(ctx));
}

} // namespace corvel
