#pragma once

#include "CorvelEncoder/engine/EncodePlan.h"
#include "CorvelEncoder/engine/FFmpegHandles.h"

#include <optional>

namespace corvel {

// The decoder and encoder of one audio track.
struct AudioTrackCoders
{
    ff::CodecContextPtr decoder;
    ff::CodecContextPtr encoder;
    AudioCandidate candidate; // the one the encoder took
};

// Opens the decoder of `in` and the first of the plan's candidates the encoder takes, with
// the candidate's exact channel layout. None when the track cannot be read or converted.
std::optional<AudioTrackCoders> openAudioTrack(const AVStream* in, const AudioTrackPlan& plan,
                                               bool globalHeader);

// The layout `settings` asks for: its own when FFmpeg knows the name, else the usual one for
// its channel count. The caller uninitialises it.
AVChannelLayout channelLayout(const AudioSettings& settings);

} // namespace corvel
