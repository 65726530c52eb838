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

// Why an input gave no job: the model's own message when it had one (a job file's error),
// else what the path is.
QString skipReason(const QUrl& url, const std::optional<QString>& message)
{
    // The model names the file first ("notes.txt: not a movie this app reads."); the input
    // already leads the line.
    const QString name = QFileInfo(url.toLocalFile()).fileName() + QStringLiteral(": ");
    if (message)
        return !name.startsWith(u':') && message->startsWith(name) ? message->mid(name.size())
                                                                   : *message;
    if (url.scheme().toLower() == CorvelIdentity::urlScheme)
        return QStringLiteral("not a usable corvelencoder link");
    const QFileInfo info(url.toLocalFile());
    if (!info.exists() && !info.isSymLink())
        return QStringLiteral("no such file or folder");
    if (!info.isReadable())
        return QStringLiteral("cannot be read");
    if (info.isDir())
        return QStringLiteral("no movies or job files in it");
    return QStringLiteral("not a movie or job file");
}

// Follows the model and tells the reporter what changed, job by job.
class Session final : public QObject
{
public:
    Session(AppModel& model, CliReporter& reporter, const CliOptions& options)
        : m_model(model), m_reporter(reporter), m_options(options)
    {
        connect(&m_model.feed(), &ActivityFeed::logLineAppended, this, [this] {
            const LogLine& line = m_model.feed().logLines().constLast();
            message(line.text, line.isError, false);
        });
        connect(&m_model.feed(), &ActivityFeed::bannerChanged, this, [this] {
            if (m_model.feed().banner())
                message(*m_model.feed().banner(), true, true);
        });
        connect(&m_model.store(), &JobStore::jobChanged, this, &Session::onChanged);
        // While watching, what the watch folder brings is this run's too.
        connect(&m_model.store(), &JobStore::jobsInserted, this, [this](int first, int last) {
            if (!m_adoptArrivals)
                return;
            QList<QUuid> ids;
            for (int row = first; row <= last; ++row)
                ids.append(m_model.store().jobs().at(row).id);
            adopt(ids);
        });
        connect(&m_model.store(), &JobStore::countsChanged, this, &Session::scheduleCheck);
        connect(&m_model.store(), &JobStore::jobsRemoved, this, [this] { m_endedUpTo = 0; });
    }

    bool watching() const { return m_options.watchFolder.has_value(); }
    const QList<QUuid>& jobIDs() const { return m_order; }
    int skippedCount() const { return m_skipped; }
    std::optional<int> interruptedWith() const { return m_interruptStatus; }

    // Imports one command-line input; an input that gives no job is reported with its reason.
    // The model's messages about it are held back meanwhile, so a refused job file is reported
    // once, as the input's reason.
    QList<QUuid> import(const QString& input)
    {
        // An input after "--" may begin with a dash; a path in front keeps it a file.
        const QString argument =
            input.startsWith(u'-') ? QDir::current().absoluteFilePath(input) : input;
        const QList<QUrl> urls = commandLineURLs(
            QStringList{QCoreApplication::applicationFilePath(), argument}, QDir::currentPath());
        const qsizetype before = m_model.store().jobs().size();
        m_held.emplace();
        // A movie that is not there would only become a job that fails.
        const QUrl url = urls.value(0);
        if (url.isLocalFile() && !notALocalPath(url.toString()) &&
            !QFileInfo::exists(url.toLocalFile()) && !QFileInfo(url.toLocalFile()).isSymLink())
            m_held->append({QStringLiteral("no such file or folder"), true, false});
        else if (!urls.isEmpty())
            m_model.intake().importURLs(urls, false);
        const QList<Held> held = *std::exchange(m_held, std::nullopt);
        QList<QUuid> ids;
        for (qsizetype row = before; row < m_model.store().jobs().size(); ++row)
            ids.append(m_model.store().jobs().at(row).id);
        if (ids.isEmpty() && QuitSignals::arrived())
            return ids; // cut short by the quit, not refused
        if (ids.isEmpty()) {
            std::optional<QString> why;
            for (const Held& one : held) {
                if (one.isError)
                    why = one.text;
            }
            m_reporter.skipped(input, skipReason(url, why));
            ++m_skipped;
            return ids;
        }
        for (const Held& one : held)
            message(one.text, one.isError, one.isBanner);
        return ids;
    }

