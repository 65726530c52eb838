#include "CorvelEncoderCore/JobFileReadings.h"

#include "CorvelEncoderCore/DecimalText.h"
#include "CorvelEncoderCore/FrameMath.h"
#include "CorvelEncoderCore/PathNormalization.h"
#include "CorvelEncoderCore/SettingSpecs.h"
#include "CorvelEncoderCore/TextRules.h"

#include <QVariant>

#include <cmath>

namespace corvel {

namespace {

template <class T>
void take(std::optional<T>& field, const std::optional<T>& other)
{
    if (other)
        field = other;
}

// The value of the first key the object has, even when that value is unusable.
std::optional<QJsonValue> firstPresent(const QJsonObject& object,
                                       std::initializer_list<const char*> keys)
{
    for (const char* key : keys) {
        const auto it = object.constFind(QLatin1StringView(key));
        if (it != object.constEnd())
            return it.value();
    }
    return std::nullopt;
}

// The first of the keys whose value reads as text.
std::optional<QString> firstText(const QJsonObject& object, std::initializer_list<const char*> keys)
{
    for (const char* key : keys) {
        if (auto text = jsonString(object.value(QLatin1StringView(key))))
            return text;
    }
    return std::nullopt;
}

std::unexpected<JobFileError> failure(QString message)
{
    return std::unexpected(JobFileError::message(std::move(message)));
}

QString quoted(const QString& text)
{
    return u'"' + text + u'"';
}

} // namespace

PartialFields PartialFields::merging(const PartialFields& other) const
{
    PartialFields result = *this;
    take(result.presetRaw, other.presetRaw);
    take(result.resolution, other.resolution);
    take(result.customWidth, other.customWidth);
    take(result.customHeight, other.customHeight);
    take(result.frameRate, other.frameRate);
    take(result.audio, other.audio);
    take(result.bitrateMbps, other.bitrateMbps);
    take(result.quality, other.quality);
    take(result.namingPattern, other.namingPattern);
    take(result.outputDirectory, other.outputDirectory);
    take(result.revealWhenDone, other.revealWhenDone);
    return result;
}

ParsedJob PartialFields::asJob(QString sourcePath) const
{
    return ParsedJob{std::move(sourcePath),
                     presetRaw,
                     resolution,
                     customWidth,
                     customHeight,
                     frameRate,
                     audio,
                     bitrateMbps,
                     quality,
                     namingPattern,
                     outputDirectory,
                     revealWhenDone};
}

std::optional<QString> jsonString(const QJsonValue& value)
{
    if (!value.isString())
        return std::nullopt;
    QString text = trimmedText(value.toString());
    if (text.isEmpty())
        return std::nullopt;
    return text;
}

std::optional<double> jsonDouble(const QJsonValue& value)
{
    if (value.isDouble())
        return value.toDouble();
    if (value.isString())
        return parseDecimalNumber(trimmedText(value.toString()));
    return std::nullopt;
}

std::optional<int64_t> jsonInt(const QJsonValue& value)
{
    if (value.isDouble()) {
        // Integers are kept exactly; going through double would round those above 2^53.
        const QVariant variant = value.toVariant();
        if (variant.typeId() == QMetaType::LongLong)
            return variant.toLongLong();
        const double truncated = std::trunc(value.toDouble());
        if (!(truncated >= -9223372036854775808.0 && truncated < 9223372036854775808.0))
            return std::nullopt;
        return static_cast<int64_t>(truncated);
    }
    if (value.isString())
        return parseDecimalInteger(trimmedText(value.toString()));
    return std::nullopt;
}

std::optional<bool> jsonBool(const QJsonValue& value)
{
    if (value.isBool())
        return value.toBool();
    if (value.isDouble()) {
        const double number = value.toDouble();
        if (number == 1)
            return true;
        if (number == 0)
            return false;
        return std::nullopt;
    }
    if (value.isString()) {
        const QString t = trimmedText(value.toString()).toLower();
        if (t == u"1" || t == u"true" || t == u"yes" || t == u"y")
            return true;
        if (t == u"0" || t == u"false" || t == u"no" || t == u"n")
            return false;
    }
    return std::nullopt;
}

std::optional<FrameRateMode> parseFrameRateValue(const QJsonValue& value)
{
    std::optional<double> number;
    if (value.isString()) {
        const QString t = trimmedText(value.toString()).toLower();
        if (t == u"source" || t == u"original" || t == u"native")
            return FrameRateMode::source();
        number = parseDecimalNumber(t);
    } else {
        number = jsonDouble(value);
    }
    if (!number || !(*number > 0))
        return std::nullopt;
    return FrameRateMode::exact(std::min(*number, kMaxFrameRate));
}

std::expected<PartialFields, JobFileError> partialFields(const QJsonObject& object,
                                                         const std::optional<QString>& baseFolder)
{
    PartialFields fields;
    fields.presetRaw = jsonString(object.value(QLatin1StringView("preset")));

    if (const auto text = jsonString(object.value(QLatin1StringView("resolution")))) {
        const auto parsed = parseResolutionSpec(*text);
        if (!parsed)
            return failure(QStringLiteral("Unknown resolution ") + quoted(*text) + u'.');
        fields.resolution = parsed->mode;
        fields.customWidth = parsed->width;
        fields.customHeight = parsed->height;
    }

    if (const auto value = firstPresent(object, {"frameRate", "fps", "framerate"})) {
        fields.frameRate = parseFrameRateValue(*value);
        if (!fields.frameRate)
            return failure(QStringLiteral("Unknown frame rate."));
    }

    if (const auto text = jsonString(object.value(QLatin1StringView("audio")))) {
        fields.audio = parseAudioSpec(*text);
        if (!fields.audio)
            return failure(QStringLiteral("Unknown audio mode ") + quoted(*text) +
                           QStringLiteral(". Use AAC or PCM."));
    }

    if (const auto text = jsonString(object.value(QLatin1StringView("quality")))) {
        fields.quality = parseQualitySpec(*text);
        if (!fields.quality)
            return failure(QStringLiteral("Unknown quality ") + quoted(*text) + u'.');
    }

    if (const auto value = firstPresent(object, {"bitrateMbps", "bitrate"}))
        fields.bitrateMbps = jsonDouble(*value);

    fields.namingPattern = firstText(object, {"naming", "namingPattern"});

    if (const auto output =
            firstText(object, {"output", "outputDirectory", "destination", "outputFolder"})) {
        // Movies written to file://server/x would land in the local /x.
        if (const auto why = notALocalPath(*output))
            return failure(*why);
        fields.outputDirectory = normalizePath(*output, baseFolder);
    }

    if (const auto value = firstPresent(object, {"reveal", "revealWhenDone"}))
        fields.revealWhenDone = jsonBool(*value);

    // A size is taken only as a pair, and replaces one from a "W x H" resolution.
    const auto width = firstPresent(object, {"width", "customWidth"});
    const auto height = firstPresent(object, {"height", "customHeight"});
    const auto w = width ? jsonInt(*width) : std::nullopt;
    const auto h = height ? jsonInt(*height) : std::nullopt;
    if (w && h) {
        fields.customWidth = w;
        fields.customHeight = h;
        if (!fields.resolution)
            fields.resolution = ResolutionMode::custom;
    }
    return fields;
}

std::expected<ParsedJob, JobFileError> jobFromSourceItem(const QJsonValue& item,
                                                         const PartialFields& inherited,
                                                         const std::optional<QString>& baseFolder)
{
    if (item.isString()) {
        // A blank path stays empty so that building the job reports the missing source,
        // rather than queueing the base folder itself.
        const QString text = trimmedText(item.toString());
        if (const auto why = notALocalPath(text))
            return failure(*why);
        return inherited.asJob(text.isEmpty() ? QString() : normalizePath(text, baseFolder));
    }
    if (!item.isObject())
        return failure(QStringLiteral("A source must be a path or an object."));

    const QJsonObject object = item.toObject();
    const auto path = firstText(object, {"source", "path", "input"});
    if (!path)
        return failure(QStringLiteral("A source object is missing a path."));
    if (const auto why = notALocalPath(*path))
        return failure(*why);
    const auto own = partialFields(object, baseFolder);
    if (!own)
        return std::unexpected(own.error());
    return inherited.merging(*own).asJob(normalizePath(*path, baseFolder));
}

} // namespace corvel
