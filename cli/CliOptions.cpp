#include "cli/CliOptions.h"

#include "CorvelEncoder/AppSettings.h"
#include "CorvelEncoderCore/PathNormalization.h"

#include <QJsonObject>

namespace corvel {

namespace {

// Options that take a value, and the job-file key their value is read as (empty: not a job
// setting).
struct ValueOption
{
    const char* longName;
    char shortName;
    const char* jobKey;
};

constexpr ValueOption kValueOptions[] = {
    {"preset", 'p', "preset"}, {"output", 'o', "output"}, {"resolution", 0, "resolution"},
    {"fps", 0, "fps"},         {"audio", 0, "audio"},     {"quality", 0, "quality"},
    {"bitrate", 0, "bitrate"}, {"naming", 0, "naming"},   {"reveal", 0, "reveal"},
    {"parallel", 'j', ""},     {"watch", 0, ""},          {"state-dir", 0, ""},
};

const ValueOption* findValueOption(QStringView name, bool isShort)
{
    for (const ValueOption& option : kValueOptions) {
        if (isShort ? (name.size() == 1 && option.shortName != 0 &&
                       name.at(0) == QLatin1Char(option.shortName))
                    : name == QLatin1StringView(option.longName))
            return &option;
    }
    return nullptr;
}

QString quoted(const QString& text)
{
    return u'"' + text + u'"';
}

// Job-file readings let an unreadable bitrate or reveal value, or a blank text, count as
// absent. Given on purpose on a command line, that is a mistake worth stopping for.
std::optional<QString> absentValueError(const QString& key, const QString& value)
{
    const QString trimmed = value.trimmed();
    if (key == u"bitrate")
        return QStringLiteral("Unknown bitrate %1. Give megabits per second, like 12.5.")
            .arg(quoted(trimmed));
    if (key == u"reveal")
        return QStringLiteral("Unknown reveal choice %1. Use yes or no.").arg(quoted(trimmed));
    if (key == u"resolution")
        return QStringLiteral("Unknown resolution %1.").arg(quoted(trimmed));
    if (key == u"audio")
        return QStringLiteral("Unknown audio mode %1. Use AAC or PCM.").arg(quoted(trimmed));
    if (key == u"quality")
        return QStringLiteral("Unknown quality %1.").arg(quoted(trimmed));
    return QStringLiteral("--%1 needs a value.").arg(key);
}

bool givenButAbsent(const PartialFields& fields, const QString& key)
{
    if (key == u"preset")
        return !fields.presetRaw;
    if (key == u"output")
        return !fields.outputDirectory;
    if (key == u"resolution")
        return !fields.resolution;
    if (key == u"fps")
        return !fields.frameRate;
    if (key == u"audio")
        return !fields.audio;
    if (key == u"quality")
        return !fields.quality;
    if (key == u"bitrate")
        return !fields.bitrateMbps;
    if (key == u"naming")
        return !fields.namingPattern;
    if (key == u"reveal")
        return !fields.revealWhenDone;
    return false;
}

} // namespace

std::expected<CliOptions, QString> parseCliOptions(const QStringList& arguments,
                                                   const QString& workingDirectory)
{
    CliOptions options;
    QJsonObject settings;
    QStringList settingKeys;
    bool optionsEnded = false;

    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (optionsEnded || !argument.startsWith(u'-') || argument == u"-") {
            options.inputs.append(argument);
            continue;
        }
        if (argument == u"--") {
            optionsEnded = true;
            continue;
        }

        const bool isShort = !argument.startsWith(u"--");
        QString name = isShort ? argument.mid(1, 1) : argument.mid(2);
        std::optional<QString> value;
        if (isShort) {
            if (argument.size() > 2)
                value = argument.mid(2); // -j2
        } else if (const qsizetype equals = name.indexOf(u'='); equals >= 0) {
            value = name.mid(equals + 1);
            name.truncate(equals);
        }

        if (!isShort && !value) {
            if (name == u"dry-run") {
                options.dryRun = true;
                continue;
            }
            if (name == u"watch-existing") {
                options.watchExisting = true;
                continue;
            }
            if (name == u"json") {
                options.json = true;
                continue;
            }
            if (name == u"help") {
                options.help = true;
                continue;
            }
            if (name == u"version") {
                options.version = true;
                continue;
            }
        }
        if (isShort && name == u"h" && !value) {
            options.help = true;
            continue;
        }

        const ValueOption* option = findValueOption(name, isShort);
        if (!option)
            return std::unexpected(QStringLiteral("Unknown option %1.").arg(argument));
        if (!value) {
            if (i + 1 >= arguments.size())
                return std::unexpected(
                    QStringLiteral("--%1 needs a value.").arg(QLatin1StringView(option->longName)));
            value = arguments.at(++i);
        }

        const QLatin1StringView longName(option->longName);
        if (*option->jobKey) {
            const QString key = QLatin1StringView(option->jobKey);
            settings.insert(key, *value);
            settingKeys.append(key);
        } else if (longName == u"parallel") {
            bool ok = false;
            const int count = value->trimmed().toInt(&ok);
            if (!ok || count < AppSettings::kMinParallel || count > AppSettings::kMaxParallel)
                return std::unexpected(
                    QStringLiteral("--parallel takes 1 to 4, not %1.").arg(quoted(*value)));
            options.parallel = count;
        } else {
            if (value->trimmed().isEmpty())
                return std::unexpected(QStringLiteral("--%1 needs a value.").arg(longName));
            const QString path = normalizePath(*value, workingDirectory);
            if (longName == u"watch")
                options.watchFolder = path;
            else
                options.stateDirectory = path;
        }
    }

