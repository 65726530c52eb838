#pragma once

#include <QHashFunctions>
#include <QList>
#include <QString>
#include <QStringView>

#include <optional>

namespace corvel {

enum class Codec
{
    proRes422Proxy,
    proRes422LT,
    proRes422,
    proRes422HQ,
    proRes4444,
    h264,
    hevc,
    hevcWithAlpha,
};

enum class ResolutionMode
{
    source,
    uhd4k,
    hd1080,
    hd720,
    custom
};

enum class AudioMode
{
    aac,
    pcm
};

enum class QualityTier
{
    low,
    medium,
    high,
    veryHigh
};

enum class JobStatus
{
    queued,
    encoding,
    paused,
    completed,
    failed,
    cancelled
};

// Finished, failed or cancelled: the job waits for nothing more until it is requeued.
constexpr bool isTerminal(JobStatus status)
{
    return status == JobStatus::completed || status == JobStatus::failed ||
           status == JobStatus::cancelled;
}

// Raw values are the JSON forms; they are matched exactly and case-sensitively.
QString rawValue(Codec codec);
QString rawValue(ResolutionMode mode);
QString rawValue(AudioMode mode);
QString rawValue(QualityTier tier);
QString rawValue(JobStatus status);

// fromRawValue<E>(text): the case whose raw value is `text`, or nothing.
template <class E>
std::optional<E> fromRawValue(QStringView text);
template <>
std::optional<Codec> fromRawValue<Codec>(QStringView text);
template <>
std::optional<ResolutionMode> fromRawValue<ResolutionMode>(QStringView text);
template <>
std::optional<AudioMode> fromRawValue<AudioMode>(QStringView text);
template <>
std::optional<QualityTier> fromRawValue<QualityTier>(QStringView text);
template <>
std::optional<JobStatus> fromRawValue<JobStatus>(QStringView text);

QString displayName(Codec codec);
// What the {codec} token of an output name becomes.
QString fileToken(Codec codec);
// True for the delivery codecs, whose size is governed by a bitrate.
bool usesBitrate(Codec codec);
bool keepsAlpha(Codec codec);

QString label(ResolutionMode mode);
QString label(AudioMode mode);
QString label(QualityTier tier);
QString label(JobStatus status);

// Every case in menu order.
const QList<Codec>& allCodecs();
const QList<ResolutionMode>& allResolutionModes();
const QList<AudioMode>& allAudioModes();
const QList<QualityTier>& allQualityTiers();

// Keep the source's rate, or an exact rate in frames per second.
class FrameRateMode
{
public:
    // Default-constructed, the mode keeps the source's rate.
    FrameRateMode() = default;

    static FrameRateMode source() { return FrameRateMode(); }
    static FrameRateMode exact(double fps) { return FrameRateMode(fps); }

    bool isSource() const { return !m_exact.has_value(); }
    bool isExact() const { return m_exact.has_value(); }
    // The exact rate, or nothing for `source`.
    std::optional<double> exactRate() const { return m_exact; }

    friend bool operator==(const FrameRateMode& a, const FrameRateMode& b)
    {
        return a.m_exact == b.m_exact;
    }

private:
    explicit FrameRateMode(double fps) : m_exact(fps) {}

    std::optional<double> m_exact;
};

size_t qHash(const FrameRateMode& mode, size_t seed = 0) noexcept;

} // namespace corvel
