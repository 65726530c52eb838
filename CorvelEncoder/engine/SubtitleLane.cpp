#include "CorvelEncoder/engine/SubtitleLane.h"

#include <cstring>
#include <limits>

namespace corvel {

namespace {

constexpr AVRational kMilliseconds{1, 1000};

struct SubtitleDeleter
{
    void operator()(AVSubtitle* s) const
    {
        avsubtitle_free(s);
        delete s;
    }
};

} // namespace

std::unique_ptr<SubtitleLane> SubtitleLane::open(AVStream* in, const SubtitleTrackPlan& plan,
                                                 AVFormatContext* out)
{
    std::unique_ptr<SubtitleLane> lane(new SubtitleLane(in, plan));
    const AVCodec* decoder = avcodec_find_decoder(in->codecpar->codec_id);
    const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_MOV_TEXT);
    lane->m_decoder.reset(decoder ? avcodec_alloc_context3(decoder) : nullptr);
    lane->m_encoder.reset(encoder ? avcodec_alloc_context3(encoder) : nullptr);
    if (!lane->m_decoder || !lane->m_encoder ||
        avcodec_parameters_to_context(lane->m_decoder.get(), in->codecpar) < 0)
        return nullptr;
    lane->m_decoder->pkt_timebase = in->time_base;
    if (avcodec_open2(lane->m_decoder.get(), decoder, nullptr) < 0)
        return nullptr;

    // The encoder reads the styles the decoder describes its lines with (an ASS header).
    AVCodecContext* enc = lane->m_encoder.get();
    const AVCodecContext* dec = lane->m_decoder.get();
    enc->time_base = kMilliseconds;
    if (dec->subtitle_header && dec->subtitle_header_size > 0) {
        enc->subtitle_header = static_cast<uint8_t*>(av_mallocz(dec->subtitle_header_size + 1));
        if (!enc->subtitle_header)
            return nullptr;
        std::memcpy(enc->subtitle_header, dec->subtitle_header, dec->subtitle_header_size);
        enc->subtitle_header_size = dec->subtitle_header_size;
    }
    if (out->oformat->flags & AVFMT_GLOBALHEADER)
        enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(enc, encoder, nullptr) < 0)
        return nullptr;

    lane->m_out = avformat_new_stream(out, nullptr);
    if (!lane->m_out || avcodec_parameters_from_context(lane->m_out->codecpar, enc) < 0)
        return nullptr;
    lane->m_out->time_base = kMilliseconds;
    return lane;
}

int SubtitleLane::write(const AVPacket* packet, int64_t startOffset, AVFormatContext* out)
{
    std::unique_ptr<AVSubtitle, SubtitleDeleter> sub(new AVSubtitle{});
    int got = 0;
    if (avcodec_decode_subtitle2(m_decoder.get(), sub.get(), &got, const_cast<AVPacket*>(packet)) <
            0 ||
        !got || sub->num_rects == 0 || sub->pts == AV_NOPTS_VALUE)
        return 0;
    // A line without an end lasts until the packet's end, as the decoder could not say.
    if (sub->end_display_time == 0 || sub->end_display_time == std::numeric_limits<uint32_t>::max())
        sub->end_display_time = packet->duration > 0
                                    ? static_cast<uint32_t>(av_rescale_q(
                                          packet->duration, m_in->time_base, kMilliseconds)) +
                                          sub->start_display_time
                                    : sub->start_display_time + 1000;
    // As the ffmpeg program does: the line starts at its own start, and lasts to its end.
    const int64_t start = sub->pts +
                          av_rescale_q(sub->start_display_time, kMilliseconds, AV_TIME_BASE_Q) -
                          startOffset;
    sub->end_display_time -= sub->start_display_time;
    sub->start_display_time = 0;
    if (start < 0)
        return 0;

    constexpr int kMaxBytes = 1 << 16;
    ff::PacketPtr encoded = ff::makePacket();
    if (!encoded || av_new_packet(encoded.get(), kMaxBytes) < 0)
        return AVERROR(ENOMEM);
    const int size = avcodec_encode_subtitle(m_encoder.get(), encoded->data, kMaxBytes, sub.get());
    if (size <= 0)
        return 0;
    av_shrink_packet(encoded.get(), size);
    encoded->stream_index = m_out->index;
    encoded->pts = encoded->dts = av_rescale_q(start, AV_TIME_BASE_Q, m_out->time_base);
    encoded->duration = av_rescale_q(sub->end_display_time, kMilliseconds, m_out->time_base);
    return av_interleaved_write_frame(out, encoded.get());
}

} // namespace corvel
