#pragma once

#include <QString>

namespace corvel {

enum class WriterState
{
    none,    // no process holds the file open for writing
    writing, // some process does: its copy is not done
    unknown, // the file system or the file's owner does not let us ask
};

// Whether some process holds `path` open for writing, asked by taking a read lease, which the
// kernel grants only while there is no writer, and releasing it at once.
WriterState openWriters(const QString& path);

} // namespace corvel
