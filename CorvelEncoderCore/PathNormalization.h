#pragma once

#include <QString>
#include <QStringView>

#include <optional>

namespace corvel {

// An absolute, standardised path for a path as a job file or link wrote it: a "file://" URL,
// "~" or "~user", or a path relative to `baseFolder` (the home folder when there is none).
// "." and ".." are resolved and duplicate and trailing slashes removed; symbolic links are
// left alone. Blank text gives the base folder itself.
QString normalizePath(QStringView text, const std::optional<QString>& baseFolder);

// Why `text` names no file on this computer: a "file://" URL of another host, an address of
// another kind ("http://…"), or a NUL character inside. Nothing for a path or a file URL without a
// host or with "localhost".
std::optional<QString> notALocalPath(QStringView text);

// "." and ".." resolved, duplicate and trailing slashes removed; ".." above the root of an
// absolute path stays at the root.
QString standardizedPath(QStringView path);

// The folder that contains the file at an absolute path ("/" for a file at the root).
QString parentFolder(QStringView path);

} // namespace corvel
