#pragma once

#include "CorvelEncoder/engine/EncodePlan.h"
#include "CorvelEncoder/engine/FFmpegHandles.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/pixfmt.h>
#include <libavutil/rational.h>
#include <libavutil/samplefmt.h>
}

#include <QString>

namespace corvel {

// The decoded pictures a video filter is built for.
struct VideoSource
{
    int width = 0;
    int height = 0;
    AVPixelFormat format = AV_PIX_FMT_NONE;
    AVRational timeBase{1, 1};
    AVRational sampleAspect{0, 1}; // unknown when not positive: square pixels are assumed
    AVColorRange range = AVCOL_RANGE_UNSPECIFIED;
};

// The decoded sound an audio filter is built for. `layout` is borrowed from the frame.
struct AudioSource
{
    int sampleRate = 0;
    AVSampleFormat format = AV_SAMPLE_FMT_NONE;
    AVChannelLayout layout{};
    AVRational timeBase{1, 1};
};

// What the audio encoder takes.
struct AudioTarget
{
    int sampleRate = 0;
    AVSampleFormat format = AV_SAMPLE_FMT_NONE;
    int channels = 0;
    // FFmpeg's name of the encoder's layout; empty: the usual one for `channels`.
    QString layout = {};
};

// A filter graph as text: the arguments of its source ("buffer" or "abuffer") and the filters
// between that source and its sink.
struct FilterChain
{
    bool video = true;
    QString sourceArgs;
    QString filters;
};

// Merges fields, retimes, mirrors and turns upright, then scales to the plan's render size
// in `target`; when keepsSamples() and `target` is the source's format, nothing is converted.
FilterChain videoChain(const VideoSource& source, const EncodePlan& plan, AVPixelFormat target);
// Whether the chain may hand on the decoded samples as they are: no resizing, tone mapping or
// field-wise conversion, and studio range. Only then may an encoder that converts as it reads
// take them in the source's own format.
bool keepsSamples(const VideoSource& source, const EncodePlan& plan);
// Resamples onto the source's timeline from `firstPts` (the encoder's time base) and
// converts to what the encoder takes.
FilterChain audioChain(const AudioSource& source, const AudioTarget& target, int64_t firstPts);

// FFmpeg's name of a channel layout; an unordered layout is named as the usual one for its
// channel count ("stereo", "5.1").
QString channelLayoutText(const AVChannelLayout& layout);

// A configured filter graph with its two ends.
struct FilterGraph
{
    ff::FilterGraphPtr graph;
    AVFilterContext* source = nullptr;
    AVFilterContext* sink = nullptr;

    explicit operator bool() const { return graph != nullptr; }
    // Replaces the graph with one running `chain`. A video sink is held to `sinkFormat`.
    bool build(const FilterChain& chain, AVPixelFormat sinkFormat = AV_PIX_FMT_NONE);
};

} // namespace corvel
