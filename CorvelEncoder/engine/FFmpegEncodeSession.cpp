#include "CorvelEncoder/engine/FFmpegEncodeSession.h"

#include "CorvelEncoder/engine/FFmpegHandles.h"
#include "CorvelEncoder/engine/InspectMedia.h"
#include "CorvelEncoder/engine/SourceWatch.h"
#include "CorvelEncoderCore/CorvelIdentity.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string_view>

namespace corvel {

namespace {

using Clock = std::chrono::steady_clock;

// How one step of the graph ended.
struct Step
{
    enum class Kind
    {
        ok,
        failed,
        cancelled
    };
    Kind kind = Kind::ok;
    QString text;

    static Step ok() { return {}; }
    static Step failed(QString text) { return {Kind::failed, std::move(text)}; }
    static Step cancelled() { return {Kind::cancelled, {}}; }
    bool isOk() const { return kind == Kind::ok; }
};

const char* scaleMatrixName(const QString& matrix)
{
    if (matrix == u"bt709")
        return "bt709";
    if (matrix == u"smpte170m")
        return "smpte170m";
    if (matrix == u"bt470bg")
        return "bt470";
    if (matrix == u"fcc")
        return "fcc";
    if (matrix == u"smpte240m")
        return "smpte240m";
    if (matrix == u"bt2020nc" || matrix == u"bt2020c")
        return "bt2020";
    return nullptr;
}

QString channelLayoutText(int channels)
{
    AVChannelLayout layout;
    av_channel_layout_default(&layout, channels);
    char text[128] = {};
    av_channel_layout_describe(&layout, text, sizeof text);
    av_channel_layout_uninit(&layout);
    return QString::fromLatin1(text);
}

// FFmpeg's own texts ("No such file or directory.") do not say which file; these do.
QString writeError(int averror)
{
    return QStringLiteral("Could not write the output file. ") + ff::errorText(averror);
}

QString readError(int averror)
{
    return QStringLiteral("Could not read the source. ") + ff::errorText(averror);
}

// Everything one attempt at the encode opens. Destroyed before a retry or at the end.
struct Graph
{
    EncodePlan plan;
    bool reserved = false; // the plan's file was created by this attempt

    SourceWatch source;
    ff::InputFile input;
    AVStream* inVideo = nullptr;
    AVStream* inAudio = nullptr;
    ff::CodecContextPtr videoDecoder;
    ff::CodecContextPtr audioDecoder;

    ff::FilterGraphPtr videoFilter;
    AVFilterContext* videoSource = nullptr;
    AVFilterContext* videoSink = nullptr;
    int filterWidth = 0;
    int filterHeight = 0;
    int filterFormat = AV_PIX_FMT_NONE;
    int64_t videoEnd = AV_NOPTS_VALUE; // where the last decoded frame ends, source time base

    ff::FilterGraphPtr audioFilter;
    AVFilterContext* audioSource = nullptr;
    AVFilterContext* audioSink = nullptr;
    int audioFilterRate = 0;
    int audioFilterFormat = AV_SAMPLE_FMT_NONE;
    int audioFilterChannels = 0;
    int64_t nextAudioPts = AV_NOPTS_VALUE; // audio encoder time base, 1/sample rate

    std::unique_ptr<VideoEncoder> videoEncoder;
    ff::CodecContextPtr audioEncoder;
    std::optional<AudioCandidate> audio;
    VideoSettings videoSettings;

    std::unique_ptr<ff::OutputFile> output;
    AVStream* outVideo = nullptr;
    AVStream* outAudio = nullptr;
    bool hardware = false;
    bool didAppend = false; // a video packet reached the file
    int64_t framesEncoded = 0;

    int64_t startOffset = 0; // AV_TIME_BASE units
    double duration = 0;
    Clock::time_point startedAt;
    std::optional<Clock::time_point> lastReport;

