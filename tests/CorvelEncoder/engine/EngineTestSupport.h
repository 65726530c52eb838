#pragma once

#include "CorvelEncoder/engine/EncoderChoice.h"
#include "CorvelEncoder/engine/FFmpegEncodeSession.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <vector>

// Readable QString values in assertion messages.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace corvel::test {

// Tiny sources made with the ffmpeg program on first use and kept in the build tree, so the
// test processes ctest starts one by one share them.
enum class Source
{
    h264Aac,             // 2 s 320x240 25 fps H.264 (B-frames), stereo AAC 44.1 kHz
    proResAlpha,         // ProRes 4444 with an alpha plane, no audio
    rotated,             // 320x240 H.264 turned a quarter turn by its display matrix
    pcm96k6ch,           // H.264 tagged smpte170m with 96 kHz 6-channel 24-bit PCM
    unreadableAudio,     // H.264 with an audio track of an unknown format
    audioOnly,           // AAC in .m4a
    truncated,           // first half of an H.264 .mov whose index sits at the end
    truncatedIndexFirst, // the same cut from a movie whose index comes first
    layoutSwitch,        // MPEG-TS whose AAC turns from 6 ch 44.1 kHz to stereo 48 kHz at 1 s
    notAMovie,           // text with a movie's extension
    zeroLength,          // empty .mov
    onePixelWide,        // 1x16 raw grey video
};

QString sourcePath(Source source);
// Runs ffmpeg with `args`; true when it exited 0.
bool runFFmpeg(const QStringList& args);
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
    struct Ready
    {
        QString path;
        bool hardware;
    };
    std::vector<std::pair<double, std::optional<double>>> progress;
    std::vector<std::pair<QString, bool>> logs;
    std::vector<Ready> ready;
    std::vector<EncodeResult> completions;
    int callbacksAfterCompletion = 0;

    bool done() const { return !completions.empty(); }
    QStringList logTexts() const;
};

EncodeCallbacks recordingCallbacks(const std::shared_ptr<SessionRecord>& record);
// Runs the event loop until `condition` holds or `msecs` pass; returns the condition.
bool waitFor(const std::function<bool()>& condition, int msecs);

// A "hardware" encoder for tests: software underneath, refusing to open or failing on a
// chosen frame.
class ScriptedEncoderChoice final : public FFmpegEncoderChoice
{
public:
    bool hardwarePresent = true;
    bool refuseHardware = false;
    int hardwareFailsAtFrame = 0; // 1-based; 0 never
    int softwareFailsAtFrame = 0;
    std::atomic<int> hardwareOpens = 0;

    bool hasHardware(Codec) override { return hardwarePresent; }
    std::expected<std::unique_ptr<VideoEncoder>, QString> open(const VideoSettings& settings,
                                                               bool globalHeader) override;
};

constexpr int kEncodeTimeoutMs = 60'000;

// A session and everything it delivered.
struct Encode
{
    std::shared_ptr<SessionRecord> record = std::make_shared<SessionRecord>();
    std::unique_ptr<EncodeSession> session;
};
Encode startSession(const QString& source, const JobSettings& settings,
                    std::shared_ptr<EncoderChoice> encoders = nullptr, bool start = true);
// Waits for the outcome, then a little longer to catch anything delivered after it.
void finish(Encode& run);
// Encodes `source` to the end; the outcome.
EncodeResult encodeFile(const QString& source, const JobSettings& settings);

JobSettings settingsFor(Codec codec, AudioMode audio, const QString& outputDirectory);
// Files in `folder`, names only.
QStringList filesIn(const QString& folder);

} // namespace corvel::test
