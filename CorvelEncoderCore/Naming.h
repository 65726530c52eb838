#pragma once

#include "CorvelEncoderCore/Records.h"

#include <QDateTime>
#include <QSet>
#include <QString>
#include <QTimeZone>

#include <functional>
#include <optional>

namespace corvel {

// The values of the five output-name tokens.
struct NameContext
{
    QString name;       // source file name without extension
    QString preset;     // JobSettings::presetName
    QString codec;      // fileToken of the codec
    QString resolution; // "1920x1080"
    QString date;       // dateStamp

    friend bool operator==(const NameContext&, const NameContext&) = default;
};

// Extensions (lower case) that count as movies.
const QSet<QString>& videoExtensions();

// The pattern with its tokens replaced, made safe as a file name (no extension).
QString renderName(QStringView pattern, const NameContext& context);
// Forbidden characters become hyphens; at most 120 user-perceived characters and 180 bytes
// of UTF-8, cut between characters; never empty.
QString sanitizeFilename(QStringView text);
// "yyyy-MM-dd" of the calendar date of `date` in `timeZone`.
QString dateStamp(const QDateTime& date, const QTimeZone& timeZone);
// The output file name with its extension.
QString outputFilename(QStringView sourceFileName, const JobSettings& settings, PixelSize pixels,
                       const QString& date);
// The first of directory/base.ext, base-2.ext ... base-9999.ext that `fileExists` denies,
// else a name with a random UUID. Returns an absolute path when `directory` is one.
QString uniqueFileURL(const QString& directory, const QString& base, QStringView ext,
                      const std::function<bool(const QString&)>& fileExists);
// Whether the path's extension names a movie.
bool isVideoFilePath(QStringView path);
// The sender of a job file or link as the log names it.
std::optional<QString> senderDisplayName(const std::optional<QString>& sender);

} // namespace corvel