    ff::PacketPtr packet = ff::makePacket();
    ff::FramePtr frame = ff::makeFrame();
    ff::FramePtr filtered = ff::makeFrame();
};

// Puts the filters of `chain` between `source` and `sink` and configures the graph.
bool linkFilterChain(AVFilterGraph* graph, AVFilterContext* source, AVFilterContext* sink,
                     const QString& chain)
{
    AVFilterInOut* outputs = avfilter_inout_alloc();
    AVFilterInOut* inputs = avfilter_inout_alloc();
    bool ok = outputs && inputs;
    if (ok) {
        outputs->name = av_strdup("in");
        outputs->filter_ctx = source;
        inputs->name = av_strdup("out");
        inputs->filter_ctx = sink;
        ok = avfilter_graph_parse_ptr(graph, chain.toLatin1().constData(), &inputs, &outputs,
                                      nullptr) >= 0 &&
             avfilter_graph_config(graph, nullptr) >= 0;
    }
    avfilter_inout_free(&inputs);
    avfilter_inout_free(&outputs);
    return ok;
}

} // namespace

class FFmpegEncodeSession::Worker
{
public:
    Worker(QString sourcePath, JobSettings settings, std::shared_ptr<EncoderChoice> encoders,
           QObject* context, std::shared_ptr<FFmpegEncodeSession*> alive)
        : m_sourcePath(std::move(sourcePath)), m_settings(std::move(settings)),
          m_encoders(std::move(encoders)), m_context(context), m_alive(std::move(alive))
    {
        m_interrupt.callback = &Worker::interrupted;
        m_interrupt.opaque = this;
    }

    void run();

    void setPaused(bool paused)
    {
        {
            std::lock_guard lock(m_mutex);
            m_paused = paused;
        }
        m_cv.notify_all();
    }
    void cancel()
    {
        {
            std::lock_guard lock(m_mutex);
            m_cancelled = true;
        }
        m_cv.notify_all();
    }
    bool waitForStopped(int msecs)
    {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::milliseconds(std::max(msecs, 0)),
                             [this] { return m_stopped; });
    }

private:
    static int interrupted(void* opaque)
    {
        return static_cast<Worker*>(opaque)->m_cancelled.load() ? 1 : 0;
    }
    bool cancelled() const { return m_cancelled.load(); }

    void post(std::function<void(FFmpegEncodeSession&)> fn)
    {
        QMetaObject::invokeMethod(
            m_context,
            [alive = m_alive, fn = std::move(fn)] {
                if (FFmpegEncodeSession* session = *alive; session && !session->m_completed)
                    fn(*session);
            },
            Qt::QueuedConnection);
    }
    void log(const QString& text, bool isError)
    {
        post([text, isError](FFmpegEncodeSession& s) {
            if (s.m_callbacks.onLog)
                s.m_callbacks.onLog(text, isError);
        });
    }

    Step runGraphs();
    Step openGraph(const InspectedMedia& media, Graph& g);
    void openAudio(const InspectedMedia& media, Graph& g);
    Step makeWriter(Graph& g);
    std::optional<QString> tryStartWriter(Graph& g, bool hardware);
    Step pump(Graph& g);
    Step finish(Graph& g);
    void cleanupPartial(Graph& g);

    Step decodeVideo(Graph& g, const AVPacket* packet);
    Step filterVideo(Graph& g, AVFrame* frame);
    bool buildVideoFilter(Graph& g, const AVFrame* frame);
    Step encodeVideo(Graph& g, AVFrame* frame);
    Step decodeAudio(Graph& g, const AVPacket* packet);
    Step filterAudio(Graph& g, AVFrame* frame);
    bool buildAudioFilter(Graph& g, const AVFrame* frame);
    Step encodeAudio(Graph& g, AVFrame* frame);
    // Feeds `frame` (null at the end) into a filter graph and encodes all it gives back.
    Step filterAndEncode(Graph& g, AVFilterContext* source, AVFilterContext* sink, AVFrame* frame,
                         Step (Worker::*encode)(Graph&, AVFrame*));
    Step writePacket(Graph& g, AVPacket* packet, AVStream* stream, AVRational encoderBase);
    void reportProgress(Graph& g, double fraction);

    const QString m_sourcePath;
    const JobSettings m_settings;
    const std::shared_ptr<EncoderChoice> m_encoders;
    QObject* const m_context;
    const std::shared_ptr<FFmpegEncodeSession*> m_alive;
    AVIOInterruptCB m_interrupt{};

    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_paused = false;  // guarded by m_mutex
    bool m_stopped = false; // guarded by m_mutex
    std::atomic<bool> m_cancelled = false;

    // Worker thread only.
    bool m_allowHardware = true;
    bool m_retried = false;
};

