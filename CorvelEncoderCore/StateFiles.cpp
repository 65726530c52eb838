#include "CorvelEncoderCore/StateFiles.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <cmath>

namespace corvel {

namespace {

template <class T>
QByteArray encodeWrapper(QLatin1StringView key, const QList<T>& records)
{
    QJsonArray array;
    for (const T& record : records)
        array.append(toJson(record));
    QJsonObject object;
    object.insert(QStringLiteral("version"), 1);
    object.insert(key, array);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

struct Wrapper
{
    int version = 0;
    QJsonArray records;
};

Decoded<Wrapper> decodeWrapper(const QByteArray& data, QLatin1StringView key)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(data, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return std::unexpected(DecodeError{QStringLiteral("Not a JSON object.")});
    const QJsonObject object = document.object();
    const QJsonValue version = object.value(QStringLiteral("version"));
    const double v = version.toDouble();
    if (!version.isDouble() || !std::isfinite(v) || std::trunc(v) != v || std::abs(v) > 1e9)
        return std::unexpected(
            DecodeError{QStringLiteral("Expected an integer for key \"version\".")});
    const QJsonValue records = object.value(key);
    if (!records.isArray())
        return std::unexpected(
            DecodeError{QStringLiteral("Expected an array for key \"%1\".").arg(key)});
    return Wrapper{static_cast<int>(v), records.toArray()};
}

template <class T>
Decoded<QList<T>> decodeRecords(const QJsonArray& array)
{
    QList<T> records;
    records.reserve(array.size());
    for (const QJsonValue& value : array) {
        Decoded<T> record = fromJson<T>(value);
        if (!record)
            return std::unexpected(record.error());
        records.append(std::move(*record));
    }
    return records;
}

} // namespace

QByteArray encodeQueueFile(const QList<EncodingJob>& jobs)
{
    return encodeWrapper(QLatin1StringView("jobs"), jobs);
}

QByteArray encodePresetFile(const QList<SavedPreset>& presets)
{
    return encodeWrapper(QLatin1StringView("presets"), presets);
}

Decoded<QueueFile> decodeQueueFile(const QByteArray& data)
{
    const Decoded<Wrapper> wrapper = decodeWrapper(data, QLatin1StringView("jobs"));
    if (!wrapper)
        return std::unexpected(wrapper.error());
    Decoded<QList<EncodingJob>> jobs = decodeRecords<EncodingJob>(wrapper->records);
    if (!jobs)
        return std::unexpected(jobs.error());
    return QueueFile{wrapper->version, std::move(*jobs)};
}

Decoded<PresetFile> decodePresetFile(const QByteArray& data)
{
    const Decoded<Wrapper> wrapper = decodeWrapper(data, QLatin1StringView("presets"));
    if (!wrapper)
        return std::unexpected(wrapper.error());
    Decoded<QList<SavedPreset>> presets = decodeRecords<SavedPreset>(wrapper->records);
    if (!presets)
        return std::unexpected(presets.error());
    return PresetFile{wrapper->version, std::move(*presets)};
}

} // namespace corvel