    // The jobs this run encodes, in the order they are numbered. The command line is the
    // strongest layer: its preset and fields go over what each job already has.
    void adopt(const QList<QUuid>& ids)
    {
        for (const QUuid& id : ids) {
            if (QuitSignals::arrived())
                return; // the run ends: the rest is not this run's to report
            if (m_options.hasOverrides() && !m_overridden.contains(id))
                applyOverrides(id);
            const std::optional<EncodingJob> job = m_model.store().job(id);
            if (!job)
                continue;
            m_order.append(id);
            m_seen.insert(id,
                          Seen{job->status, job->progress, job->etaSeconds, job->hardwareEncoder});
            if (!m_options.dryRun)
                m_reporter.added(*job);
            if (m_options.verbose)
                addFFmpegLogJob(job->sourcePath, QString(), job->sourceName());
        }
    }

    // Of `ids`, once their sources are read, the jobs whose output is not complete yet; the
    // others leave the queue, reported. Nothing when the run is interrupted meanwhile.
    std::optional<QList<QUuid>> withoutEncoded(const QList<QUuid>& ids)
    {
        // The output name follows the command line's settings, taken before the sources are
        // read, as adopt() would take them.
        for (const QUuid& id : ids) {
            if (m_options.hasOverrides())
                applyOverrides(id);
            m_overridden.insert(id);
        }
        const auto probing = [&] {
            return std::any_of(ids.cbegin(), ids.cend(), [this](const QUuid& id) {
                const std::optional<EncodingJob> job = m_model.store().job(id);
                return job && job->probing;
            });
        };
        if (probing()) {
            QEventLoop loop;
            const auto quitOnceRead = [&] {
                if (!probing())
                    loop.quit();
            };
            connect(&m_model.store(), &JobStore::jobChanged, &loop, quitOnceRead);
            connect(&m_model.store(), &JobStore::countsChanged, &loop, quitOnceRead);
            loop.exec();
        }
        if (m_interruptStatus)
            return std::nullopt;
        QList<QUuid> kept;
        QList<QUuid> done;
        for (const QUuid& id : ids) {
            const std::optional<EncodingJob> job = m_model.store().job(id);
            const std::optional<QString> output = job ? encodedBefore(*job) : std::nullopt;
            if (!output) {
                kept.append(id);
                continue;
            }
            m_reporter.alreadyEncoded(*job, *output);
            done.append(id);
        }
        m_alreadyEncoded += int(done.size());
        m_model.scheduler().remove(done);
        return kept;
    }

    // From now on every job the model adds (the watch folder's) is adopted as it comes.
    void adoptArrivals() { m_adoptArrivals = true; }

    // Jobs are read once, in order; a read job is not read again, so following 100,000
    // readings costs one pass over them, not one per reading.
    bool anyProbing()
    {
        for (; m_probedUpTo < m_order.size(); ++m_probedUpTo) {
            const qsizetype row = m_model.store().rowOf(m_order.at(m_probedUpTo));
            if (row >= 0 && m_model.store().jobs().at(row).probing)
                return true;
        }
        return false;
    }

    // Encoding starts once every given file has been read: the reading sets the job's bitrate.
    void startOnceProbed()
    {
        m_startWhenProbed = true;
        scheduleCheck();
    }

    // A dry run ends once every source has been read.
    void endOnceProbed()
    {
        m_endWhenProbed = true;
        scheduleCheck();
    }

    // Ends the event loop once every job has ended; not while watching.
    void scheduleCheck()
    {
        if (!m_checkPending && !watching()) {
            m_checkPending = true;
            QTimer::singleShot(0, this, &Session::check);
        }
    }

    // Cancels what runs, removes the partial files, and reports the jobs that will not end.
    void interrupt(int status)
    {
        QList<EncodingJob> open;
        for (const EncodingJob& job : m_model.store().jobs()) {
            if (!isTerminal(job.status) && m_seen.contains(job.id))
                open.append(job);
        }
        m_model.prepareForQuit();
        for (const EncodingJob& job : std::as_const(open))
            m_reporter.cancelled(job);
        m_interrupted = true;
        m_interruptStatus = status;
        QCoreApplication::exit(status);
    }

    CliSummary summary(qint64 elapsedMs) const
    {
        CliSummary s;
        s.elapsedMs = elapsedMs;
        s.skipped = m_skipped;
        s.alreadyEncoded = m_alreadyEncoded;
        for (const QUuid& id : m_order) {
            const std::optional<EncodingJob> job = m_model.store().job(id);
            if (!job)
                continue;
            if (job->status == JobStatus::completed) {
                ++s.finished;
                s.bytesWritten += QFileInfo(job->outputPath.value_or(QString())).size();
            } else if (job->status == JobStatus::failed) {
                ++s.failed;
            } else if (job->status == JobStatus::cancelled || m_interrupted) {
                ++s.cancelled;
            }
        }
        return s;
    }

private:
    struct Seen
    {
        JobStatus status = JobStatus::queued;
        double progress = 0;
        std::optional<double> eta;
        std::optional<bool> hardware;
    };
    struct Held
    {
        QString text;
        bool isError;
        bool isBanner;
    };

