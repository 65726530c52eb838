#include "cli/CliRunner.h"

#include "CorvelEncoder/engine/CpuBudget.h"
#include "CorvelEncoder/engine/EncodePlan.h"
#include "CorvelEncoder/engine/FFmpegEncodeSession.h"
#include "CorvelEncoder/model/AppModel.h"
#include "CorvelEncoder/model/IntakeFiles.h"
#include "CorvelEncoder/model/WatchRules.h"
#include "CorvelEncoder/platform/AppFiles.h"
#include "CorvelEncoder/platform/HeadlessDesktop.h"
#include "CorvelEncoder/platform/QuitSignals.h"
#include "CorvelEncoder/platform/SleepInhibitor.h"
#include "CorvelEncoder/platform/WatchLock.h"
#include "CorvelEncoderCore/CorvelIdentity.h"
#include "CorvelEncoderCore/JobTexts.h"
#include "CorvelEncoderCore/PathNormalization.h"
#include "CorvelEncoderCore/Presets.h"
#include "CorvelEncoderCore/SettingsMerging.h"
#include "cli/CliReporter.h"
#include "cli/CliSession.h"
#include "cli/CliWatchMemory.h"
#include "cli/EncodedBefore.h"
#include "cli/FFmpegLogRoute.h"
#include "cli/MemoryStateStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

extern "C" {
#include <libavutil/log.h>
}

