#include "CorvelEncoder/engine/FFmpegEncodeSession.h"

#include "CorvelEncoder/engine/FFmpegHandles.h"
#include "CorvelEncoder/engine/InspectMedia.h"
#include "CorvelEncoder/engine/SourceWatch.h"
#include "CorvelEncoderCore/CorvelIdentity.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/channel_layout.h>
#include <libavutil/cpu.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string_view>

namespace corvel {

namespace {

using Clock = std::chrono::steady_clock;

// How long destroying a session waits for its cancelled worker.
constexpr int kStopWaitMs = 5000;

// Where an encode failed. The user's message is made from it in one place (userMessage), so
// FFmpeg's internal texts ("Operation not permitted" from a decoder) never reach the user.
enum class Stage
{
    none,       // the step's text is already the user's message
    readSource, // demuxing
    readVideo,  // decoding or filtering
    readAudio,
    writeVideo, // the encoders
    writeAudio,
    writeFile, // the muxer and the file system
};

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
    Stage stage = Stage::none;
    int code = 0; // AVERROR of the failing call; 0 when there is none

    static Step ok() { return {}; }
    static Step failed(QString text) { return {Kind::failed, std::move(text)}; }
    static Step failed(Stage stage, int code = 0) { return {Kind::failed, {}, stage, code}; }
    static Step cancelled() { return {Kind::cancelled, {}}; }
    bool isOk() const { return kind == Kind::ok; }
};

// The system's reason, for the few failures a user can act on (a full disk, a permission);
// any other code is FFmpeg's own and says nothing to the user.
QString systemReason(int averror)
{
    switch (averror) {
    case AVERROR(EIO):
    case AVERROR(ENOSPC):
    case AVERROR(EDQUOT):
    case AVERROR(EFBIG):
    case AVERROR(EACCES):
    case AVERROR(EROFS):
    case AVERROR(ENOENT):
    case AVERROR(ENOMEM):
    case AVERROR(EPERM): // file systems that refuse how the file gets its name
    case AVERROR(EOPNOTSUPP):
    case AVERROR(ENAMETOOLONG):
    case AVERROR(ENOTDIR):
    case AVERROR(ESTALE):   // a network share that went away
    case AVERROR(ENOTCONN): // a FUSE file system that went away
        return u' ' + ff::errorText(averror);
    default:
        return {};
    }
}

QString userMessage(const Step& step)
{
    switch (step.stage) {
    case Stage::none:
        return step.text;
    case Stage::readSource:
        return QStringLiteral("Could not read the source.") + systemReason(step.code);
    case Stage::readVideo:
        return QStringLiteral("Reading video failed.") + systemReason(step.code);
    case Stage::readAudio:
        return QStringLiteral("Reading audio failed.") + systemReason(step.code);
    case Stage::writeVideo:
        return QStringLiteral("Writing a video frame failed.") + systemReason(step.code);
    case Stage::writeAudio:
        return QStringLiteral("Writing audio failed.") + systemReason(step.code);
    case Stage::writeFile:
        return QStringLiteral("Could not write the output file.") + systemReason(step.code);
    }
    return step.text;
}

QString writeError(int averror)
{
    return userMessage(Step::failed(Stage::writeFile, averror));
}

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

// An encoder the session opened itself (audio), driven through the same seam as video.
class ContextEncoder final : public VideoEncoder
{
public:
    explicit ContextEncoder(AVCodecContext* ctx) : m_ctx(ctx) {}
    AVCodecContext* context() const override { return m_ctx; }
    int sendFrame(const AVFrame* frame) override { return avcodec_send_frame(m_ctx, frame); }
    int receivePacket(AVPacket* packet) override { return avcodec_receive_packet(m_ctx, packet); }

private:
    AVCodecContext* m_ctx;
};

// One stream's way from its decoder through its filter to its encoder. Video and audio run
// the same decoding and encoding code; only the filter they build differs.
struct Lane
{
    explicit Lane(bool video) : isVideo(video) {}
    const bool isVideo;
    ff::FilterGraphPtr filter;
    AVFilterContext* source = nullptr;
    AVFilterContext* sink = nullptr;
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
    std::optional<ContextEncoder> audioCoder; // the audio encoder as its lane drives it

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

