#pragma once

#include "CorvelEncoder/engine/EncodePlan.h"

#include <QString>

#include <expected>
#include <memory>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace corvel {

// An opened video encoder. Used by one session's worker thread only.
class VideoEncoder
{
public:
    virtual ~VideoEncoder() = default;
    // The opened context: pixel format, time base, extradata for the muxer.
    virtual AVCodecContext* context() const = 0;
    // avcodec_send_frame / avcodec_receive_packet semantics; a null frame flushes.
    virtual int sendFrame(const AVFrame* frame) = 0;
    virtual int receivePacket(AVPacket* packet) = 0;
};

// Picks and opens the video encoder. The seam lets tests stand in a "hardware" encoder that
// refuses to open or fails on a chosen frame. Must be safe to call from several worker threads.
class EncoderChoice
{
public:
    virtual ~EncoderChoice() = default;
    // Whether a hardware encoder for `codec` works on this machine; only then is one requested.
    virtual bool hasHardware(Codec codec) = 0;
    // Opens the hardware or software encoder named by `settings.hardware`. The text of a
    // failure is what the user sees when there is nothing left to fall back to.
    virtual std::expected<std::unique_ptr<VideoEncoder>, QString>
    open(const VideoSettings& settings, bool globalHeader) = 0;
};

// FFmpeg's encoders: prores_ks, libx264, libx265; NVENC as hardware when it opens here.
class FFmpegEncoderChoice : public EncoderChoice
{
public:
    bool hasHardware(Codec codec) override;
    std::expected<std::unique_ptr<VideoEncoder>, QString> open(const VideoSettings& settings,
                                                               bool globalHeader) override;
};

// Whether some HEVC encoder here takes a pixel format with alpha.
bool hevcAlphaEncoderAvailable();

inline const QString& hevcAlphaMissingText()
{
    static const QString text = QStringLiteral(
        "HEVC with alpha needs an encoder that keeps alpha, and this system has none. "
        "ProRes 4444 keeps alpha.");
    return text;
}

} // namespace corvel
