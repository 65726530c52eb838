#pragma once

#include "CorvelEncoder/engine/FFmpegHandles.h"

#include <QString>
#include <QStringList>

namespace corvel {

// Gives an output stream the language, title and default flag of the track it carries.
void copyTrackTags(const AVStream* in, AVStream* out, const QString& language, const QString& title,
                   bool isDefault, bool quickTime);

// The form of an ISO 639-2 code QuickTime keeps: its movies store Apple's language codes,
// which use the bibliographic form for most languages ("ger" for "deu") and the
// terminological one for a few ("fra" for "fre"); the other form is written as undefined.
QString quickTimeLanguage(const QString& language);

// Copies the source's chapters to the output, moved to its timeline starting at
// `startOffset` (AV_TIME_BASE units); before the header is written. Chapters wholly before
// the start are left out. Returns how many were copied, or an AVERROR code.
int copyChapters(const AVFormatContext* in, AVFormatContext* out, int64_t startOffset);

// The output's tracks, one line each in file order: "video prores", "audio pcm_s24le
// 5.1(side) eng", "subtitle mov_text spa".
QStringList trackLines(const AVFormatContext* out);

} // namespace corvel
