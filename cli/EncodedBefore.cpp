#include "cli/EncodedBefore.h"

#include "CorvelEncoder/engine/FFmpegHandles.h"
#include "CorvelEncoder/engine/InspectMedia.h"
#include "CorvelEncoderCore/JobTexts.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavformat/avformat.h>
}

namespace corvel {

namespace {

// Where the video packets of the movie's last second end, in seconds from its first frame;
// nothing when any of them cannot be read in full. A movie whose index comes first opens with
// its whole length even when the end of its data was cut off; only reading shows it.
std::optional<double> videoEnd(const QString& path, double duration)
{
    ff::InputFile input;
    if (input.open(path, nullptr) < 0)
        return std::nullopt;
    AVFormatContext* fmt = input.get();
    const int video = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (video < 0)
        return std::nullopt;
    const AVStream* stream = fmt->streams[video];
    const int64_t target = std::llround((duration - 1.0) * AV_TIME_BASE);
    if (target > 0 && avformat_seek_file(fmt, -1, INT64_MIN, target, target, 0) < 0)
        return std::nullopt;
    const int64_t start = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    ff::PacketPtr packet = ff::makePacket();
    std::optional<double> end;
    int ret = 0;
    while ((ret = av_read_frame(fmt, packet.get())) >= 0) {
        const bool corrupt = packet->flags & AV_PKT_FLAG_CORRUPT;
        if (!corrupt && packet->stream_index == video && packet->pts != AV_NOPTS_VALUE) {
            const double at =
                double(packet->pts - start + packet->duration) * av_q2d(stream->time_base);
            end = std::max(end.value_or(at), at);
        }
        av_packet_unref(packet.get());
        if (corrupt)
            return std::nullopt;
    }
    if (ret != AVERROR_EOF || !end)
        return std::nullopt;
    // Packets cut off whole, at a packet's edge, are missing from what the index names.
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
        const double declared = double(stream->duration) * av_q2d(stream->time_base);
        const double rate = av_q2d(stream->avg_frame_rate);
        if (*end < declared - std::max(rate > 0 ? 0.5 / rate : 0.02, 0.001))
            return std::nullopt;
    }
    return end;
}

} // namespace

bool isCompleteMovie(const QString& path, double sourceDuration)
{
    if (!QFileInfo(path).isFile() || !(sourceDuration > 0))
        return false;
    const auto media = inspectMedia(path);
    if (!media)
        return false;
    const double tolerance = std::clamp(sourceDuration * 0.02, 0.1, 1.0);
    if (std::abs(media->duration - sourceDuration) > tolerance)
        return false;
    const std::optional<double> end = videoEnd(path, media->duration);
    return end && *end >= sourceDuration - tolerance;
}

std::optional<QString> encodedBefore(const EncodingJob& job)
{
    if (!job.sourceInfo || job.settings.outputDirectory.isEmpty())
        return std::nullopt;
    const QString path = QDir(job.settings.outputDirectory).filePath(previewFilename(job));
    if (!isCompleteMovie(path, job.sourceInfo->duration))
        return std::nullopt;
    return path;
}

} // namespace corvel
