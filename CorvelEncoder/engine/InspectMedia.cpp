#include "CorvelEncoder/engine/InspectMedia.h"

#include "CorvelEncoder/engine/FFmpegHandles.h"

#include "CorvelEncoder/engine/VideoRendering.h"
#include "CorvelEncoderCore/FrameMath.h"

extern "C" {
#include <libavutil/mastering_display_metadata.h>
#include <libavutil/mathematics.h>
#include <libavutil/pixdesc.h>
}

#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

namespace corvel {

QString InspectError::description() const
{
    switch (m_kind) {
    case Kind::message:
        return m_text;
    case Kind::missingFile:
        return QStringLiteral("The source file is missing.");
    case Kind::noVideo:
        return QStringLiteral("No video track in this file.");
    case Kind::noDuration:
        return QStringLiteral("This file has no finite duration.");
    }
    return m_text;
}

QString fourCC(uint32_t code)
{
    QString text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const auto byte = static_cast<unsigned char>((code >> shift) & 0xff);
        if (byte < 0x20 || byte > 0x7e)
            return {};
        text += QChar(byte);
    }
    return text;
}

QString codecName(const QString& code)
{
    static const QList<std::pair<const char*, const char*>> table = {
        {"apch", "ProRes 422 HQ"}, {"apcn", "ProRes 422"},  {"apcs", "ProRes LT"},
        {"apco", "ProRes Proxy"},  {"ap4h", "ProRes 4444"}, {"ap4x", "ProRes 4444 XQ"},
        {"avc1", "H.264"},         {"avc3", "H.264"},       {"hvc1", "HEVC"},
        {"hev1", "HEVC"},
    };
    if (code.isEmpty())
        return QStringLiteral("Video");
    for (const auto& [key, text] : table) {
        if (code == QLatin1StringView(key))
            return QString::fromLatin1(text);
    }
    return code;
}

