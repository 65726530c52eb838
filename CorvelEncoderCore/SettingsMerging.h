#pragma once

#include "CorvelEncoderCore/JobFileError.h"
#include "CorvelEncoderCore/ParsedJob.h"
#include "CorvelEncoderCore/Records.h"

#include <QList>

#include <expected>

namespace corvel {

// The full settings of a new job: `defaults` (what a job added by hand gets), overridden by
// the named preset's whole body, then by each field the job file or link gave, then by the
// automatic bitrate where the bitrate follows quality. Pure.
std::expected<JobSettings, JobBuildError> settingsByMerging(const ParsedJob& job,
                                                            const JobSettings& defaults,
                                                            const QList<SavedPreset>& saved);

} // namespace corvel