namespace corvel {

namespace {

// The desktop application's state folder, found the way it finds it, but not created: a
// command-line run leaves no trace there.
QString desktopStateDirectory()
{
    const QStringList paths =
        QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
    const QString base =
        paths.isEmpty() || paths.first().isEmpty() ? QDir::homePath() : paths.first();
    return QDir(base).filePath(QString(CorvelIdentity::appName));
}

// No window, nothing to reveal; but like the desktop application, the machine must not fall
// asleep while encodes run.
class CliDesktop final : public HeadlessDesktop
{
public:
    void disableAutomaticTermination(const QString& reason) override
    {
        m_sleep.hold(QStringLiteral("corvel-encode"), reason);
    }
    void enableAutomaticTermination(const QString&) override { m_sleep.release(); }

private:
    SleepInhibitor m_sleep;
};

// The K-th of N contiguous, equal shares of the jobs, ordered by source path and, for one
// source named twice, by the order the inputs gave them: every machine of a batch that sees
// the same inputs computes the same shares.
QList<QUuid> shareOf(const AppModel& model, const QList<QUuid>& ids, Shard shard)
{
    QList<std::pair<QString, QUuid>> keyed;
    for (const QUuid& id : ids)
        keyed.append({model.store().job(id)->sourcePath, id});
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    const qsizetype total = keyed.size();
    const qsizetype begin = total * (shard.index - 1) / shard.count;
    const qsizetype end = total * shard.index / shard.count;
    QList<QUuid> share;
    for (qsizetype i = begin; i < end; ++i)
        share.append(keyed.at(i).second);
    return share;
}

// The path a dry-run job would be written to now: its name in its folder, numbered past any
// file already there or already promised to an earlier job of this run.
QString plannedOutput(const EncodingJob& job)
{
    const QString name = previewFilename(job);
    const qsizetype dot = name.lastIndexOf(u'.');
    return OutputNames::shared().reserve(job.settings.outputDirectory, name.left(dot),
                                         dot < 0 ? QString() : name.mid(dot + 1));
}

void printPresets(const QList<SavedPreset>& saved, bool json)
{
    QJsonArray all;
    for (const BuiltinPreset& preset : BuiltinPreset::all()) {
        all.append(QJsonObject{{"id", preset.id},
                               {"name", preset.name},
                               {"aliases", QJsonArray::fromStringList(preset.aliases())},
                               {"builtIn", true}});
    }
    for (const SavedPreset& preset : saved) {
        all.append(QJsonObject{{"id", savedPresetID(preset)},
                               {"name", preset.name},
                               {"aliases", QJsonArray()},
                               {"builtIn", false}});
    }
    for (const QJsonValue& value : std::as_const(all)) {
        const QJsonObject preset = value.toObject();
        QString line;
        if (json) {
            QJsonObject event = preset;
            event.insert("event", "preset");
            line = QString::fromUtf8(QJsonDocument(event).toJson(QJsonDocument::Compact));
        } else {
            QStringList names{preset.value("id").toString()};
            for (const QJsonValue& alias : preset.value("aliases").toArray())
                names << alias.toString();
            line =
                QStringLiteral("%1  %2%3")
                    .arg(preset.value("name").toString().leftJustified(24),
                         preset.value("builtIn").toBool() ? QString() : QStringLiteral("(saved) "),
                         names.join(QStringLiteral(", ")));
        }
        std::puts(line.toUtf8().constData());
    }
}

// A usage error: on stderr, and as a log event when JSON was asked for. `hint` points to
// --help, for mistakes in how the command line is written.
int usageError(const QString& text, bool json, bool hint = true)
{
    std::fprintf(stderr, "corvel-encode: %s\n%s", qPrintable(text),
                 hint ? "Try corvel-encode --help.\n" : "");
    if (json) {
        const QJsonObject event{{"event", "log"}, {"text", text}, {"error", true}};
        std::puts(QJsonDocument(event).toJson(QJsonDocument::Compact).constData());
    }
    return kExitUsage;
}

} // namespace

int runCli(const QStringList& arguments)
{
    const qsizetype optionsEnd = arguments.indexOf(QStringLiteral("--"));
    const bool jsonAsked = arguments.mid(0, optionsEnd < 0 ? arguments.size() : optionsEnd)
                               .contains(QStringLiteral("--json"));
    const auto parsed = parseCliOptions(arguments, QDir::currentPath());
    if (!parsed)
        return usageError(parsed.error(), jsonAsked);
    const CliOptions& options = *parsed;
    if (options.help) {
        std::fputs(qPrintable(cliUsage()), stdout);
        return kExitFinished;
    }
    if (options.version) {
        std::printf("%s\n", QString(CorvelIdentity::encoderTag).toUtf8().constData());
        return kExitFinished;
    }
    if (options.inputs.isEmpty() && !options.watchFolder && !options.listPresets)
        return usageError(QStringLiteral("Nothing to encode: name a movie, a folder, a job file "
                                         "or a corvelencoder:// link."),
                          options.json);
    if (options.watchFolder && (options.dryRun || options.shard))
        return usageError(QStringLiteral("--watch goes with neither --dry-run nor --shard."),
                          options.json);
    if (options.watchFolder && !QFileInfo(*options.watchFolder).isDir())
        return usageError(
            QStringLiteral("Cannot watch %1: it is not a folder.").arg(*options.watchFolder),
            options.json, false);
    if (options.verbose)
        routeFFmpegLog(AV_LOG_INFO);

    const QString stateDirectory = options.stateDirectory.value_or(desktopStateDirectory());
    MemoryStateStore store(stateDirectory);
    CliWatchMemory watchMemory;
    QString watchFolder;
    std::unique_ptr<WatchLock> watchLock;
    if (options.watchFolder) {
        watchFolder = resolvedWatchPath(*options.watchFolder);
        auto lock = WatchLock::take(watchFolder, stateDirectory);
        if (!lock) {
            usageError(lock.error(), options.json, false);
            return kExitFailed;
        }
        watchLock = std::move(*lock);
        watchMemory = readCliWatchMemory(stateDirectory);
    }
    CliDesktop desktop;
    NoEncodeSessions noSessions;
    FFmpegEncodeSessionFactory ffmpegSessions;
    EncodeSessionFactory& sessions =
        options.dryRun ? static_cast<EncodeSessionFactory&>(noSessions) : ffmpegSessions;
    AppModel model(store, AppFiles::defaultOutputDirectory(), sessions, desktop);

    if (options.listPresets) {
        printPresets(model.persistence().savedPresets(), options.json);
        return kExitFinished;
    }
    if (options.overrides.presetRaw &&
        !resolvePresetID(*options.overrides.presetRaw, model.persistence().savedPresets()))
        return usageError(
            QStringLiteral("Unknown preset \"%1\".").arg(*options.overrides.presetRaw),
            options.json);

    // Only this run's model sees these; the store keeps them from the desktop's files.
    model.persistence().updateSettings([&](AppSettings& s) {
        s.hasSeenIntro = true;
        s.watchEnabled = false;
        // A farm task given one or two CPUs runs no more encodes than it has CPUs for.
        if (options.parallel)
            s.maxParallel = *options.parallel;
        else
            s.maxParallel = std::clamp(availableCpus(), AppSettings::kMinParallel, s.maxParallel);
        if (options.watchFolder) {
            s.watchEnabled = true;
            s.watchFolder = *options.watchFolder;
            s.watchOutputDirectory = options.overrides.outputDirectory.value_or(QString());
            s.watchProcessExisting = options.watchExisting;
            s.seenWatchKeys = watchMemory.keys;
            s.notedWatchKeys = watchMemory.noted;
            if (options.overrides.presetRaw)
                s.watchPresetID = *resolvePresetID(*options.overrides.presetRaw,
                                                   model.persistence().savedPresets());
        }
    });

    const Verbosity verbosity = options.quiet     ? Verbosity::quiet
                                : options.verbose ? Verbosity::verbose
                                                  : Verbosity::normal;
    std::unique_ptr<CliReporter> reporter =
        options.json ? makeJsonReporter(stdout, stderr)
                     : makeTextReporter(stdout, stderr, textStyleFor(STDOUT_FILENO), verbosity);
    CliSession session(model, *reporter, options);

    QuitSignals quitSignals;
    quitSignals.endOnRepeat();
    QObject::connect(&quitSignals, &QuitSignals::quitRequested, &session,
                     [&](int number) { session.interrupt(128 + number); });

    QElapsedTimer clock;
    clock.start();
    QList<QUuid> ids;
    for (const QString& input : options.inputs) {
        if (QuitSignals::arrived())
            break;
        ids += session.import(input);
    }
    if (options.shard) {
        const QList<QUuid> share = shareOf(model, ids, *options.shard);
        // A set: a farm's batch may hold 100,000 jobs.
        const QSet<QUuid> mine(share.cbegin(), share.cend());
        QList<QUuid> others;
        for (const QUuid& id : std::as_const(ids)) {
            if (!mine.contains(id))
                others.append(id);
        }
        model.scheduler().remove(others);
        reporter->log(QStringLiteral("Shard %1/%2: %3 of %4 jobs")
                          .arg(options.shard->index)
                          .arg(options.shard->count)
                          .arg(share.size())
                          .arg(ids.size()),
                      false);
        ids = share;
    }
    // After the shares, which must not depend on what earlier runs finished.
    if (options.skipExisting) {
        const std::optional<QList<QUuid>> missing = session.withoutEncoded(ids);
        if (!missing) {
            reporter->done(session.summary(clock.elapsed()));
            return *session.interruptedWith();
        }
        ids = *missing;
    }
    session.adopt(ids);
    // Each encode's threads are its share of the CPUs; a run of one job takes them all.
    const int atOnce = model.persistence().settings().maxParallel;
    setEncodesAtOnce(options.watchFolder ? atOnce : std::min<int>(atOnce, int(ids.size())));
    // Reading 100,000 sources takes a moment; a signal sent meanwhile is answered now, before
    // the first encode starts.
    if (const int number = quitSignals.pendingSignal()) {
        session.interrupt(128 + number);
        reporter->done(session.summary(clock.elapsed()));
        return 128 + number;
    }
    if (options.watchFolder)
        session.adoptArrivals();
    const auto skippedStatus = [&](int status) {
        return status == kExitFinished && session.skippedCount() > 0 ? int(kExitFailed) : status;
    };

    if (options.dryRun) {
        session.endOnceProbed();
        QCoreApplication::exec();
        bool failed = false;
        for (const QUuid& id : session.jobIDs()) {
            const std::optional<EncodingJob> job = model.store().job(id);
            if (job && job->status != JobStatus::failed)
                reporter->planned(*job, plannedOutput(*job));
            failed = failed || !job || job->status == JobStatus::failed;
        }
        reporter->done(std::nullopt);
        return skippedStatus(failed ? kExitFailed : kExitFinished);
    }

    if (options.watchFolder) {
        // A folder an earlier run watched has its files already noted or taken; what is new
        // since then arrived while no run was watching and is taken.
        model.watch().setResuming(watchMemory.folders.contains(watchFolder));
        model.watch().setTakesFolderLock(false);
        model.watch().refresh();
        if (!model.watch().isWatching())
            return usageError(
                QStringLiteral("Cannot watch %1: it is not a folder.").arg(*options.watchFolder),
                options.json, false);
        if (!watchMemory.folders.contains(watchFolder))
            watchMemory.folders.append(watchFolder);
        auto remember = [&] {
            watchMemory.keys = model.persistence().settings().seenWatchKeys;
            watchMemory.noted = model.persistence().settings().notedWatchKeys;
            if (!writeCliWatchMemory(stateDirectory, watchMemory))
                reporter->log(QStringLiteral("Cannot keep the watch folder's handled files in %1.")
                                  .arg(stateDirectory),
                              true);
        };
        remember();
        // `remember` ends with this block; the connection keeps its own copy.
        QObject::connect(&model.persistence(), &Persistence::settingsChanged, &session,
                         [&, remember] {
                             const AppSettings& now = model.persistence().settings();
                             if (now.seenWatchKeys != watchMemory.keys ||
                                 now.notedWatchKeys != watchMemory.noted)
                                 remember();
                         });
        const QString watching = QStringLiteral("Watching %1 \u2192 %2 with %3; Ctrl-C to stop")
                                     .arg(*options.watchFolder, model.watch().resolvedOutput(),
                                          model.watch().settingsForWatch().presetName);
        if (options.json)
            reporter->log(watching, false);
        else
            std::printf("%s\n", watching.toUtf8().constData());
        std::fflush(stdout);
    }
    if (!ids.isEmpty() && options.watchFolder)
        model.scheduler().startQueue();
    else if (!ids.isEmpty())
        session.startOnceProbed();
    session.scheduleCheck();
    int status = QCoreApplication::exec();
    const CliSummary summary = session.summary(clock.elapsed());
    reporter->done(summary);
    if (status == kExitFinished && (summary.failed > 0 || summary.cancelled > 0))
        status = kExitFailed;
    return skippedStatus(status);
}

} // namespace corvel