namespace {

// Containers without a four-character code (MPEG-TS, Matroska...) are named by codec.
QString codecNameWithoutTag(const AVCodecParameters* par)
{
    switch (par->codec_id) {
    case AV_CODEC_ID_H264:
        return QStringLiteral("H.264");
    case AV_CODEC_ID_HEVC:
        return QStringLiteral("HEVC");
    case AV_CODEC_ID_PRORES:
        switch (par->profile) {
        case FF_PROFILE_PRORES_PROXY:
            return codecName(QStringLiteral("apco"));
        case FF_PROFILE_PRORES_LT:
            return codecName(QStringLiteral("apcs"));
        case FF_PROFILE_PRORES_STANDARD:
            return codecName(QStringLiteral("apcn"));
        case FF_PROFILE_PRORES_HQ:
            return codecName(QStringLiteral("apch"));
        case FF_PROFILE_PRORES_4444:
            return codecName(QStringLiteral("ap4h"));
        case FF_PROFILE_PRORES_XQ:
            return codecName(QStringLiteral("ap4x"));
        default:
            return QStringLiteral("ProRes");
        }
    default:
        break;
    }
    const AVCodecDescriptor* desc = avcodec_descriptor_get(par->codec_id);
    if (desc && desc->long_name)
        return QString::fromUtf8(desc->long_name);
    return QStringLiteral("Video");
}

std::optional<QString> tagName(const char* name, bool unspecified)
{
    if (unspecified || !name)
        return std::nullopt;
    return QString::fromLatin1(name);
}

// FFmpeg copies a colour tag straight from the bitstream, so the field can hold a number no
// enumerator has (255 from an MPEG-2 sequence display extension, say). Loading such a value
// as the C++ enumeration is undefined behaviour: the stored integer is read instead, and only
// a value below `end` (the header's *_NB) is turned back into the enumeration.
template <class E>
std::optional<E> knownTag(const E& field, E end)
{
    std::underlying_type_t<E> raw;
    static_assert(sizeof(raw) == sizeof(field));
    std::memcpy(&raw, &field, sizeof(raw));
    const auto value = static_cast<long long>(raw);
    if (value < 0 || value >= static_cast<long long>(end))
        return std::nullopt;
    return static_cast<E>(raw);
}

// The display matrix of a video stream, or null.
const int32_t* displayMatrix(const AVStream* stream)
{
#if LIBAVCODEC_VERSION_INT >= AV_VERSION_INT(60, 29, 100)
    const AVPacketSideData* data =
        av_packet_side_data_get(stream->codecpar->coded_side_data,
                                stream->codecpar->nb_coded_side_data, AV_PKT_DATA_DISPLAYMATRIX);
    return data && data->size >= 9 * static_cast<int>(sizeof(int32_t))
               ? reinterpret_cast<const int32_t*>(data->data)
               : nullptr;
#else
    size_t size = 0;
    const uint8_t* data = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
    return data && size >= 9 * sizeof(int32_t) ? reinterpret_cast<const int32_t*>(data) : nullptr;
#endif
}

// One kind of side data on a stream, or null.
const uint8_t* streamSideData(const AVStream* stream, AVPacketSideDataType type)
{
#if LIBAVCODEC_VERSION_INT >= AV_VERSION_INT(60, 29, 100)
    const AVPacketSideData* data = av_packet_side_data_get(
        stream->codecpar->coded_side_data, stream->codecpar->nb_coded_side_data, type);
    return data ? data->data : nullptr;
#else
    return av_stream_get_side_data(stream, type, nullptr);
#endif
}

int scaled(AVRational q, int scale)
{
    return q.den != 0 ? static_cast<int>(av_rescale(q.num, scale, q.den)) : 0;
}

std::optional<MasteringDisplay> masteringDisplay(const AVMasteringDisplayMetadata* m)
{
    if (!m || !m->has_primaries || !m->has_luminance)
        return std::nullopt;
    MasteringDisplay d;
    for (int i = 0; i < 2; ++i) {
        d.red[i] = scaled(m->display_primaries[0][i], 50000);
        d.green[i] = scaled(m->display_primaries[1][i], 50000);
        d.blue[i] = scaled(m->display_primaries[2][i], 50000);
        d.white[i] = scaled(m->white_point[i], 50000);
    }
    d.maxLuminance = scaled(m->max_luminance, 10000);
    d.minLuminance = scaled(m->min_luminance, 10000);
    return d;
}

std::optional<ContentLight> contentLight(const AVContentLightMetadata* c)
{
    if (!c)
        return std::nullopt;
    return ContentLight{static_cast<int>(c->MaxCLL), static_cast<int>(c->MaxFALL)};
}

// HEVC and AV1 carry HDR10's static metadata in the bitstream rather than the container: the
// first decoded picture has it. Reading stops after a bounded number of packets.
void readFirstFrameMetadata(AVFormatContext* fmt, int streamIndex, HdrMetadata& hdr)
{
    const AVCodecParameters* par = fmt->streams[streamIndex]->codecpar;
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    ff::CodecContextPtr dec(codec ? avcodec_alloc_context3(codec) : nullptr);
    if (!dec || avcodec_parameters_to_context(dec.get(), par) < 0)
        return;
    dec->thread_count = 1; // the first picture comes out without a pipeline's delay
    if (avcodec_open2(dec.get(), codec, nullptr) < 0)
        return;
    ff::PacketPtr packet = ff::makePacket();
    ff::FramePtr frame = ff::makeFrame();
    if (!packet || !frame)
        return;
    for (int read = 0; read < 64 && av_read_frame(fmt, packet.get()) >= 0; ++read) {
        const bool ours = packet->stream_index == streamIndex;
        const int sent = ours ? avcodec_send_packet(dec.get(), packet.get()) : 0;
        av_packet_unref(packet.get());
        if (sent < 0 && sent != AVERROR(EAGAIN))
            return;
        if (ours && avcodec_receive_frame(dec.get(), frame.get()) >= 0) {
            const AVFrameSideData* m =
                av_frame_get_side_data(frame.get(), AV_FRAME_DATA_MASTERING_DISPLAY_METADATA);
            const AVFrameSideData* c =
                av_frame_get_side_data(frame.get(), AV_FRAME_DATA_CONTENT_LIGHT_LEVEL);
            if (!hdr.mastering && m)
                hdr.mastering =
                    masteringDisplay(reinterpret_cast<const AVMasteringDisplayMetadata*>(m->data));
            if (!hdr.contentLight && c)
                hdr.contentLight =
                    contentLight(reinterpret_cast<const AVContentLightMetadata*>(c->data));
            return;
        }
    }
}

int64_t roundHalfAway(double v)
{
    return static_cast<int64_t>(std::llround(v));
}

} // namespace

