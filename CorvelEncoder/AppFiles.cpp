#include "CorvelEncoder/AppFiles.h"

#include "CorvelEncoderCore/CorvelIdentity.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

namespace corvel {

namespace {

QString firstLocation(QStandardPaths::StandardLocation location)
{
    const QStringList paths = QStandardPaths::standardLocations(location);
    return paths.isEmpty() || paths.first().isEmpty() ? QDir::homePath() : paths.first();
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
