#pragma once

#include <QString>

namespace corvel {

// The preset id of settings that match no preset: the menus show it as "Custom".
inline const QString kInlinePresetID = QStringLiteral("inline");
// The preset name of a job whose settings are no preset's.
inline const QString kCustomPresetName = QStringLiteral("Custom");
// The preset new and watch jobs get when their stored choice names no preset.
inline const QString kFallbackPresetID = QStringLiteral("prores-422-hq");
inline const QString kFallbackPresetName = QStringLiteral("ProRes 422 HQ");
// The range of a data rate, in megabits per second.
inline constexpr double kMinBitrateMbps = 0.5;
inline constexpr double kMaxBitrateMbps = 200.0;

} // namespace corvel