std::expected<InspectedMedia, InspectError> inspectMedia(const QString& path,
                                                         const AVIOInterruptCB* interrupt)
{
    const QFileInfo file(path);
    if (!file.exists())
        return std::unexpected(InspectError::missingFile());
    if (file.isDir())
        return std::unexpected(InspectError::message(
            QStringLiteral("The source is a folder, not a movie. Add the folder to queue the "
                           "movies inside it.")));
    // Opening a named pipe waits for a writer and a device never ends.
    if (!file.isFile())
        return std::unexpected(InspectError::message(
            QStringLiteral("This is not a regular file, so it cannot be read as a movie.")));

    ff::InputFile input;
    if (const int ret = input.open(path, interrupt); ret < 0)
        return std::unexpected(InspectError::message(
            QStringLiteral("This file could not be opened as a movie. ") + ff::errorText(ret)));
    AVFormatContext* fmt = input.get();

    InspectedMedia media;
    media.path = path;

    double duration = fmt->duration != AV_NOPTS_VALUE
                          ? static_cast<double>(fmt->duration) / AV_TIME_BASE
                          : std::nan("");
    if (!std::isfinite(duration) || duration <= 0)
        return std::unexpected(InspectError::noDuration());
    media.duration = duration;

    media.videoStream = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    // Cover art is a picture, not a video track.
    if (media.videoStream >= 0 &&
        (fmt->streams[media.videoStream]->disposition & AV_DISPOSITION_ATTACHED_PIC))
        media.videoStream = -1;
    if (media.videoStream < 0)
        return std::unexpected(InspectError::noVideo());
    const AVStream* video = fmt->streams[media.videoStream];
    const AVCodecParameters* vpar = video->codecpar;

    media.naturalWidth = vpar->width;
    media.naturalHeight = vpar->height;
    // Anamorphic sources (DV and DVD 16:9, HDV) store a narrower picture than they show; the
    // display width is the stored width times the sample aspect.
    const AVRational sar = av_guess_sample_aspect_ratio(fmt, const_cast<AVStream*>(video), nullptr);
    const double shownWidth =
        sar.num > 0 && sar.den > 0 ? media.naturalWidth * av_q2d(sar) : media.naturalWidth;
    if (const int32_t* matrix = displayMatrix(video)) {
        // Linear part of the matrix: x' = a*x + c*y, y' = b*x + d*y.
        const double a = matrix[0] / 65536.0;
        const double b = matrix[1] / 65536.0;
        const double c = matrix[3] / 65536.0;
        const double d = matrix[4] / 65536.0;
        // A matrix with a negative determinant mirrors: the picture is flipped left to right
        // and then turned. What remains is a rotation, rounded to the nearest quarter turn; any
        // scale in the matrix is ignored, so the size comes from the turned frame alone.
        media.mirrored = a * d - b * c < 0;
        const double x = media.mirrored ? -a : a;
        const double y = media.mirrored ? -b : b;
        const double clockwise = std::atan2(y, x) * 180 / M_PI;
        if (std::isfinite(clockwise) && (x != 0 || y != 0)) {
            const int turns = static_cast<int>(std::lround(clockwise / 90.0));
            media.quarterTurns = ((turns % 4) + 4) % 4;
        }
    }
    const bool sideways = media.quarterTurns % 2 == 1;
    const int64_t displayWidth = roundHalfAway(sideways ? media.naturalHeight : shownWidth);
    const int64_t displayHeight = roundHalfAway(sideways ? shownWidth : media.naturalHeight);
    // A stretched sample aspect does not make a single column of pixels a picture.
    if (displayWidth < 2 || displayHeight < 2 || vpar->width < 2 || vpar->height < 2)
        return std::unexpected(
            InspectError::message(QStringLiteral("The video has no usable frame size.")));

    double fps = video->avg_frame_rate.den > 0 ? av_q2d(video->avg_frame_rate) : 0;
    const AVRational r = video->r_frame_rate;
    const double minFrameDuration = r.num > 0 && r.den > 0 ? av_q2d(av_inv_q(r)) : 0;
    media.declaredFrameRate = minFrameDuration > 0.0001 ? 1.0 / minFrameDuration : 0;
    if (!(fps >= 1))
        fps = media.declaredFrameRate;
    media.averageFrameRate = fps;
    fps = standardSourceRate(fps, media.declaredFrameRate);

    if (const auto primaries = knownTag(vpar->color_primaries, AVCOL_PRI_NB))
        media.color.primaries =
            tagName(av_color_primaries_name(*primaries), *primaries == AVCOL_PRI_UNSPECIFIED ||
                                                             *primaries == AVCOL_PRI_RESERVED ||
                                                             *primaries == AVCOL_PRI_RESERVED0);
    if (const auto transfer = knownTag(vpar->color_trc, AVCOL_TRC_NB))
        media.color.transfer =
            tagName(av_color_transfer_name(*transfer), *transfer == AVCOL_TRC_UNSPECIFIED ||
                                                           *transfer == AVCOL_TRC_RESERVED ||
                                                           *transfer == AVCOL_TRC_RESERVED0);
    if (const auto matrix = knownTag(vpar->color_space, AVCOL_SPC_NB))
        media.color.matrix =
            tagName(av_color_space_name(*matrix),
                    *matrix == AVCOL_SPC_UNSPECIFIED || *matrix == AVCOL_SPC_RESERVED);

    const AVPixFmtDescriptor* pixDesc =
        av_pix_fmt_desc_get(static_cast<AVPixelFormat>(vpar->format));
    const bool hasAlpha = pixDesc && (pixDesc->flags & AV_PIX_FMT_FLAG_ALPHA);
    media.info.bitDepth = pixDesc ? pixDesc->comp[0].depth : 8;
    media.fullRange = vpar->color_range == AVCOL_RANGE_JPEG;
    media.hdr.mastering = masteringDisplay(reinterpret_cast<const AVMasteringDisplayMetadata*>(
        streamSideData(video, AV_PKT_DATA_MASTERING_DISPLAY_METADATA)));
    media.hdr.contentLight = contentLight(reinterpret_cast<const AVContentLightMetadata*>(
        streamSideData(video, AV_PKT_DATA_CONTENT_LIGHT_LEVEL)));
    media.hdr.dolbyVision = streamSideData(video, AV_PKT_DATA_DOVI_CONF) != nullptr;
    if (transferOf(media.color.transfer) != Transfer::sdr && !media.hdr.mastering &&
        !media.hdr.contentLight)
        readFirstFrameMetadata(fmt, media.videoStream, media.hdr);
    media.info.dynamicRange = dynamicRangeOf(media.color, media.hdr);

    // codec_tag holds the container's four characters with the first one in the low byte.
    const uint32_t tag = vpar->codec_tag;
    const uint32_t bigEndian =
        ((tag & 0xff) << 24) | ((tag & 0xff00) << 8) | ((tag >> 8) & 0xff00) | ((tag >> 24) & 0xff);
    // MPEG-TS gives a stream type (0x1b for H.264) rather than four characters; such a tag
    // names nothing, so the codec does.
    const QString code = fourCC(bigEndian);
    const QString codecText = code.isEmpty() ? codecNameWithoutTag(vpar) : codecName(code);

    media.audioStream = av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (media.audioStream < 0)
        media.audioStream = -1;
    if (media.audioStream >= 0) {
        const AVCodecParameters* apar = fmt->streams[media.audioStream]->codecpar;
        if (apar->ch_layout.nb_channels != 0 && apar->sample_rate > 0 &&
            avcodec_find_decoder(apar->codec_id))
            media.audio =
                AudioTags{static_cast<double>(apar->sample_rate), apar->ch_layout.nb_channels};
    }

    media.interlaced =
        vpar->field_order != AV_FIELD_PROGRESSIVE && vpar->field_order != AV_FIELD_UNKNOWN;
    media.topFieldFirst = vpar->field_order == AV_FIELD_TT || vpar->field_order == AV_FIELD_TB;

    // A camera's start timecode: on the video track (QuickTime's tmcd track is read into it),
    // else on the file.
    for (const AVDictionary* tags : {static_cast<const AVDictionary*>(video->metadata),
                                     static_cast<const AVDictionary*>(fmt->metadata)}) {
        if (const AVDictionaryEntry* tc = av_dict_get(tags, "timecode", nullptr, 0);
            tc && media.timecode.isEmpty())
            media.timecode = QString::fromLatin1(tc->value);
    }

    media.info.width = displayWidth;
    media.info.height = displayHeight;
    media.info.frameRate = fps;
    media.info.duration = duration;
    media.info.hasAudio = media.audio.has_value();
    media.info.hasAlpha = hasAlpha;
    media.info.videoCodec = codecText;
    return media;
}

} // namespace corvel
