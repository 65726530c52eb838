#include "cli/CliRunner.h"

#include "CorvelEncoder/AppFiles.h"
#include "CorvelEncoder/AppModel.h"
#include "CorvelEncoder/HeadlessDesktop.h"
#include "CorvelEncoder/IntakeFiles.h"
#include "CorvelEncoder/MediaProber.h"
#include "CorvelEncoder/WatchRules.h"
#include "CorvelEncoder/engine/FFmpegEncodeSession.h"
#include "CorvelEncoderCore/CorvelIdentity.h"
#include "CorvelEncoderCore/Presets.h"
#include "CorvelEncoderCore/SettingsMerging.h"
#include "cli/CliReporter.h"
#include "cli/CliWatchMemory.h"
#include "cli/MemoryStateStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

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

// A dry run inspects nothing and encodes nothing.
class NoProber final : public MediaProber
{
public:
    void probe(const QString&, QObject*, Done) override {}
};

class NoSessions final : public EncodeSessionFactory
{
public:
    std::unique_ptr<EncodeSession> create(const QUuid&, const QString&, const JobSettings&,
                                          EncodeCallbacks) override
    {
        return nullptr;
    }
};

// Signals reach the event loop through a pipe; only write() and _exit() run in the handler.
int g_signalPipe[2] = {-1, -1};
std::atomic<int> g_signalCount{0};

void onSignal(int)
{
    if (g_signalCount.fetch_add(1) >= 1)
        _exit(kExitInterrupted);
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = write(g_signalPipe[1], &byte, 1);
}

