#pragma once

#include "CorvelEncoderCore/Records.h"

#include <QString>

#include <optional>

namespace corvel {

// Whether `path` holds a complete movie of a source `sourceDuration` seconds long: the FFmpeg
// libraries open it, it lasts as long as the source within 2 % (at least 0.1 s, at most 1 s),
// and the packets of its last second are there in full. A file cut off while written either
// does not open, is shorter, or lacks the data its index names.
bool isCompleteMovie(const QString& path, double sourceDuration);

// Where `job` would be written today, before any -N that keeps names apart, when a complete
// movie already stands there. Needs the job's source read.
std::optional<QString> encodedBefore(const EncodingJob& job);

} // namespace corvel
