// The worker's frame path: each lane's packets decoded, filtered, encoded and muxed, with the
// progress that encoding the video reports.

#include "CorvelEncoder/engine/EncodeWorker.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
}

namespace corvel {

namespace {

using Clock = Graph::Clock;

} // namespace

Step FFmpegEncodeSession::Worker::decode(Graph& g, Lane& lane, const AVPacket* packet)
{
    AVCodecContext* decoder = g.decoder(lane);
    if (packet)
        ++lane.packets;
    int ret = avcodec_send_packet(decoder, packet);
    // A damaged packet costs what it held, as in any player; the rest of the movie still
    // encodes. Whatever the decoder's complaint, it is counted, never shown.
    if (ret < 0 && ret != AVERROR_EOF && ret != AVERROR(EAGAIN))
        ++lane.damaged;
    for (int errorsInARow = 0;;) {
        if (cancelled())
            return Step::cancelled();
        AVFrame* frame = g.frame.get();
        ret = avcodec_receive_frame(decoder, frame);
        if (ret == AVERROR(EAGAIN))
            return Step::ok();
        if (ret == AVERROR_EOF)
            break;
        if (ret < 0) {
            ++lane.damaged;
            // A decoder failing on every call is not asked forever.
            if (++errorsInARow <= kErrorsInARow)
                continue;
            if (packet)
                return Step::ok();
            break;
        }
        errorsInARow = 0;
        ++lane.frames;
        const int64_t duration = stamp(g, lane, frame);
        Step step = filter(g, lane, frame);
        lane.end = lane.end == AV_NOPTS_VALUE ? frame->pts + duration
                                              : std::max(lane.end, frame->pts + duration);
        av_frame_unref(frame);
        if (!step.isOk())
            return step;
    }
    if (Step step = filter(g, lane, nullptr); !step.isOk())
        return step;
    return encode(g, lane, nullptr);
}

Step FFmpegEncodeSession::Worker::filter(Graph& g, Lane& lane, AVFrame* frame)
{
    if (frame) {
        const std::array<int, 4> shape =
            lane.isVideo
                ? std::array{frame->width, frame->height, frame->format, int(frame->color_range)}
                : std::array{frame->sample_rate, frame->format, frame->ch_layout.nb_channels, 0};
        if (!lane.filter || shape != lane.shape) {
            // A picture size or audio layout changing mid-stream (broadcast recordings, joined
            // segments) gets a new filter. Video drains the old one first so its last frames
            // stay. Audio cannot: AAC takes a short frame only at the very end, so the old
            // graph's last milliseconds give way and the new graph fills on from where the
            // old one stopped.
            if (lane.filter && lane.isVideo) {
                if (Step step = drainFilter(g, lane); !step.isOk())
                    return step;
            }
            if (!buildFilter(g, lane, frame))
                return Step::failed(lane.readStage());
            lane.shape = shape;
        }
    }
    if (!lane.filter)
        return Step::ok();
    if (!frame)
        return drainFilter(g, lane);
    if (const int ret =
            av_buffersrc_add_frame_flags(lane.filter.source, frame, AV_BUFFERSRC_FLAG_KEEP_REF);
        ret < 0)
        return Step::failed(lane.readStage(), ret);
    return pullFiltered(g, lane);
}

Step FFmpegEncodeSession::Worker::drainFilter(Graph& g, Lane& lane)
{
    // The stream ends where its last frame ends. Closed at that frame's start instead, the
    // fps filter would see the last frame as lasting no time and drop it.
    if (const int ret = av_buffersrc_close(
            lane.filter.source, lane.end != AV_NOPTS_VALUE ? lane.end : 0, AV_BUFFERSRC_FLAG_PUSH);
        ret < 0 && ret != AVERROR_EOF)
        return Step::failed(lane.readStage(), ret);
    return pullFiltered(g, lane);
}

Step FFmpegEncodeSession::Worker::pullFiltered(Graph& g, Lane& lane)
{
    for (;;) {
        AVFrame* out = g.filtered.get();
        const int ret = av_buffersink_get_frame(lane.filter.sink, out);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return Step::ok();
        if (ret < 0)
            return Step::failed(lane.readStage(), ret);
        Step step = encode(g, lane, out);
        av_frame_unref(out);
        if (!step.isOk())
            return step;
    }
}

bool FFmpegEncodeSession::Worker::buildFilter(Graph& g, Lane& lane, const AVFrame* frame)
{
    if (lane.isVideo) {
        const VideoSource source{frame->width,
                                 frame->height,
                                 static_cast<AVPixelFormat>(frame->format),
                                 g.inVideo->time_base,
                                 frame->sample_aspect_ratio,
                                 frame->color_range};
        AVPixelFormat target = g.videoEncoder->context()->pix_fmt;
        if (g.videoEncoder->takesDirectly(source.format) && keepsSamples(source, g.plan))
            target = source.format;
        return lane.filter.build(videoChain(source, g.plan, target), target);
    }
    const AVCodecContext* enc = lane.encoder->context();
    const AudioSource source{frame->sample_rate, static_cast<AVSampleFormat>(frame->format),
                             frame->ch_layout, lane.in->time_base};
    const AudioTarget target{enc->sample_rate, enc->sample_fmt, enc->ch_layout.nb_channels,
                             channelLayoutText(enc->ch_layout)};
    if (!lane.filter.build(
            audioChain(source, target, lane.nextOut != AV_NOPTS_VALUE ? lane.nextOut : 0)))
        return false;
    // AAC takes fixed-size frames.
    if (enc->frame_size > 0 && !(enc->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE))
        av_buffersink_set_frame_size(lane.filter.sink, enc->frame_size);
    return true;
}

Step FFmpegEncodeSession::Worker::encode(Graph& g, Lane& lane, AVFrame* frame)
{
    FrameEncoder* encoder = g.encoder(lane);
    AVCodecContext* enc = encoder->context();
    if (frame) {
        if (cancelled())
            return Step::cancelled();
        if (frame->pts != AV_NOPTS_VALUE)
            frame->pts = av_rescale_q(frame->pts, av_buffersink_get_time_base(lane.filter.sink),
                                      enc->time_base);
        if (lane.isVideo) {
            // Time only runs forward in the file. Where joined segments overlap, the new
            // segment's first frames fall on slots already written and give way.
            if (frame->pts == AV_NOPTS_VALUE ||
                (lane.lastOut != AV_NOPTS_VALUE && frame->pts <= lane.lastOut))
                return Step::ok();
            frame->pict_type = AV_PICTURE_TYPE_NONE;
            // prores_ks writes the tags it finds on each frame, not the context's.
            frame->color_primaries = enc->color_primaries;
            frame->color_trc = enc->color_trc;
            frame->colorspace = enc->colorspace;
            frame->color_range = enc->color_range;
            // Encoders take the field order from each frame.
#if LIBAVUTIL_VERSION_INT >= AV_VERSION_INT(58, 7, 100)
            frame->flags &= ~(AV_FRAME_FLAG_INTERLACED | AV_FRAME_FLAG_TOP_FIELD_FIRST);
            if (g.plan.interlaced)
                frame->flags |= AV_FRAME_FLAG_INTERLACED |
                                (g.plan.topFieldFirst ? AV_FRAME_FLAG_TOP_FIELD_FIRST : 0);
#else
            frame->interlaced_frame = g.plan.interlaced;
            frame->top_field_first = g.plan.interlaced && g.plan.topFieldFirst;
#endif
        } else {
            // The resampler keeps audio on the source's timeline; what is left is a few
            // samples of overlap at a splice, and the muxer refuses time running backwards.
            if (frame->pts == AV_NOPTS_VALUE)
                frame->pts = lane.nextOut != AV_NOPTS_VALUE ? lane.nextOut : 0;
            if (lane.nextOut != AV_NOPTS_VALUE)
                frame->pts = std::max(frame->pts, lane.nextOut);
            lane.nextOut = frame->pts + frame->nb_samples;
        }
        lane.lastOut = frame->pts;
    }
    int ret = encoder->sendFrame(frame);
    if (ret < 0 && ret != AVERROR_EOF)
        return Step::failed(lane.writeStage(), ret);
    if (frame && lane.isVideo) {
        ++g.framesEncoded;
        if (g.duration > 0)
            reportProgress(g, frame->pts * av_q2d(enc->time_base) / g.duration);
    }
    Step written = Step::ok();
    ret = encoder->drain([&](AVPacket* packet) {
        AVStream* out = g.out(lane);
        if (!out)
            return true;
        written = writePacket(g, packet, out, enc->time_base);
        g.didAppend = g.didAppend || (written.isOk() && lane.isVideo);
        return written.isOk();
    });
    if (ret == FrameEncoder::kSinkStopped)
        return written;
    return ret < 0 ? Step::failed(lane.writeStage(), ret) : Step::ok();
}

Step FFmpegEncodeSession::Worker::spare(Lane& lane, Step step)
{
    if (lane.isVideo || step.kind != Step::Kind::failed ||
        (step.stage != Stage::readAudio && step.stage != Stage::writeAudio))
        return step;
    lane.dropped = true;
    log(lane.track.name + (step.stage == Stage::readAudio
                               ? QStringLiteral(" could not be read. Writing the others.")
                               : QStringLiteral(" could not be converted. Writing the others.")),
        true);
    return Step::ok();
}

Step FFmpegEncodeSession::Worker::writePacket(Graph& g, AVPacket* packet, AVStream* stream,
                                              AVRational encoderBase)
{
    packet->stream_index = stream->index;
    av_packet_rescale_ts(packet, encoderBase, stream->time_base);
    const int ret = av_interleaved_write_frame(g.output->get(), packet);
    if (ret < 0)
        return cancelled() ? Step::cancelled() : Step::failed(writeError(ret));
    return Step::ok();
}

void FFmpegEncodeSession::Worker::reportProgress(Graph& g, double fraction)
{
    const Clock::time_point now = Clock::now();
    const double elapsed = std::chrono::duration<double>(now - g.startedAt).count();
    const bool canEstimate = fraction > 0.03 && elapsed > 0.5;
    // The first time left goes out at once: a short encode may not last another interval.
    if (!(fraction >= 1) && !(canEstimate && !g.estimated) && g.lastReport &&
        now - *g.lastReport < std::chrono::milliseconds(100))
        return;
    g.lastReport = now;
    g.estimated = g.estimated || canEstimate;
    std::optional<double> eta;
    if (canEstimate)
        eta = (1 - fraction) * elapsed / std::max(fraction, 0.001);
    const double shown = fraction > 0 ? std::min(fraction, 0.99) : 0.0;
    post([shown, eta](FFmpegEncodeSession& s) {
        if (s.m_callbacks.onProgress)
            s.m_callbacks.onProgress(shown, eta);
    });
}

} // namespace corvel
