#pragma once

#include "CorvelEncoderCore/Records.h"

#include <QString>

#include <optional>

namespace corvel {

// Whether `path` holds a complete movie of a source `sourceDuration` seconds long: the FFmpeg
// libraries open it, and it lasts as long as the source within 2 % (at least 0.1 s, at most
// 1 s). A file cut off while written either does not open or is shorter.
bool isCompleteMovie(const QString& path, double sourceDuration);

// Where `job` would be written today, before any -N that keeps names apart, when a complete
// movie already stands there. Needs the job's source read.
std::optional<QString> encodedBefore(const EncodingJob& job);

} // namespace corvel
