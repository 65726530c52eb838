#pragma once

#include "CorvelEncoderCore/Records.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

namespace corvel {

// Short texts the queue rows and the inspector show for a job.

// The preset name, "Custom", or the name followed by " · Edited" once the body differs.
QString presetLabel(const EncodingJob& job, const QList<SavedPreset>& saved);
// The output file name the job would get today.
QString previewFilename(const EncodingJob& job,
                        const QDateTime& now = QDateTime::currentDateTime());
// "1920×1080  ·  23.976 fps  ·  H.264  ·  18.5 Mbps  ·  AAC  ·  MP4".
QString summaryLine(const EncodingJob& job);
// What becomes of the source's alpha channel, when there is something to say.
std::optional<QString> alphaNote(const EncodingJob& job);
// "HDR · HLG", "HDR · PQ", "HDR10", "Dolby Vision", "10-bit", or nothing for 8-bit SDR.
std::optional<QString> dynamicRangeLabel(const SourceInfo& info);
// What becomes of an HDR source's picture with the job's codec; nothing for SDR.
std::optional<QString> dynamicRangeNote(const EncodingJob& job);
// Size, rate and duration of the source, or why they are not known yet.
QString sourceLine(const EncodingJob& job);

} // namespace corvel
