#include "cli/CliOptions.h"

#include "CorvelEncoderCore/AppSettings.h"
#include "CorvelEncoderCore/PathNormalization.h"

#include <QCommandLineParser>
#include <QJsonObject>
#include <QRegularExpression>

namespace corvel {

namespace {

// Options whose value is read as the job-file key of the same name.
constexpr const char* kJobOptions[] = {"preset", "output",  "resolution", "fps",
                                       "audio",  "quality", "bitrate",    "naming"};

QString quoted(const QString& text)
{
    return u'"' + text + u'"';
}

// Job-file readings let an unreadable bitrate, or a blank text, count as absent. Given on
// purpose on a command line, that is a mistake worth stopping for.
QString absentValueError(const QString& key, const QString& value)
{
    const QString trimmed = value.trimmed();
    if (key == u"bitrate")
        return QStringLiteral("Unknown bitrate %1. Give megabits per second, like 12.5.")
            .arg(quoted(trimmed));
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
    return false;
}

QCommandLineOption valueOption(const QStringList& names)
{
    return QCommandLineOption(names, QString(), QStringLiteral("value"));
}

const QString kShardForms =
    QStringLiteral("--shard K/N (K from 1) or --shard-index I --shard-count N (I from 0)");

std::expected<int, QString> readCount(const QString& option, const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral(R"(^\s*(\d{1,6})\s*$)"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return std::unexpected(QStringLiteral("%1 takes a whole number, not %2. Use %3.")
                                   .arg(option, quoted(text), kShardForms));
    return match.captured(1).toInt();
}

// The share from "K/N", counted from 1, or from an index counted from 0 and a count, as farm
// schedulers hand them over (a Kubernetes Indexed Job's JOB_COMPLETION_INDEX).
std::expected<std::optional<Shard>, QString> readShard(const QCommandLineParser& parser,
                                                       const QCommandLineOption& shard,
                                                       const QCommandLineOption& index,
                                                       const QCommandLineOption& count)
{
    const bool byIndex = parser.isSet(index) || parser.isSet(count);
    if (parser.isSet(shard) && byIndex)
        return std::unexpected(QStringLiteral("Give either %1, not both.").arg(kShardForms));
    if (parser.isSet(shard)) {
        static const QRegularExpression pattern(
            QStringLiteral(R"(^\s*(\d{1,6})\s*/\s*(\d{1,6})\s*$)"));
        const QString text = parser.value(shard);
        const QRegularExpressionMatch match = pattern.match(text);
        const Shard read{match.captured(1).toInt(), match.captured(2).toInt()};
        if (!match.hasMatch() || read.count < 1 || read.index < 1 || read.index > read.count)
            return std::unexpected(
                QStringLiteral("--shard takes K/N with 1 <= K <= N, not %1. Use %2.")
                    .arg(quoted(text), kShardForms));
        return read;
    }
    if (!byIndex)
        return std::nullopt;
    if (!parser.isSet(index) || !parser.isSet(count))
        return std::unexpected(
            QStringLiteral("--shard-index and --shard-count go together. Use %1.")
                .arg(kShardForms));
    const auto i = readCount(QStringLiteral("--shard-index"), parser.value(index));
    if (!i)
        return std::unexpected(i.error());
    const auto n = readCount(QStringLiteral("--shard-count"), parser.value(count));
    if (!n)
        return std::unexpected(n.error());
    if (*n < 1 || *i >= *n)
        return std::unexpected(
            QStringLiteral(
                "--shard-index takes 0 to N-1 for --shard-count N, not %1 of %2. Use %3.")
                .arg(*i)
                .arg(*n)
                .arg(kShardForms));
    return Shard{*i + 1, *n};
}

} // namespace

std::expected<CliOptions, QString> parseCliOptions(const QStringList& arguments,
                                                   const QString& workingDirectory)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    const QCommandLineOption preset = valueOption({"p", "preset"});
    const QCommandLineOption output = valueOption({"o", "output"});
    const QCommandLineOption parallel = valueOption({"j", "parallel"});
    const QCommandLineOption watch = valueOption({"watch"});
    const QCommandLineOption stateDir = valueOption({"state-dir"});
    const QCommandLineOption shard = valueOption({"shard"});
    const QCommandLineOption shardIndex = valueOption({"shard-index"});
    const QCommandLineOption shardCount = valueOption({"shard-count"});
    const QCommandLineOption watchExisting(QStringLiteral("watch-existing"), QString());
    const QCommandLineOption skipExisting(QStringLiteral("skip-existing"), QString());
    const QCommandLineOption dryRun({"n", "dry-run"}, QString());
    const QCommandLineOption json(QStringLiteral("json"), QString());
    const QCommandLineOption quiet({"q", "quiet"}, QString());
    const QCommandLineOption verbose({"v", "verbose"}, QString());
    const QCommandLineOption listPresets(QStringLiteral("list-presets"), QString());
    const QCommandLineOption help({"h", "help"}, QString());
    const QCommandLineOption version(QStringLiteral("version"), QString());
    parser.addOptions({preset, output, parallel, watch, watchExisting, stateDir, shard, shardIndex,
                       shardCount, skipExisting, dryRun, json, quiet, verbose, listPresets, help,
                       version});
    for (const char* name : {"resolution", "fps", "audio", "quality", "bitrate", "naming"})
        parser.addOption(valueOption({QString(QLatin1StringView(name))}));
    if (!parser.parse(arguments))
        return std::unexpected(parser.errorText());

