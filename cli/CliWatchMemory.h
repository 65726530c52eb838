#pragma once

#include <QLatin1StringView>
#include <QString>
#include <QStringList>

namespace corvel {

// What command-line watch runs remember between runs, kept in the state folder apart from the
// desktop application's files: a later run takes only what arrived since, including what
// arrived while none was running.
struct CliWatchMemory
{
    QStringList folders; // resolved watch folders some run has watched
    QStringList keys;    // watch identities of the files already taken into the queue
    // Those of files present when a run began without --watch-existing, never taken. Files
    // written by older versions lack them: their noted files count as taken.
    QStringList noted;

    friend bool operator==(const CliWatchMemory&, const CliWatchMemory&) = default;
};

inline constexpr QLatin1StringView kCliWatchFileName{"cli-watch.json"};

// Empty when the file is missing or unreadable.
CliWatchMemory readCliWatchMemory(const QString& stateDirectory);
// Replaces the file whole; false on failure, leaving the old one.
bool writeCliWatchMemory(const QString& stateDirectory, const CliWatchMemory& memory);

} // namespace corvel
