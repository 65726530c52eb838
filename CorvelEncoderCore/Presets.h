#pragma once

#include "CorvelEncoderCore/Records.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace corvel {

// One of the presets that ship with the application.
struct BuiltinPreset
{
    QString id; // stable identity stored in JobSettings::presetID
    QString name;
    QString detail;
    PresetBody body;

    // All built-in presets, in menu and matching order.
    static const QList<BuiltinPreset>& all();
    // The preset whose id equals `id` exactly.
    static std::optional<BuiltinPreset> matching(QStringView id);
    // The built-in id a free-form name stands for (exact id, alias, or folded name or id).
    static std::optional<QString> idMatching(QStringView raw);
    // The other words that name this preset (folded, like "avc" or "proxy"), sorted.
    QStringList aliases() const;

    friend bool operator==(const BuiltinPreset&, const BuiltinPreset&) = default;
};

// The prefix of a saved preset's identity; the upper-case UUID follows it.
inline constexpr QLatin1StringView kCustomPresetPrefix{"custom:"};

// "custom:" followed by the preset's UUID in upper case.
QString savedPresetID(const SavedPreset& preset);

// Lower-cased, keeping only Unicode letters, marks and digits: "ProRes 422 HQ" -> prores422hq.
QString foldPresetKey(QStringView text);

// The preset identity free-form text names; built-in presets win over saved ones.
std::optional<QString> resolvePresetID(QStringView raw, const QList<SavedPreset>& saved);

// Lookups by stored identity (not free text).
std::optional<PresetBody> presetBody(QStringView id, const QList<SavedPreset>& saved);
std::optional<QString> presetDisplayName(QStringView id, const QList<SavedPreset>& saved);

// Whether two bodies make the same choices, with a 0.05 Mbps tolerance on fixed bitrates.
bool samePresetChoices(const PresetBody& a, const PresetBody& b);

double suggestedBitrateMbps(int64_t width, int64_t height, double fps, Codec codec,
                            QualityTier tier);

// The bitrate a body gets when its bitrate follows its quality; nothing when it does not.
std::optional<double> automaticBitrateMbps(const PresetBody& body,
                                           const std::optional<PixelSize>& source,
                                           std::optional<double> sourceFPS);

// The suggested output-name patterns, in menu order.
const QList<QString>& namingPatterns();

} // namespace corvel
