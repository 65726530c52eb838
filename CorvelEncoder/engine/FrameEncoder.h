#pragma once

#include "CorvelEncoder/engine/FFmpegHandles.h"

#include <expected>
#include <functional>
#include <memory>

struct AVCodec;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace corvel {

// An opened encoder, video or audio: FFmpeg's own or ours (ProRes). Used by one session's
// worker thread only.
class FrameEncoder
{
public:
    virtual ~FrameEncoder() = default;
    // The opened context: pixel or sample format, time base, extradata for the muxer.
    virtual AVCodecContext* context() const = 0;
    // avcodec_send_frame / avcodec_receive_packet semantics; a null frame flushes.
    virtual int sendFrame(const AVFrame* frame) = 0;
    virtual int receivePacket(AVPacket* packet) = 0;
    // Whether frames in `format` may be sent as they are, besides the context's own format:
    // the encoder converts them as it reads them, cheaper than a conversion in front of it.
    virtual bool takesDirectly(int format) const
    {
        (void)format;
        return false;
    }

    // Takes a packet; false stops the drain (the packet was not written, or failed to be).
    using PacketSink = std::function<bool(AVPacket* packet)>;
    // What drain() ends with besides the encoder's own AVERROR: the sink stopped it.
    static constexpr int kSinkStopped = 1;
    // Hands every packet the encoder has ready to `sink`. 0 once it wants more input or has
    // nothing more, the encoder's error code, or kSinkStopped.
    int drain(const PacketSink& sink);
};

// The encoder choice's seam has always called it this.
using VideoEncoder = FrameEncoder;

// Opens `ctx` as `codec` with `options` and wraps it; the AVERROR when it does not open.
std::expected<std::unique_ptr<FrameEncoder>, int>
openFrameEncoder(ff::CodecContextPtr ctx, const AVCodec* codec, ff::Options& options);

} // namespace corvel
