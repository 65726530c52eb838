#pragma once

#include <QString>

namespace corvel {

// Sends FFmpeg's own messages (at `level`, an AV_LOG_* value) to stderr, each line prefixed
// with the name of the job it concerns. Call once, before any encode starts.
void routeFFmpegLog(int level);

// The jobs whose files FFmpeg may name while they run: the source and output paths of each,
// and the name that prefixes its lines. Any thread.
void addFFmpegLogJob(const QString& sourcePath, const QString& outputPath, const QString& name);
void removeFFmpegLogJob(const QString& sourcePath);

} // namespace corvel
