#pragma once

#include "CorvelEncoder/engine/EncoderChoice.h"
#include "CorvelEncoder/engine/FFmpegHandles.h"
#include "CorvelEncoder/engine/prores/ProResProfile.h"

#include <QString>

#include <expected>
#include <memory>

namespace corvel {

// Our own ProRes encoder behind the VideoEncoder seam. `ctx` is a configured but unopened
// context (size, 10-bit pixel format, time base, colour tags); it is completed with what the
// muxer needs (codec, four-character code, profile) and handed back by context(). Frames must
// be in ctx's pixel format; an interlaced field order in ctx codes them as two fields. Packets
// come out in order, one per frame, each a key frame.
std::expected<std::unique_ptr<VideoEncoder>, QString> openProResEncoder(ff::CodecContextPtr ctx,
                                                                        ProResProfile profile);

} // namespace corvel
