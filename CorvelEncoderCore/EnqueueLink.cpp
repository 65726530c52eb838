#include "CorvelEncoderCore/EnqueueLink.h"

#include "CorvelEncoderCore/CorvelIdentity.h"
#include "CorvelEncoderCore/PathNormalization.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <array>
#include <span>

namespace corvel {

namespace {

struct QueryItem
{
    QString name;
    std::optional<QString> value; // none for an item without "="
};

// The query's items in order, percent-decoded, with "+" left alone (QUrlQuery cannot tell
// "name" from "name=").
QList<QueryItem> queryItems(const QUrl& url)
{
    QList<QueryItem> items;
    if (!url.hasQuery())
        return items;
    const QByteArray query = url.query(QUrl::FullyEncoded).toUtf8();
    for (const QByteArray& part : query.split('&')) {
        const qsizetype equals = part.indexOf('=');
        QueryItem item;
        item.name = QUrl::fromPercentEncoding(equals < 0 ? part : part.left(equals));
        if (equals >= 0)
            item.value = QUrl::fromPercentEncoding(part.mid(equals + 1));
        items.append(std::move(item));
    }
    return items;
}

// Every value of the items named `name` (ignoring case), in order.
QStringList values(const QList<QueryItem>& items, QLatin1StringView name)
{
    QStringList found;
    for (const QueryItem& item : items) {
        if (item.value && item.name.compare(name, Qt::CaseInsensitive) == 0)
            found.append(*item.value);
    }
    return found;
}

// The first value of the first of `names` that has one.
std::optional<QString> firstValue(const QList<QueryItem>& items, std::span<const char* const> names)
{
    for (const char* name : names) {
        if (!name)
            break;
        const QStringList found = values(items, QLatin1StringView(name));
        if (!found.isEmpty())
            return found.first();
    }
    return std::nullopt;
}

std::unexpected<JobFileError> failure(QString message)
{
    return std::unexpected(JobFileError::message(std::move(message)));
}

} // namespace

JobFileResult parseEnqueueURL(const QUrl& url, const JobFileLoader& load)
{
    // A bad host or port makes the URL invalid, but only the scheme and query matter here.
    if (url.scheme().toLower() != CorvelIdentity::urlScheme)
        return failure(QStringLiteral("Not a corvelencoder URL."));

    const QList<QueryItem> items = queryItems(url);
    const auto sender = firstValue(items, std::array{"sender"});

    if (const auto raw = firstValue(items, std::array{"path", "job", "file"})) {
        if (const auto why = notALocalPath(*raw))
            return failure(*why);
        const QString path = normalizePath(*raw, std::nullopt);
        const auto data = load ? load(path) : std::nullopt;
        if (!data)
            return failure(QStringLiteral("Job file not found at ") + path + u'.');
        auto parsed = parseJobData(*data, parentFolder(path));
        if (parsed && !parsed->sender)
            parsed->sender = sender;
        return parsed;
    }

    const QStringList clips =
        values(items, QLatin1StringView("source")) + values(items, QLatin1StringView("sources"));
    if (clips.isEmpty())
        return failure(QStringLiteral("The link has no source or job file."));

    // The link becomes the job file it stands for, so every reading of a file applies.
    QJsonObject object;
    object.insert(QLatin1StringView("sources"), QJsonArray::fromStringList(clips));
    struct Row
    {
        const char* key;                  // the job-file key
        std::array<const char*, 3> names; // query names in order; unused slots are null
    };
    static constexpr Row settings[] = {
        {"preset", {"preset"}},
        {"output", {"output", "outputDirectory", "destination"}},
        {"resolution", {"resolution"}},
        {"frameRate", {"framerate", "frameRate", "fps"}},
        {"audio", {"audio"}},
        {"bitrateMbps", {"bitrate", "bitrateMbps"}},
        {"naming", {"naming", "namingPattern"}},
        {"quality", {"quality"}},
        {"start", {"start"}},
        {"reveal", {"reveal"}},
        {"width", {"width"}},
        {"height", {"height"}},
    };
    for (const Row& row : settings) {
        if (const auto value = firstValue(items, row.names))
            object.insert(QLatin1StringView(row.key), *value);
    }
    if (sender)
        object.insert(QLatin1StringView("sender"), *sender);
    return parseJobData(QJsonDocument(object).toJson(QJsonDocument::Compact), std::nullopt);
}

} // namespace corvel
