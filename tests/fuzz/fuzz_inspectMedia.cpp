// Any bytes handed to inspectMedia as a file must give an InspectedMedia or an InspectError
// with a description: no crash, hang or runaway memory. The bytes live in a memfd opened by
// its /proc/self/fd path, so no file is left behind; the path has no extension and FFmpeg
// probes the content, as it does for a movie with a misleading name.
//
// FFmpeg is not instrumented, so its code gives libFuzzer no coverage. To still keep inputs
// that reach another demuxer or another outcome, each run also counts, in libFuzzer's extra
// counters, the demuxer FFmpeg's probe picks and what inspectMedia reported.
//
// A weakness of FFmpeg, not ours: the MP4 demuxer takes a fragment's sample count ("trun") at
// its word when the samples have no fields of their own, and builds an index entry for each
// (32 bytes per sample, up to 178 million). A 3 KB file can so cost gigabytes and tens of
// seconds in avformat_open_input. To keep fuzzing past it, single FFmpeg allocations are capped
// at kMaxAlloc, as no tiny clip needs more; CORVEL_FUZZ_FFMPEG_UNCAPPED=1 lifts the cap.
//
// Seeds: tests/fuzz/make-media-corpus FOLDER (tiny clips of the common containers and codecs).

#include "CorvelEncoder/engine/InspectMedia.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

#include <QHash>

#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr size_t kMaxAlloc = 256u << 20;

int g_fd = -1;
QString g_path;

// Cleared by libFuzzer before each run; a counter that becomes non-zero is a new feature.
__attribute__((used, section("__libfuzzer_extra_counters"))) uint8_t g_counters[1 << 14];

void count(size_t hash)
{
    uint8_t& counter = g_counters[hash % sizeof(g_counters)];
    if (counter < 255)
        ++counter;
}

// The demuxer FFmpeg's content probe picks for these bytes, or "" (the path has no extension).
const char* probedFormat(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> buffer(size + AVPROBE_PADDING_SIZE, 0);
    if (size > 0)
        std::memcpy(buffer.data(), data, size);
    AVProbeData probe{};
    probe.filename = "";
    probe.buf = buffer.data();
    probe.buf_size = static_cast<int>(size);
    int score = 0;
    const AVInputFormat* format = av_probe_input_format2(&probe, 1, &score);
    return format ? format->name : "";
}

bool writeInput(const uint8_t* data, size_t size)
{
    if (ftruncate(g_fd, 0) != 0)
        return false;
    size_t done = 0;
    while (done < size) {
        const ssize_t n = pwrite(g_fd, data + done, size - done, static_cast<off_t>(done));
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    av_log_set_level(AV_LOG_QUIET);
    if (qEnvironmentVariableIntValue("CORVEL_FUZZ_FFMPEG_UNCAPPED") == 0)
        av_max_alloc(kMaxAlloc);
    g_fd = memfd_create("corvel-fuzz-media", MFD_CLOEXEC);
    if (g_fd < 0) {
        std::perror("memfd_create");
        std::abort();
    }
    g_path = QStringLiteral("/proc/self/fd/%1").arg(g_fd);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace corvel;
    if (!writeInput(data, size))
        std::abort();
    const auto media = inspectMedia(g_path);
    const size_t format = qHash(QByteArray(probedFormat(data, size)));
    count(format);
    if (!media) {
        const QString description = media.error().description();
        if (description.isEmpty())
            std::abort();
        count(qHashMulti(format, description));
        return 0;
    }
    // What the queue shows and the encoder relies on.
    const SourceInfo& info = media->info;
    if (info.width < 2 || info.height < 2 || !std::isfinite(info.duration) || info.duration <= 0 ||
        !std::isfinite(info.frameRate) || info.frameRate < 0 || info.videoCodec.isEmpty())
        std::abort();
    if (media->videoStream < 0 || media->quarterTurns < 0 || media->quarterTurns > 3)
        std::abort();
    if (info.hasAudio != media->audio.has_value() || (media->audio && media->audioStream < 0))
        std::abort();
    count(qHashMulti(format, info.videoCodec, info.hasAudio, info.hasAlpha, media->quarterTurns,
                     media->audioStream >= 0, media->color.primaries.value_or(QString()),
                     media->color.matrix.value_or(QString())));
    return 0;
}
