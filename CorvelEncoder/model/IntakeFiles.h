#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

namespace corvel {

// The name of the watch folder's output sub-folder; folder walks never enter it.
inline constexpr QLatin1StringView kWatchOutputFolderName{"Corvel Output"};

// The files and links named by process arguments (the program path first): every argument not
// beginning with "-". An argument beginning with the application's scheme and ":" is always a
// link, read tolerantly (raw spaces and braces are fine); one that cannot be read at all
// becomes the bare scheme, which intake refuses as not a link. Everything else is a file path
// with "~" expanded, made absolute against `workingDirectory`.
QList<QUrl> commandLineURLs(const QStringList& arguments, const QString& workingDirectory);

// Every non-hidden file below `folder`, descending five levels of sub-folders, skipping any
// entry named "Corvel Output". Each folder's entries come in natural name order ("clip_2"
// before "clip_10"), as a file manager shows them. Links to folders are followed only when
// they lead to a folder inside `folder`, and a folder already walked is walked only once.
// Entries whose names are not UTF-8 cannot be opened through a QString; they are left out
// and, when `unreadable` is given, listed there as decoded (bad bytes as U+FFFD).
QStringList collectFiles(const QString& folder, QStringList* unreadable = nullptr);

} // namespace corvel