bool installSignalHandlers()
{
    if (pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A closed reader of our output must not kill the encodes mid-file.
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

bool isTerminal(JobStatus status)
{
    return status == JobStatus::completed || status == JobStatus::failed ||
           status == JobStatus::cancelled;
}

// Follows the model and tells the reporter what changed, job by job.
class Session final : public QObject
{
public:
    Session(AppModel& model, CliReporter& reporter, const CliOptions& options)
        : m_model(model), m_reporter(reporter), m_options(options)
    {
        connect(&m_model, &AppModel::jobsInserted, this, &Session::onInserted);
        connect(&m_model, &AppModel::jobChanged, this, &Session::onChanged);
        connect(&m_model, &AppModel::logLineAppended, this, [this] {
            const LogLine& line = m_model.logLines().constLast();
            if (!m_options.dryRun)
                m_reporter.log(line.text, line.isError);
            else if (line.isError)
                toStderr(line.text);
        });
        connect(&m_model, &AppModel::bannerChanged, this, [this] {
            if (!m_model.banner())
                return;
            if (!m_options.dryRun)
                m_reporter.banner(*m_model.banner());
            else
                toStderr(*m_model.banner());
        });
        connect(&m_model, &AppModel::countsChanged, this, &Session::scheduleCheck);
    }

    bool watching() const { return m_options.watchFolder.has_value(); }
    qsizetype addedCount() const { return m_seen.size(); }

    // Encoding starts once every given file has been read: the reading sets the job's bitrate,
    // and a reading that came back after its job had already failed would queue it again.
    void startOnceProbed()
    {
        m_startWhenProbed = true;
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
    void interrupt()
    {
        QList<EncodingJob> open;
        for (const EncodingJob& job : m_model.jobs()) {
            if (!isTerminal(job.status))
                open.append(job);
        }
        m_model.prepareForQuit();
        for (const EncodingJob& job : std::as_const(open))
            m_reporter.cancelled(job);
        QCoreApplication::exit(kExitInterrupted);
    }

private:
    // A dry run keeps stdout for its jobs; what went wrong goes to stderr, each text once.
    void toStderr(const QString& text)
    {
        if (text == m_lastError)
            return;
        m_lastError = text;
        std::fprintf(stderr, "%s\n", qPrintable(text));
    }

    struct Seen
    {
        JobStatus status = JobStatus::queued;
        double progress = 0;
        std::optional<double> eta;
        std::optional<bool> hardware;
    };

    void onInserted(int first, int last)
    {
        for (int row = first; row <= last; ++row) {
            const QUuid id = m_model.jobs().at(row).id;
            if (m_options.hasOverrides())
                applyOverrides(id);
            const EncodingJob& job = m_model.jobs().at(row);
            m_seen.insert(id, Seen{job.status, job.progress, job.etaSeconds, job.hardwareEncoder});
            m_reporter.added(job);
        }
    }

    // The command line is the strongest layer: its preset and fields go over what the job
    // already has, the same way a job file's go over the defaults.
    void applyOverrides(const QUuid& id)
    {
        m_model.update(id, [&](EncodingJob& job) {
            PartialFields fields = m_options.overrides;
            // Watch jobs write where the watch rules say, which -o has already set; taken
            // as is, an output folder equal to the watch folder would feed every result back.
            if (watching() && isInsideFolder(resolvedWatchPath(job.sourcePath),
                                             resolvedWatchPath(*m_options.watchFolder)))
                fields.outputDirectory.reset();
            ParsedJob layer = fields.asJob(job.sourcePath);
            if (auto merged = settingsByMerging(layer, job.settings, m_model.savedPresets()))
                job.settings = *merged;
        });
    }

    void onChanged(int row)
    {
        const EncodingJob& job = m_model.jobs().at(row);
        const auto it = m_seen.find(job.id);
        if (it == m_seen.end())
            return;
        Seen& seen = *it;
        if (job.status == JobStatus::encoding) {
            if (job.hardwareEncoder && job.hardwareEncoder != seen.hardware)
                m_reporter.ready(job);
            else if (seen.status == JobStatus::encoding &&
                     (job.progress != seen.progress || job.etaSeconds != seen.eta))
                m_reporter.progress(job);
        }
        if (job.status != seen.status) {
            if (job.status == JobStatus::completed)
                m_reporter.finished(job);
            else if (job.status == JobStatus::failed)
                m_reporter.failed(job);
            else if (job.status == JobStatus::cancelled)
                m_reporter.cancelled(job);
        }
        seen = Seen{job.status, job.progress, job.etaSeconds, job.hardwareEncoder};
        if (m_startWhenProbed)
            scheduleCheck();
    }

    void check()
    {
        m_checkPending = false;
        if (m_startWhenProbed) {
            const QList<EncodingJob>& jobs = m_model.jobs();
            if (std::any_of(jobs.cbegin(), jobs.cend(),
                            [](const EncodingJob& job) { return job.probing; }))
                return;
            m_startWhenProbed = false;
            m_model.startQueue();
        }
        bool open = false;
        bool failed = false;
        for (const EncodingJob& job : m_model.jobs()) {
            open = open || !isTerminal(job.status);
            failed =
                failed || job.status == JobStatus::failed || job.status == JobStatus::cancelled;
        }
        if (!open) {
            QCoreApplication::exit(failed ? kExitFailed : kExitFinished);
            return;
        }
        // A failed job that a late successful probe put back in the queue would otherwise
        // wait for a slot that nothing frees.
        if (m_model.activeCount() == 0 && m_model.pausedCount() == 0)
            m_model.startQueue();
    }

    AppModel& m_model;
    CliReporter& m_reporter;
    const CliOptions& m_options;
    QHash<QUuid, Seen> m_seen;
    bool m_checkPending = false;
    bool m_startWhenProbed = false;
    QString m_lastError;
};

void printError(const QString& text)
{
    std::fprintf(stderr, "corvel-encode: %s\n", qPrintable(text));
}

} // namespace

int runCli(const QStringList& arguments)
{
    const auto parsed = parseCliOptions(arguments, QDir::currentPath());
    if (!parsed) {
        printError(parsed.error());
        std::fprintf(stderr, "Try corvel-encode --help.\n");
        return kExitUsage;
    }
    const CliOptions& options = *parsed;
    if (options.help) {
        std::fputs(qPrintable(cliUsage()), stdout);
        return kExitFinished;
    }
    if (options.version) {
        std::printf("%s\n", QString(CorvelIdentity::encoderTag).toUtf8().constData());
        return kExitFinished;
    }
    if (options.inputs.isEmpty() && !options.watchFolder) {
        printError(QStringLiteral("Nothing to encode: name a movie, a folder, a job file or a "
                                  "corvelencoder:// link."));
        return kExitUsage;
    }
    if (options.watchFolder && options.dryRun) {
        printError(QStringLiteral("--watch and --dry-run do not go together."));
        return kExitUsage;
    }
    if (options.watchFolder && !QFileInfo(*options.watchFolder).isDir()) {
        printError(
            QStringLiteral("Cannot watch %1: it is not a folder.").arg(*options.watchFolder));
        return kExitUsage;
    }

    const QString stateDirectory = options.stateDirectory.value_or(desktopStateDirectory());
    MemoryStateStore store(stateDirectory);
    CliWatchMemory watchMemory;
    QString watchFolder;
    if (options.watchFolder) {
        watchMemory = readCliWatchMemory(stateDirectory);
        watchFolder = resolvedWatchPath(*options.watchFolder);
    }
    HeadlessDesktop desktop;
    NoSessions noSessions;
    FFmpegEncodeSessionFactory ffmpegSessions;
    EncodeSessionFactory& sessions =
        options.dryRun ? static_cast<EncodeSessionFactory&>(noSessions) : ffmpegSessions;
    NoProber noProber;

    AppModel model(store, AppFiles::defaultOutputDirectory(), sessions, desktop);
    if (options.dryRun)
        model.setProber(noProber);

    if (options.overrides.presetRaw &&
        !resolvePresetID(*options.overrides.presetRaw, model.savedPresets())) {
        printError(QStringLiteral("Unknown preset \"%1\".").arg(*options.overrides.presetRaw));
        return kExitUsage;
    }

    // Only this run's model sees these; the store keeps them from the desktop's files.
    model.updateSettings([&](AppSettings& s) {
        s.hasSeenIntro = true;
        s.watchEnabled = false;
        if (options.parallel)
            s.maxParallel = *options.parallel;
        if (options.watchFolder) {
            s.watchEnabled = true;
            s.watchFolder = *options.watchFolder;
            s.watchOutputDirectory = options.overrides.outputDirectory.value_or(QString());
            // A folder an earlier run watched has its files already noted; what is new since
            // then arrived while no run was watching and is taken.
            s.watchProcessExisting =
                options.watchExisting || watchMemory.folders.contains(watchFolder);
            s.seenWatchKeys = watchMemory.keys;
            if (options.overrides.presetRaw)
                s.watchPresetID =
                    *resolvePresetID(*options.overrides.presetRaw, model.savedPresets());
        }
    });

    std::unique_ptr<CliReporter> reporter =
        options.json ? makeJsonReporter(stdout)
                     : makeTextReporter(stdout, stderr, isatty(STDOUT_FILENO) == 1);
    Session session(model, *reporter, options);

    if (!options.dryRun && !installSignalHandlers())
        printError(QStringLiteral("Ctrl-C will end the process without cleaning up."));
    std::unique_ptr<QSocketNotifier> notifier;
    if (g_signalPipe[0] >= 0) {
        notifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, &session, [&] {
            char byte;
            while (read(g_signalPipe[0], &byte, 1) > 0) {
            }
            session.interrupt();
        });
    }

    QStringList commandLine{arguments.value(0)};
    commandLine += options.inputs;
    model.handleIncoming(commandLineURLs(commandLine, QDir::currentPath()));

    if (session.addedCount() == 0 && !options.watchFolder) {
        printError(model.banner().value_or(QStringLiteral("Nothing importable was given.")));
        return kExitUsage;
    }

    if (options.dryRun) {
        for (const EncodingJob& job : model.jobs())
            reporter->planned(job);
        reporter->done();
        return kExitFinished;
    }

    if (options.watchFolder) {
        model.refreshWatch();
        if (!model.isWatching()) {
            printError(
                QStringLiteral("Cannot watch %1: it is not a folder.").arg(*options.watchFolder));
            return kExitUsage;
        }
        if (!watchMemory.folders.contains(watchFolder))
            watchMemory.folders.append(watchFolder);
        auto remember = [&] {
            watchMemory.keys = model.settings().seenWatchKeys;
            if (!writeCliWatchMemory(stateDirectory, watchMemory))
                printError(QStringLiteral("Cannot keep the watch folder's handled files in %1.")
                               .arg(stateDirectory));
        };
        remember();
        QObject::connect(&model, &AppModel::settingsChanged, &session, [&] {
            if (model.settings().seenWatchKeys != watchMemory.keys)
                remember();
        });
        const QString watching = QStringLiteral("Watching %1 \u2192 %2 with %3; Ctrl-C to stop")
                                     .arg(*options.watchFolder, model.resolvedWatchOutput(),
                                          model.settingsForWatch().presetName);
        if (options.json)
            reporter->log(watching, false);
        else
            std::printf("%s\n", watching.toUtf8().constData());
        std::fflush(stdout);
    }
    if (session.addedCount() > 0 && options.watchFolder)
        model.startQueue();
    else if (session.addedCount() > 0)
        session.startOnceProbed();
    session.scheduleCheck();
    const int status = QCoreApplication::exec();
    reporter->done();
    return status;
}

} // namespace corvel
