#pragma once

#include <QLatin1StringView>

// The application's fixed names and identifiers.
namespace corvel::CorvelIdentity {

inline constexpr QLatin1StringView appName{"Corvel Encoder"};
inline constexpr QLatin1StringView suiteName{"Corvel Studio"};
inline constexpr QLatin1StringView version{"1.0.0"};
inline constexpr QLatin1StringView license{"GPL-2.0-or-later"};
inline constexpr QLatin1StringView homePage{"https://corvel.studio/encoder"};
inline constexpr QLatin1StringView bundleID{"studio.corvel.encoder"};
inline constexpr QLatin1StringView briskName{"Corvel Brisk"};
inline constexpr QLatin1StringView briskBundleID{"studio.corvel.brisk"};
inline constexpr QLatin1StringView urlScheme{"corvelencoder"};
inline constexpr QLatin1StringView jobExtension{"corveljob"};
// What open and save panels offer for job files: ours, the older extension, and plain JSON.
inline constexpr QLatin1StringView jobFilePatterns{"*.corveljob *.corvelenc *.json"};
// The job files' content type: the bundle identifier followed by ".job".
inline constexpr QLatin1StringView jobType{"studio.corvel.encoder.job"};
// What encoded files carry as their software tag: appName, a space, version.
inline constexpr QLatin1StringView encoderTag{"Corvel Encoder 1.0.0"};

} // namespace corvel::CorvelIdentity
