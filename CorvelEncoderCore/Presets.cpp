#include "CorvelEncoderCore/Presets.h"

#include "CorvelEncoderCore/FrameMath.h"
#include "CorvelEncoderCore/PresetConstants.h"
#include "CorvelEncoderCore/TextRules.h"

#include <QHash>

#include <algorithm>
#include <cmath>

namespace corvel {

namespace {

BuiltinPreset makeBuiltin(const char* id, const char* name, const char* detail, Codec codec,
                          AudioMode audio, bool follows)
{
    PresetBody body = PresetBody::standard();
    body.codec = codec;
    body.audio = audio;
    body.bitrateFollowsQuality = follows;
    return {QString::fromUtf8(id), QString::fromUtf8(name), QString::fromUtf8(detail), body};
}

const QHash<QString, QString>& aliasTable()
{
    static const QHash<QString, QString> table = [] {
        static constexpr std::pair<const char*, const char*> rows[] = {
            {"prores422proxy", "prores-proxy"},
            {"proresproxy", "prores-proxy"},
            {"proxy", "prores-proxy"},
            {"prores422lt", "prores-lt"},
            {"proreslt", "prores-lt"},
            {"prores422", "prores-422"},
            {"prores", "prores-422"},
            {"prores422hq", "prores-422-hq"},
            {"proreshq", "prores-422-hq"},
            {"prores4444", "prores-4444"},
            {"prores4444alpha", "prores-4444"},
            {"prores4444withalpha", "prores-4444"},
            {"h264", "h264"},
            {"avc", "h264"},
            {"avc1", "h264"},
            {"hevc", "hevc"},
            {"h265", "hevc"},
            {"hevcwithalpha", "hevc-alpha"},
            {"hevcalpha", "hevc-alpha"},
            {"h265alpha", "hevc-alpha"},
        };
        QHash<QString, QString> map;
        for (const auto& [key, id] : rows) {
            Q_ASSERT_X(!map.contains(QLatin1StringView(key)), "aliasTable", "duplicate alias");
            map.insert(QLatin1StringView(key), QLatin1StringView(id));
        }
        return map;
    }();
    return table;
}

const SavedPreset* savedWithUUID(QStringView uuidText, const QList<SavedPreset>& saved)
{
    for (const SavedPreset& preset : saved) {
        if (uuidString(preset.id).compare(uuidText, Qt::CaseInsensitive) == 0)
            return &preset;
    }
    return nullptr;
}

// The saved preset a stored "custom:<UUID>" identity names (prefix case-sensitive).
const SavedPreset* savedForStoredID(QStringView id, const QList<SavedPreset>& saved)
{
    if (!id.startsWith(kCustomPresetPrefix))
        return nullptr;
    return savedWithUUID(id.sliced(kCustomPresetPrefix.size()), saved);
}

double roundedHalfAway(double value)
{
    return std::round(value);
}

} // namespace

const QList<BuiltinPreset>& BuiltinPreset::all()
{
    static const QList<BuiltinPreset> presets{
        makeBuiltin("prores-proxy", "ProRes Proxy", "Smaller files for offline cuts",
                    Codec::proRes422Proxy, AudioMode::pcm, false),
        makeBuiltin("prores-lt", "ProRes LT", "Light ProRes for editorial", Codec::proRes422LT,
                    AudioMode::pcm, false),
        makeBuiltin("prores-422", "ProRes 422", "Standard finishing ProRes", Codec::proRes422,
                    AudioMode::pcm, false),
        makeBuiltin("prores-422-hq", "ProRes 422 HQ", "Mastering ProRes", Codec::proRes422HQ,
                    AudioMode::pcm, false),
        makeBuiltin("prores-4444", "ProRes 4444 (Alpha)", "Keeps the alpha channel",
                    Codec::proRes4444, AudioMode::pcm, false),
        makeBuiltin("h264", "H.264", "Delivery, hardware encoder when the machine allows it",
                    Codec::h264, AudioMode::aac, true),
        makeBuiltin("hevc", "HEVC", "Smaller delivery files", Codec::hevc, AudioMode::aac, true),
        makeBuiltin("hevc-alpha", "HEVC with Alpha", "HEVC plus alpha, written as MOV",
                    Codec::hevcWithAlpha, AudioMode::aac, true),
    };
    return presets;
}

std::optional<BuiltinPreset> BuiltinPreset::matching(QStringView id)
{
    for (const BuiltinPreset& preset : all()) {
        if (preset.id == id)
            return preset;
    }
    return std::nullopt;
}

QStringList BuiltinPreset::aliases() const
{
    QStringList words;
    for (auto it = aliasTable().cbegin(); it != aliasTable().cend(); ++it) {
        if (it.value() == id && it.key() != id)
            words.append(it.key());
    }
    words.sort();
    return words;
}

std::optional<QString> BuiltinPreset::idMatching(QStringView raw)
{
    const QString t = trimmedText(raw);
    if (matching(t))
        return t;
    const QString key = foldPresetKey(t);
    if (const auto it = aliasTable().constFind(key); it != aliasTable().constEnd())
        return *it;
    for (const BuiltinPreset& preset : all()) {
        if (foldPresetKey(preset.name) == key || foldPresetKey(preset.id) == key)
            return preset.id;
    }
    return std::nullopt;
}

QString savedPresetID(const SavedPreset& preset)
{
    return kCustomPresetPrefix + uuidString(preset.id);
}

QString foldPresetKey(QStringView text)
{
    return filteredCodePoints(text.toString().toLower(), [](char32_t c) {
        return QChar::isLetterOrNumber(c) || QChar::isMark(c);
    });
}

std::optional<QString> resolvePresetID(QStringView raw, const QList<SavedPreset>& saved)
{
    if (auto builtin = BuiltinPreset::idMatching(raw))
        return builtin;
    const QString t = trimmedText(raw);
    if (t.startsWith(kCustomPresetPrefix, Qt::CaseInsensitive)) {
        if (const SavedPreset* preset = savedWithUUID(QStringView(t).sliced(7), saved))
            return savedPresetID(*preset);
    }
    if (const SavedPreset* preset = savedWithUUID(t, saved))
        return savedPresetID(*preset);
    for (const SavedPreset& preset : saved) {
        if (equalIgnoringCaseAndDiacritics(preset.name, t))
            return savedPresetID(preset);
    }
    return std::nullopt;
}

std::optional<PresetBody> presetBody(QStringView id, const QList<SavedPreset>& saved)
{
    if (auto builtin = BuiltinPreset::matching(id))
        return builtin->body;
    if (const SavedPreset* preset = savedForStoredID(id, saved))
        return preset->body;
    return std::nullopt;
}

std::optional<QString> presetDisplayName(QStringView id, const QList<SavedPreset>& saved)
{
    if (auto builtin = BuiltinPreset::matching(id))
        return builtin->name;
    if (const SavedPreset* preset = savedForStoredID(id, saved))
        return preset->name;
    return std::nullopt;
}

bool samePresetChoices(const PresetBody& a, const PresetBody& b)
{
    if (a.codec != b.codec || a.resolution != b.resolution || a.frameRate != b.frameRate ||
        a.audio != b.audio || a.namingPattern != b.namingPattern || a.quality != b.quality ||
        a.bitrateFollowsQuality != b.bitrateFollowsQuality)
        return false;
    if (a.resolution == ResolutionMode::custom &&
        (a.customWidth != b.customWidth || a.customHeight != b.customHeight))
        return false;
    if (!a.bitrateFollowsQuality && !(std::abs(a.bitrateMbps - b.bitrateMbps) < 0.05))
        return false;
    return true;
}

double suggestedBitrateMbps(int64_t width, int64_t height, double fps, Codec codec,
                            QualityTier tier)
{
    const double w = width < 3 ? 2.0 : static_cast<double>(width);
    const double h = height < 3 ? 2.0 : static_cast<double>(height);
    double bitsPerPixel = 0.4;
    switch (tier) {
    case QualityTier::low:
        bitsPerPixel = 0.12;
        break;
    case QualityTier::medium:
        bitsPerPixel = 0.22;
        break;
    case QualityTier::high:
        bitsPerPixel = 0.4;
        break;
    case QualityTier::veryHigh:
        bitsPerPixel = 0.65;
        break;
    }
    if (codec == Codec::hevc || codec == Codec::hevcWithAlpha)
        bitsPerPixel *= 0.62;
    if (codec == Codec::hevcWithAlpha)
        bitsPerPixel *= 1.25;
    // NaN counts as "at most 1" so the result stays finite.
    const double f = !(fps > 1) ? 1.0 : std::min(fps, 120.0);
    const double mbps = f * w * h * bitsPerPixel / 1'000'000.0;
    if (mbps <= kMinBitrateMbps)
        return kMinBitrateMbps;
    return roundedHalfAway(std::min(mbps, kMaxBitrateMbps) * 10.0) / 10.0;
}

std::optional<double> automaticBitrateMbps(const PresetBody& body,
                                           const std::optional<PixelSize>& source,
                                           std::optional<double> sourceFPS)
{
    if (!usesBitrate(body.codec) || !body.bitrateFollowsQuality)
        return std::nullopt;
    const PixelSize size = fittedSize(source.value_or(PixelSize{1920, 1080}), body.resolution,
                                      PixelSize{body.customWidth, body.customHeight});
    const double fps = resolvedFrameRate(body.frameRate, sourceFPS);
    return suggestedBitrateMbps(size.width, size.height, fps, body.codec, body.quality);
}

const QList<QString>& namingPatterns()
{
    static const QList<QString> patterns{
        QStringLiteral("{name}"),
        QStringLiteral("{name}_{codec}"),
        QStringLiteral("{name}_{preset}"),
        QStringLiteral("{name}_{resolution}"),
        QStringLiteral("{name}_{codec}_{date}"),
    };
    return patterns;
}

} // namespace corvel