void FFmpegEncodeSession::Worker::run()
{
    const Step end = runGraphs();
    EncodeResult result;
    if (end.kind == Step::Kind::ok)
        result = end.text;
    else if (end.kind == Step::Kind::cancelled)
        result = std::unexpected(EncodeFailure::cancelled());
    else
        result = std::unexpected(EncodeFailure::message(end.text));
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
        return cancelled() ? Step::cancelled() : Step::failed(readError(ret));
    AVFormatContext* in = g.input.get();
    if (media.videoStream >= static_cast<int>(in->nb_streams))
        return Step::failed(QStringLiteral("Could not read video frames from this file."));
    g.inVideo = in->streams[media.videoStream];
    g.startOffset = in->start_time != AV_NOPTS_VALUE ? in->start_time : 0;
    g.duration = media.duration;

    const AVCodec* decoder = avcodec_find_decoder(g.inVideo->codecpar->codec_id);
    g.videoDecoder.reset(decoder ? avcodec_alloc_context3(decoder) : nullptr);
    if (!g.videoDecoder ||
        avcodec_parameters_to_context(g.videoDecoder.get(), g.inVideo->codecpar) < 0)
        return Step::failed(QStringLiteral("Could not read video frames from this file."));
    g.videoDecoder->pkt_timebase = g.inVideo->time_base;
    g.videoDecoder->thread_count = 0;
    g.videoDecoder->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    if (avcodec_open2(g.videoDecoder.get(), decoder, nullptr) < 0)
        return Step::failed(QStringLiteral("Could not read video frames from this file."));

    openAudio(media, g);

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

void FFmpegEncodeSession::Worker::openAudio(const InspectedMedia& media, Graph& g)
{
    if (media.audioStream < 0 || media.audioStream >= static_cast<int>(g.input->nb_streams))
        return;
    if (!media.audio) {
        log(QStringLiteral("Audio format was not readable. Writing video only."), true);
        return;
    }
    g.inAudio = g.input->streams[media.audioStream];
    const AVCodec* decoder = avcodec_find_decoder(g.inAudio->codecpar->codec_id);
    g.audioDecoder.reset(decoder ? avcodec_alloc_context3(decoder) : nullptr);
    bool decodes = g.audioDecoder &&
                   avcodec_parameters_to_context(g.audioDecoder.get(), g.inAudio->codecpar) >= 0;
    if (decodes) {
        g.audioDecoder->pkt_timebase = g.inAudio->time_base;
        decodes = avcodec_open2(g.audioDecoder.get(), decoder, nullptr) >= 0;
    }

    const AVOutputFormat* format =
        av_guess_format(g.plan.fileType == FileType::mpeg4 ? "mp4" : "mov", nullptr, nullptr);
    const bool globalHeader = format && (format->flags & AVFMT_GLOBALHEADER);
    const QList<AudioCandidate> candidates =
        decodes ? audioCandidates(m_settings.body.audio, *media.audio, m_settings.body.quality)
                : QList<AudioCandidate>();
    for (const AudioCandidate& candidate : candidates) {
        const AudioSettings& w = candidate.writer;
        const char* name = w.format == AudioFormat::aac ? "aac"
                           : w.bitDepth == 24           ? "pcm_s24le"
                                                        : "pcm_s16le";
        const AVCodec* codec = avcodec_find_encoder_by_name(name);
        ff::CodecContextPtr ctx(codec ? avcodec_alloc_context3(codec) : nullptr);
        if (!ctx)
            continue;
        ctx->sample_rate = w.sampleRate;
        av_channel_layout_default(&ctx->ch_layout, w.channels);
        ctx->sample_fmt = w.format == AudioFormat::aac ? AV_SAMPLE_FMT_FLTP
                          : w.bitDepth == 24           ? AV_SAMPLE_FMT_S32
                                                       : AV_SAMPLE_FMT_S16;
        ctx->time_base = {1, w.sampleRate};
        if (w.format == AudioFormat::aac)
            ctx->bit_rate = w.bitRate;
        if (globalHeader)
            ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (avcodec_open2(ctx.get(), codec, nullptr) < 0)
            continue;
        g.audioEncoder = std::move(ctx);
        g.audio = candidate;
        return;
    }
    g.inAudio = nullptr;
    g.audioDecoder.reset();
    log(QStringLiteral("Audio could not be converted. Writing video only."), true);
}

Step FFmpegEncodeSession::Worker::makeWriter(Graph& g)
{
    QString first = QStringLiteral("Could not start the encoder.");
    if (m_allowHardware && m_encoders->hasHardware(m_settings.body.codec)) {
        const auto failed = tryStartWriter(g, true);
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
    const auto failed = tryStartWriter(g, false);
    if (!failed)
        return Step::ok();
    if (cancelled())
        return Step::cancelled();
    return Step::failed(failed->isEmpty() ? first : *failed);
}

std::optional<QString> FFmpegEncodeSession::Worker::tryStartWriter(Graph& g, bool hardware)
{
    g.output = std::make_unique<ff::OutputFile>();
    g.videoEncoder.reset();
    g.outVideo = g.outAudio = nullptr;
    const bool mp4 = g.plan.fileType == FileType::mpeg4;
    // Through the claimed file itself, never by a name someone else could have replaced.
    if (const int ret =
            g.output->create(mp4 ? "mp4" : "mov", g.plan.output->writePath(), &m_interrupt);
        ret < 0)
        return writeError(ret);
    AVFormatContext* out = g.output->get();

    const PresetBody& body = m_settings.body;
    g.videoSettings = videoSettings(body.codec, static_cast<int>(g.plan.renderSize.width),
                                    static_cast<int>(g.plan.renderSize.height), g.plan.fps,
                                    body.bitrateMbps, g.plan.color, hardware);
    g.videoSettings.frameDuration = g.plan.frameDuration;
    const AVPixFmtDescriptor* sourceFormat = av_pix_fmt_desc_get(g.videoDecoder->pix_fmt);
    g.videoSettings.sourceHasAlpha = sourceFormat && (sourceFormat->flags & AV_PIX_FMT_FLAG_ALPHA);
    auto encoder = m_encoders->open(g.videoSettings, out->oformat->flags & AVFMT_GLOBALHEADER);
    if (!encoder)
        return encoder.error();
    g.videoEncoder = std::move(*encoder);
    AVCodecContext* venc = g.videoEncoder->context();

    g.outVideo = avformat_new_stream(out, nullptr);
    if (!g.outVideo || avcodec_parameters_from_context(g.outVideo->codecpar, venc) < 0)
        return QStringLiteral("The encoder rejected the video settings.");
    g.outVideo->time_base = venc->time_base;
    g.outVideo->avg_frame_rate = venc->framerate;
    // QuickTime players only take HEVC tagged hvc1.
    if (venc->codec_id == AV_CODEC_ID_HEVC)
        g.outVideo->codecpar->codec_tag = MKTAG('h', 'v', 'c', '1');

    if (g.audioEncoder) {
        g.outAudio = avformat_new_stream(out, nullptr);
        if (g.outAudio &&
            avcodec_parameters_from_context(g.outAudio->codecpar, g.audioEncoder.get()) >= 0) {
            g.outAudio->time_base = g.audioEncoder->time_base;
        } else {
            g.outAudio = nullptr; // the writer goes on without audio
        }
    }

    if (const int ret = g.output->openFile(); ret < 0)
        return writeError(ret);
    AVDictionary* options = nullptr;
    if (mp4)
        av_dict_set(&options, "movflags", "+faststart", 0);
    const int ret = avformat_write_header(out, &options);
    av_dict_free(&options);
    if (ret < 0)
        return writeError(ret);
    // The header call replaces the software tag, so it is set afterwards.
    av_dict_set(&out->metadata, mp4 ? "encoding_tool" : "encoder",
                QString(CorvelIdentity::encoderTag).toUtf8().constData(), 0);
    g.hardware = hardware;
    return std::nullopt;
}

Step FFmpegEncodeSession::Worker::pump(Graph& g)
{
    // A QuickTime/MP4 file cut short ends with a packet the demuxer could only read in part;
    // its index promised more, so finishing "successfully" would silently lose the rest of the
    // movie. Stream formats (MPEG-TS) cut mid-packet just end, and that is no failure.
    const bool indexed = std::string_view(g.input->iformat->name).starts_with("mov,");
    int cutShortStream = -1;
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
            return Step::failed(g.inAudio && cutShortStream == g.inAudio->index
                                    ? QStringLiteral("Reading audio failed.")
                                    : QStringLiteral("Reading video failed."));
        }
        if (ret < 0)
            return cancelled() ? Step::cancelled() : Step::failed(readError(ret));
        cutShortStream =
            indexed && (packet->flags & AV_PKT_FLAG_CORRUPT) ? packet->stream_index : -1;
        Step step;
        if (packet->stream_index == g.inVideo->index)
            step = decodeVideo(g, packet);
        else if (g.inAudio && packet->stream_index == g.inAudio->index)
            step = decodeAudio(g, packet);
        av_packet_unref(packet);
        if (!step.isOk())
            return step;
    }
}

