#include "CorvelEncoder/engine/ClaimedOutput.h"

#include "CorvelEncoder/engine/EncodePlan.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <atomic>
#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvel {

namespace {

std::atomic<bool> g_refuseLinksForTesting{false};

constexpr QLatin1StringView kPartialPrefix{".corvel-partial-"};

QByteArray native(const QString& path)
{
    return QFile::encodeName(path);
}

bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether `path` names, without following a link, the file open as `fd`.
bool namesFile(const QString& path, int fd)
{
    struct stat held = {};
    struct stat named = {};
    return ::fstat(fd, &held) == 0 && ::lstat(native(path).constData(), &named) == 0 &&
           S_ISREG(named.st_mode) && sameFile(held, named);
}

QString fdPath(int fd)
{
    return QStringLiteral("/proc/self/fd/%1").arg(fd);
}

} // namespace

void ClaimedOutput::refuseLinksForTesting(bool refuse)
{
    g_refuseLinksForTesting = refuse;
}

QString partialOutputPath(const QString& finalPath)
{
    // Fixed length, so a final name at the file system's limit still has a partial name.
    const QFileInfo info(finalPath);
    const QByteArray digest =
        QCryptographicHash::hash(info.fileName().toUtf8(), QCryptographicHash::Sha256)
            .toHex()
            .left(16);
    return QDir(info.path()).filePath(kPartialPrefix + QString::fromLatin1(digest));
}

bool isPartialOutputName(const QString& name)
{
    static const QRegularExpression pattern(QStringLiteral("^\\.corvel-partial-[0-9a-f]{16}$"));
    return pattern.match(name).hasMatch();
}

