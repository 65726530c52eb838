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
    return result ? u"<no error>"_s : result.error().description();
}

// A parsed job with only its source path set.
[[maybe_unused]] static ParsedJob parsedJobAt(const QString& sourcePath)
{
    ParsedJob job;
    job.sourcePath = sourcePath;
    return job;
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
