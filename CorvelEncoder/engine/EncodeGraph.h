#pragma once

#include "CorvelEncoder/engine/EncodePlan.h"
#include "CorvelEncoder/engine/EncodeSteps.h"
#include "CorvelEncoder/engine/EncoderChoice.h"
#include "CorvelEncoder/engine/FFmpegHandles.h"
#include "CorvelEncoder/engine/FilterChains.h"
#include "CorvelEncoder/engine/FrameEncoder.h"
#include "CorvelEncoder/engine/SourceWatch.h"

#include <QString>

#include <array>
#include <chrono>
#include <memory>
#include <optional>

namespace corvel {

// One stream's way from its decoder through its filter to its encoder. Video and audio run
// the same decoding and encoding code; only the filter they build differs.
struct Lane
{
    explicit Lane(bool video) : isVideo(video) {}
    const bool isVideo;
    FilterGraph filter;
    std::array<int, 3> shape{};       // what the filter was built for: size and format, or rate,
                                      // format and channels
    int64_t end = AV_NOPTS_VALUE;     // where the last decoded frame ends, stream time base
    int64_t lastOut = AV_NOPTS_VALUE; // last timestamp handed to the encoder, its time base
    int64_t nextOut = AV_NOPTS_VALUE; // audio: where the next encoded frame must start
    int64_t packets = 0;              // sent to the decoder
    int64_t damaged = 0;              // packets or frames the decoder rejected
    int64_t frames = 0;               // decoded

    Stage readStage() const { return isVideo ? Stage::readVideo : Stage::readAudio; }
    Stage writeStage() const { return isVideo ? Stage::writeVideo : Stage::writeAudio; }
};

// Everything one attempt at the encode opens. Destroyed before a retry or at the end.
struct Graph
{
    using Clock = std::chrono::steady_clock;

    EncodePlan plan;
    bool reserved = false; // the plan's file was created by this attempt

    SourceWatch source;
    ff::InputFile input;
    AVStream* inVideo = nullptr;
    AVStream* inAudio = nullptr;
    ff::CodecContextPtr videoDecoder;
    ff::CodecContextPtr audioDecoder;

    Lane videoLane{true};
    Lane audioLane{false};

    std::unique_ptr<FrameEncoder> videoEncoder;
    std::unique_ptr<FrameEncoder> audioEncoder;
    std::optional<AudioCandidate> audio;
    VideoSettings videoSettings;

    std::unique_ptr<ff::OutputFile> output;
    AVStream* outVideo = nullptr;
    AVStream* outAudio = nullptr;
    bool hardware = false;
    bool didAppend = false; // a video packet reached the file
    int64_t framesEncoded = 0;

    AVStream* in(const Lane& lane) const { return lane.isVideo ? inVideo : inAudio; }
    AVCodecContext* decoder(const Lane& lane) const
    {
        return lane.isVideo ? videoDecoder.get() : audioDecoder.get();
    }
    FrameEncoder* encoder(const Lane& lane) const
    {
        return lane.isVideo ? videoEncoder.get() : audioEncoder.get();
    }
    AVStream* out(const Lane& lane) const { return lane.isVideo ? outVideo : outAudio; }

    int64_t startOffset = 0; // AV_TIME_BASE units
    double duration = 0;
    Clock::time_point startedAt;
    std::optional<Clock::time_point> lastReport;

    ff::PacketPtr packet = ff::makePacket();
    ff::FramePtr frame = ff::makeFrame();
    ff::FramePtr filtered = ff::makeFrame();
};

// Opens the decoder of the plan's video stream; false when it does not open.
bool openVideoDecoder(Graph& g, const InspectedMedia& media);
// Opens the audio decoder and the first audio encoder the settings allow. Without audio in
// the source that is no failure; otherwise what went wrong is returned for the log, and the
// encode goes on with video only.
std::optional<QString> openAudio(Graph& g, const InspectedMedia& media,
                                 const JobSettings& settings);
// Creates the output file with its streams, its metadata and its header, opening the video
// encoder through `encoders`. The user's message when that fails.
std::optional<QString> startWriter(Graph& g, EncoderChoice& encoders, const JobSettings& settings,
                                   const AVIOInterruptCB* interrupt, bool hardware);

// Puts the frame on the source's timeline from 0 and returns how long it lasts, in the
// stream's time base. A frame without a timestamp (AVI with packed B-frames) follows the one
// before it.
int64_t stamp(const Graph& g, const Lane& lane, AVFrame* frame);
// Whether the lane's damage fails the encode, judged during the read or at its end.
Step judgeDamage(const Lane& lane, bool atEnd);

} // namespace corvel