    void message(const QString& text, bool isError, bool isBanner)
    {
        if (m_held)
            m_held->append({text, isError, isBanner});
        else if (isBanner)
            m_reporter.banner(text);
        else
            m_reporter.log(text, isError);
    }

    void applyOverrides(const QUuid& id)
    {
        m_model.store().update(id, [&](EncodingJob& job) {
            PartialFields fields = m_options.overrides;
            // Watch jobs write where the watch rules say, which -o has already set; taken
            // as is, an output folder equal to the watch folder would feed every result back.
            if (watching() && isInsideFolder(resolvedWatchPath(job.sourcePath),
                                             resolvedWatchPath(*m_options.watchFolder)))
                fields.outputDirectory.reset();
            ParsedJob layer = fields.asJob(job.sourcePath);
            if (auto merged =
                    settingsByMerging(layer, job.settings, m_model.persistence().savedPresets()))
                job.settings = *merged;
        });
    }

    void onChanged(int row)
    {
        const EncodingJob& job = m_model.store().jobs().at(row);
        const auto it = m_seen.find(job.id);
        if (it == m_seen.end())
            return;
        Seen& seen = *it;
        if (job.status == JobStatus::encoding) {
            if (job.hardwareEncoder && job.hardwareEncoder != seen.hardware) {
                if (m_options.verbose)
                    addFFmpegLogJob(job.sourcePath, job.outputPath.value_or(QString()),
                                    job.sourceName());
                m_reporter.ready(job);
            } else if (seen.status == JobStatus::encoding &&
                       (job.progress != seen.progress || job.etaSeconds != seen.eta)) {
                m_reporter.progress(job);
            }
        }
        if (job.status != seen.status) {
            if (job.status == JobStatus::completed)
                m_reporter.finished(job);
            else if (job.status == JobStatus::failed)
                m_reporter.failed(job);
            else if (job.status == JobStatus::cancelled)
                m_reporter.cancelled(job);
            if (isTerminal(job.status) && m_options.verbose)
                removeFFmpegLogJob(job.sourcePath);
        }
        seen = Seen{job.status, job.progress, job.etaSeconds, job.hardwareEncoder};
        if (m_startWhenProbed || m_endWhenProbed)
            scheduleCheck();
    }

    void check()
    {
        m_checkPending = false;
        if (m_endWhenProbed) {
            if (!anyProbing())
                QCoreApplication::exit(kExitFinished);
            return;
        }
        if (m_startWhenProbed) {
            if (anyProbing())
                return;
            m_startWhenProbed = false;
            m_model.scheduler().startQueue();
        }
        // Ended jobs stay ended here, so each is passed over once.
        const QList<EncodingJob>& jobs = m_model.store().jobs();
        m_endedUpTo = std::min(m_endedUpTo, jobs.size());
        while (m_endedUpTo < jobs.size() && isTerminal(jobs.at(m_endedUpTo).status))
            ++m_endedUpTo;
        if (m_endedUpTo == jobs.size()) {
            QCoreApplication::exit(kExitFinished);
            return;
        }
        // Queued jobs with nothing running, in a queue that has stopped, would otherwise wait
        // for a start that nothing gives.
        if (m_model.store().activeCount() == 0 && m_model.store().pausedCount() == 0)
            m_model.scheduler().startQueue();
    }

    AppModel& m_model;
    CliReporter& m_reporter;
    const CliOptions& m_options;
    QHash<QUuid, Seen> m_seen;
    QList<QUuid> m_order;
    QSet<QUuid> m_overridden;
    std::optional<QList<Held>> m_held;
    int m_skipped = 0;
    int m_alreadyEncoded = 0;
    std::optional<int> m_interruptStatus;
    qsizetype m_probedUpTo = 0;
    qsizetype m_endedUpTo = 0;
    bool m_checkPending = false;
    bool m_startWhenProbed = false;
    bool m_endWhenProbed = false;
    bool m_interrupted = false;
    bool m_adoptArrivals = false;
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
    Session session(model, *reporter, options);

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
        QList<QUuid> others;
        for (const QUuid& id : std::as_const(ids)) {
            if (!share.contains(id))
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
