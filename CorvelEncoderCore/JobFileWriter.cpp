#include "CorvelEncoderCore/JobFileWriter.h"

#include "CorvelEncoderCore/CorvelIdentity.h"
#include "CorvelEncoderCore/FrameMath.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace corvel {

namespace {

QString resolutionText(ResolutionMode mode)
{
    switch (mode) {
    case ResolutionMode::source:
        return QStringLiteral("source");
    case ResolutionMode::uhd4k:
        return QStringLiteral("4k");
    case ResolutionMode::hd1080:
        return QStringLiteral("1080p");
    case ResolutionMode::hd720:
        return QStringLiteral("720p");
    case ResolutionMode::custom:
        return QStringLiteral("custom");
    }
    return QStringLiteral("source");
}

QJsonObject jobEntry(const EncodingJob& job)
{
    const JobSettings& settings = job.settings;
    const PresetBody& body = settings.body;
    QJsonObject entry{
        {QStringLiteral("source"), job.sourcePath},
        {QStringLiteral("preset"), settings.presetName},
        {QStringLiteral("audio"), rawValue(body.audio)},
        {QStringLiteral("naming"), body.namingPattern},
        {QStringLiteral("output"), settings.outputDirectory},
        {QStringLiteral("reveal"), settings.revealWhenDone},
        {QStringLiteral("resolution"), resolutionText(body.resolution)},
    };
    if (body.resolution == ResolutionMode::custom) {
        entry.insert(QStringLiteral("width"), qint64(body.customWidth));
        entry.insert(QStringLiteral("height"), qint64(body.customHeight));
    }
    // The rate the encode would use: a stored rate outside 1...120 would not read back.
    if (body.frameRate.isSource())
        entry.insert(QStringLiteral("frameRate"), QStringLiteral("source"));
    else
        entry.insert(QStringLiteral("frameRate"), resolvedFrameRate(body.frameRate, std::nullopt));
    if (usesBitrate(body.codec)) {
        // The tier goes along with a fixed bitrate too: the reader applies the bitrate after
        // the tier, so the job comes back with its bitrate fixed and its tier kept.
        entry.insert(QStringLiteral("quality"), rawValue(body.quality));
        if (!body.bitrateFollowsQuality)
            entry.insert(QStringLiteral("bitrateMbps"), body.bitrateMbps);
    }
    return entry;
}

} // namespace

QByteArray jobFileData(const QList<EncodingJob>& jobs)
{
    QJsonArray entries;
    for (const EncodingJob& job : jobs)
        entries.append(jobEntry(job));
    // QJsonObject keeps its keys sorted, so the text comes out sorted.
    const QJsonObject top{
        {QStringLiteral("version"), 1},
        {QStringLiteral("sender"), QString(CorvelIdentity::bundleID)},
        {QStringLiteral("start"), false},
        {QStringLiteral("jobs"), entries},
    };
    return QJsonDocument(top).toJson(QJsonDocument::Indented);
}

std::expected<void, JobFileError> writeJobFile(const QList<EncodingJob>& jobs, const QString& path)
{
    QSaveFile file(path);
    const QByteArray data = jobFileData(jobs);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit()) {
        return std::unexpected(
            JobFileError::message(QStringLiteral("Could not write \"%1\": %2.")
                                      .arg(QFileInfo(path).fileName(), file.errorString())));
    }
    return {};
}

} // namespace corvel
