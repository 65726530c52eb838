#pragma once

#include "CorvelEncoderCore/JobFileError.h"
#include "CorvelEncoderCore/Records.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <expected>

namespace corvel {

// The job file that hands `jobs` back to the queue: one "jobs" entry per job, pretty-printed
// with sorted keys. Every key written is one the job-file parser reads.
QByteArray jobFileData(const QList<EncodingJob>& jobs);

// Writes jobFileData(jobs) to `path` atomically: the old file stays intact on any failure.
std::expected<void, JobFileError> writeJobFile(const QList<EncodingJob>& jobs, const QString& path);

} // namespace corvel
