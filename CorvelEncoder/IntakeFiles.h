#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

namespace corvel {

// The name of the watch folder's output sub-folder; folder walks never enter it.
inline constexpr QLatin1StringView kWatchOutputFolderName{"Corvel Output"};

// The files and links named by process arguments (the program path first): every argument not
// beginning with "-". Links of the application's scheme stay links; everything else is a file
// path with "~" expanded, made absolute against `workingDirectory`.
QList<QUrl> commandLineURLs(const QStringList& arguments, const QString& workingDirectory);

// Every non-hidden file below `folder`, descending five levels of sub-folders, skipping any
// entry named "Corvel Output". Entries come in the order the file system lists them. Links to
// folders are followed, but a folder already walked (a link loop, or two links to one folder)
// is walked only once.
QStringList collectFiles(const QString& folder);

} // namespace corvel