bool removeAbandonedPartial(const QString& path)
{
    if (!isPartialOutputName(QFileInfo(path).fileName()))
        return false;
    const int fd = ::open(native(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    // The writer holds the lock from creation to its last step; the kernel drops it with the
    // process. A lock taken here therefore proves the writer gone.
    struct stat st = {};
    bool removed = false;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
        ::flock(fd, LOCK_EX | LOCK_NB) == 0 && namesFile(path, fd))
        removed = ::unlink(native(path).constData()) == 0;
    ::close(fd);
    return removed;
}

QStringList removeAbandonedPartials(const QString& folder)
{
    QStringList removed;
    const QDir dir(folder);
    for (const QString& name :
         dir.entryList({kPartialPrefix + u'*'}, QDir::Files | QDir::Hidden | QDir::System)) {
        if (removeAbandonedPartial(dir.filePath(name)))
            removed.append(dir.filePath(name));
    }
    return removed;
}

std::expected<std::unique_ptr<ClaimedOutput>, int> ClaimedOutput::create(OutputNames& names,
                                                                         const QString& finalPath)
{
    const QString partial = partialOutputPath(finalPath);
    const int fd = ::open(native(partial).constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return std::unexpected(errno);
    std::unique_ptr<ClaimedOutput> claim(new ClaimedOutput(names, finalPath, partial, fd));
    // A clean-up that found the new file before it was locked may have removed it; then the
    // name is taken again from the start.
    if (::flock(fd, LOCK_EX) != 0 || !namesFile(partial, fd))
        return std::unexpected(EEXIST);
    struct stat st = {};
    ::fstat(fd, &st);
    // The folder is held too: renamed while the movie is written, it is still where the
    // partial file is removed.
    claim->m_dirFd =
        ::open(native(QFileInfo(partial).path()).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    claim->m_device = st.st_dev;
    claim->m_inode = st.st_ino;
    // Another program may have created the final name after it was chosen.
    if (::lstat(native(finalPath).constData(), &st) == 0) {
        claim->discard();
        return std::unexpected(EEXIST);
    }
    if (::access(native(claim->writePath()).constData(), W_OK) != 0) {
        const int error = errno;
        claim->discard();
        return std::unexpected(error);
    }
    return claim;
}

ClaimedOutput::ClaimedOutput(OutputNames& names, QString finalPath, QString partialPath, int fd)
    : m_names(names), m_finalPath(std::move(finalPath)), m_partialPath(std::move(partialPath)),
      m_partialNative(native(m_partialPath)), m_fd(fd)
{}

ClaimedOutput::~ClaimedOutput()
{
    discard();
}

QString ClaimedOutput::writePath() const
{
    return fdPath(m_fd);
}

bool ClaimedOutput::partialIsOurs() const
{
    struct stat st = {};
    return m_fd >= 0 && ::fstatat(partialDir(), partialName(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISREG(st.st_mode) && st.st_dev == m_device && st.st_ino == m_inode;
}

int ClaimedOutput::partialDir() const
{
    return m_dirFd >= 0 ? m_dirFd : AT_FDCWD;
}

const char* ClaimedOutput::partialName() const
{
    return m_dirFd >= 0 ? m_partialNative.constData() + m_partialNative.lastIndexOf('/') + 1
                        : m_partialNative.constData();
}

void ClaimedOutput::end()
{
    if (m_fd < 0)
        return;
    ::close(m_fd);
    m_fd = -1;
    if (m_dirFd >= 0)
        ::close(m_dirFd);
    m_dirFd = -1;
    m_names.release(m_finalPath);
}

void ClaimedOutput::discard()
{
    if (partialIsOurs() && ::unlinkat(partialDir(), partialName(), 0) != 0)
        m_leftBehind = currentPath(m_partialPath);
    end();
}

int ClaimedOutput::placeAt(const QString& target)
{
    // Named in the folder held open, so a folder renamed meanwhile still gets the movie.
    const int dir = partialDir();
    const QByteArray name = native(m_dirFd >= 0 ? QFileInfo(target).fileName() : target);
    // A new link to the very file held open: it fails rather than replace anything, and
    // nothing put under the partial name meanwhile can be moved into place instead.
    const bool refused = g_refuseLinksForTesting;
    if (!refused && ::linkat(AT_FDCWD, native(writePath()).constData(), dir, name.constData(),
                             AT_SYMLINK_FOLLOW) == 0) {
        if (partialIsOurs())
            ::unlinkat(dir, partialName(), 0);
        return 0;
    }
    int error = refused ? EPERM : errno;
    if (error == EEXIST)
        return error;
    if (!partialIsOurs())
        return ENOENT; // our file lost its only name: there is nothing to publish
    // File systems without hard links (FAT, exFAT) may still rename without replacing.
    if (!refused && ::renameat2(dir, partialName(), dir, name.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    error = refused ? EINVAL : errno;
    if (error == EEXIST)
        return error;
    // Neither (FAT, exFAT, many FUSE and network file systems): the final name is claimed
    // with a new empty file of our own, and the finished movie is renamed over that claim.
    const int claim =
        ::openat(dir, name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (claim < 0)
        return errno;
    const auto claimStands = [&] {
        struct stat held = {};
        struct stat named = {};
        return ::fstat(claim, &held) == 0 &&
               ::fstatat(dir, name.constData(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
               S_ISREG(named.st_mode) && sameFile(held, named);
    };
    error = 0;
    if (!claimStands())
        error = EEXIST; // someone replaced our claim: the name is theirs now
    else if (!partialIsOurs())
        error = ENOENT;
    else if (::renameat(dir, partialName(), dir, name.constData()) != 0)
        error = errno;
    if (error && error != EEXIST && claimStands())
        ::unlinkat(dir, name.constData(), 0);
    ::close(claim);
    return error;
}

QString ClaimedOutput::currentPath(const QString& path) const
{
    // Unchanged unless the folder held open no longer stands under the name it had.
    struct stat held = {};
    struct stat named = {};
    if (m_dirFd < 0 || ::fstat(m_dirFd, &held) != 0 ||
        (::stat(native(QFileInfo(path).path()).constData(), &named) == 0 && sameFile(held, named)))
        return path;
    const QString folder = QFileInfo(fdPath(m_dirFd)).symLinkTarget();
    return folder.isEmpty() ? path : QDir(folder).filePath(QFileInfo(path).fileName());
}

std::expected<QString, int> ClaimedOutput::commit()
{
    if (m_fd < 0)
        return std::unexpected(EBADF);
    // On disk before it is given its name, so a power cut cannot leave a hollow movie there.
    if (::fsync(m_fd) != 0)
        return std::unexpected(errno);
    const QFileInfo info(m_finalPath);
    const QString name = info.fileName();
    const int dot = int(name.lastIndexOf(u'.'));
    const QString base = dot > 0 ? name.left(dot) : name;
    const QString ext = dot > 0 ? name.mid(dot + 1) : QString();

    QString target = m_finalPath;
    QString extra; // a further name reserved because another file took the first
    int error = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        error = placeAt(target);
        if (error != EEXIST)
            break;
        if (!extra.isEmpty())
            m_names.release(extra);
        extra = target = m_names.reserve(info.path(), base, ext);
    }
    if (!extra.isEmpty())
        m_names.release(extra);
    if (error)
        return std::unexpected(error);
    target = currentPath(target);
    end();
    return target;
}

} // namespace corvel
