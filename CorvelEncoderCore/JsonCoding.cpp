#include "CorvelEncoderCore/JsonCoding.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

#include <cmath>
#include <limits>

namespace corvel {

namespace {

const QDateTime& referenceDate()
{
    static const QDateTime date(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
    return date;
}

DecodeError typeError(const QString& key, const char* expected)
{
    return {QStringLiteral("Expected %1 for key \"%2\".").arg(QLatin1StringView(expected), key)};
}

// Reads the keys of one JSON object; the first failure wins and is reported by result().
class ObjectReader
{
public:
    ObjectReader(const QJsonValue& value, const char* what)
    {
        if (!value.isObject())
            m_error = DecodeError{
                QStringLiteral("Expected an object for %1.").arg(QLatin1StringView(what))};
        else
            m_object = value.toObject();
    }

    bool failed() const { return m_error.has_value(); }
    const DecodeError& error() const { return *m_error; }

    // The value of a required key, or an error when it is missing or null.
    QJsonValue required(const QString& key)
    {
        if (failed())
            return {};
        const QJsonValue value = m_object.value(key);
        if (value.isUndefined() || value.isNull())
            fail({QStringLiteral("No value for key \"%1\".").arg(key)});
        return value;
    }

    // The value of an optional key: undefined when absent or null.
    QJsonValue optional(const QString& key)
    {
        if (failed())
            return {};
        const QJsonValue value = m_object.value(key);
        return value.isNull() ? QJsonValue(QJsonValue::Undefined) : value;
    }

    QString string(const QJsonValue& value, const QString& key)
    {
        if (failed())
            return {};
        if (!value.isString())
            fail(typeError(key, "a string"));
        return value.toString();
    }

    bool boolean(const QJsonValue& value, const QString& key)
    {
        if (failed())
            return false;
        if (!value.isBool())
            fail(typeError(key, "a boolean"));
        return value.toBool();
    }

    double number(const QJsonValue& value, const QString& key)
    {
        if (failed())
            return 0;
        if (!value.isDouble())
            fail(typeError(key, "a number"));
        return value.toDouble();
    }

    int64_t integer(const QJsonValue& value, const QString& key)
    {
        const double d = number(value, key);
        if (failed())
            return 0;
        // 2^63 is exactly representable; anything at or past it does not fit.
        constexpr double limit = 9223372036854775808.0;
        if (!std::isfinite(d) || std::trunc(d) != d || d >= limit || d < -limit) {
            fail(typeError(key, "an integer"));
            return 0;
        }
        const qint64 exact = value.toInteger(std::numeric_limits<qint64>::min());
        return exact != std::numeric_limits<qint64>::min() ? exact : static_cast<int64_t>(d);
    }

    QUuid uuid(const QJsonValue& value, const QString& key)
    {
        const QString text = string(value, key);
        if (failed())
            return {};
        // QUuid also takes braces and other forms; a stored UUID is the bare 8-4-4-4-12 form.
        const QUuid id = QUuid::fromString(text);
        const bool nil = text == QLatin1StringView("00000000-0000-0000-0000-000000000000");
        if (text.size() != 36 || (id.isNull() && !nil))
            fail({QStringLiteral("Invalid UUID string for key \"%1\".").arg(key)});
        return id;
    }

    template <class E>
    E enumeration(const QJsonValue& value, const QString& key)
    {
        const QString text = string(value, key);
        if (failed())
            return E{};
        const std::optional<E> parsed = fromRawValue<E>(text);
        if (!parsed) {
            fail({QStringLiteral("Cannot initialize from invalid value \"%1\" for key \"%2\".")
                      .arg(text, key)});
            return E{};
        }
        return *parsed;
    }

    template <class T>
    T record(const QJsonValue& value, const QString& key)
    {
        if (failed())
            return T{};
        Decoded<T> decoded = fromJson<T>(value);
        if (!decoded) {
            fail({QStringLiteral("%1 (in \"%2\")").arg(decoded.error().message, key)});
            return T{};
        }
        return std::move(*decoded);
    }

    void fail(DecodeError error)
    {
        if (!m_error)
            m_error = std::move(error);
    }

private:
    QJsonObject m_object;
    std::optional<DecodeError> m_error;
};

QJsonValue jsonInteger(int64_t value)
{
    return QJsonValue(static_cast<qint64>(value));
}

} // namespace

double secondsSinceReferenceDate(const QDateTime& date)
{
    return static_cast<double>(referenceDate().msecsTo(date)) / 1000.0;
}

QDateTime dateFromReferenceSeconds(double seconds)
{
    if (!std::isfinite(seconds))
        return referenceDate();
    // Clamp to what QDateTime holds in milliseconds; far beyond any real date.
    constexpr double limit = 1e14;
    const double ms = std::round(std::clamp(seconds, -limit, limit) * 1000.0);
    return referenceDate().addMSecs(static_cast<qint64>(ms));
}

QJsonObject toJson(const FrameRateMode& mode)
{
    if (const auto rate = mode.exactRate())
        return QJsonObject{{QStringLiteral("exact"), QJsonObject{{QStringLiteral("_0"), *rate}}}};
    return QJsonObject{{QStringLiteral("source"), QJsonObject()}};
}

QJsonObject toJson(const PixelSize& size)
{
    return QJsonObject{{QStringLiteral("width"), jsonInteger(size.width)},
                       {QStringLiteral("height"), jsonInteger(size.height)}};
}

QJsonObject toJson(const SourceInfo& info)
{
    QJsonObject object{
        {QStringLiteral("width"), jsonInteger(info.width)},
        {QStringLiteral("height"), jsonInteger(info.height)},
        {QStringLiteral("frameRate"), info.frameRate},
        {QStringLiteral("duration"), info.duration},
        {QStringLiteral("hasAudio"), info.hasAudio},
        {QStringLiteral("hasAlpha"), info.hasAlpha},
        {QStringLiteral("videoCodec"), info.videoCodec},
    };
    // Written only when they say more than an 8-bit SDR picture, so older queues read the same.
    if (info.bitDepth != 8)
        object.insert(QStringLiteral("bitDepth"), info.bitDepth);
    if (info.dynamicRange != DynamicRange::sdr)
        object.insert(QStringLiteral("dynamicRange"), rangeName(info.dynamicRange));
    return object;
}

QJsonObject toJson(const PresetBody& body)
{
    return QJsonObject{
        {QStringLiteral("codec"), rawValue(body.codec)},
        {QStringLiteral("resolution"), rawValue(body.resolution)},
        {QStringLiteral("customWidth"), jsonInteger(body.customWidth)},
        {QStringLiteral("customHeight"), jsonInteger(body.customHeight)},
        {QStringLiteral("frameRate"), toJson(body.frameRate)},
        {QStringLiteral("audio"), rawValue(body.audio)},
        {QStringLiteral("bitrateMbps"), body.bitrateMbps},
        {QStringLiteral("bitrateFollowsQuality"), body.bitrateFollowsQuality},
        {QStringLiteral("quality"), rawValue(body.quality)},
        {QStringLiteral("namingPattern"), body.namingPattern},
    };
}

QJsonObject toJson(const JobSettings& settings)
{
    return QJsonObject{
        {QStringLiteral("presetID"), settings.presetID},
        {QStringLiteral("presetName"), settings.presetName},
        {QStringLiteral("body"), toJson(settings.body)},
        {QStringLiteral("outputDirectory"), settings.outputDirectory},
        {QStringLiteral("revealWhenDone"), settings.revealWhenDone},
    };
}

QJsonObject toJson(const SavedPreset& preset)
{
    return QJsonObject{
        {QStringLiteral("id"), uuidString(preset.id)},
        {QStringLiteral("name"), preset.name},
        {QStringLiteral("body"), toJson(preset.body)},
    };
}

QJsonObject toJson(const EncodingJob& job)
{
    QJsonObject object{
        {QStringLiteral("id"), uuidString(job.id)},
        {QStringLiteral("sourcePath"), job.sourcePath},
        {QStringLiteral("probing"), job.probing},
        {QStringLiteral("settings"), toJson(job.settings)},
        {QStringLiteral("status"), rawValue(job.status)},
        {QStringLiteral("progress"), job.progress},
        {QStringLiteral("addedAt"), secondsSinceReferenceDate(job.addedAt)},
    };
    if (job.sourceInfo)
        object.insert(QStringLiteral("sourceInfo"), toJson(*job.sourceInfo));
    if (job.etaSeconds)
        object.insert(QStringLiteral("etaSeconds"), *job.etaSeconds);
    if (job.errorMessage)
        object.insert(QStringLiteral("errorMessage"), *job.errorMessage);
    if (job.outputPath)
        object.insert(QStringLiteral("outputPath"), *job.outputPath);
    if (job.hardwareEncoder)
        object.insert(QStringLiteral("hardwareEncoder"), *job.hardwareEncoder);
    return object;
}

template <>
Decoded<FrameRateMode> fromJson<FrameRateMode>(const QJsonValue& value)
{
    if (!value.isObject())
        return std::unexpected(DecodeError{QStringLiteral("Expected an object for frameRate.")});
    const QJsonObject object = value.toObject();
    const bool hasSource = object.contains(QLatin1StringView("source"));
    const bool hasExact = object.contains(QLatin1StringView("exact"));
    if (hasSource == hasExact)
        return std::unexpected(
            DecodeError{QStringLiteral("Invalid number of keys found, expected one.")});
    if (hasSource) {
        if (!object.value(QLatin1StringView("source")).isObject())
            return std::unexpected(typeError(QStringLiteral("source"), "an object"));
        return FrameRateMode::source();
    }
    ObjectReader reader(object.value(QLatin1StringView("exact")), "exact");
    const double rate = reader.number(reader.required(QStringLiteral("_0")), QStringLiteral("_0"));
    if (reader.failed())
        return std::unexpected(reader.error());
    return FrameRateMode::exact(rate);
}

template <>
Decoded<PixelSize> fromJson<PixelSize>(const QJsonValue& value)
{
    ObjectReader r(value, "PixelSize");
    PixelSize size;
    size.width = r.integer(r.required(QStringLiteral("width")), QStringLiteral("width"));
    size.height = r.integer(r.required(QStringLiteral("height")), QStringLiteral("height"));
    if (r.failed())
        return std::unexpected(r.error());
    return size;
}

template <>
Decoded<SourceInfo> fromJson<SourceInfo>(const QJsonValue& value)
{
    ObjectReader r(value, "SourceInfo");
    auto key = [&](const char* name) {
        return r.required(QString::fromLatin1(name));
    };
    SourceInfo info;
    info.width = r.integer(key("width"), QStringLiteral("width"));
    info.height = r.integer(key("height"), QStringLiteral("height"));
    info.frameRate = r.number(key("frameRate"), QStringLiteral("frameRate"));
    info.duration = r.number(key("duration"), QStringLiteral("duration"));
    info.hasAudio = r.boolean(key("hasAudio"), QStringLiteral("hasAudio"));
    info.hasAlpha = r.boolean(key("hasAlpha"), QStringLiteral("hasAlpha"));
    info.videoCodec = r.string(key("videoCodec"), QStringLiteral("videoCodec"));
    if (const QJsonValue depth = r.optional(QStringLiteral("bitDepth")); !depth.isUndefined())
        info.bitDepth = static_cast<int>(r.integer(depth, QStringLiteral("bitDepth")));
    if (const QJsonValue range = r.optional(QStringLiteral("dynamicRange")); !range.isUndefined())
        info.dynamicRange = rangeFromName(r.string(range, QStringLiteral("dynamicRange")));
    if (r.failed())
        return std::unexpected(r.error());
    return info;
}

template <>
Decoded<PresetBody> fromJson<PresetBody>(const QJsonValue& value)
{
    ObjectReader r(value, "PresetBody");
    auto key = [&](const char* name) {
        return r.required(QString::fromLatin1(name));
    };
    PresetBody body;
    body.codec = r.enumeration<Codec>(key("codec"), QStringLiteral("codec"));
    body.resolution =
        r.enumeration<ResolutionMode>(key("resolution"), QStringLiteral("resolution"));
    body.customWidth = r.integer(key("customWidth"), QStringLiteral("customWidth"));
    body.customHeight = r.integer(key("customHeight"), QStringLiteral("customHeight"));
    body.frameRate = r.record<FrameRateMode>(key("frameRate"), QStringLiteral("frameRate"));
    body.audio = r.enumeration<AudioMode>(key("audio"), QStringLiteral("audio"));
    body.bitrateMbps = r.number(key("bitrateMbps"), QStringLiteral("bitrateMbps"));
    body.bitrateFollowsQuality =
        r.boolean(key("bitrateFollowsQuality"), QStringLiteral("bitrateFollowsQuality"));
    body.quality = r.enumeration<QualityTier>(key("quality"), QStringLiteral("quality"));
    body.namingPattern = r.string(key("namingPattern"), QStringLiteral("namingPattern"));
    if (r.failed())
        return std::unexpected(r.error());
    return body;
}

template <>
Decoded<JobSettings> fromJson<JobSettings>(const QJsonValue& value)
{
    ObjectReader r(value, "JobSettings");
    auto key = [&](const char* name) {
        return r.required(QString::fromLatin1(name));
    };
    JobSettings settings;
    settings.presetID = r.string(key("presetID"), QStringLiteral("presetID"));
    settings.presetName = r.string(key("presetName"), QStringLiteral("presetName"));
    settings.body = r.record<PresetBody>(key("body"), QStringLiteral("body"));
    settings.outputDirectory = r.string(key("outputDirectory"), QStringLiteral("outputDirectory"));
    settings.revealWhenDone = r.boolean(key("revealWhenDone"), QStringLiteral("revealWhenDone"));
    if (r.failed())
        return std::unexpected(r.error());
    return settings;
}

template <>
Decoded<SavedPreset> fromJson<SavedPreset>(const QJsonValue& value)
{
    ObjectReader r(value, "SavedPreset");
    SavedPreset preset;
    preset.id = r.uuid(r.required(QStringLiteral("id")), QStringLiteral("id"));
    preset.name = r.string(r.required(QStringLiteral("name")), QStringLiteral("name"));
    preset.body = r.record<PresetBody>(r.required(QStringLiteral("body")), QStringLiteral("body"));
    if (r.failed())
        return std::unexpected(r.error());
    return preset;
}

template <>
Decoded<EncodingJob> fromJson<EncodingJob>(const QJsonValue& value)
{
    ObjectReader r(value, "EncodingJob");
    auto key = [&](const char* name) {
        return r.required(QString::fromLatin1(name));
    };
    auto optionalKey = [&](const char* name) {
        return r.optional(QString::fromLatin1(name));
    };
    EncodingJob job;
    job.id = r.uuid(key("id"), QStringLiteral("id"));
    job.sourcePath = r.string(key("sourcePath"), QStringLiteral("sourcePath"));
    job.probing = r.boolean(key("probing"), QStringLiteral("probing"));
    job.settings = r.record<JobSettings>(key("settings"), QStringLiteral("settings"));
    job.status = r.enumeration<JobStatus>(key("status"), QStringLiteral("status"));
    job.progress = r.number(key("progress"), QStringLiteral("progress"));
    job.addedAt = dateFromReferenceSeconds(r.number(key("addedAt"), QStringLiteral("addedAt")));

    if (const QJsonValue v = optionalKey("sourceInfo"); !v.isUndefined())
        job.sourceInfo = r.record<SourceInfo>(v, QStringLiteral("sourceInfo"));
    if (const QJsonValue v = optionalKey("etaSeconds"); !v.isUndefined())
        job.etaSeconds = r.number(v, QStringLiteral("etaSeconds"));
    if (const QJsonValue v = optionalKey("errorMessage"); !v.isUndefined())
        job.errorMessage = r.string(v, QStringLiteral("errorMessage"));
    if (const QJsonValue v = optionalKey("outputPath"); !v.isUndefined())
        job.outputPath = r.string(v, QStringLiteral("outputPath"));
    if (const QJsonValue v = optionalKey("hardwareEncoder"); !v.isUndefined())
        job.hardwareEncoder = r.boolean(v, QStringLiteral("hardwareEncoder"));
    if (r.failed())
        return std::unexpected(r.error());
    return job;
}

} // namespace corvel
