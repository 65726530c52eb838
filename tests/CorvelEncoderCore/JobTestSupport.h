#pragma once

// Readable gtest output for the job-intake tests.

#include "../QtPrinters.h"

#include "CorvelEncoderCore/JobFile.h"
#include "CorvelEncoderCore/JobFileError.h"
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
    return result ? QStringLiteral("<no error>") : result.error().description();
}

// A parsed job with only its source path set.
[[maybe_unused]] static ParsedJob parsedJobAt(const QString& sourcePath)
{
    ParsedJob job;
    job.sourcePath = sourcePath;
    return job;
}

[[maybe_unused]] static void PrintTo(const ParsedJob& job, std::ostream* os)
{
    const auto text = [](const std::optional<QString>& v) {
        return v ? '"' + v->toStdString() + '"' : std::string("-");
    };
    const auto number = [](const auto& v) {
        return v ? std::to_string(*v) : std::string("-");
    };
    *os << "{source=" << job.sourcePath.toStdString() << " preset=" << text(job.presetRaw)
        << " resolution=" << (job.resolution ? rawValue(*job.resolution).toStdString() : "-")
        << " size=" << number(job.customWidth) << 'x' << number(job.customHeight) << " fps="
        << (job.frameRate
                ? (job.frameRate->isSource() ? std::string("source")
                                             : std::to_string(*job.frameRate->exactRate()))
                : std::string("-"))
        << " audio=" << (job.audio ? rawValue(*job.audio).toStdString() : "-")
        << " bitrate=" << number(job.bitrateMbps)
        << " quality=" << (job.quality ? rawValue(*job.quality).toStdString() : "-")
        << " naming=" << text(job.namingPattern) << " output=" << text(job.outputDirectory)
        << " reveal=" << number(job.revealWhenDone) << '}';
}

[[maybe_unused]] static void PrintTo(const JobFileError& error, std::ostream* os)
{
    *os << "JobFileError(" << error.description().toStdString() << ')';
}

[[maybe_unused]] static void PrintTo(const JobBuildError& error, std::ostream* os)
{
    *os << "JobBuildError(" << error.description().toStdString() << ')';
}

[[maybe_unused]] static void PrintTo(const JobSettings& settings, std::ostream* os)
{
    *os << QJsonDocument(toJson(settings)).toJson(QJsonDocument::Compact).toStdString();
}

} // namespace corvel
