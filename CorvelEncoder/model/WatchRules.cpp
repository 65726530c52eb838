#include "CorvelEncoder/model/WatchRules.h"

#include "CorvelEncoder/model/IntakeFiles.h"
#include "CorvelEncoder/platform/OpenWriters.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <cmath>

#include <sys/stat.h>

namespace corvel {

namespace {

struct FileStamp
{
    int64_t size;
    double stamp;
};

std::optional<FileStamp> readStamp(const QString& path)
{
    // stat() rather than QFileInfo: a rewrite within the same millisecond must still change
    // the identity, and the file system keeps nanoseconds.
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    const double stamp =
        static_cast<double>(st.st_mtim.tv_sec) + static_cast<double>(st.st_mtim.tv_nsec) / 1e9;
    return FileStamp{static_cast<int64_t>(st.st_size), stamp};
}

} // namespace

QString resolvedWatchPath(const QString& path)
{
    if (path.isEmpty())
        return path;
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(path) : canonical;
}

QString watchStampText(double secondsSince1970)
{
    QString text = QString::number(secondsSince1970, 'f', QLocale::FloatingPointShortest);
    if (std::isfinite(secondsSince1970) && !text.contains(u'.'))
        text += QStringLiteral(".0");
    return text;
}

std::optional<QString> watchIdentity(const QString& path)
{
    const auto stamp = readStamp(path);
    if (!stamp)
        return std::nullopt;
    return resolvedWatchPath(path) + u'|' + QString::number(stamp->size) + u'|' +
           watchStampText(stamp->stamp);
}

std::optional<QString> watchFileIdentity(const QString& path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return QStringLiteral("%1:%2|%3|%4.%5")
        .arg(quint64(st.st_dev))
        .arg(quint64(st.st_ino))
        .arg(qint64(st.st_size))
        .arg(qint64(st.st_mtim.tv_sec))
        .arg(qint64(st.st_mtim.tv_nsec), 9, 10, QChar(u'0'));
}

void rememberWatch(QStringList& keys, const QStringList& fresh, const QSet<QString>& present)
{
    QSet<QString> known(keys.cbegin(), keys.cend());
    for (const QString& key : fresh) {
        if (!known.contains(key)) {
            known.insert(key);
            keys.append(key);
        }
    }
    qsizetype excess = -kMaxRememberedWatchKeys;
    for (const QString& key : std::as_const(keys))
        excess += present.contains(key) ? 0 : 1;
    if (excess <= 0)
        return;
    QStringList kept;
    kept.reserve(keys.size() - excess);
    for (const QString& key : std::as_const(keys)) {
        if (excess > 0 && !present.contains(key))
            --excess;
        else
            kept.append(key);
    }
    keys = std::move(kept);
}

void forgetWatchFolder(QStringList& keys, const QString& watchFolder)
{
    const QString folder = resolvedWatchPath(watchFolder);
    keys.removeIf([&](const QString& key) {
        return key.startsWith(folder + u'/') || key.startsWith(folder + u'|');
    });
}

QString resolvedWatchOutput(const QString& watchFolder, const QString& watchOutputDirectory,
                            const QString& defaultOutputDirectory)
{
    QString out = watchOutputDirectory;
    if (out.isEmpty() && !watchFolder.isEmpty())
        out = QDir(watchFolder).filePath(kWatchOutputFolderName);
    if (out.isEmpty())
        return defaultOutputDirectory;
    const QString standardOut = resolvedWatchPath(out);
    if (!watchFolder.isEmpty()) {
        const QString standardFolder = resolvedWatchPath(watchFolder);
        if (standardOut == standardFolder)
            return QDir(standardFolder).filePath(kWatchOutputFolderName);
    }
    return standardOut;
}

bool isInsideFolder(const QString& path, const QString& folder)
{
    if (folder.isEmpty())
        return false;
    const QString base = folder.endsWith(u'/') ? folder.chopped(1) : folder;
    return path == base || path.startsWith(base + u'/');
}

bool WatchSightings::isStable(const QString& path, const QDateTime& now)
{
    const auto stamp = readStamp(path);
    if (!stamp)
        return false;
    const auto it = m_sightings.constFind(path);
    if (it == m_sightings.constEnd() || it->size != stamp->size || it->stamp != stamp->stamp) {
        m_sightings.insert(path, Sighting{stamp->size, stamp->stamp, now});
        return false;
    }
    const qint64 still = it->since.msecsTo(now);
    if (still < kWatchStableMs)
        return false;
    // A copy that pauses (a slow card reader, a stalled network copy) keeps its file open
    // for writing: however long the size stands still, the file is not whole yet. Where
    // nobody can tell whether a writer is still there, only a long pause says so.
    switch (openWriters(path)) {
    case WriterState::none:
        return true;
    case WriterState::writing:
        return false;
    case WriterState::unknown:
        return still >= kWatchUnsureStableMs;
    }
    return false;
}

} // namespace corvel
