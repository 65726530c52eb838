#pragma once

#include "CorvelEncoder/engine/EncodePlan.h"
#include "CorvelEncoder/engine/EncodeSteps.h"
#include "CorvelEncoder/engine/EncoderChoice.h"
#include "CorvelEncoder/engine/FFmpegHandles.h"
#include "CorvelEncoder/engine/FilterChains.h"
#include "CorvelEncoder/engine/FrameEncoder.h"
#include "CorvelEncoder/engine/SourceWatch.h"
#include "CorvelEncoder/engine/SubtitleLane.h"

#include <QString>
#include <QStringList>

#include <array>
#include <chrono>
#include <memory>
#include <optional>
#include <vector>

namespace corvel {

// One stream's way from its decoder through its filter to its encoder. Video and audio run
// the same decoding and encoding code; only the filter they build differs.
struct Lane
{
    explicit Lane(bool video) : isVideo(video) {}
    const bool isVideo;
    FilterGraph filter;
    std::array<int, 4> shape{};   // what the filter was built for: size, format and range, or rate,
                                  // format and channels
    int64_t end = AV_NOPTS_VALUE; // where the last decoded frame ends, stream time base
    int64_t lastOut = AV_NOPTS_VALUE; // last timestamp handed to the encoder, its time base
    int64_t nextOut = AV_NOPTS_VALUE; // audio: where the next encoded frame must start
    int64_t packets = 0;              // sent to the decoder
    int64_t damaged = 0;              // packets or frames the decoder rejected
    int64_t frames = 0;               // decoded

    // An audio lane carries one source track with its own decoder and encoder.
    AVStream* in = nullptr;
    ff::CodecContextPtr decoder;
    std::unique_ptr<FrameEncoder> encoder;
    AVStream* out = nullptr;
    AudioTrackPlan track;
    bool dropped = false; // it failed and is read no more; the others go on

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
    ff::CodecContextPtr videoDecoder;

    Lane videoLane{true};
    // Every audio track the plan keeps and the source's decoders and the writer's encoders
    // take, in source order.
    std::vector<std::unique_ptr<Lane>> audioLanes;
    std::vector<std::unique_ptr<SubtitleLane>> subtitleLanes;

    std::unique_ptr<FrameEncoder> videoEncoder;
    VideoSettings videoSettings;

    std::unique_ptr<ff::OutputFile> output;
    AVStream* outVideo = nullptr;
    QStringList lostTracks; // for the log: tracks the writer could not take
    bool hardware = false;
    bool didAppend = false; // a video packet reached the file
    int64_t framesEncoded = 0;

    AVStream* in(const Lane& lane) const { return lane.isVideo ? inVideo : lane.in; }
    AVCodecContext* decoder(const Lane& lane) const
    {
        return lane.isVideo ? videoDecoder.get() : lane.decoder.get();
    }
    FrameEncoder* encoder(const Lane& lane) const
    {
        return lane.isVideo ? videoEncoder.get() : lane.encoder.get();
    }
    AVStream* out(const Lane& lane) const { return lane.isVideo ? outVideo : lane.out; }
    // The lane reading source stream `index`, or null.
    Lane* laneOf(int index);

    int64_t startOffset = 0; // AV_TIME_BASE units
    double duration = 0;
    Clock::time_point startedAt;
    std::optional<Clock::time_point> lastReport;
    bool estimated = false; // a report has carried the time left

    ff::PacketPtr packet = ff::makePacket();
    ff::FramePtr frame = ff::makeFrame();
    ff::FramePtr filtered = ff::makeFrame();
};

// Opens the decoder of the plan's video stream; false when it does not open.
bool openVideoDecoder(Graph& g, const InspectedMedia& media);
// Opens a decoder and the first encoder the plan allows for every audio track the plan keeps.
// A track that opens neither is left out; the lines for the log say which and why, and the
// encode goes on with the others.
QStringList openAudio(Graph& g);
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
