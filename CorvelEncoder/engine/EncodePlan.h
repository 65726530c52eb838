#pragma once

#include "CorvelEncoder/engine/ClaimedOutput.h"
#include "CorvelEncoder/engine/EncodeFailure.h"
#include "CorvelEncoder/engine/InspectMedia.h"
#include "CorvelEncoder/engine/OutputJournal.h"
#include "CorvelEncoder/engine/VideoRendering.h"
#include "CorvelEncoderCore/FrameMath.h"
#include "CorvelEncoderCore/Records.h"

#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>

#include <expected>
#include <mutex>

namespace corvel {

enum class FileType
{
    mpeg4,
    quickTime
};

// Where and how one encode writes. Its output path stays reserved in OutputNames until the
// claim on it ends.
struct EncodePlan
{
    QString outputPath; // the final name; the movie is written through `output`
    std::shared_ptr<ClaimedOutput> output;
    PixelSize renderSize;
    double fps = 0;
    RationalTime frameDuration;
    bool mirrored = false; // flipped left to right before turning
    int quarterTurns = 0;  // clockwise turns applied before scaling
    ColorTags color;       // all three present, as the output is tagged
    VideoRendering rendering;
    // Set when the output size only rounds the upright source down to what the codec takes:
    // the last column or row is cropped off instead of resampling every pixel.
    std::optional<PixelSize> cropTo;
    FileType fileType = FileType::quickTime;
    QString summary;
    QString timecode; // the source's start timecode at the output rate; empty without one
    // An interlaced source keeps its fields at its own height and rate; otherwise its fields
    // are merged into frames before anything is resized or retimed.
    bool interlaced = false;
    bool topFieldFirst = false;
    bool deinterlace = false;
};

// What a video encoder is opened from.
struct VideoSettings
{
    Codec codec = Codec::proRes422HQ;
    int width = 0;
    int height = 0;
    double fps = 0;
    RationalTime frameDuration; // the encoder's time base
    ColorTags color;
    bool hardware = false;
    // Only for codecs that use a bitrate:
    int64_t averageBitRate = 0;
    int maxKeyFrameInterval = 0;
    bool allowFrameReordering = false;
    bool highProfile = false; // H.264 only
    bool sourceHasAlpha = false;
    bool interlaced = false; // coded as fields
    bool topFieldFirst = false;
    int bitDepth = 8; // 10 asks H.264/HEVC encoders for a 10-bit format (HEVC Main10)
    std::optional<MasteringDisplay> mastering;
    std::optional<ContentLight> contentLight;

    friend bool operator==(const VideoSettings&, const VideoSettings&) = default;
};

enum class AudioFormat
{
    pcm,
    aac
};

// What an audio encoder is opened from.
struct AudioSettings
{
    AudioFormat format = AudioFormat::pcm;
    int sampleRate = 0;
    int channels = 0;
    int bitDepth = 16;   // PCM
    int64_t bitRate = 0; // AAC

    friend bool operator==(const AudioSettings&, const AudioSettings&) = default;
};

VideoSettings videoSettings(Codec codec, int width, int height, double fps, double bitrateMbps,
                            const ColorTags& color, bool hardware);
AudioSettings pcmSettings(double sampleRate, int channels, int depth);
AudioSettings aacSettings(double sampleRate, int channels, QualityTier tier);
// The FFmpeg codec the output stream carries.
const char* avCodec(Codec codec);

// One (rate, channels, depth) to try for the decoded audio, and what the writer gets from it.
struct AudioCandidate
{
    AudioSettings reader; // always PCM
    AudioSettings writer;

    friend bool operator==(const AudioCandidate&, const AudioCandidate&) = default;
};
// The candidates in the order they are tried.
QList<AudioCandidate> audioCandidates(AudioMode mode, const AudioTags& source, QualityTier tier);

// The output paths reserved by running encodes, shared by every session of the process.
class OutputNames final
{
public:
    static OutputNames& shared();

    // Chooses a free path directory/base[-N].ext, free meaning neither on disk (a dangling
    // link counts) nor being written by an encode of either program nor reserved, and reserves
    // it before returning.
    QString reserve(const QString& directory, const QString& base, const QString& ext);
    // Reserves a free path as reserve() does and starts writing there (see ClaimedOutput), so
    // other processes choosing names in the folder see it taken. The first claim in a folder
    // clears what killed encodes left there. Fails with an errno value when the folder takes
    // no file.
    std::expected<std::unique_ptr<ClaimedOutput>, int>
    claim(const QString& directory, const QString& base, const QString& ext);
    // Frees a claimed or reserved name once its file is complete or removed.
    void release(const QString& path);
    bool isReserved(const QString& path) const;
    // Where claimed files are recorded until they are released; none when null.
    void setJournal(OutputJournal* journal);

private:
    void unreserve(const QString& path);

    mutable std::mutex m_mutex;
    QSet<QString> m_reserved;
    QSet<QString> m_claimed;      // reserved names whose writing the journal knows of
    QSet<QString> m_sweptFolders; // folders cleared of abandoned partial files
    OutputJournal* m_journal = nullptr;
};

// The largest frame, source or output, an encode takes: 8192×4352, the most H.264 and HEVC
// allow, whose working set still fits a desktop's memory.
inline constexpr int64_t kMaxFramePixels = int64_t{8192} * 4352;

// The output size for a source shown at `upright` (stored size, turned upright) whose fitted
// size is `fitted`: ProRes keeps an odd height of a source kept at its own size, as its 4:2:2
// samples every row. And the crop that replaces scaling when the size is only rounded down.
std::pair<PixelSize, std::optional<PixelSize>>
roundedSize(Codec codec, PixelSize upright, PixelSize fitted, bool squarePixels, bool interlaced);

// Turns the job's settings and an inspected source into a plan, claiming its output path: the
// plan's output is being written, and belongs to whoever holds the plan.
std::expected<EncodePlan, EncodeFailure> makePlan(const InspectedMedia& media,
                                                  const JobSettings& settings,
                                                  const QString& sourcePath, const QDateTime& now);

} // namespace corvel
