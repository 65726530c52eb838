#pragma once

#include "CorvelEncoderCore/Enumerations.h"

#include <QStringView>

#include <cstdint>
#include <optional>

namespace corvel {

// A resolution as a job file or link writes it; the size is set only by a "W x H" text.
struct ResolutionSpec
{
    ResolutionMode mode = ResolutionMode::source;
    std::optional<int64_t> width;
    std::optional<int64_t> height;

    friend bool operator==(const ResolutionSpec&, const ResolutionSpec&) = default;
};

// "source", "4k", "1080p", "720p", "custom" and their synonyms, or "W x H" with both sides
// above zero. Nothing for anything else.
std::optional<ResolutionSpec> parseResolutionSpec(QStringView text);
// "aac", or "pcm" and its synonyms.
std::optional<AudioMode> parseAudioSpec(QStringView text);
// "low", "medium"/"med", "high", "very high" and its synonyms.
std::optional<QualityTier> parseQualitySpec(QStringView text);

} // namespace corvel
