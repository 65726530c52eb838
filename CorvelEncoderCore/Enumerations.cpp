#include "CorvelEncoderCore/Enumerations.h"

#include <array>

namespace corvel {

namespace {

template <class E>
struct CaseRow
{
    E value;
    const char* raw;
    const char* label;
};

constexpr std::array<CaseRow<ResolutionMode>, 5> kResolutionRows{{
    {ResolutionMode::source, "source", "Source"},
    {ResolutionMode::uhd4k, "uhd4k", "4K"},
    {ResolutionMode::hd1080, "hd1080", "1080p"},
    {ResolutionMode::hd720, "hd720", "720p"},
    {ResolutionMode::custom, "custom", "Custom"},
}};

constexpr std::array<CaseRow<AudioMode>, 2> kAudioRows{{
    {AudioMode::aac, "aac", "AAC"},
    {AudioMode::pcm, "pcm", "PCM"},
}};

constexpr std::array<CaseRow<QualityTier>, 4> kQualityRows{{
    {QualityTier::low, "low", "Low"},
    {QualityTier::medium, "medium", "Medium"},
    {QualityTier::high, "high", "High"},
    {QualityTier::veryHigh, "veryHigh", "Very High"},
}};

constexpr std::array<CaseRow<JobStatus>, 6> kStatusRows{{
    {JobStatus::queued, "queued", "Queued"},
    {JobStatus::encoding, "encoding", "Encoding"},
    {JobStatus::paused, "paused", "Paused"},
    {JobStatus::completed, "completed", "Done"},
    {JobStatus::failed, "failed", "Failed"},
    {JobStatus::cancelled, "cancelled", "Cancelled"},
}};

struct CodecRow
{
    Codec value;
    const char* raw;
    const char* displayName;
    const char* fileToken;
    bool usesBitrate;
    bool keepsAlpha;
};

constexpr std::array<CodecRow, 8> kCodecRows{{
    {Codec::proRes422Proxy, "proRes422Proxy", "ProRes Proxy", "ProResProxy", false, false},
    {Codec::proRes422LT, "proRes422LT", "ProRes LT", "ProResLT", false, false},
    {Codec::proRes422, "proRes422", "ProRes 422", "ProRes422", false, false},
    {Codec::proRes422HQ, "proRes422HQ", "ProRes 422 HQ", "ProRes422HQ", false, false},
    {Codec::proRes4444, "proRes4444", "ProRes 4444 (Alpha)", "ProRes4444", false, true},
    {Codec::h264, "h264", "H.264", "H264", true, false},
    {Codec::hevc, "hevc", "HEVC", "HEVC", true, false},
    {Codec::hevcWithAlpha, "hevcWithAlpha", "HEVC with Alpha", "HEVCAlpha", true, true},
}};

// The tables are in declaration order, so the enumerator is the index.
template <class Rows, class E>
const auto& rowOf(const Rows& rows, E value)
{
    return rows[static_cast<size_t>(value)];
}

template <class Rows>
auto findRaw(const Rows& rows, QStringView text) -> std::optional<decltype(rows[0].value)>
{
    for (const auto& row : rows) {
        if (text == QLatin1StringView(row.raw))
            return row.value;
    }
    return std::nullopt;
}

template <class Rows>
auto allOf(const Rows& rows)
{
    QList<decltype(rows[0].value)> list;
    for (const auto& row : rows)
        list.append(row.value);
    return list;
}

} // namespace

QString rawValue(Codec codec)
{
    return QString::fromLatin1(rowOf(kCodecRows, codec).raw);
}
QString rawValue(ResolutionMode mode)
{
    return QString::fromLatin1(rowOf(kResolutionRows, mode).raw);
}
QString rawValue(AudioMode mode)
{
    return QString::fromLatin1(rowOf(kAudioRows, mode).raw);
}
QString rawValue(QualityTier tier)
{
    return QString::fromLatin1(rowOf(kQualityRows, tier).raw);
}
QString rawValue(JobStatus status)
{
    return QString::fromLatin1(rowOf(kStatusRows, status).raw);
}

template <>
std::optional<Codec> fromRawValue<Codec>(QStringView text)
{
    return findRaw(kCodecRows, text);
}
template <>
std::optional<ResolutionMode> fromRawValue<ResolutionMode>(QStringView text)
{
    return findRaw(kResolutionRows, text);
}
template <>
std::optional<AudioMode> fromRawValue<AudioMode>(QStringView text)
{
    return findRaw(kAudioRows, text);
}
template <>
std::optional<QualityTier> fromRawValue<QualityTier>(QStringView text)
{
    return findRaw(kQualityRows, text);
}
template <>
std::optional<JobStatus> fromRawValue<JobStatus>(QStringView text)
{
    return findRaw(kStatusRows, text);
}

QString displayName(Codec codec)
{
    return QString::fromLatin1(rowOf(kCodecRows, codec).displayName);
}
QString fileToken(Codec codec)
{
    return QString::fromLatin1(rowOf(kCodecRows, codec).fileToken);
}
bool usesBitrate(Codec codec)
{
    return rowOf(kCodecRows, codec).usesBitrate;
}
bool keepsAlpha(Codec codec)
{
    return rowOf(kCodecRows, codec).keepsAlpha;
}

QString label(ResolutionMode mode)
{
    return QString::fromLatin1(rowOf(kResolutionRows, mode).label);
}
QString label(AudioMode mode)
{
    return QString::fromLatin1(rowOf(kAudioRows, mode).label);
}
QString label(QualityTier tier)
{
    return QString::fromLatin1(rowOf(kQualityRows, tier).label);
}
QString label(JobStatus status)
{
    return QString::fromLatin1(rowOf(kStatusRows, status).label);
}

const QList<Codec>& allCodecs()
{
    static const QList<Codec> list = allOf(kCodecRows);
    return list;
}
const QList<ResolutionMode>& allResolutionModes()
{
    static const QList<ResolutionMode> list = allOf(kResolutionRows);
    return list;
}
const QList<AudioMode>& allAudioModes()
{
    static const QList<AudioMode> list = allOf(kAudioRows);
    return list;
}
const QList<QualityTier>& allQualityTiers()
{
    static const QList<QualityTier> list = allOf(kQualityRows);
    return list;
}

size_t qHash(const FrameRateMode& mode, size_t seed) noexcept
{
    if (mode.isSource())
        return ::qHash(0, seed);
    // +0.0 and -0.0 compare equal, so they must hash alike.
    const double rate = *mode.exactRate();
    return ::qHash(rate == 0.0 ? 0.0 : rate, seed ^ 1u);
}

} // namespace corvel
