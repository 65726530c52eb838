// Intake: every way a job enters the queue except the watch folder.

#include "CorvelEncoder/model/Intake.h"

#include "CorvelEncoder/model/ActivityFeed.h"
#include "CorvelEncoder/model/DesktopServices.h"
#include "CorvelEncoder/model/IntakeFiles.h"
#include "CorvelEncoder/model/JobStore.h"
#include "CorvelEncoder/model/MediaProber.h"
#include "CorvelEncoder/model/ModelClock.h"
#include "CorvelEncoder/model/Persistence.h"
#include "CorvelEncoder/model/Scheduler.h"
#include "CorvelEncoder/platform/QuitSignals.h"
#include "CorvelEncoderCore/CorvelIdentity.h"
#include "CorvelEncoderCore/EnqueueLink.h"
#include "CorvelEncoderCore/JobFile.h"
#include "CorvelEncoderCore/Naming.h"
#include "CorvelEncoderCore/NewJobSettings.h"
#include "CorvelEncoderCore/PathNormalization.h"
#include "CorvelEncoderCore/Presets.h"
#include "CorvelEncoderCore/SettingsMerging.h"

#include <QFileInfo>
#include <QLocale>
#include <QPointer>

#include <algorithm>

namespace corvel {

namespace {

constexpr qint64 kIncomingRepeatMs = 1500;
QString moviePatterns()
{
    QStringList patterns;
    for (const QString& ext : videoExtensions())
        patterns << QStringLiteral("*.") + ext;
    patterns.sort();
    return patterns.join(u' ');
}

const QString kJobFilePatterns = CorvelIdentity::jobFilePatterns;

// What an open panel calls with the chosen paths; nothing once the model is gone.
std::function<void(const QStringList&)> importChosen(Intake* intake)
{
    return [self = QPointer<Intake>(intake)](const QStringList& paths) {
        if (!self)
            return;
        QList<QUrl> urls;
        for (const QString& path : paths)
            urls.append(QUrl::fromLocalFile(path));
        self->importURLs(urls, false);
    };
}

QString lastPathComponent(const QString& path)
{
    return QFileInfo(path).fileName();
}

const QString kNotAMovie = QStringLiteral(": not a movie this app reads.");

} // namespace

Intake::Intake(JobStore& jobs, Persistence& persistence, Scheduler& scheduler, ActivityFeed& feed,
               DesktopServices& desktop, ModelClock& clock, MediaProber* prober, QObject* parent)
    : QObject(parent), m_jobs(jobs), m_persistence(persistence), m_scheduler(scheduler),
      m_feed(feed), m_desktop(desktop), m_clock(clock), m_prober(prober)
{}

Intake::~Intake() = default;

JobSettings Intake::settingsForNewJob() const
{
    const AppSettings& settings = m_persistence.settings();
    return settingsFromPreset(settings.lastPresetID, m_persistence.savedPresets(),
                              settings.defaultOutputDirectory, settings.revealWhenDone);
}

EncodingJob newJob(const QString& sourcePath, const JobSettings& settings)
{
    EncodingJob job;
    job.id = QUuid::createUuid();
    job.sourcePath = sourcePath;
    job.probing = true;
    job.settings = settings;
    job.status = JobStatus::queued;
    job.progress = 0;
    job.addedAt = QDateTime::currentDateTimeUtc();
    return job;
}

bool Intake::showIntro() const
{
    return !m_persistence.settings().hasSeenIntro;
}

void Intake::dismissIntro()
{
    if (m_persistence.settings().hasSeenIntro)
        return;
    m_persistence.updateSettings([](AppSettings& s) { s.hasSeenIntro = true; });
    emit introChanged();
}

void Intake::handleIncoming(const QList<QUrl>& urls)
{
    const QDateTime now = m_clock.now();
    m_recentImports.removeIf([&](const std::pair<QString, QDateTime>& entry) {
        return entry.second.msecsTo(now) > kIncomingRepeatMs;
    });
    QList<QUrl> fresh;
    for (const QUrl& url : urls) {
        const QString key = url.toString(QUrl::FullyEncoded);
        const bool seen = std::any_of(m_recentImports.cbegin(), m_recentImports.cend(),
                                      [&](const auto& entry) { return entry.first == key; });
        if (seen)
            continue;
        m_recentImports.append({key, now});
        fresh.append(url);
    }
    if (!fresh.isEmpty())
        importURLs(fresh, true);
}

bool Intake::handleDrop(const QList<QUrl>& urls)
{
    if (urls.isEmpty())
        return false;
    QList<QUrl> files;
    for (const QUrl& url : urls) {
        if (url.isLocalFile() && !url.toLocalFile().isEmpty())
            files.append(url);
    }
    if (files.isEmpty())
        m_feed.setBanner(QStringLiteral("Could not read that drop."));
    else
        importURLs(files, false);
    return true;
}

void Intake::addFiles()
{
    OpenPanelRequest request;
    request.title = QStringLiteral("Add to Queue");
    request.message = QStringLiteral("Choose footage, a folder, or a job file from Corvel Brisk.");
    request.canChooseFiles = true;
    request.canChooseDirectories = true;
    request.allowsMultipleSelection = true;
    request.nameFilters = {
        QStringLiteral("Movies and job files (%1 %2)").arg(moviePatterns(), kJobFilePatterns),
        QStringLiteral("Movies (%1)").arg(moviePatterns()),
        QStringLiteral("Job files (%1)").arg(kJobFilePatterns)};
    m_desktop.openPanel(request, importChosen(this));
}

void Intake::addFolder()
{
    OpenPanelRequest request;
    request.title = QStringLiteral("Add Folder");
    request.message = QStringLiteral("Video files inside this folder are added to the queue.");
    request.canChooseFiles = false;
    request.canChooseDirectories = true;
    request.allowsMultipleSelection = true;
    m_desktop.openPanel(request, importChosen(this));
}

void Intake::importURLs(const QList<QUrl>& urls, bool fromOutside)
{
    dismissIntro();
    QList<QUuid> ids;
    QStringList senders;
    bool start = false;
    for (const QUrl& url : urls) {
        Result result = importOne(url);
        ids += result.ids;
        if (result.sender && !senders.contains(*result.sender))
            senders.append(*result.sender);
        start = start || result.start;
    }
    if (ids.isEmpty())
        return;

    m_jobs.setSelection(QSet<QUuid>(ids.cbegin(), ids.cend()));
    const qsizetype count = ids.size();
    QString line;
    if (senders.isEmpty()) {
        line = count == 1 ? QStringLiteral("Added ") +
                                lastPathComponent(m_jobs.job(ids.first())->sourcePath)
                          : QStringLiteral("Added %1 files").arg(count);
    } else {
        line = count == 1
                   ? QStringLiteral("Added 1 file from ") + senders.first()
                   : QStringLiteral("Added %1 files from %2").arg(count).arg(senders.first());
    }
    m_feed.log(line);
    if (start)
        m_scheduler.startQueue();
    if (fromOutside)
        m_desktop.activateApplication();
}

Intake::Result Intake::importOne(const QUrl& url)
{
    if (url.scheme().toLower() == CorvelIdentity::urlScheme)
        return importScheme(url);
    if (const auto why = notALocalPath(url.toString())) {
        m_feed.setBanner(*why);
        return {};
    }
    if (!url.isLocalFile())
        return {};
    const QString path = url.toLocalFile();
    if (path.isEmpty())
        return {};
    if (QFileInfo(path).isDir())
        return importFolder(path);
    if (QFileInfo(path).suffix().toLower() == u"json" && !looksLikeJobFile(path) &&
        !isCorvelJobPath(path)) {
        m_feed.setBanner(lastPathComponent(path) + QStringLiteral(" is not a Corvel Encoder job."));
        return {};
    }
    Result result;
    if (!importFile(path, result)) {
        const QString text = lastPathComponent(path) + kNotAMovie;
        m_feed.setBanner(text);
        m_feed.log(QStringLiteral("Skipped ") + text);
    }
    return result;
}

bool Intake::importFile(const QString& path, Result& into)
{
    Result one;
    if (isCorvelJobPath(path) || looksLikeJobFile(path)) {
        one = importJobFile(path);
    } else if (isVideoFilePath(path)) {
        // Queued again on purpose or not, the user learns it is there twice.
        const QList<EncodingJob>& jobs = m_jobs.jobs();
        if (std::any_of(jobs.cbegin(), jobs.cend(), [&path](const EncodingJob& queued) {
                return queued.sourcePath == path &&
                       (queued.status == JobStatus::queued ||
                        queued.status == JobStatus::encoding || queued.status == JobStatus::paused);
            }))
            m_feed.setBanner(lastPathComponent(path) +
                             QStringLiteral(" was already in the queue; it is there twice now."));
        const EncodingJob job = newJob(path, settingsForNewJob());
        m_jobs.addJobs({job});
        probe(job.id, path);
        one.ids.append(job.id);
    } else {
        return false;
    }
    into.ids += one.ids;
    if (!into.sender)
        into.sender = one.sender;
    into.start = into.start || one.start;
    return true;
}

Intake::Result Intake::importFolder(const QString& folder)
{
    Result all;
    QStringList unreadable;
    QStringList skipped;
    for (const QString& file : collectFiles(folder, &unreadable)) {
        if (!importFile(file, all))
            skipped.append(lastPathComponent(file));
    }
    const QString where = lastPathComponent(folder);
    for (const QString& file : std::as_const(unreadable)) {
        m_feed.log(
            QStringLiteral("Skipped %1 in %2: its name is not UTF-8, so it cannot be opened.")
                .arg(lastPathComponent(file), where),
            true);
    }
    if (!skipped.isEmpty()) {
        constexpr qsizetype kNamed = 5;
        QString names = QStringList(skipped.mid(0, kNamed)).join(QStringLiteral(", "));
        if (skipped.size() > kNamed)
            names += QStringLiteral(", \u2026");
        m_feed.log(QStringLiteral("Skipped %1 in %2 that %3 not movies this app reads: %4")
                       .arg(skipped.size() == 1 ? QStringLiteral("1 file")
                                                : QStringLiteral("%1 files").arg(skipped.size()),
                            where,
                            skipped.size() == 1 ? QStringLiteral("is") : QStringLiteral("are"),
                            names));
    }
    return all;
}

Intake::Result Intake::importScheme(const QUrl& url)
{
    // Every link this app understands carries its request in the query.
    if (!url.isValid() || !url.hasQuery()) {
        m_feed.reportError(QStringLiteral("Not a corvelencoder link."));
        return {};
    }
    return importParsed(parseEnqueueURL(url));
}

Intake::Result Intake::importJobFile(const QString& path)
{
    return importParsed(parseJobFile(path));
}

Intake::Result Intake::importParsed(const JobFileResult& read)
{
    if (!read) {
        m_feed.reportError(read.error().description());
        return {};
    }
    const ParsedJobs& parsed = *read;
    QList<EncodingJob> added;
    added.reserve(parsed.jobs.size());
    const JobSettings defaults = settingsForNewJob();
    // Each kind of failure is said once, with how many entries it stopped.
    QHash<QString, qsizetype> failures;
    QStringList failureOrder;
    for (const ParsedJob& entry : parsed.jobs) {
        if (QuitSignals::arrived())
            break; // the process ends: 100,000 entries would only delay that
        auto settings = settingsByMerging(entry, defaults, m_persistence.savedPresets());
        if (!settings) {
            // One bad entry does not stop the others.
            const QString text = settings.error().description();
            if (failures[text]++ == 0)
                failureOrder.append(text);
            continue;
        }
        added.append(newJob(entry.sourcePath, *settings));
    }
    for (const QString& text : std::as_const(failureOrder)) {
        const qsizetype count = failures.value(text);
        m_feed.reportError(count == 1 ? text
                                      : QStringLiteral("%1 (%2 entries)")
                                            .arg(text, QLocale(QLocale::English).toString(count)));
    }
    m_jobs.addJobs(added);
    Result result;
    for (const EncodingJob& job : added) {
        probe(job.id, job.sourcePath);
        result.ids.append(job.id);
    }
    result.sender = senderDisplayName(parsed.sender);
    result.start = parsed.start;
    return result;
}

void Intake::probe(const QUuid& id, const QString& path)
{
    if (!m_prober) {
        m_ownProber = std::make_unique<EngineProber>();
        m_prober = m_ownProber.get();
    }
    QPointer<Intake> self(this);
    m_prober->probe(path, this, [self, id](const MediaProber::Result& result) {
        if (self)
            self->applyProbe(id, result);
    });
}

void Intake::probeUnread()
{
    // A copy: a prober may answer at once, and its answer changes the store.
    const QList<EncodingJob> jobs = m_jobs.jobs();
    for (const EncodingJob& job : jobs) {
        if (job.probing)
            probe(job.id, job.sourcePath);
    }
}

void Intake::applyProbe(const QUuid& id, const std::expected<SourceInfo, QString>& result)
{
    const qsizetype row = m_jobs.rowOf(id);
    // A job is read once; a second answer for it would put a job that has failed since back
    // in the queue.
    if (row < 0 || !m_jobs.jobs().at(row).probing)
        return;
    if (result) {
        m_jobs.update(id, [&](EncodingJob& job) {
            job.sourceInfo = *result;
            job.probing = false;
            // Settings of a job that has run or is running describe its file and stay.
            if (job.status != JobStatus::queued && job.status != JobStatus::failed)
                return;
            job.errorMessage.reset();
            job.status = JobStatus::queued;
            if (const auto mbps = automaticBitrateMbps(
                    job.settings.body, PixelSize{result->width, result->height}, result->frameRate))
                job.settings.body.bitrateMbps = *mbps;
        });
    } else {
        QString name;
        m_jobs.update(id, [&](EncodingJob& job) {
            job.probing = false;
            if (job.status == JobStatus::queued) {
                job.status = JobStatus::failed;
                job.errorMessage = result.error();
            }
            name = job.sourceName();
        });
        m_feed.log(QStringLiteral("Could not read %1: %2").arg(name, result.error()), true);
    }
    m_jobs.requestSave();
    m_scheduler.fillSlots();
}

} // namespace corvel
