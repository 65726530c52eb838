#pragma once

#include <QString>

#include <expected>
#include <memory>

namespace corvel {

// One watcher per watch folder and per state folder: two runs over the same files would each
// encode every one of them. The lock is an exclusive flock held for the watcher's life, on a
// file in the state folder and on one per watch folder in the user's runtime folder; the
// kernel drops both with the process, so a crash leaves nothing to clear.
class WatchLock final
{
public:
    // Holds both locks, or says which is taken. A lock file that cannot be made is no
    // obstacle (a read-only state folder still lets the run watch).
    static std::expected<std::unique_ptr<WatchLock>, QString> take(const QString& watchFolder,
                                                                   const QString& stateFolder);
    // Only the watch folder's lock: the desktop application keeps its watch memory apart from
    // command-line runs, so only the folder must not be watched twice.
    static std::expected<std::unique_ptr<WatchLock>, QString>
    takeFolder(const QString& watchFolder);
    ~WatchLock();
    WatchLock(const WatchLock&) = delete;
    WatchLock& operator=(const WatchLock&) = delete;

private:
    WatchLock() = default;
    int m_stateFd = -1;
    int m_folderFd = -1;
};

} // namespace corvel
