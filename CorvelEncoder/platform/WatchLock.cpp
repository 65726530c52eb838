#include "CorvelEncoder/platform/WatchLock.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace corvel {

namespace {

enum class Lock
{
    held,
    taken,
    unavailable
};

Lock lockFile(const QString& path, int& fd)
{
    fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC,
                0600);
    if (fd < 0)
        return Lock::unavailable;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        return Lock::held;
    const int error = errno;
    ::close(fd);
    fd = -1;
    return error == EWOULDBLOCK ? Lock::taken : Lock::unavailable;
}

} // namespace

std::expected<std::unique_ptr<WatchLock>, QString> WatchLock::take(const QString& watchFolder,
                                                                   const QString& stateFolder)
{
    std::unique_ptr<WatchLock> lock(new WatchLock);
    if (lockFile(QDir(stateFolder).filePath(QStringLiteral("watch.lock")), lock->m_stateFd) ==
        Lock::taken)
        return std::unexpected(
            QStringLiteral("Another corvel-encode --watch uses the state folder %1; only one "
                           "can watch with it at a time.")
                .arg(stateFolder));
    auto folder = takeFolder(watchFolder);
    if (!folder)
        return std::unexpected(folder.error());
    std::swap(lock->m_folderFd, (*folder)->m_folderFd);
    return lock;
}

std::expected<std::unique_ptr<WatchLock>, QString> WatchLock::takeFolder(const QString& watchFolder)
{
    std::unique_ptr<WatchLock> lock(new WatchLock);
    // Asked of the environment: Qt's own lookup warns on stderr when the variable is unset.
    QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.isEmpty() || !QFileInfo(runtime).isDir())
        runtime = QDir::tempPath();
    const QByteArray digest =
        QCryptographicHash::hash(QFile::encodeName(watchFolder), QCryptographicHash::Sha256)
            .toHex()
            .left(16);
    const QString folderLock = QDir(runtime).filePath(
        QStringLiteral("corvel-watch-%1-%2.lock").arg(::geteuid()).arg(QLatin1StringView(digest)));
    if (lockFile(folderLock, lock->m_folderFd) == Lock::taken)
        return std::unexpected(
            QStringLiteral("Another Corvel Encoder is watching %1; only one can watch a "
                           "folder at a time.")
                .arg(watchFolder));
    return lock;
}

WatchLock::~WatchLock()
{
    for (const int fd : {m_stateFd, m_folderFd}) {
        if (fd >= 0)
            ::close(fd);
    }
}

} // namespace corvel
