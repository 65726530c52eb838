#include "CorvelEncoderCore/AppSettings.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

#include <algorithm>
#include <cmath>
#include <optional>

namespace corvel {

AppSettings AppSettings::defaults(const QString& defaultOutputDirectory)
{
    AppSettings settings;
    settings.defaultOutputDirectory = defaultOutputDirectory;
    return settings;
}

int AppSettings::clampParallel(int value)
{
    return std::clamp(value, kMinParallel, kMaxParallel);
}

QJsonObject toJson(const AppSettings& s)
{
    QJsonObject o;
    o.insert(QStringLiteral("maxParallel"), s.maxParallel);
    o.insert(QStringLiteral("defaultOutputDirectory"), s.defaultOutputDirectory);
    o.insert(QStringLiteral("revealWhenDone"), s.revealWhenDone);
    o.insert(QStringLiteral("lastPresetID"), s.lastPresetID);
    o.insert(QStringLiteral("watchEnabled"), s.watchEnabled);
    o.insert(QStringLiteral("watchFolder"), s.watchFolder);
    o.insert(QStringLiteral("watchOutputDirectory"), s.watchOutputDirectory);
    o.insert(QStringLiteral("watchPresetID"), s.watchPresetID);
    o.insert(QStringLiteral("watchProcessExisting"), s.watchProcessExisting);
    o.insert(QStringLiteral("dockBounceWhenIdle"), s.dockBounceWhenIdle);
    o.insert(QStringLiteral("hasSeenIntro"), s.hasSeenIntro);
    o.insert(QStringLiteral("seenWatchKeys"), QJsonArray::fromStringList(s.seenWatchKeys));
    o.insert(QStringLiteral("notedWatchKeys"), QJsonArray::fromStringList(s.notedWatchKeys));
    return o;
}

QByteArray encodeSettings(const AppSettings& settings)
{
    return QJsonDocument(toJson(settings)).toJson(QJsonDocument::Compact);
}

namespace {

class SettingsReader
{
public:
    explicit SettingsReader(QJsonObject object) : m_object(std::move(object)) {}

    bool failed() const { return m_error.has_value(); }
    DecodeError error() const { return *m_error; }

    QString string(const char* key)
    {
        const QJsonValue v = value(key);
        if (!failed() && !v.isString())
            fail(key, "a string");
        return v.toString();
    }

    bool boolean(const char* key)
    {
        const QJsonValue v = value(key);
        if (!failed() && !v.isBool())
            fail(key, "a boolean");
        return v.toBool();
    }

    int integer(const char* key)
    {
        const QJsonValue v = value(key);
        if (failed())
            return 0;
        const double d = v.toDouble();
        if (!v.isDouble() || !std::isfinite(d) || std::trunc(d) != d || std::abs(d) > 1e9) {
            fail(key, "an integer");
            return 0;
        }
        return static_cast<int>(d);
    }

    QStringList strings(const char* key)
    {
        const QJsonValue v = value(key);
        if (failed())
            return {};
        if (!v.isArray()) {
            fail(key, "an array of strings");
            return {};
        }
        QStringList list;
        for (const QJsonValue& item : v.toArray()) {
            if (!item.isString()) {
                fail(key, "an array of strings");
                return {};
            }
            list.append(item.toString());
        }
        return list;
    }

private:
    QJsonValue value(const char* key)
    {
        if (failed())
            return {};
        const QJsonValue v = m_object.value(QLatin1StringView(key));
        if (v.isUndefined())
            m_error =
                DecodeError{QStringLiteral("No value for key \"%1\".").arg(QLatin1StringView(key))};
        return v;
    }

    void fail(const char* key, const char* expected)
    {
        m_error = DecodeError{QStringLiteral("Expected %1 for key \"%2\".")
                                  .arg(QLatin1StringView(expected), QLatin1StringView(key))};
    }

    QJsonObject m_object;
    std::optional<DecodeError> m_error;
};

} // namespace

Decoded<AppSettings> decodeSettings(const QByteArray& data)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(data, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return std::unexpected(DecodeError{QStringLiteral("The settings are not a JSON object.")});

    SettingsReader r(document.object());
    AppSettings s;
    // A hand-edited slot count outside the range is clamped like the setting itself.
    s.maxParallel = AppSettings::clampParallel(r.integer("maxParallel"));
    s.defaultOutputDirectory = r.string("defaultOutputDirectory");
    s.revealWhenDone = r.boolean("revealWhenDone");
    s.lastPresetID = r.string("lastPresetID");
    s.watchEnabled = r.boolean("watchEnabled");
    s.watchFolder = r.string("watchFolder");
    s.watchOutputDirectory = r.string("watchOutputDirectory");
    s.watchPresetID = r.string("watchPresetID");
    s.watchProcessExisting = r.boolean("watchProcessExisting");
    s.dockBounceWhenIdle = r.boolean("dockBounceWhenIdle");
    s.hasSeenIntro = r.boolean("hasSeenIntro");
    s.seenWatchKeys = r.strings("seenWatchKeys");
    // Older versions kept noted files among the taken ones; those stay taken, so nothing is
    // encoded twice.
    if (document.object().contains(QLatin1StringView("notedWatchKeys")))
        s.notedWatchKeys = r.strings("notedWatchKeys");
    if (r.failed())
        return std::unexpected(r.error());
    return s;
}

} // namespace corvel
