#pragma once

// Brings what every engine test uses: gtest, scratch folders, TestSupport's files and waits.
#include "tests/TestSupport.h"

#include "CorvelEncoder/engine/EncoderChoice.h"
#include "CorvelEncoder/engine/FFmpegEncodeSession.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace corvel::test {

// Tiny sources made with the ffmpeg program on first use and kept in the build tree, so the
// test processes ctest starts one by one share them. Video is 2 s of 160x120 at 25 fps.
enum class Source
{
    h264Aac,         // H.264 (B-frames), stereo AAC 44.1 kHz
    proResAlpha,     // ProRes 4444 with an alpha plane, no audio
    unreadableAudio, // H.264 with an audio track of an unknown format
    layoutSwitch,    // MPEG-TS whose AAC turns from 6 ch 44.1 kHz to stereo 48 kHz at 1 s
};

QString sourcePath(Source source);
// `line` split at its spaces: ffmpeg arguments that hold none.
QStringList args(const QString& line);
// ffmpeg input arguments for `seconds` of a 25 fps test picture of `size`.
QStringList video(const QString& size, double seconds);
// ffmpeg output arguments for quick 4:2:0 H.264.
inline const QStringList kX264 = {"-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p"};
// Runs ffmpeg with `args`; true when it exited 0.
bool runFFmpeg(const QStringList& args);
// The numbers following `key` in what ffmpeg prints reading `args` to a null output.
QList<double> ffmpegReport(const QStringList& args, const QString& key);
// Edits the bytes of `path` (created empty when missing) in place; false when `edit` is.
bool rewrite(const QString& path, const std::function<bool(QByteArray& bytes)>& edit);
// MPEG-TS segments, each made by ffmpeg `args` plus its path, joined end to end at `path` as
// a recorder or a cut writes them.
bool joined(const QString& path, const QList<QStringList>& segments);
// ffprobe's -show_streams -show_format as JSON.
QJsonObject probe(const QString& path);
// The first stream of `type` ("video"/"audio") in a probe, or an empty object.
QJsonObject streamOf(const QJsonObject& probe, const QString& type);
// What `ffmpeg -v error -i path -f null -` prints; empty for a clean file.
QString decodeErrors(const QString& path);

// Every callback a session delivered, in order.
struct SessionRecord
{
    std::vector<std::pair<double, std::optional<double>>> progress; // fraction, estimate
    std::vector<std::pair<QString, bool>> logs;                     // text, is an error
    std::vector<std::pair<QString, bool>> ready;                    // output, hardware
    std::vector<EncodeResult> completions;
    int callbacksAfterCompletion = 0;

    bool done() const { return !completions.empty(); }
};

using testing::waitUntil;

constexpr int kEncodeTimeoutMs = 60'000;
// Delivers what was posted to this thread, as a stopped worker's last reports are.
inline void deliverPosted()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

// A session and everything it delivered.
struct Encode
{
    std::shared_ptr<SessionRecord> record = std::make_shared<SessionRecord>();
    std::unique_ptr<EncodeSession> session;
};
Encode startSession(const QString& source, const JobSettings& settings,
                    std::shared_ptr<EncoderChoice> encoders = nullptr, bool start = true);
// Waits for the outcome and the worker's end, then delivers anything it posted after the outcome.
void finish(Encode& run);

JobSettings settingsFor(Codec codec, AudioMode audio, const QString& outputDirectory);
// How many files this process holds open and how many threads it runs.
inline std::pair<qsizetype, qsizetype> filesAndThreads()
{
    return {testing::entriesOf("/proc/self/fd").size(),
            testing::entriesOf("/proc/self/task").size()};
}

} // namespace corvel::test
