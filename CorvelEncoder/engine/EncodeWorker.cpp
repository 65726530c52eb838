#include "CorvelEncoder/engine/EncodeWorker.h"

#include "CorvelEncoder/engine/InspectMedia.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
}

#include <QDateTime>

#include <string_view>

namespace corvel {

namespace {

using Clock = Graph::Clock;

// More decoder or demuxer errors than this in a row end the retries for that packet.
constexpr int kErrorsInARow = 64;

} // namespace

void FFmpegEncodeSession::Worker::run()
{
    const Step end = runGraphs();
    EncodeResult result;
    if (end.kind == Step::Kind::ok)
        result = end.text;
    else if (end.kind == Step::Kind::cancelled)
        result = std::unexpected(EncodeFailure::cancelled());
    else
        result = std::unexpected(EncodeFailure::message(userMessage(end)));
    post([result](FFmpegEncodeSession& s) {
        s.m_completed = true;
        // The owner may destroy the session from inside its completion handler.
        const auto onComplete = s.m_callbacks.onComplete;
        if (onComplete)
            onComplete(result);
    });
    {
        std::lock_guard lock(m_mutex);
        m_stopped = true;
    }
    m_cv.notify_all();
}

Step FFmpegEncodeSession::Worker::runGraphs()
{
    for (;;) {
        if (cancelled())
            return Step::cancelled();
        auto media = inspectMedia(m_sourcePath, &m_interrupt);
        if (cancelled())
            return Step::cancelled();
        if (!media)
            return Step::failed(media.error().description());

        Graph g;
        if (Step opened = openGraph(*media, g); !opened.isOk()) {
            cleanupPartial(g);
            return opened;
        }
        Step end = pump(g);
        // A cut or rewritten source can read as a clean end of file, so a finished read proves
        // nothing on its own.
        if (end.kind != Step::Kind::cancelled && g.source.changed())
            end =
                Step::failed(QStringLiteral("The source file changed while it was being encoded."));
        if (end.isOk())
            end = finish(g);
        if (end.isOk())
            return Step{Step::Kind::ok, g.plan.outputPath};
        cleanupPartial(g);
        // A folder made read-only meanwhile keeps the partial file: the user must know it.
        if (end.kind == Step::Kind::failed && g.plan.output &&
            !g.plan.output->leftBehind().isEmpty())
            end = Step::failed(userMessage(end) +
                               QStringLiteral(" The unfinished file %1 could not be removed.")
                                   .arg(g.plan.output->leftBehind()));
        if (end.kind == Step::Kind::failed && m_allowHardware && g.hardware && !g.didAppend &&
            !m_retried && !cancelled()) {
            m_retried = true;
            m_allowHardware = false;
            log(QStringLiteral(
                    "Hardware encoder failed before the first frame. Retrying in software."),
                false);
            continue;
        }
        return cancelled() ? Step::cancelled() : end;
    }
}

void FFmpegEncodeSession::Worker::cleanupPartial(Graph& g)
{
    g.output.reset(); // closes the file handle first
    if (g.reserved) {
        if (g.plan.output)
            g.plan.output->discard();
        g.reserved = false;
    }
}

Step FFmpegEncodeSession::Worker::openGraph(const InspectedMedia& media, Graph& g)
{
    if (cancelled())
        return Step::cancelled();
    auto plan = makePlan(media, m_settings, m_sourcePath, QDateTime::currentDateTime());
    if (!plan)
        return Step::failed(plan.error().description());
    g.plan = *plan;
    g.reserved = true;

    g.source.start(media.path);
    if (const int ret = g.input.open(media.path, &m_interrupt); ret < 0)
        return cancelled() ? Step::cancelled() : Step::failed(Stage::readSource, ret);
    if (!openVideoDecoder(g, media))
        return Step::failed(QStringLiteral("Could not read video frames from this file."));
    if (const std::optional<QString> lost = openAudio(g, media, m_settings))
        log(*lost, true);

    if (Step written = makeWriter(g); !written.isOk())
        return written;

    g.startedAt = Clock::now();
    g.lastReport.reset();
    if (!g.hardware)
        m_allowHardware = false;

    const QString path = g.plan.outputPath;
    const bool hardware = g.hardware;
    post([path, hardware](FFmpegEncodeSession& s) {
        if (s.m_callbacks.onReady)
            s.m_callbacks.onReady(path, hardware);
    });
    log(g.plan.summary + (hardware ? QStringLiteral(" Hardware encoder requested.")
                                   : QStringLiteral(" Software encoder.")),
        false);
    return Step::ok();
}

Step FFmpegEncodeSession::Worker::makeWriter(Graph& g)
{
    QString first = QStringLiteral("Could not start the encoder.");
    if (m_allowHardware && m_encoders->hasHardware(m_settings.body.codec)) {
        const auto failed = startWriter(g, *m_encoders, m_settings, &m_interrupt, true);
        if (!failed)
            return Step::ok();
        if (cancelled())
            return Step::cancelled();
        first = *failed;
        log(QStringLiteral("Hardware encoder was refused. Retrying in software."), false);
        // The claimed file stays: removing it would free the name for another process while
        // this one still means to write there. The software writer truncates it.
        g.output.reset();
    }
    const auto failed = startWriter(g, *m_encoders, m_settings, &m_interrupt, false);
    if (!failed)
        return Step::ok();
    if (cancelled())
        return Step::cancelled();
    return Step::failed(failed->isEmpty() ? first : *failed);
}

Step FFmpegEncodeSession::Worker::pump(Graph& g)
{
    // A QuickTime/MP4 file cut short ends with a packet the demuxer could only read in part;
    // its index promised more, so finishing "successfully" would silently lose the rest of the
    // movie. Stream formats (MPEG-TS) cut mid-packet just end, and that is no failure.
    const bool indexed = std::string_view(g.input->iformat->name).starts_with("mov,");
    int cutShortStream = -1;
    int readErrors = 0;
    for (;;) {
        {
            std::unique_lock lock(m_mutex);
            m_cv.wait(lock, [this] { return !m_paused || m_cancelled; });
        }
        if (cancelled())
            return Step::cancelled();
        AVPacket* packet = g.packet.get();
        const int ret = av_read_frame(g.input.get(), packet);
        if (ret == AVERROR_EOF) {
            if (cutShortStream < 0)
                return Step::ok();
            return Step::failed(g.inAudio && cutShortStream == g.inAudio->index ? Stage::readAudio
                                                                                : Stage::readVideo);
        }
        if (ret < 0) {
            if (cancelled())
                return Step::cancelled();
            // A damaged stretch of a stream format reads as a bad packet; the demuxer finds
            // the next good one.
            if (ret == AVERROR_INVALIDDATA && ++readErrors <= kErrorsInARow)
                continue;
            return Step::failed(Stage::readSource, ret);
        }
        readErrors = 0;
        cutShortStream =
            indexed && (packet->flags & AV_PKT_FLAG_CORRUPT) ? packet->stream_index : -1;
        Lane* lane = packet->stream_index == g.inVideo->index                ? &g.videoLane
                     : g.inAudio && packet->stream_index == g.inAudio->index ? &g.audioLane
                                                                             : nullptr;
        Step step = lane ? decode(g, *lane, packet) : Step::ok();
        av_packet_unref(packet);
        if (step.isOk() && lane)
            step = judgeDamage(*lane, false);
        if (!step.isOk())
            return step;
    }
}

Step FFmpegEncodeSession::Worker::finish(Graph& g)
{
    Step step = decode(g, g.videoLane, nullptr);
    if (step.isOk() && g.audioDecoder)
        step = decode(g, g.audioLane, nullptr);
    if (!step.isOk())
        return step;
    if (cancelled())
        return Step::cancelled();
    if (g.framesEncoded == 0)
        return Step::failed(QStringLiteral("Could not read video frames from this file."));
    for (const Lane* lane : {&g.videoLane, &g.audioLane}) {
        if (Step judged = judgeDamage(*lane, true); !judged.isOk())
            return judged;
    }
    if (const int ret = av_write_trailer(g.output->get()); ret < 0)
        return cancelled() ? Step::cancelled() : Step::failed(writeError(ret));
    if (const int ret = g.output->close(); ret < 0)
        return Step::failed(writeError(ret));
    g.output.reset();
    // Complete: only now does the movie get its name, one nobody else has taken.
    const auto placed = g.plan.output->commit();
    if (!placed)
        return Step::failed(writeError(AVERROR(placed.error())));
    g.plan.outputPath = *placed;
    return Step::ok();
}

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
        const std::array<int, 3> shape =
            lane.isVideo
                ? std::array{frame->width, frame->height, frame->format}
                : std::array{frame->sample_rate, frame->format, frame->ch_layout.nb_channels};
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
        const VideoSource source{frame->width, frame->height,
                                 static_cast<AVPixelFormat>(frame->format), g.inVideo->time_base,
                                 frame->sample_aspect_ratio};
        const AVPixelFormat target = g.videoEncoder->context()->pix_fmt;
        return lane.filter.build(videoChain(source, g.plan, target), target);
    }
    const AVCodecContext* enc = g.audioEncoder->context();
    const AudioSource source{frame->sample_rate, static_cast<AVSampleFormat>(frame->format),
                             frame->ch_layout, g.inAudio->time_base};
    const AudioTarget target{enc->sample_rate, enc->sample_fmt, enc->ch_layout.nb_channels};
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
    if (!(fraction >= 1) && g.lastReport && now - *g.lastReport < std::chrono::milliseconds(100))
        return;
    g.lastReport = now;
    const double elapsed = std::chrono::duration<double>(now - g.startedAt).count();
    std::optional<double> eta;
    if (fraction > 0.03 && elapsed > 0.5)
        eta = (1 - fraction) * elapsed / std::max(fraction, 0.001);
    const double shown = fraction > 0 ? std::min(fraction, 0.99) : 0.0;
    post([shown, eta](FFmpegEncodeSession& s) {
        if (s.m_callbacks.onProgress)
            s.m_callbacks.onProgress(shown, eta);
    });
}

} // namespace corvel
