#pragma once

#include "CorvelEncoder/engine/EncodePlan.h"
#include "CorvelEncoder/engine/FrameEncoder.h"

#include <QString>

#include <expected>
#include <memory>

namespace corvel {

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
