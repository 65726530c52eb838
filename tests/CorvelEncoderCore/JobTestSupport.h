#pragma once

// Readable gtest output for the job-intake tests.

#include "../QtPrinters.h"

#include "CorvelEncoderCore/JobFile.h"
#include "CorvelEncoderCore/JobFileError.h"
#include "CorvelEncoderCore/JobFileReadings.h"
#include "CorvelEncoderCore/JsonCoding.h"
#include "CorvelEncoderCore/ParsedJob.h"

#include <QDir>
#include <QJsonDocument>
#include <QString>

#include <ostream>

namespace corvel {

[[maybe_unused]] static QString home()
{
    return QDir::homePath();
}

[[maybe_unused]] static QString errorOf(const JobFileResult& result)
{
    return result ? u"<no error>"_s : result.error().description();
}

// PartialFields with every field defaulted, so that a row names only the fields it sets
// (g++ warns about designated initialisers that leave out a field with no default).
struct Fields
{
    std::optional<QString> presetRaw = {};
    std::optional<ResolutionMode> resolution = {};
    std::optional<int64_t> customWidth = {};
    std::optional<int64_t> customHeight = {};
    std::optional<FrameRateMode> frameRate = {};
    std::optional<AudioMode> audio = {};
    std::optional<double> bitrateMbps = {};
    std::optional<QualityTier> quality = {};
    std::optional<QString> namingPattern = {};
    std::optional<QString> outputDirectory = {};
    std::optional<bool> revealWhenDone = {};

    ParsedJob asJob(QString sourcePath) const
    {
        return PartialFields{presetRaw,     resolution,      customWidth,   customHeight,
                             frameRate,     audio,           bitrateMbps,   quality,
                             namingPattern, outputDirectory, revealWhenDone}
            .asJob(std::move(sourcePath));
    }
};

[[maybe_unused]] static void PrintTo(const JobBuildError& error, std::ostream* os)
{
    *os << "JobBuildError(" << error.description().toStdString() << ')';
}

[[maybe_unused]] static void PrintTo(const JobSettings& settings, std::ostream* os)
{
    *os << QJsonDocument(toJson(settings)).toJson(QJsonDocument::Compact).toStdString();
}

} // namespace corvel
