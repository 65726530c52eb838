#pragma once

#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace corvel {

inline constexpr qsizetype kMaxRememberedWatchKeys = 4000;
inline constexpr qint64 kWatchStableMs = 1500;
// How long a file must stand still where no one can tell whether a writer still holds it.
inline constexpr qint64 kWatchUnsureStableMs = 30000;

// A path with "." and ".." removed and, when it exists, symbolic links resolved.
QString resolvedWatchPath(const QString& path);

// The modification time as the shortest decimal that reads back as the same double, always
// with a fractional part: 1764950400.25, 1764950400.0.
QString watchStampText(double secondsSince1970);

// "path|size|mtime" of a file, or nothing when its size or time cannot be read. A rewritten
// file gets a new identity.
std::optional<QString> watchIdentity(const QString& path);

// "device:inode|size|mtime" of a file: the same under every name a rename or a hard link gives
// it, new when it is rewritten. Nothing when the file cannot be read.
std::optional<QString> watchFileIdentity(const QString& path);

// Appends the `fresh` keys that `keys` lacks, newest last. Keys in `present` (the files in the
// watch folder now) are never dropped: forgetting one would take its file again. Of the keys
// whose files are gone, only the newest kMaxRememberedWatchKeys stay.
void rememberWatch(QStringList& keys, const QStringList& fresh, const QSet<QString>& present);

// Drops the keys of files inside `watchFolder` so they are handled again.
void forgetWatchFolder(QStringList& keys, const QString& watchFolder);

// Where watch jobs write: the watch output folder, or "Corvel Output" inside the watch folder
// when none is set or when it is the watch folder itself; the default output folder when
// neither folder is set.
QString resolvedWatchOutput(const QString& watchFolder, const QString& watchOutputDirectory,
                            const QString& defaultOutputDirectory);

// Whether `path` is `folder` or lies inside it (both standardized).
bool isInsideFolder(const QString& path, const QString& folder);

// Remembers when each file was last seen with its current size and time, so only files whose
// writer is done and that have stopped changing for a while are taken.
class WatchSightings
{
public:
    // True when no process holds the file open for writing and it had the same size and time
    // at a sighting at least 1.5 s before `now` (30 s where open writers cannot be seen).
    // Records a new sighting otherwise. Unreadable files are never stable.
    bool isStable(const QString& path, const QDateTime& now);
    void clear() { m_sightings.clear(); }
    qsizetype size() const { return m_sightings.size(); }

private:
    struct Sighting
    {
        int64_t size = 0;
        double stamp = 0;
        QDateTime since;
    };
    QHash<QString, Sighting> m_sightings;
};

} // namespace corvel
