#include "CorvelEncoder/engine/EncodeGraph.h"

#include "CorvelEncoder/engine/CpuBudget.h"

#include "CorvelEncoderCore/CorvelIdentity.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/cpu.h>
#include <libavutil/pixdesc.h>
}

namespace corvel {

namespace {

// Damage judged before the end once this many packets were rejected.
constexpr int64_t kDamageJudgedEarly = 500;

// Each frame thread of a decoder holds pictures of its own. One per core, as many as fit in
// a fixed budget: at 8K that is three, so memory stays bounded whatever the size.
int decoderThreads(const AVCodecParameters* par)
{
    constexpr int64_t kBudgetBytes = int64_t{768} << 20;
    const int64_t frameBytes = std::max<int64_t>(int64_t{par->width} * par->height * 6, 1);
    const int64_t fit = kBudgetBytes / frameBytes;
    // The budget only ever lowers this encode's share of the CPUs it may use: asked for more
    // threads than that, a decoder keeps that many pictures in flight for nothing.
    const int automatic = std::min(threadsPerEncode(), 16);
    return static_cast<int>(std::clamp<int64_t>(fit, 1, automatic));
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

// An audio encoder for what the writer takes; none when FFmpeg's refuses it.
std::unique_ptr<FrameEncoder> openAudioEncoder(const AudioSettings& w, bool globalHeader)
{
    const char* name = w.format == AudioFormat::aac ? "aac"
                       : w.bitDepth == 24           ? "pcm_s24le"
                                                    : "pcm_s16le";
    const AVCodec* codec = avcodec_find_encoder_by_name(name);
    ff::CodecContextPtr ctx(codec ? avcodec_alloc_context3(codec) : nullptr);
    if (!ctx)
        return nullptr;
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
    ff::Options options;
    auto opened = openFrameEncoder(std::move(ctx), codec, options);
    return opened ? std::move(*opened) : nullptr;
}

} // namespace

bool openVideoDecoder(Graph& g, const InspectedMedia& media)
{
    AVFormatContext* in = g.input.get();
    if (media.videoStream >= static_cast<int>(in->nb_streams))
        return false;
    g.inVideo = in->streams[media.videoStream];
    g.startOffset = in->start_time != AV_NOPTS_VALUE ? in->start_time : 0;
    g.duration = media.duration;

    const AVCodec* decoder = avcodec_find_decoder(g.inVideo->codecpar->codec_id);
    g.videoDecoder.reset(decoder ? avcodec_alloc_context3(decoder) : nullptr);
    if (!g.videoDecoder ||
        avcodec_parameters_to_context(g.videoDecoder.get(), g.inVideo->codecpar) < 0)
        return false;
    g.videoDecoder->pkt_timebase = g.inVideo->time_base;
    g.videoDecoder->thread_count = decoderThreads(g.inVideo->codecpar);
    g.videoDecoder->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    return avcodec_open2(g.videoDecoder.get(), decoder, nullptr) >= 0;
}

std::optional<QString> openAudio(Graph& g, const InspectedMedia& media, const JobSettings& settings)
{
    if (media.audioStream < 0 || media.audioStream >= static_cast<int>(g.input->nb_streams))
        return std::nullopt;
    if (!media.audio)
        return QStringLiteral("Audio format was not readable. Writing video only.");
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
        decodes ? audioCandidates(settings.body.audio, *media.audio, settings.body.quality)
                : QList<AudioCandidate>();
    for (const AudioCandidate& candidate : candidates) {
        if (auto encoder = openAudioEncoder(candidate.writer, globalHeader)) {
            g.audioEncoder = std::move(encoder);
            g.audio = candidate;
            return std::nullopt;
        }
    }
    g.inAudio = nullptr;
    g.audioDecoder.reset();
    return QStringLiteral("Audio could not be converted. Writing video only.");
}

std::optional<QString> startWriter(Graph& g, EncoderChoice& encoders, const JobSettings& settings,
                                   const AVIOInterruptCB* interrupt, bool hardware)
{
    g.output = std::make_unique<ff::OutputFile>();
    g.videoEncoder.reset();
    g.outVideo = g.outAudio = nullptr;
    const bool mp4 = g.plan.fileType == FileType::mpeg4;
    // Through the claimed file itself, never by a name someone else could have replaced.
    if (const int ret =
            g.output->create(mp4 ? "mp4" : "mov", g.plan.output->writePath(), interrupt);
        ret < 0)
        return writeError(ret);
    AVFormatContext* out = g.output->get();

    const PresetBody& body = settings.body;
    g.videoSettings = videoSettings(body.codec, static_cast<int>(g.plan.renderSize.width),
                                    static_cast<int>(g.plan.renderSize.height), g.plan.fps,
                                    body.bitrateMbps, g.plan.color, hardware);
    g.videoSettings.frameDuration = g.plan.frameDuration;
    g.videoSettings.interlaced = g.plan.interlaced;
    g.videoSettings.topFieldFirst = g.plan.topFieldFirst;
    g.videoSettings.bitDepth = g.plan.rendering.bitDepth;
    g.videoSettings.mastering = g.plan.rendering.mastering;
    g.videoSettings.contentLight = g.plan.rendering.contentLight;
    const AVPixFmtDescriptor* sourceFormat = av_pix_fmt_desc_get(g.videoDecoder->pix_fmt);
    g.videoSettings.sourceHasAlpha = sourceFormat && (sourceFormat->flags & AV_PIX_FMT_FLAG_ALPHA);
    auto encoder = encoders.open(g.videoSettings, out->oformat->flags & AVFMT_GLOBALHEADER);
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
    // The muxer writes these as the QuickTime 'mdcv' and 'clli' boxes.
    if (!attachHdrMetadata(g.outVideo, g.plan.rendering))
        return QStringLiteral("The encoder rejected the video settings.");

    if (g.audioEncoder) {
        const AVCodecContext* aenc = g.audioEncoder->context();
        g.outAudio = avformat_new_stream(out, nullptr);
        if (g.outAudio && avcodec_parameters_from_context(g.outAudio->codecpar, aenc) >= 0) {
            g.outAudio->time_base = aenc->time_base;
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

} // namespace corvel
