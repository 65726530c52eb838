#include "cli/CliWatchMemory.h"

#include "CorvelEncoder/platform/AppFiles.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace corvel {

namespace {

QStringList strings(const QJsonValue& value)
{
    QStringList list;
    for (const QJsonValue& item : value.toArray()) {
        if (item.isString())
            list.append(item.toString());
    }
    return list;
}

} // namespace

CliWatchMemory readCliWatchMemory(const QString& stateDirectory)
{
    QFile file(QDir(stateDirectory).filePath(kCliWatchFileName));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QJsonObject object = QJsonDocument::fromJson(file.readAll()).object();
    return {strings(object.value(QLatin1StringView("folders"))),
            strings(object.value(QLatin1StringView("keys"))),
            strings(object.value(QLatin1StringView("noted")))};
}

bool writeCliWatchMemory(const QString& stateDirectory, const CliWatchMemory& memory)
{
    QJsonObject object;
    object.insert(QLatin1StringView("version"), 1);
    object.insert(QLatin1StringView("folders"), QJsonArray::fromStringList(memory.folders));
    object.insert(QLatin1StringView("keys"), QJsonArray::fromStringList(memory.keys));
    object.insert(QLatin1StringView("noted"), QJsonArray::fromStringList(memory.noted));
    AppFilesStore store(stateDirectory);
    return store.write(kCliWatchFileName, QJsonDocument(object).toJson(QJsonDocument::Compact))
        .has_value();
}

} // namespace corvel
