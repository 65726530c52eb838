#include "CorvelEncoder/engine/AudioTrackCoders.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace corvel {

AVChannelLayout channelLayout(const AudioSettings& settings)
{
    AVChannelLayout layout{};
    if (!settings.layout.isEmpty() &&
        av_channel_layout_from_string(&layout, settings.layout.toLatin1().constData()) == 0 &&
        layout.nb_channels == settings.channels)
        return layout;
    av_channel_layout_uninit(&layout);
    av_channel_layout_default(&layout, settings.channels);
    return layout;
}

std::optional<AudioTrackCoders> openAudioTrack(const AVStream* in, const AudioTrackPlan& plan,
                                               bool globalHeader)
{
    if (!in || !plan.kept())
        return std::nullopt;
    AudioTrackCoders coders;
    const AVCodec* decoder = avcodec_find_decoder(in->codecpar->codec_id);
    coders.decoder.reset(decoder ? avcodec_alloc_context3(decoder) : nullptr);
    if (!coders.decoder || avcodec_parameters_to_context(coders.decoder.get(), in->codecpar) < 0)
        return std::nullopt;
    coders.decoder->pkt_timebase = in->time_base;
    if (avcodec_open2(coders.decoder.get(), decoder, nullptr) < 0)
        return std::nullopt;

    for (const AudioCandidate& candidate : plan.candidates) {
        const AudioSettings& w = candidate.writer;
        const char* name = w.format == AudioFormat::aac ? "aac"
                           : w.bitDepth == 24           ? "pcm_s24le"
                                                        : "pcm_s16le";
        const AVCodec* codec = avcodec_find_encoder_by_name(name);
        ff::CodecContextPtr ctx(codec ? avcodec_alloc_context3(codec) : nullptr);
        if (!ctx)
            continue;
        ctx->sample_rate = w.sampleRate;
        AVChannelLayout layout = channelLayout(w);
        const int copied = av_channel_layout_copy(&ctx->ch_layout, &layout);
        av_channel_layout_uninit(&layout);
        if (copied < 0)
            continue;
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
        coders.encoder = std::move(ctx);
        coders.candidate = candidate;
        return coders;
    }
    return std::nullopt;
}

} // namespace corvel