    AVStream* in(const Lane& lane) const { return lane.isVideo ? inVideo : inAudio; }
    AVCodecContext* decoder(const Lane& lane) const
    {
        return lane.isVideo ? videoDecoder.get() : audioDecoder.get();
    }
    VideoEncoder* encoder(const Lane& lane)
    {
        return lane.isVideo ? videoEncoder.get() : audioCoder ? &*audioCoder : nullptr;
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

// Each frame thread of a decoder holds pictures of its own. One per core, as many as fit in
// a fixed budget: at 8K that is three, so memory stays bounded whatever the size.
int decoderThreads(const AVCodecParameters* par)
{
    constexpr int64_t kBudgetBytes = int64_t{768} << 20;
    const int64_t frameBytes = std::max<int64_t>(int64_t{par->width} * par->height * 6, 1);
    const int64_t fit = kBudgetBytes / frameBytes;
    // The budget only ever lowers FFmpeg's own choice (a thread per core and one more): asked
    // for more threads than cores, a decoder keeps that many pictures in flight for nothing.
    const int automatic = std::min(av_cpu_count() + 1, 16);
    return fit >= automatic ? 0 : static_cast<int>(std::max<int64_t>(fit, 1));
}

// What editors and libraries file footage by: creation time, title and comment, the start
// timecode (QuickTime gets a tmcd track, MP4 a tag) and the audio track's language.
void copyMetadata(Graph& g)
{
    AVFormatContext* out = g.output->get();
    for (const char* key : {"creation_time", "title", "comment", "reel_name"}) {
        if (const AVDictionaryEntry* tag = av_dict_get(g.input->metadata, key, nullptr, 0))
            av_dict_set(&out->metadata, key, tag->value, 0);
    }
    if (!g.plan.timecode.isEmpty())
        av_dict_set(&g.outVideo->metadata, "timecode", g.plan.timecode.toLatin1().constData(), 0);
    if (const AVDictionaryEntry* language =
            g.inAudio && g.outAudio ? av_dict_get(g.inAudio->metadata, "language", nullptr, 0)
                                    : nullptr)
        av_dict_set(&g.outAudio->metadata, "language", language->value, 0);
}

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

// More decoder or demuxer errors than this in a row end the retries for that packet.
constexpr int kErrorsInARow = 64;
// Damage judged before the end once this many packets were rejected.
constexpr int64_t kDamageJudgedEarly = 500;

// A stream fails when damage outweighs what it gave: more rejected packets than decoded
// frames, or nothing decoded at all. That is judged at the end, and early once so many
// packets were rejected that reading on is pointless. Less damage is skipped: the ffmpeg
// program also decodes such files through.
Step judgeDamage(const Lane& lane, bool atEnd)
{
    const bool outweighs = lane.damaged > lane.frames;
    const bool fails = atEnd ? lane.packets > 0 && (lane.frames == 0 || outweighs)
                             : outweighs && lane.damaged >= kDamageJudgedEarly;
    return fails ? Step::failed(lane.readStage()) : Step::ok();
}

// Puts the frame on the source's timeline from 0 and returns how long it lasts, in the
// stream's time base. A frame without a timestamp (AVI with packed B-frames) follows the one
// before it.
int64_t stamp(const Graph& g, const Lane& lane, AVFrame* frame)
{
    const AVStream* in = g.in(lane);
    frame->pts = frame->best_effort_timestamp;
    if (frame->pts != AV_NOPTS_VALUE)
        frame->pts -= av_rescale_q(g.startOffset, AV_TIME_BASE_Q, in->time_base);
    else
        frame->pts = lane.end != AV_NOPTS_VALUE ? lane.end : 0;
    if (!lane.isVideo)
        return av_rescale_q(frame->nb_samples, {1, std::max(frame->sample_rate, 1)}, in->time_base);
#if LIBAVUTIL_VERSION_MAJOR >= 58
    int64_t duration = frame->duration;
#else
    int64_t duration = frame->pkt_duration;
#endif
    if (duration <= 0) {
        AVRational rate = in->avg_frame_rate;
        if (rate.num <= 0 || rate.den <= 0)
            rate = in->r_frame_rate;
        duration =
            rate.num > 0 && rate.den > 0 ? av_rescale_q(1, av_inv_q(rate), in->time_base) : 0;
    }
    return duration;
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

    // After this, nothing the worker reports reaches the main thread: its session is gone.
    void forgetContext()
    {
        std::lock_guard lock(m_contextMutex);
        m_context = nullptr;
    }

private:
    static int interrupted(void* opaque)
    {
        return static_cast<Worker*>(opaque)->m_cancelled.load() ? 1 : 0;
    }
    bool cancelled() const { return m_cancelled.load(); }

    void post(std::function<void(FFmpegEncodeSession&)> fn)
    {
        std::lock_guard lock(m_contextMutex);
        if (!m_context)
            return;
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

    // Decodes one packet, or drains the decoder and everything after it for a null packet.
    Step decode(Graph& g, Lane& lane, const AVPacket* packet);
    // Feeds `frame` (null at the end) through the lane's filter and encodes all it gives back.
    Step filter(Graph& g, Lane& lane, AVFrame* frame);
    Step drainFilter(Graph& g, Lane& lane);
    Step pullFiltered(Graph& g, Lane& lane);
    bool buildVideoFilter(Graph& g, const AVFrame* frame);
    bool buildAudioFilter(Graph& g, const AVFrame* frame);
    Step encode(Graph& g, Lane& lane, AVFrame* frame);
    Step writePacket(Graph& g, AVPacket* packet, AVStream* stream, AVRational encoderBase);
    void reportProgress(Graph& g, double fraction);

    const QString m_sourcePath;
    const JobSettings m_settings;
    const std::shared_ptr<EncoderChoice> m_encoders;
    std::mutex m_contextMutex;
    QObject* m_context; // guarded by m_contextMutex; null once the session is destroyed
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
    g.videoDecoder->thread_count = decoderThreads(g.inVideo->codecpar);
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
        g.audioCoder.emplace(g.audioEncoder.get());
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
    g.videoSettings.interlaced = g.plan.interlaced;
    g.videoSettings.topFieldFirst = g.plan.topFieldFirst;
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
    copyMetadata(g);
    ff::Options options;
    if (mp4)
        options.set("movflags", "+faststart");
    const int ret =
        options.pass([out](AVDictionary** dict) { return avformat_write_header(out, dict); });
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
            if (!(lane.isVideo ? buildVideoFilter(g, frame) : buildAudioFilter(g, frame)))
                return Step::failed(lane.readStage());
            lane.shape = shape;
        }
    }
    if (!lane.filter)
        return Step::ok();
    if (!frame)
        return drainFilter(g, lane);
    if (const int ret =
            av_buffersrc_add_frame_flags(lane.source, frame, AV_BUFFERSRC_FLAG_KEEP_REF);
        ret < 0)
        return Step::failed(lane.readStage(), ret);
    return pullFiltered(g, lane);
}

Step FFmpegEncodeSession::Worker::drainFilter(Graph& g, Lane& lane)
{
    // The stream ends where its last frame ends. Closed at that frame's start instead, the
    // fps filter would see the last frame as lasting no time and drop it.
    if (const int ret = av_buffersrc_close(lane.source, lane.end != AV_NOPTS_VALUE ? lane.end : 0,
                                           AV_BUFFERSRC_FLAG_PUSH);
        ret < 0 && ret != AVERROR_EOF)
        return Step::failed(lane.readStage(), ret);
    return pullFiltered(g, lane);
}

Step FFmpegEncodeSession::Worker::pullFiltered(Graph& g, Lane& lane)
{
    for (;;) {
        AVFrame* out = g.filtered.get();
        const int ret = av_buffersink_get_frame(lane.sink, out);
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

bool FFmpegEncodeSession::Worker::buildVideoFilter(Graph& g, const AVFrame* frame)
{
    Lane& lane = g.videoLane;
    lane.filter.reset(avfilter_graph_alloc());
    lane.source = lane.sink = nullptr;
    if (!lane.filter)
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
    if (avfilter_graph_create_filter(&lane.source, avfilter_get_by_name("buffer"), "in",
                                     args.constData(), nullptr, lane.filter.get()) < 0 ||
        avfilter_graph_create_filter(&lane.sink, avfilter_get_by_name("buffersink"), "out", nullptr,
                                     nullptr, lane.filter.get()) < 0)
        return false;
    const AVPixelFormat target = g.videoEncoder->context()->pix_fmt;
    const AVPixelFormat formats[] = {target, AV_PIX_FMT_NONE};
    if (av_opt_set_int_list(lane.sink, "pix_fmts", formats, AV_PIX_FMT_NONE,
                            AV_OPT_SEARCH_CHILDREN) < 0)
        return false;

    // Merge fields first, so nothing after mixes the two. Retime before scaling so dropped
    // frames are never scaled; mirror and turn upright, then fill the render size.
    QString chain = QString::fromLatin1(g.plan.deinterlace ? "bwdif=mode=send_frame," : "") +
                    QStringLiteral("fps=fps=%1/%2")
                        .arg(g.plan.frameDuration.timescale)
                        .arg(g.plan.frameDuration.value);
    static const char* const turns[] = {"", ",transpose=clock", ",hflip,vflip",
                                        ",transpose=cclock"};
    if (g.plan.mirrored)
        chain += QStringLiteral(",hflip");
    chain += QLatin1StringView(turns[g.plan.quarterTurns & 3]);
    // Kept fields have their chroma converted field by field.
    chain += QStringLiteral(",scale=w=%1:h=%2:flags=bicubic:interl=%3")
                 .arg(g.plan.renderSize.width)
                 .arg(g.plan.renderSize.height)
                 .arg(g.plan.interlaced ? 1 : 0);
    // The plan's matrix is the source's own, or BT.709 for an untagged source: Y'CbCr passes
    // through unchanged (swscale would otherwise assume BT.601 and shift an HD picture's
    // colours), and RGB sources are converted with the matrix the file is tagged with.
    if (const char* matrix = scaleMatrixName(g.plan.color.matrix.value_or(QString())))
        chain += QStringLiteral(":in_color_matrix=%1:out_color_matrix=%1")
                     .arg(QLatin1StringView(matrix));
    chain += QStringLiteral(",setsar=1,format=pix_fmts=") +
             QLatin1StringView(av_get_pix_fmt_name(target));

    return linkFilterChain(lane.filter.get(), lane.source, lane.sink, chain);
}

bool FFmpegEncodeSession::Worker::buildAudioFilter(Graph& g, const AVFrame* frame)
{
    Lane& lane = g.audioLane;
    lane.filter.reset(avfilter_graph_alloc());
    lane.source = lane.sink = nullptr;
    if (!lane.filter)
        return false;
    AVChannelLayout layout;
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&layout, frame->ch_layout.nb_channels);
    else
        av_channel_layout_copy(&layout, &frame->ch_layout);
    char layoutText[128] = {};
    av_channel_layout_describe(&layout, layoutText, sizeof layoutText);
    av_channel_layout_uninit(&layout);
    const AVRational tb = g.inAudio->time_base;
    const QByteArray args =
        QStringLiteral("time_base=%1/%2:sample_rate=%3:sample_fmt=%4:channel_layout=%5")
            .arg(tb.num)
            .arg(tb.den)
            .arg(frame->sample_rate)
            .arg(QLatin1StringView(
                av_get_sample_fmt_name(static_cast<AVSampleFormat>(frame->format))))
            .arg(QLatin1StringView(layoutText))
            .toLatin1();
    if (avfilter_graph_create_filter(&lane.source, avfilter_get_by_name("abuffer"), "in",
                                     args.constData(), nullptr, lane.filter.get()) < 0 ||
        avfilter_graph_create_filter(&lane.sink, avfilter_get_by_name("abuffersink"), "out",
                                     nullptr, nullptr, lane.filter.get()) < 0)
        return false;
    const AVCodecContext* enc = g.audioEncoder.get();
    // Audio stays locked to the source's timeline: where packets are missing or were too
    // damaged to decode, silence fills the gap, and overlaps are trimmed. PCM in QuickTime is
    // stored back to back, so without this every hole would pull the rest of the sound early.
    // It starts at the movie's start (or where a replaced graph stopped), so late audio is
    // preceded by silence.
    const QString chain =
        QStringLiteral("aresample=%1:async=1:min_hard_comp=0.01:first_pts=%2,"
                       "aformat=sample_fmts=%3:sample_rates=%1:channel_layouts=%4")
            .arg(enc->sample_rate)
            .arg(lane.nextOut != AV_NOPTS_VALUE ? lane.nextOut : 0)
            .arg(QLatin1StringView(av_get_sample_fmt_name(enc->sample_fmt)))
            .arg(channelLayoutText(enc->ch_layout.nb_channels));
    bool ok = linkFilterChain(lane.filter.get(), lane.source, lane.sink, chain);
    // AAC takes fixed-size frames.
    if (ok && enc->frame_size > 0 && !(enc->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE))
        av_buffersink_set_frame_size(lane.sink, enc->frame_size);
    return ok;
}

Step FFmpegEncodeSession::Worker::encode(Graph& g, Lane& lane, AVFrame* frame)
{
    VideoEncoder* encoder = g.encoder(lane);
    AVCodecContext* enc = encoder->context();
    if (frame) {
        if (cancelled())
            return Step::cancelled();
        if (frame->pts != AV_NOPTS_VALUE)
            frame->pts =
                av_rescale_q(frame->pts, av_buffersink_get_time_base(lane.sink), enc->time_base);
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
    for (;;) {
        ff::PacketPtr owned = ff::makePacket();
        AVPacket* packet = owned.get();
        ret = encoder->receivePacket(packet);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return Step::ok();
        if (ret < 0)
            return Step::failed(lane.writeStage(), ret);
        AVStream* out = g.out(lane);
        if (!out)
            continue;
        if (Step step = writePacket(g, packet, out, enc->time_base); !step.isOk())
            return step;
        g.didAppend = g.didAppend || lane.isVideo;
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
    m_worker->forgetContext();
    if (m_thread.joinable()) {
        m_worker->cancel();
        // A worker stuck where cancelling cannot reach it (a read from a hung network mount)
        // would hold up quitting for good. It is left to end on its own: it owns all it uses,
        // removes its partial file itself, and reports to no one.
        if (m_worker->waitForStopped(kStopWaitMs))
            m_thread.join();
        else
            m_thread.detach();
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
