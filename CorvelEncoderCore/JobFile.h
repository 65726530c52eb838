#pragma once

#include "CorvelEncoderCore/JobFileError.h"
#include "CorvelEncoderCore/ParsedJob.h"

#include <QByteArray>
#include <QString>

#include <expected>
#include <optional>

namespace corvel {

using JobFileResult = std::expected<ParsedJobs, JobFileError>;

// How much of a ".json" file is read to tell whether it is a job file.
inline constexpr qint64 kJobSniffBytes = 2'000'000;
// Job files are small; a larger file is refused rather than read into memory whole.
inline constexpr qint64 kMaxJobFileBytes = 64 * 1024 * 1024;
// A job file listing more sources than this is refused whole, with one message.
inline constexpr qsizetype kMaxJobSources = 100'000;

// Whether the path's extension is "corveljob" or "corvelenc", in any case.
bool isCorvelJobPath(QStringView path);
// A job file by extension, or a ".json" file whose first kJobSniffBytes bytes are a job.
// Never fails; reads the file system.
bool looksLikeJobFile(const QString& path);
// Whether the bytes are a JSON object with a "sources", "jobs" or "source" key.
bool looksLikeJobData(const QByteArray& data);

// The whole contents of a regular file of at most kMaxJobFileBytes bytes, or nothing.
std::optional<QByteArray> readJobFileBytes(const QString& path);

// Reads and parses the job file at `path`; relative paths inside are taken from its folder.
JobFileResult parseJobFile(const QString& path);
// Parses job-file JSON. Relative paths are taken from `baseFolder`, or from the home folder
// when there is none. Every failure is an error value; the first one ends the parse.
JobFileResult parseJobData(const QByteArray& data,
                           const std::optional<QString>& baseFolder = std::nullopt);

} // namespace corvel
