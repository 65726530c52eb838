#pragma once

#include "CorvelEncoderCore/Records.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <expected>
#include <optional>

struct AVIOInterruptCB;

namespace corvel {

// Colour tags as FFmpeg names them ("bt709", "smpte170m", ...); absent when unspecified.
struct ColorTags
{
    std::optional<QString> primaries;
    std::optional<QString> transfer;
    std::optional<QString> matrix;

    friend bool operator==(const ColorTags&, const ColorTags&) = default;
};

// The display a PQ or HLG picture was graded on, in the units HEVC's SEI and the QuickTime
// box use: chromaticities in 1/50000, luminance in 1/10000 cd/m².
struct MasteringDisplay
{
    int red[2] = {};
    int green[2] = {};
    int blue[2] = {};
    int white[2] = {};
    int64_t maxLuminance = 0;
    int64_t minLuminance = 0;

    friend bool operator==(const MasteringDisplay&, const MasteringDisplay&) = default;
};

// The brightest pixel and the brightest frame average, in cd/m².
struct ContentLight
{
    int maxCLL = 0;
    int maxFALL = 0;

    friend bool operator==(const ContentLight&, const ContentLight&) = default;
};

struct HdrMetadata
{
    std::optional<MasteringDisplay> mastering;
    std::optional<ContentLight> contentLight;
    bool dolbyVision = false; // a Dolby Vision configuration record is present

    friend bool operator==(const HdrMetadata&, const HdrMetadata&) = default;
};

struct AudioTags
{
    double sampleRate = 0;
    int channels = 0;
    QString layout = {}; // FFmpeg's name for the exact layout ("5.1(side)"); empty when unordered

    friend bool operator==(const AudioTags&, const AudioTags&) = default;
};

// One audio track of the source, as FFmpeg reads it.
struct AudioTrack
{
    int stream = -1; // index among the source's streams
    QString codec;   // FFmpeg's codec name ("pcm_s24le", "aac")
    AudioTags tags;
    QString language; // as tagged ("eng"); empty without one
    QString title;
    bool isDefault = false;
    bool readable = false; // a decoder exists and the rate and channels are known

    friend bool operator==(const AudioTrack&, const AudioTrack&) = default;
};

// One subtitle or caption track of the source.
struct SubtitleTrack
{
    int stream = -1;
    QString codec; // FFmpeg's codec name ("subrip", "mov_text", "hdmv_pgs_subtitle")
    QString language;
    QString title;
    bool isDefault = false;
    bool text = false; // lines of text a decoder gives as such; pictures and captions are not

    friend bool operator==(const SubtitleTrack&, const SubtitleTrack&) = default;
};

// What a source movie holds. Plain values: the session opens the file again to read it.
struct InspectedMedia
{
    QString path;
    int videoStream = -1;
    int audioStream = -1; // -1 without audio track; set even when its format is unreadable
    SourceInfo info;
    double naturalWidth = 0; // stored frame size, before the sample aspect and rotation
    double naturalHeight = 0;
    // What makes the stored picture upright: a left-right flip when the matrix mirrors, then
    // clockwise quarter turns (0...3).
    bool mirrored = false;
    int quarterTurns = 0;
    double duration = 0; // seconds
    ColorTags color;
    bool fullRange = false; // full-range ("pc") samples rather than limited
    HdrMetadata hdr;
    // The stream's declared maximum rate; differs from the average when the rate varies.
    double declaredFrameRate = 0;
    double averageFrameRate = 0;
    std::optional<AudioTags> audio; // the first readable audio track's
    QList<AudioTrack> audioTracks;  // every audio track, in source order
    QList<SubtitleTrack> subtitleTracks;
    int chapters = 0;
    QString timecode; // start timecode ("01:02:03:04"), empty without one
    // Interlaced pictures and which field comes first; progressive or unknown otherwise.
    bool interlaced = false;
    bool topFieldFirst = false;
};

class InspectError
{
public:
    enum class Kind
    {
        message,
        missingFile,
        noVideo,
        noDuration
    };

    static InspectError message(QString text)
    {
        return InspectError(Kind::message, std::move(text));
    }
    static InspectError missingFile() { return InspectError(Kind::missingFile, {}); }
    static InspectError noVideo() { return InspectError(Kind::noVideo, {}); }
    static InspectError noDuration() { return InspectError(Kind::noDuration, {}); }

    QString description() const;

private:
    InspectError(Kind kind, QString text) : m_kind(kind), m_text(std::move(text)) {}
    Kind m_kind;
    QString m_text;
};

// Opens `path` and describes it. Safe to call from any thread, several at once. An FFmpeg
// failure comes back as `message` with FFmpeg's own description. `interrupt` may be null.
std::expected<InspectedMedia, InspectError>
inspectMedia(const QString& path, const AVIOInterruptCB* interrupt = nullptr);

// The four characters of a big-endian code, or "" when any byte is not printable ASCII.
QString fourCC(uint32_t code);
// Display text for a four-character code text ("apch" -> "ProRes 422 HQ").
QString codecName(const QString& fourCCText);

} // namespace corvel