Step FFmpegEncodeSession::Worker::finish(Graph& g)
{
    Step step = decodeVideo(g, nullptr);
    if (step.isOk() && g.audioDecoder)
        step = decodeAudio(g, nullptr);
    if (!step.isOk())
        return step;
    if (cancelled())
        return Step::cancelled();
    if (g.framesEncoded == 0)
        return Step::failed(QStringLiteral("Could not read video frames from this file."));
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

// Decodes one packet, or drains the decoder and everything after it for a null packet.
Step FFmpegEncodeSession::Worker::decodeVideo(Graph& g, const AVPacket* packet)
{
    int ret = avcodec_send_packet(g.videoDecoder.get(), packet);
    // A damaged packet costs a frame, as in any player; the rest of the movie still encodes.
    if (ret < 0 && ret != AVERROR_INVALIDDATA && ret != AVERROR_EOF)
        return Step::failed(ff::errorText(ret));
    for (;;) {
        if (cancelled())
            return Step::cancelled();
        AVFrame* frame = g.frame.get();
        ret = avcodec_receive_frame(g.videoDecoder.get(), frame);
        if (ret == AVERROR(EAGAIN))
            return Step::ok();
        if (ret == AVERROR_EOF)
            break;
        if (ret == AVERROR_INVALIDDATA)
            continue;
        if (ret < 0)
            return Step::failed(ff::errorText(ret));
        frame->pts = frame->best_effort_timestamp;
        if (frame->pts != AV_NOPTS_VALUE)
            frame->pts -= av_rescale_q(g.startOffset, AV_TIME_BASE_Q, g.inVideo->time_base);
        Step step = filterVideo(g, frame);
        av_frame_unref(frame);
        if (!step.isOk())
            return step;
    }
    if (Step step = filterVideo(g, nullptr); !step.isOk())
        return step;
    return encodeVideo(g, nullptr);
}

bool FFmpegEncodeSession::Worker::buildVideoFilter(Graph& g, const AVFrame* frame)
{
    g.videoFilter.reset(avfilter_graph_alloc());
    g.videoSource = g.videoSink = nullptr;
    if (!g.videoFilter)
        return false;
    const AVRational tb = g.inVideo->time_base;
    const AVRational sar =
        frame->sample_aspect_ratio.num > 0 ? frame->sample_aspect_ratio : AVRational{1, 1};
    const QByteArray args = QStringLiteral("video_size=%1x%2:pix_fmt=%3:time_base=%4/%5:"
                                           "pixel_aspect=%6/%7")
                                .arg(frame->width)
                                .arg(frame->height)
                                .arg(frame->format)
                                .arg(tb.num)
                                .arg(tb.den)
                                .arg(sar.num)
                                .arg(sar.den)
                                .toLatin1();
    if (avfilter_graph_create_filter(&g.videoSource, avfilter_get_by_name("buffer"), "in",
                                     args.constData(), nullptr, g.videoFilter.get()) < 0 ||
        avfilter_graph_create_filter(&g.videoSink, avfilter_get_by_name("buffersink"), "out",
                                     nullptr, nullptr, g.videoFilter.get()) < 0)
        return false;
    const AVPixelFormat target = g.videoEncoder->context()->pix_fmt;
    const AVPixelFormat formats[] = {target, AV_PIX_FMT_NONE};
    if (av_opt_set_int_list(g.videoSink, "pix_fmts", formats, AV_PIX_FMT_NONE,
                            AV_OPT_SEARCH_CHILDREN) < 0)
        return false;

    // Retime first so dropped frames are never scaled; turn upright, then fill the render size.
    QString chain = QStringLiteral("fps=fps=%1/%2")
                        .arg(g.plan.frameDuration.timescale)
                        .arg(g.plan.frameDuration.value);
    static const char* const turns[] = {"", ",transpose=clock", ",hflip,vflip",
                                        ",transpose=cclock"};
    chain += QLatin1StringView(turns[g.plan.quarterTurns & 3]);
    chain += QStringLiteral(",scale=w=%1:h=%2:flags=bicubic")
                 .arg(g.plan.renderSize.width)
                 .arg(g.plan.renderSize.height);
    // The plan's matrix is the source's own, or BT.709 for an untagged source: Y'CbCr passes
    // through unchanged (swscale would otherwise assume BT.601 and shift an HD picture's
    // colours), and RGB sources are converted with the matrix the file is tagged with.
    if (const char* matrix = scaleMatrixName(g.plan.color.matrix.value_or(QString())))
        chain += QStringLiteral(":in_color_matrix=%1:out_color_matrix=%1")
                     .arg(QLatin1StringView(matrix));
    chain += QStringLiteral(",setsar=1,format=pix_fmts=") +
             QLatin1StringView(av_get_pix_fmt_name(target));

    bool ok = linkFilterChain(g.videoFilter.get(), g.videoSource, g.videoSink, chain);
    g.filterWidth = frame->width;
    g.filterHeight = frame->height;
    g.filterFormat = frame->format;
    return ok;
}

Step FFmpegEncodeSession::Worker::filterVideo(Graph& g, AVFrame* frame)
{
    if (frame && (!g.videoFilter || frame->width != g.filterWidth ||
                  frame->height != g.filterHeight || frame->format != g.filterFormat)) {
        if (!buildVideoFilter(g, frame))
            return Step::failed(QStringLiteral("Could not read video frames from this file."));
    }
    if (!g.videoFilter)
        return Step::ok();
    if (frame && frame->pts != AV_NOPTS_VALUE) {
        int64_t duration = frame->pkt_duration;
        if (duration <= 0) {
            AVRational rate = g.inVideo->avg_frame_rate;
            if (rate.num <= 0 || rate.den <= 0)
                rate = g.inVideo->r_frame_rate;
            duration = rate.num > 0 && rate.den > 0
                           ? av_rescale_q(1, av_inv_q(rate), g.inVideo->time_base)
                           : 0;
        }
        g.videoEnd = g.videoEnd == AV_NOPTS_VALUE ? frame->pts + duration
                                                  : std::max(g.videoEnd, frame->pts + duration);
    }
    if (!frame && g.videoEnd != AV_NOPTS_VALUE) {
        // The stream ends where its last frame ends. Closed at that frame's start instead, the
        // fps filter would see the last frame as lasting no time and drop it.
        if (const int ret = av_buffersrc_close(g.videoSource, g.videoEnd, AV_BUFFERSRC_FLAG_PUSH);
            ret < 0 && ret != AVERROR_EOF)
            return Step::failed(ff::errorText(ret));
    }
    return filterAndEncode(g, g.videoSource, g.videoSink, frame, &Worker::encodeVideo);
}

Step FFmpegEncodeSession::Worker::filterAndEncode(Graph& g, AVFilterContext* source,
                                                  AVFilterContext* sink, AVFrame* frame,
                                                  Step (Worker::*encode)(Graph&, AVFrame*))
{
    if (const int ret = av_buffersrc_add_frame_flags(source, frame, AV_BUFFERSRC_FLAG_KEEP_REF);
        ret < 0 && ret != AVERROR_EOF)
        return Step::failed(ff::errorText(ret));
    for (;;) {
        AVFrame* out = g.filtered.get();
        const int ret = av_buffersink_get_frame(sink, out);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return Step::ok();
        if (ret < 0)
            return Step::failed(ff::errorText(ret));
        Step step = (this->*encode)(g, out);
        av_frame_unref(out);
        if (!step.isOk())
            return step;
    }
}

Step FFmpegEncodeSession::Worker::encodeVideo(Graph& g, AVFrame* frame)
{
    AVCodecContext* enc = g.videoEncoder->context();
    double seconds = -1;
    if (frame) {
        if (cancelled())
            return Step::cancelled();
        frame->pts =
            av_rescale_q(frame->pts, av_buffersink_get_time_base(g.videoSink), enc->time_base);
        frame->pict_type = AV_PICTURE_TYPE_NONE;
        // prores_ks writes the tags it finds on each frame, not the context's.
        frame->color_primaries = enc->color_primaries;
        frame->color_trc = enc->color_trc;
        frame->colorspace = enc->colorspace;
        frame->color_range = enc->color_range;
        seconds = frame->pts * av_q2d(enc->time_base);
    }
    int ret = g.videoEncoder->sendFrame(frame);
    if (ret < 0 && ret != AVERROR_EOF)
        return Step::failed(ff::errorText(ret));
    if (frame) {
        ++g.framesEncoded;
        if (g.duration > 0)
            reportProgress(g, seconds / g.duration);
    }
    for (;;) {
        ff::PacketPtr owned = ff::makePacket();
        AVPacket* packet = owned.get();
        ret = g.videoEncoder->receivePacket(packet);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return Step::ok();
        if (ret < 0)
            return Step::failed(ff::errorText(ret));
        if (Step step = writePacket(g, packet, g.outVideo, enc->time_base); !step.isOk())
            return step;
        g.didAppend = true;
    }
}

Step FFmpegEncodeSession::Worker::decodeAudio(Graph& g, const AVPacket* packet)
{
    int ret = avcodec_send_packet(g.audioDecoder.get(), packet);
    if (ret < 0 && ret != AVERROR_INVALIDDATA && ret != AVERROR_EOF)
        return Step::failed(ff::errorText(ret));
    for (;;) {
        AVFrame* frame = g.frame.get();
        ret = avcodec_receive_frame(g.audioDecoder.get(), frame);
        if (ret == AVERROR(EAGAIN))
            return Step::ok();
        if (ret == AVERROR_EOF)
            break;
        if (ret == AVERROR_INVALIDDATA)
            continue;
        if (ret < 0)
            return Step::failed(ff::errorText(ret));
        if (frame->best_effort_timestamp != AV_NOPTS_VALUE) {
            const int64_t offset =
                av_rescale_q(g.startOffset, AV_TIME_BASE_Q, g.inAudio->time_base);
            frame->pts = av_rescale_q(frame->best_effort_timestamp - offset, g.inAudio->time_base,
                                      {1, frame->sample_rate});
        } else {
            frame->pts = AV_NOPTS_VALUE;
        }
        Step step = filterAudio(g, frame);
        av_frame_unref(frame);
        if (!step.isOk())
            return step;
    }
    if (Step step = filterAudio(g, nullptr); !step.isOk())
        return step;
    return encodeAudio(g, nullptr);
}

bool FFmpegEncodeSession::Worker::buildAudioFilter(Graph& g, const AVFrame* frame)
{
    g.audioFilter.reset(avfilter_graph_alloc());
    if (!g.audioFilter)
        return false;
    g.audioFilterRate = frame->sample_rate;
    g.audioFilterFormat = frame->format;
    g.audioFilterChannels = frame->ch_layout.nb_channels;
    AVChannelLayout layout;
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&layout, frame->ch_layout.nb_channels);
    else
        av_channel_layout_copy(&layout, &frame->ch_layout);
    char layoutText[128] = {};
    av_channel_layout_describe(&layout, layoutText, sizeof layoutText);
    av_channel_layout_uninit(&layout);
    const QByteArray args =
        QStringLiteral("time_base=1/%1:sample_rate=%1:sample_fmt=%2:channel_layout=%3")
            .arg(frame->sample_rate)
            .arg(QLatin1StringView(
                av_get_sample_fmt_name(static_cast<AVSampleFormat>(frame->format))))
            .arg(QLatin1StringView(layoutText))
            .toLatin1();
    if (avfilter_graph_create_filter(&g.audioSource, avfilter_get_by_name("abuffer"), "in",
                                     args.constData(), nullptr, g.audioFilter.get()) < 0 ||
        avfilter_graph_create_filter(&g.audioSink, avfilter_get_by_name("abuffersink"), "out",
                                     nullptr, nullptr, g.audioFilter.get()) < 0)
        return false;
    const AVCodecContext* enc = g.audioEncoder.get();
    const QString chain =
        QStringLiteral("aresample=%1,aformat=sample_fmts=%2:sample_rates=%1:channel_layouts=%3")
            .arg(enc->sample_rate)
            .arg(QLatin1StringView(av_get_sample_fmt_name(enc->sample_fmt)))
            .arg(channelLayoutText(enc->ch_layout.nb_channels));
    bool ok = linkFilterChain(g.audioFilter.get(), g.audioSource, g.audioSink, chain);
    // AAC takes fixed-size frames.
    if (ok && enc->frame_size > 0 && !(enc->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE))
        av_buffersink_set_frame_size(g.audioSink, enc->frame_size);
    return ok;
}

