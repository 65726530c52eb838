#pragma once

// The job-file parser's building blocks. Only the parser and its tests use them.

#include "CorvelEncoderCore/JobFileError.h"
#include "CorvelEncoderCore/ParsedJob.h"

#include <QJsonObject>
#include <QJsonValue>

#include <expected>

namespace corvel {

// The settings one JSON object gives; each field absent when the object does not give it.
struct PartialFields
{
    std::optional<QString> presetRaw;
    std::optional<ResolutionMode> resolution;
    std::optional<int64_t> customWidth;
    std::optional<int64_t> customHeight;
    std::optional<FrameRateMode> frameRate;
    std::optional<AudioMode> audio;
    std::optional<double> bitrateMbps;
    std::optional<QualityTier> quality;
    std::optional<QString> namingPattern;
    std::optional<QString> outputDirectory;
    std::optional<bool> revealWhenDone;

    // Field by field, `other`'s value where it has one, else this one's.
    PartialFields merging(const PartialFields& other) const;
    ParsedJob asJob(QString sourcePath) const;

    friend bool operator==(const PartialFields&, const PartialFields&) = default;
};

// Trimmed text; nothing for blank text and for every other JSON type.
std::optional<QString> jsonString(const QJsonValue& value);
// A JSON number, or a string holding a decimal number. Booleans and null give nothing.
std::optional<double> jsonDouble(const QJsonValue& value);
// A JSON number truncated toward zero, or a string holding a decimal integer; nothing on
// overflow, for booleans and for null.
std::optional<int64_t> jsonInt(const QJsonValue& value);
// true/false, the numbers 1 and 0, or "1", "true", "yes", "y", "0", "false", "no", "n".
std::optional<bool> jsonBool(const QJsonValue& value);
// "source" (or "original", "native"), or a number above zero, capped at 120.
std::optional<FrameRateMode> parseFrameRateValue(const QJsonValue& value);

// The settings keys of one object. Paths are taken relative to `baseFolder`.
std::expected<PartialFields, JobFileError> partialFields(const QJsonObject& object,
                                                         const std::optional<QString>& baseFolder);
// One element of a "sources" array: a path string or a source object with its own settings.
std::expected<ParsedJob, JobFileError> jobFromSourceItem(const QJsonValue& item,
                                                         const PartialFields& inherited,
                                                         const std::optional<QString>& baseFolder);

} // namespace corvel
