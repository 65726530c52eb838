#include "CorvelEncoder/engine/EncodeGraph.h"

#include "CorvelEncoder/engine/CpuBudget.h"
#include "CorvelEncoder/engine/MuxerTracks.h"
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
// timecode (QuickTime gets a tmcd track, MP4 a tag) and each track's language, title and
// default flag.
void copyMetadata(Graph& g)
{
    AVFormatContext* out = g.output->get();
    for (const char* key : {"creation_time", "title", "comment", "reel_name"}) {
        if (const AVDictionaryEntry* tag = av_dict_get(g.input->metadata, key, nullptr, 0))
            av_dict_set(&out->metadata, key, tag->value, 0);
    }
    if (!g.plan.timecode.isEmpty())
        av_dict_set(&g.outVideo->metadata, "timecode", g.plan.timecode.toLatin1().constData(), 0);
    const bool quickTime = g.plan.fileType == FileType::quickTime;
    for (const auto& lane : g.audioLanes)
        copyTrackTags(lane->in, lane->out, lane->track.language, lane->track.title,
                      lane->track.isDefault, quickTime);
    for (const auto& lane : g.subtitleLanes) {
        const SubtitleTrackPlan& track = lane->plan();
        copyTrackTags(g.input->streams[lane->inputIndex()], lane->output(), track.language,
                      track.title, track.isDefault, quickTime);
    }
}

// The layout `settings` asks for: its own when FFmpeg knows the name, else the usual one for
// its channel count. FFmpeg's usual six channels are 5.1 with back speakers, which would
// mislabel a 5.1(side) mix.
void setChannelLayout(AVChannelLayout* layout, const AudioSettings& settings)
{
    if (!settings.layout.isEmpty() &&
        av_channel_layout_from_string(layout, settings.layout.toLatin1().constData()) == 0 &&
        layout->nb_channels == settings.channels)
        return;
    av_channel_layout_uninit(layout);
    av_channel_layout_default(layout, settings.channels);
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
    setChannelLayout(&ctx->ch_layout, w);
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

Lane* Graph::laneOf(int index)
{
    if (inVideo && index == inVideo->index)
        return &videoLane;
    for (const auto& lane : audioLanes) {
        if (lane->in->index == index)
            return lane.get();
    }
    return nullptr;
}

QStringList openAudio(Graph& g)
{
    const AVOutputFormat* format =
        av_guess_format(g.plan.fileType == FileType::mpeg4 ? "mp4" : "mov", nullptr, nullptr);
    const bool globalHeader = format && (format->flags & AVFMT_GLOBALHEADER);
    QStringList lost;
    for (const AudioTrackPlan& track : std::as_const(g.plan.audioTracks)) {
        if (!track.kept()) {
            if (!track.note.isEmpty())
                lost << track.note;
            continue;
        }
        if (track.stream < 0 || track.stream >= static_cast<int>(g.input->nb_streams))
            continue;
        auto lane = std::make_unique<Lane>(false);
        lane->in = g.input->streams[track.stream];
        lane->track = track;
        const AVCodec* decoder = avcodec_find_decoder(lane->in->codecpar->codec_id);
        lane->decoder.reset(decoder ? avcodec_alloc_context3(decoder) : nullptr);
        bool decodes = lane->decoder &&
                       avcodec_parameters_to_context(lane->decoder.get(), lane->in->codecpar) >= 0;
        if (decodes) {
            lane->decoder->pkt_timebase = lane->in->time_base;
            decodes = avcodec_open2(lane->decoder.get(), decoder, nullptr) >= 0;
        }
        for (const AudioCandidate& candidate : track.candidates) {
            if (!decodes)
                break;
            if ((lane->encoder = openAudioEncoder(candidate.writer, globalHeader)))
                break;
        }
        if (lane->encoder)
            g.audioLanes.push_back(std::move(lane));
        else
            lost << track.name + QStringLiteral(" could not be converted. Writing the others.");
    }
    // One source track and it is lost: there are no others.
    if (g.audioLanes.empty() && lost.size() == 1 && g.plan.audioTracks.size() == 1 &&
        g.plan.audioTracks.front().kept())
        lost = QStringList{QStringLiteral("Audio could not be converted. Writing video only.")};
    return lost;
}

std::optional<QString> startWriter(Graph& g, EncoderChoice& encoders, const JobSettings& settings,
                                   const AVIOInterruptCB* interrupt, bool hardware)
{
    g.output = std::make_unique<ff::OutputFile>();
    g.videoEncoder.reset();
    g.outVideo = nullptr;
    g.subtitleLanes.clear();
    g.lostTracks.clear();
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

    for (const auto& lane : g.audioLanes) {
        const AVCodecContext* aenc = lane->encoder->context();
        lane->out = avformat_new_stream(out, nullptr);
        if (lane->out && avcodec_parameters_from_context(lane->out->codecpar, aenc) >= 0) {
            lane->out->time_base = aenc->time_base;
        } else {
            lane->out = nullptr; // the writer goes on without this track
            g.lostTracks << lane->track.name +
                                QStringLiteral(" could not be written. Writing the others.");
        }
    }
    for (const SubtitleTrackPlan& track : std::as_const(g.plan.subtitleTracks)) {
        if (!track.kept || track.stream < 0 ||
            track.stream >= static_cast<int>(g.input->nb_streams))
            continue;
        if (auto lane = SubtitleLane::open(g.input->streams[track.stream], track, out))
            g.subtitleLanes.push_back(std::move(lane));
        else
            g.lostTracks << track.name + QStringLiteral(" could not be converted. Left out.");
    }
    if (g.plan.chapters) {
        if (const int ret = copyChapters(g.input.get(), out, g.startOffset); ret < 0)
            return writeError(ret);
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
