#include "CorvelEncoderCore/JobFile.h"

#include "CorvelEncoderCore/JobFileReadings.h"
#include "CorvelEncoderCore/PathNormalization.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QLocale>

namespace corvel {

namespace {

// The extension of the last path component, lower-cased; none for ".hidden" or "name.".
QString lowerExtension(QStringView path)
{
    const QStringView name = path.sliced(path.lastIndexOf(u'/') + 1);
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot <= 0)
        return {};
    return name.sliced(dot + 1).toString().toLower();
}

bool hasJobKey(const QJsonObject& object)
{
    return object.contains(QLatin1StringView("sources")) ||
           object.contains(QLatin1StringView("jobs")) ||
           object.contains(QLatin1StringView("source"));
}

// Only regular files are opened: opening a FIFO would block, and a device may never end.
bool openRegularFile(QFile& file)
{
    return QFileInfo(file.fileName()).isFile() && file.open(QIODevice::ReadOnly);
}

std::unexpected<JobFileError> failure(QString message)
{
    return std::unexpected(JobFileError::message(std::move(message)));
}

} // namespace

bool isCorvelJobPath(QStringView path)
{
    const QString ext = lowerExtension(path);
    return ext == u"corveljob" || ext == u"corvelenc";
}

bool looksLikeJobFile(const QString& path)
{
    if (isCorvelJobPath(path))
        return true;
    if (lowerExtension(path) != u"json")
        return false;
    QFile file(path);
    if (!openRegularFile(file))
        return false;
    const QByteArray head = file.read(kJobSniffBytes);
    file.close();
    return looksLikeJobData(head);
}

bool looksLikeJobData(const QByteArray& data)
{
    const QJsonDocument document = QJsonDocument::fromJson(data);
    return document.isObject() && hasJobKey(document.object());
}

std::optional<QByteArray> readJobFileBytes(const QString& path)
{
    QFile file(path);
    if (!openRegularFile(file) || file.size() > kMaxJobFileBytes)
        return std::nullopt;
    // The file may grow between the size check and the read.
    QByteArray data = file.read(kMaxJobFileBytes + 1);
    if (data.size() > kMaxJobFileBytes || file.error() != QFileDevice::NoError)
        return std::nullopt;
    return data;
}

JobFileResult parseJobFile(const QString& path)
{
    const auto data = readJobFileBytes(path);
    if (!data)
        return failure(QStringLiteral("Job file not found at ") + path + u'.');
    return parseJobData(*data, parentFolder(QFileInfo(path).absoluteFilePath()));
}

JobFileResult parseJobData(const QByteArray& data, const std::optional<QString>& baseFolder)
{
    // Qt's reader refuses a top level that is not an object or array, and nesting deeper
    // than 1024 levels.
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(data, &parseError);
    if (parseError.error != QJsonParseError::NoError || document.isNull())
        return std::unexpected(JobFileError::unreadable());
    if (!document.isObject())
        return failure(QStringLiteral("The job file must be a JSON object."));
    const QJsonObject top = document.object();
    if (top.isEmpty() || !hasJobKey(top))
        return std::unexpected(JobFileError::notAJob());

    ParsedJobs result;
    result.start = jsonBool(top.value(QLatin1StringView("start"))).value_or(false);
    result.sender = jsonString(top.value(QLatin1StringView("sender")));

    const auto shared = partialFields(top, baseFolder);
    if (!shared)
        return std::unexpected(shared.error());

    // Counted before any job is made: a file of a million sources is refused at once rather
    // than read for minutes into gigabytes.
    const QJsonValue sources = top.value(QLatin1StringView("sources"));
    const QJsonValue jobs = top.value(QLatin1StringView("jobs"));
    qsizetype listed = sources.isArray() ? sources.toArray().size() : 0;
    if (jobs.isArray()) {
        const QJsonArray entries = jobs.toArray();
        for (const QJsonValue& entry : entries) {
            const QJsonValue entrySources = entry.toObject().value(QLatin1StringView("sources"));
            listed += entrySources.isArray() ? entrySources.toArray().size() : 1;
        }
    }
    if (listed > kMaxJobSources) {
        const QLocale english(QLocale::English);
        return failure(QStringLiteral("The job file lists %1 sources; at most %2 are read.")
                           .arg(english.toString(listed), english.toString(kMaxJobSources)));
    }
    result.jobs.reserve(listed);

    if (sources.isArray()) {
        for (const QJsonValue& item : sources.toArray()) {
            auto job = jobFromSourceItem(item, *shared, baseFolder);
            if (!job)
                return std::unexpected(job.error());
            result.jobs.append(std::move(*job));
        }
    }

    if (const auto source = jsonString(top.value(QLatin1StringView("source")))) {
        if (const auto why = notALocalPath(*source))
            return failure(*why);
        result.jobs.append(shared->asJob(normalizePath(*source, baseFolder)));
    }

    if (jobs.isArray()) {
        for (const QJsonValue& entryValue : jobs.toArray()) {
            if (!entryValue.isObject())
                return failure(QStringLiteral("Each entry in jobs must be an object."));
            const QJsonObject entry = entryValue.toObject();
            const auto own = partialFields(entry, baseFolder);
            if (!own)
                return std::unexpected(own.error());
            const PartialFields fields = shared->merging(*own);

            std::optional<QString> path;
            for (const char* key : {"source", "path", "input"}) {
                if ((path = jsonString(entry.value(QLatin1StringView(key)))))
                    break;
            }
            if (path) {
                if (const auto why = notALocalPath(*path))
                    return failure(*why);
                result.jobs.append(fields.asJob(normalizePath(*path, baseFolder)));
                continue;
            }
            const QJsonValue entrySources = entry.value(QLatin1StringView("sources"));
            if (!entrySources.isArray())
                return failure(QStringLiteral("A job is missing a source path."));
            for (const QJsonValue& item : entrySources.toArray()) {
                auto job = jobFromSourceItem(item, fields, baseFolder);
                if (!job)
                    return std::unexpected(job.error());
                result.jobs.append(std::move(*job));
            }
        }
    }

    if (result.jobs.isEmpty())
        return failure(QStringLiteral("The job file has no sources."));
    return result;
}

} // namespace corvel
