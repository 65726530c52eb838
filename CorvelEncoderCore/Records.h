#pragma once

#include "CorvelEncoderCore/Enumerations.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <cstdint>
#include <optional>

namespace corvel {

// A frame size in pixels.
struct PixelSize
{
    int64_t width = 0;
    int64_t height = 0;

    friend bool operator==(const PixelSize&, const PixelSize&) = default;
};

size_t qHash(const PixelSize& size, size_t seed = 0) noexcept;

// The kind of picture a source carries, from its transfer tag and HDR metadata.
enum class DynamicRange
{
    sdr,
    hlg,
    pq,          // PQ without mastering-display or content-light metadata
    hdr10,       // PQ with static metadata
    dolbyVision, // carries a Dolby Vision configuration record
};

bool isHdr(DynamicRange range);
// The JSON name ("sdr", "hlg", "pq", "hdr10", "dolbyVision") and back; unknown names are SDR.
QString rangeName(DynamicRange range);
DynamicRange rangeFromName(const QString& name);

// What inspection of a source movie reported.
struct SourceInfo
{
    int64_t width = 0;  // display width
    int64_t height = 0; // display height
    double frameRate = 0;
    double duration = 0; // seconds
    bool hasAudio = false;
    bool hasAlpha = false;
    QString videoCodec; // human-readable
    int bitDepth = 8;   // of the luma samples
    DynamicRange dynamicRange = DynamicRange::sdr;
    // What else the source carries. Shown, not stored: job files keep the fields above only.
    int audioTracks = 0;        // every audio track, readable or not
    QStringList subtitles = {}; // each subtitle track's language, "" when untagged, in source order
    int chapters = 0;

    friend bool operator==(const SourceInfo&, const SourceInfo&) = default;
};

// Every encoding choice a preset fixes.
struct PresetBody
{
    Codec codec = Codec::proRes422HQ;
    ResolutionMode resolution = ResolutionMode::source;
    int64_t customWidth = 1920;  // only for ResolutionMode::custom
    int64_t customHeight = 1080; // only for ResolutionMode::custom
    FrameRateMode frameRate = FrameRateMode::source();
    AudioMode audio = AudioMode::pcm;
    double bitrateMbps = 20.0; // only for codecs that use a bitrate
    // When true the bitrate is recomputed from quality, size and rate.
    bool bitrateFollowsQuality = true;
    QualityTier quality = QualityTier::high;
    QString namingPattern = QStringLiteral("{name}_{codec}");

    // The body used wherever no preset applies.
    static PresetBody standard() { return PresetBody(); }

    friend bool operator==(const PresetBody&, const PresetBody&) = default;
};

// The settings of one job.
struct JobSettings
{
    // Where the settings came from: a built-in id or "custom:" plus a saved preset's UUID.
    // A label of origin only; the body is authoritative.
    QString presetID;
    QString presetName; // display name when applied; also the {preset} name token
    PresetBody body;
    QString outputDirectory;
    bool revealWhenDone = false;

    friend bool operator==(const JobSettings&, const JobSettings&) = default;
};

// A preset the user saved.
struct SavedPreset
{
    QUuid id;
    QString name;
    PresetBody body;

    friend bool operator==(const SavedPreset&, const SavedPreset&) = default;
};

// One entry of the queue.
struct EncodingJob
{
    QUuid id;
    QString sourcePath;                   // absolute
    std::optional<SourceInfo> sourceInfo; // absent until probing has succeeded
    bool probing = false;
    JobSettings settings;
    JobStatus status = JobStatus::queued;
    double progress = 0; // 0...1
    std::optional<double> etaSeconds;
    std::optional<QString> errorMessage;
    std::optional<QString> outputPath;
    // Absent until the encode chose its encoder; true for hardware.
    std::optional<bool> hardwareEncoder;
    QDateTime addedAt;
    // The tracks the running encode writes, one line each ("audio pcm_s24le 5.1(side) eng").
    // Shown, not stored.
    QStringList outputTracks;

    // The file name of the source, extension included.
    QString sourceName() const;

    friend bool operator==(const EncodingJob&, const EncodingJob&) = default;
};

// "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" in upper case, the form every stored UUID takes.
QString uuidString(const QUuid& id);

} // namespace corvel
