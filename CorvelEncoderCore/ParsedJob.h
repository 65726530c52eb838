#pragma once

#include "CorvelEncoderCore/Enumerations.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

namespace corvel {

// One job as a job file or link asked for it, before defaults and presets apply. An absent
// field means the sender did not specify it.
struct ParsedJob
{
    QString sourcePath;               // absolute and standardised
    std::optional<QString> presetRaw; // as written; resolved only when settings are merged
    std::optional<ResolutionMode> resolution;
    std::optional<int64_t> customWidth;
    std::optional<int64_t> customHeight;
    std::optional<FrameRateMode> frameRate;
    std::optional<AudioMode> audio;
    std::optional<double> bitrateMbps;
    std::optional<QualityTier> quality;
    std::optional<QString> namingPattern;
    std::optional<QString> outputDirectory; // absolute and standardised
    std::optional<bool> revealWhenDone;

    friend bool operator==(const ParsedJob&, const ParsedJob&) = default;
};

// Everything one job file or link asked for.
struct ParsedJobs
{
    bool start = false;            // start the queue once the jobs are added
    std::optional<QString> sender; // by convention the sender's bundle identifier
    QList<ParsedJob> jobs;         // never empty when parsing succeeded

    friend bool operator==(const ParsedJobs&, const ParsedJobs&) = default;
};

} // namespace corvel
