#include "cli/CliSession.h"

#include "CorvelEncoder/engine/EncodePlan.h"
#include "CorvelEncoder/model/AppModel.h"
#include "CorvelEncoder/model/IntakeFiles.h"
#include "CorvelEncoder/model/WatchRules.h"
#include "CorvelEncoder/platform/QuitSignals.h"
#include "CorvelEncoderCore/CorvelIdentity.h"
#include "CorvelEncoderCore/JobTexts.h"
#include "CorvelEncoderCore/PathNormalization.h"
#include "CorvelEncoderCore/Presets.h"
#include "CorvelEncoderCore/SettingsMerging.h"
#include "cli/CliReporter.h"
#include "cli/CliRunner.h"
#include "cli/EncodedBefore.h"
#include "cli/FFmpegLogRoute.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QSet>
#include <QTimer>

#include <algorithm>

namespace corvel {

namespace {

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

} // namespace

CliSession::CliSession(AppModel& model, CliReporter& reporter, const CliOptions& options)
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
    connect(&m_model.store(), &JobStore::jobChanged, this, &CliSession::onChanged);
    // While watching, what the watch folder brings is this run's too.
    connect(&m_model.store(), &JobStore::jobsInserted, this, [this](int first, int last) {
        if (!m_adoptArrivals)
            return;
        QList<QUuid> ids;
        for (int row = first; row <= last; ++row)
            ids.append(m_model.store().jobs().at(row).id);
        adopt(ids);
    });
    connect(&m_model.store(), &JobStore::countsChanged, this, &CliSession::scheduleCheck);
    connect(&m_model.store(), &JobStore::jobsRemoved, this, [this] { m_endedUpTo = 0; });
}

QList<QUuid> CliSession::import(const QString& input)
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

void CliSession::adopt(const QList<QUuid>& ids)
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
        m_seen.insert(id, Seen{job->status, job->progress, job->etaSeconds, job->hardwareEncoder});
        if (!m_options.dryRun)
            m_reporter.added(*job);
        if (m_options.verbose)
            addFFmpegLogJob(job->sourcePath, QString(), job->sourceName());
    }
}

std::optional<QList<QUuid>> CliSession::withoutEncoded(const QList<QUuid>& ids)
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

bool CliSession::anyProbing()
{
    for (; m_probedUpTo < m_order.size(); ++m_probedUpTo) {
        const qsizetype row = m_model.store().rowOf(m_order.at(m_probedUpTo));
        if (row >= 0 && m_model.store().jobs().at(row).probing)
            return true;
    }
    return false;
}

void CliSession::startOnceProbed()
{
    m_startWhenProbed = true;
    scheduleCheck();
}

void CliSession::endOnceProbed()
{
    m_endWhenProbed = true;
    scheduleCheck();
}

void CliSession::scheduleCheck()
{
    if (!m_checkPending && !watching()) {
        m_checkPending = true;
        QTimer::singleShot(0, this, &CliSession::check);
    }
}

void CliSession::interrupt(int status)
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

CliSummary CliSession::summary(qint64 elapsedMs) const
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

void CliSession::message(const QString& text, bool isError, bool isBanner)
{
    if (m_held)
        m_held->append({text, isError, isBanner});
    else if (isBanner)
        m_reporter.banner(text);
    else
        m_reporter.log(text, isError);
}

void CliSession::applyOverrides(const QUuid& id)
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

void CliSession::onChanged(int row)
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

void CliSession::check()
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

} // namespace corvel
