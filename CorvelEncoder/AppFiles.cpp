#include "CorvelEncoder/AppFiles.h"

#include "CorvelEncoderCore/CorvelIdentity.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>

namespace corvel {

namespace {

QString firstLocation(QStandardPaths::StandardLocation location)
{
    const QStringList paths = QStandardPaths::standardLocations(location);
    return paths.isEmpty() || paths.first().isEmpty() ? QDir::homePath() : paths.first();
}

// QSaveFile writes "name.XXXXXX" beside the file and renames it over the file; a process that
// ends in between leaves it behind, never to be read.
void removeUnfinishedSaves(QDir folder, const QString& name)
{
    static const QRegularExpression unfinished(QStringLiteral("^\\.[A-Za-z0-9]{6}$"));
    const QStringList entries =
        folder.entryList({name + QStringLiteral(".??????")}, QDir::Files | QDir::Hidden);
    for (const QString& entry : entries) {
        if (unfinished.match(entry.mid(name.size())).hasMatch())
            folder.remove(entry);
    }
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
    removeUnfinishedSaves(QDir(m_directory), name);
    QFile file(path(name));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

bool AppFilesStore::write(const QString& name, const QByteArray& data)
{
    QSaveFile file(path(name));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(data) != data.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

bool AppFilesStore::keepCopy(const QString& name, const QString& copyName)
{
    const QString source = path(name);
    const QString copy = path(copyName);
    QFile::remove(copy);
    return QFile::copy(source, copy);
}

} // namespace corvel
