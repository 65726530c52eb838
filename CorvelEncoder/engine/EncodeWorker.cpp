#include "CorvelEncoder/engine/EncodeWorker.h"

#include "CorvelEncoder/engine/InspectMedia.h"
#include "CorvelEncoder/engine/MuxerTracks.h"

#include <QDateTime>

#include <string_view>

namespace corvel {

namespace {

using Clock = Graph::Clock;

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
    for (const QString& lost : openAudio(g))
        log(lost, true);
    for (const AudioTrackPlan& track : std::as_const(g.plan.audioTracks)) {
        if (track.kept() && !track.note.isEmpty())
            log(track.note, false);
    }
    for (const SubtitleTrackPlan& track : std::as_const(g.plan.subtitleTracks)) {
        if (!track.note.isEmpty())
            log(track.note, true);
    }

    if (Step written = makeWriter(g); !written.isOk())
        return written;
    for (const QString& lost : std::as_const(g.lostTracks))
        log(lost, true);

    g.startedAt = Clock::now();
    g.lastReport.reset();
    g.estimated = false;
    if (!g.hardware)
        m_allowHardware = false;

    const QString path = g.plan.outputPath;
    const bool hardware = g.hardware;
    post([tracks = trackLines(g.output->get())](FFmpegEncodeSession& s) {
        if (s.m_callbacks.onTracks)
            s.m_callbacks.onTracks(tracks);
    });
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
            const Lane* cut = g.laneOf(cutShortStream);
            return Step::failed(cut && !cut->isVideo ? Stage::readAudio : Stage::readVideo);
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
        Lane* lane = g.laneOf(packet->stream_index);
        if (lane && lane->dropped)
            lane = nullptr;
        Step step = lane ? decode(g, *lane, packet) : Step::ok();
        if (!lane) {
            for (const auto& text : g.subtitleLanes) {
                if (text->inputIndex() != packet->stream_index)
                    continue;
                if (const int written = text->write(packet, g.startOffset, g.output->get());
                    written < 0)
                    step = cancelled() ? Step::cancelled() : Step::failed(writeError(written));
            }
        }
        av_packet_unref(packet);
        if (step.isOk() && lane)
            step = judgeDamage(*lane, false);
        if (lane)
            step = spare(*lane, step);
        if (!step.isOk())
            return step;
    }
}

Step FFmpegEncodeSession::Worker::finish(Graph& g)
{
    Step step = decode(g, g.videoLane, nullptr);
    for (const auto& lane : g.audioLanes) {
        if (step.isOk() && !lane->dropped)
            step = spare(*lane, decode(g, *lane, nullptr));
    }
    if (!step.isOk())
        return step;
    if (cancelled())
        return Step::cancelled();
    if (g.framesEncoded == 0)
        return Step::failed(QStringLiteral("Could not read video frames from this file."));
    if (Step judged = judgeDamage(g.videoLane, true); !judged.isOk())
        return judged;
    for (const auto& lane : g.audioLanes) {
        if (!lane->dropped)
            spare(*lane, judgeDamage(*lane, true));
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

} // namespace corvel