Step FFmpegEncodeSession::Worker::filterAudio(Graph& g, AVFrame* frame)
{
    // Broadcast recordings switch layouts (5.1 to stereo at an advert); the filter is rebuilt
    // for the new input and keeps producing the encoder's format. The old graph is not flushed:
    // AAC takes a short frame only at the very end, so its last few milliseconds are dropped.
    const bool changed =
        frame && g.audioFilter &&
        (frame->sample_rate != g.audioFilterRate || frame->format != g.audioFilterFormat ||
         frame->ch_layout.nb_channels != g.audioFilterChannels);
    if (frame && (!g.audioFilter || changed) && !buildAudioFilter(g, frame))
        return Step::failed(QStringLiteral("Reading audio failed."));
    if (!g.audioFilter)
        return Step::ok();
    return filterAndEncode(g, g.audioSource, g.audioSink, frame, &Worker::encodeAudio);
}

Step FFmpegEncodeSession::Worker::encodeAudio(Graph& g, AVFrame* frame)
{
    AVCodecContext* enc = g.audioEncoder.get();
    if (frame) {
        const bool first = g.nextAudioPts == AV_NOPTS_VALUE;
        if (frame->pts == AV_NOPTS_VALUE)
            frame->pts = first ? 0 : g.nextAudioPts;
        else
            frame->pts =
                av_rescale_q(frame->pts, av_buffersink_get_time_base(g.audioSink), enc->time_base);
        // Spliced sources overlap by a few samples; the muxer refuses time running backwards.
        if (!first)
            frame->pts = std::max(frame->pts, g.nextAudioPts);
        g.nextAudioPts = frame->pts + frame->nb_samples;
    }
    int ret = avcodec_send_frame(enc, frame);
    if (ret < 0 && ret != AVERROR_EOF)
        return Step::failed(ff::errorText(ret));
    for (;;) {
        ff::PacketPtr packet = ff::makePacket();
        ret = avcodec_receive_packet(enc, packet.get());
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return Step::ok();
        if (ret < 0)
            return Step::failed(ff::errorText(ret));
        if (!g.outAudio)
            continue;
        if (Step step = writePacket(g, packet.get(), g.outAudio, enc->time_base); !step.isOk())
            return step;
    }
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

FFmpegEncodeSession::FFmpegEncodeSession(const QUuid& jobID, const QString& sourcePath,
                                         const JobSettings& settings, EncodeCallbacks callbacks,
                                         std::shared_ptr<EncoderChoice> encoders)
    : m_jobID(jobID), m_callbacks(std::move(callbacks)), m_context(new QObject),
      m_alive(std::make_shared<FFmpegEncodeSession*>(this)),
      m_worker(
          std::make_shared<Worker>(sourcePath, settings, std::move(encoders), m_context, m_alive))
{}

FFmpegEncodeSession::~FFmpegEncodeSession()
{
    *m_alive = nullptr;
    if (m_thread.joinable()) {
        m_worker->cancel();
        m_thread.join();
    }
    // May run inside a callback delivered through the context, so the context goes later.
    m_context->deleteLater();
}

void FFmpegEncodeSession::start()
{
    if (m_thread.joinable() || m_completed)
        return;
    m_thread = std::thread([worker = m_worker] { worker->run(); });
}

void FFmpegEncodeSession::pause()
{
    if (!m_completed)
        m_worker->setPaused(true);
}

void FFmpegEncodeSession::resume()
{
    if (!m_completed)
        m_worker->setPaused(false);
}

void FFmpegEncodeSession::cancel()
{
    if (!m_completed)
        m_worker->cancel();
}

bool FFmpegEncodeSession::waitForStopped(int msecs)
{
    if (!m_thread.joinable())
        return true;
    if (!m_worker->waitForStopped(msecs))
        return false;
    m_thread.join();
    return true;
}

FFmpegEncodeSessionFactory::FFmpegEncodeSessionFactory(std::shared_ptr<EncoderChoice> encoders)
    : m_encoders(std::move(encoders))
{}

std::unique_ptr<EncodeSession> FFmpegEncodeSessionFactory::create(const QUuid& jobID,
                                                                  const QString& sourcePath,
                                                                  const JobSettings& settings,
                                                                  EncodeCallbacks callbacks)
{
    return std::make_unique<FFmpegEncodeSession>(jobID, sourcePath, settings, std::move(callbacks),
                                                 m_encoders);
}

} // namespace corvel
