#include "CorvelEncoder/platform/AppFiles.h"

#include "CorvelEncoderCore/CorvelIdentity.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace corvel {

namespace {

QString firstLocation(QStandardPaths::StandardLocation location)
{
    const QStringList paths = QStandardPaths::standardLocations(location);
    return paths.isEmpty() || paths.first().isEmpty() ? QDir::homePath() : paths.first();
}

// The temporary a save writes first. The prefix and the marker keep it apart from anything a
// user would name a file beside the state files ("queue.json.backup", "settings.json.old123").
QString savingPrefix(const QString& name)
{
    return u'.' + name + QStringLiteral(".corvel-saving.");
}

// A save that was cut off leaves its temporary behind, never to be read.
void removeUnfinishedSaves(QDir folder)
{
    static const QRegularExpression unfinished(
        QStringLiteral("^\\..+\\.corvel-saving\\.[A-Za-z0-9]{6}$"));
    const QStringList entries = folder.entryList({QStringLiteral(".*.corvel-saving.*")},
                                                 QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& entry : entries) {
        if (unfinished.match(entry).hasMatch())
            folder.remove(entry);
    }
}

QString failure(const QString& name, int error)
{
    return QStringLiteral("Could not save %1. %2 The last saved copy is kept.")
        .arg(name, QString::fromLocal8Bit(std::strerror(error)) + u'.');
}

} // namespace

QString AppFiles::supportDirectory()
{
    const QString folder = QDir(firstLocation(QStandardPaths::GenericDataLocation))
                               .filePath(QString(CorvelIdentity::appName));
    QDir().mkpath(folder);
    return folder;
}

QString AppFiles::defaultOutputDirectory()
{
    return QDir(firstLocation(QStandardPaths::MoviesLocation))
        .filePath(QString(CorvelIdentity::appName));
}

AppFilesStore::AppFilesStore(QString directory) : m_directory(std::move(directory)) {}

QString AppFilesStore::path(const QString& name) const
{
    QDir().mkpath(m_directory);
    return QDir(m_directory).filePath(name);
}

std::optional<QByteArray> AppFilesStore::read(const QString& name)
{
    // A state file is read when the application starts, before anything of this session
    // writes it: a save in progress now was cut off in an earlier one.
    removeUnfinishedSaves(QDir(m_directory));
    QFile file(path(name));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

std::expected<void, QString> AppFilesStore::write(const QString& name, const QByteArray& data)
{
    const QString target = path(name);
    QByteArray temporary =
        QFile::encodeName(QDir(m_directory).filePath(savingPrefix(name))) + "XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return std::unexpected(failure(name, errno));
    // Unbuffered, every write checked: a short write on a full disk must never be taken for
    // the whole file.
    int error = 0;
    for (qsizetype done = 0; done < data.size() && !error;) {
        const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (n > 0)
            done += n;
        else if (n == 0 || errno != EINTR)
            error = n == 0 ? EIO : errno;
    }
    // The bytes must be on disk before the name points at them, or a power cut after the
    // rename could leave an empty file under it.
    if (!error && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && !error)
        error = errno;
    if (!error && ::rename(temporary.constData(), QFile::encodeName(target).constData()) != 0)
        error = errno;
    if (error) {
        ::unlink(temporary.constData());
        return std::unexpected(failure(name, error));
    }
    return {};
}

bool AppFilesStore::keepCopy(const QString& name, const QString& copyName)
{
    QFile source(path(name));
    if (!source.open(QIODevice::ReadOnly))
        return false;
    return write(copyName, source.readAll()).has_value();
}

} // namespace corvel
