#pragma once

#include "CorvelEncoder/engine/EncodePlan.h"
#include "CorvelEncoder/engine/FFmpegHandles.h"

#include <memory>

namespace corvel {

// One text subtitle track carried from the source into the movie as timed text (mov_text):
// each line is decoded, put on the output's timeline and written with its own duration.
class SubtitleLane final
{
public:
    // Opens the decoder for `in` and a mov_text encoder, and adds the output stream to `out`
    // before its header is written. Null when either side cannot be opened.
    static std::unique_ptr<SubtitleLane> open(AVStream* in, const SubtitleTrackPlan& plan,
                                              AVFormatContext* out);

    int inputIndex() const { return m_in->index; }
    AVStream* output() const { return m_out; }
    const SubtitleTrackPlan& plan() const { return m_plan; }

    // Decodes `packet` and writes what it shows, `startOffset` (AV_TIME_BASE units) being where
    // the movie starts. A line that does not decode is skipped; the result is the muxer's
    // error, or 0.
    int write(const AVPacket* packet, int64_t startOffset, AVFormatContext* out);

private:
    SubtitleLane(AVStream* in, const SubtitleTrackPlan& plan) : m_in(in), m_plan(plan) {}

    AVStream* m_in;
    SubtitleTrackPlan m_plan;
    ff::CodecContextPtr m_decoder;
    ff::CodecContextPtr m_encoder;
    AVStream* m_out = nullptr;
};

} // namespace corvel