    if (options.help || options.version)
        return options;

    auto fields = partialFields(settings, workingDirectory);
    if (!fields)
        return std::unexpected(fields.error().description());
    for (const QString& key : std::as_const(settingKeys)) {
        if (givenButAbsent(*fields, key))
            return std::unexpected(*absentValueError(key, settings.value(key).toString()));
    }
    options.overrides = *fields;
    return options;
}

QString cliUsage()
{
    return QStringLiteral(
        "Usage: corvel-encode [options] INPUT...\n"
        "\n"
        "Encodes movies, folders, job files (.corveljob) and corvelencoder:// links with the\n"
        "settings and saved presets of Corvel Encoder. Options apply to every job and win over\n"
        "what a job file or link asks for. Each option also takes the form --name=value.\n"
        "\n"
        "  -p, --preset NAME      a built-in or saved preset (\"H.264\", \"prores-422-hq\", ...)\n"
        "  -o, --output DIR       the output folder\n"
        "      --resolution R     source, 4k, 1080p, 720p or WxH\n"
        "      --fps RATE         source or frames per second\n"
        "      --audio MODE       aac or pcm\n"
        "      --quality TIER     low, medium, high or veryhigh\n"
        "      --bitrate MBPS     an exact bitrate in megabits per second\n"
        "      --naming PATTERN   the output name pattern, like {name}_{codec}\n"
        "      --reveal yes|no    show finished files in the file manager\n"
        "  -j, --parallel N       encode N jobs at once (1 to 4)\n"
        "      --dry-run          import and print the jobs, encode nothing\n"
        "      --json             one JSON object per line on stdout\n"
        "      --watch DIR        keep encoding what arrives in DIR until interrupted\n"
        "      --watch-existing   with --watch, also encode what DIR holds already\n"
        "      --state-dir DIR    read settings and saved presets from DIR\n"
        "  -h, --help             show this text\n"
        "      --version          show the version\n"
        "\n"
        "Exit status: 0 when every job finished, 1 when any failed or was cancelled,\n"
        "2 for a usage error or nothing to encode, 130 when interrupted.\n");
}

} // namespace corvel