    CliOptions options;
    options.help = parser.isSet(help);
    options.version = parser.isSet(version);
    options.dryRun = parser.isSet(dryRun);
    options.watchExisting = parser.isSet(watchExisting);
    options.skipExisting = parser.isSet(skipExisting);
    options.json = parser.isSet(json);
    options.quiet = parser.isSet(quiet);
    options.verbose = parser.isSet(verbose);
    options.listPresets = parser.isSet(listPresets);
    options.inputs = parser.positionalArguments();
    if (options.help || options.version)
        return options;
    if (options.quiet && options.verbose)
        return std::unexpected(QStringLiteral("--quiet and --verbose do not go together."));

    if (parser.isSet(parallel)) {
        const QString value = parser.value(parallel);
        bool ok = false;
        const int count = value.trimmed().toInt(&ok);
        if (!ok || count < AppSettings::kMinParallel || count > AppSettings::kMaxParallel)
            return std::unexpected(
                QStringLiteral("--parallel takes 1 to 4, not %1.").arg(quoted(value)));
        options.parallel = count;
    }
    auto read = readShard(parser, shard, shardIndex, shardCount);
    if (!read)
        return std::unexpected(read.error());
    options.shard = *read;
    for (const auto& [option, target] :
         {std::pair{&watch, &options.watchFolder}, std::pair{&stateDir, &options.stateDirectory}}) {
        if (!parser.isSet(*option))
            continue;
        const QString value = parser.value(*option);
        if (value.trimmed().isEmpty())
            return std::unexpected(
                QStringLiteral("--%1 needs a value.").arg(option->names().constLast()));
        *target = normalizePath(value, workingDirectory);
    }

    QJsonObject settings;
    for (const char* key : kJobOptions) {
        const QString name = QLatin1StringView(key);
        if (parser.isSet(name))
            settings.insert(name, parser.value(name));
    }
    auto fields = partialFields(settings, workingDirectory);
    if (!fields)
        return std::unexpected(fields.error().description());
    for (auto it = settings.constBegin(); it != settings.constEnd(); ++it) {
        if (givenButAbsent(*fields, it.key()))
            return std::unexpected(absentValueError(it.key(), it.value().toString()));
    }
    options.overrides = *fields;
    return options;
}

QString cliUsage()
{
    return QStringLiteral(
        "Usage: corvel-encode [options] [--] INPUT...\n"
        "\n"
        "Encodes movies, folders, job files (.corveljob) and corvelencoder:// links with the\n"
        "settings and saved presets of Corvel Encoder. Options apply to every job and win over\n"
        "what a job file or link asks for. Each option also takes the form --name=value;\n"
        "after -- every argument is an input, even one that begins with a dash.\n"
        "\n"
        "  -p, --preset NAME      a built-in or saved preset (\"H.264\", \"prores-422-hq\", ...)\n"
        "  -o, --output DIR       the output folder\n"
        "      --resolution R     source, 4k, 1080p, 720p or WxH\n"
        "      --fps RATE         source or frames per second\n"
        "      --audio MODE       aac or pcm\n"
        "      --quality TIER     low, medium, high or veryhigh\n"
        "      --bitrate MBPS     an exact bitrate in megabits per second\n"
        "      --naming PATTERN   the output name pattern, like {name}_{codec}\n"
        "  -j, --parallel N       encode N jobs at once (1 to 4)\n"
        "      --shard K/N        encode only the K-th (from 1) of N equal shares of the jobs\n"
        "      --shard-index I --shard-count N\n"
        "                         the same, counted from 0: --shard-index 0 is --shard 1/N\n"
        "      --skip-existing    leave out every job whose output name already holds a\n"
        "                         complete movie, so a rerun encodes only what is missing\n"
        "  -n, --dry-run          read the sources and print the jobs, encode nothing\n"
        "      --json             also one JSON object per line on stdout for every event\n"
        "  -q, --quiet            print errors only\n"
        "  -v, --verbose          print the activity log and FFmpeg's own messages\n"
        "      --watch DIR        keep encoding what arrives in DIR until interrupted\n"
        "      --watch-existing   with --watch, also encode what DIR holds already\n"
        "      --state-dir DIR    read settings and saved presets from DIR\n"
        "      --list-presets     print the built-in and saved presets and their names\n"
        "  -h, --help             show this text\n"
        "      --version          show the version\n"
        "\n"
        "Exit status: 0 when every job finished or was already encoded, 1 when any failed\n"
        "or was cancelled or an input was skipped, 2 for a usage error, 130 after Ctrl-C,\n"
        "143 after SIGTERM.\n");
}

} // namespace corvel
