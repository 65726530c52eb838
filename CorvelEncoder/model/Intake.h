#pragma once

#include "CorvelEncoderCore/JobFile.h"
#include "CorvelEncoderCore/ParsedJob.h"
#include "CorvelEncoderCore/Records.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <expected>
#include <memory>
#include <optional>

namespace corvel {

class ActivityFeed;
class DesktopServices;
class JobStore;
class MediaProber;
class ModelClock;
class Persistence;
class Scheduler;

// Every way a job enters the queue but the watch folder: movies, folders, job files and links,
// by drop, chooser or from outside. New jobs are read (probed) off the main thread; a job
// waits for its reading before it is launched.
class Intake final : public QObject
{
    Q_OBJECT

public:
    // The desktop services, the clock and `prober` must outlive it. Sources are read by
    // `prober`, or by the engine when it is null.
    Intake(JobStore& jobs, Persistence& persistence, Scheduler& scheduler, ActivityFeed& feed,
           DesktopServices& desktop, ModelClock& clock, MediaProber* prober = nullptr,
           QObject* parent = nullptr);
    ~Intake() override;
    Q_DISABLE_COPY_MOVE(Intake)

    // What one import added: the jobs, who sent them, whether they asked to start.
    struct Result
    {
        QList<QUuid> ids;
        std::optional<QString> sender;
        bool start = false;
    };

    // Classifies each URL (link, folder, job file, movie, other), adds the jobs, selects them
    // and logs one line; starts the queue when a job file or link asks for it.
    void importURLs(const QList<QUrl>& urls, bool fromOutside);
    // Files and links from outside the window: a URL seen in the last 1.5 s is skipped.
    void handleIncoming(const QList<QUrl>& urls);
    // The window's drop; false for an empty drop.
    bool handleDrop(const QList<QUrl>& urls);
    // The "Add to Queue" and "Add Folder" choosers.
    void addFiles();
    void addFolder();
    // Adds the jobs of a job file, and reads their sources; the error goes to the banner.
    Result importJobFile(const QString& path);
    // The settings a new job gets: the last used preset, the default output folder.
    JobSettings settingsForNewJob() const;

    // Reads the job's source and puts what it found into the job.
    void probe(const QUuid& id, const QString& path);
    // Reads again the sources of the jobs still marked as being read: jobs stored while their
    // source was being read.
    void probeUnread();

    bool showIntro() const;
    void dismissIntro();

signals:
    void introChanged();

private:
    Result importOne(const QUrl& url);
    Result importFolder(const QString& folder);
    // Adds a movie or job file's jobs to `into`; false when the file is neither.
    bool importFile(const QString& path, Result& into);
    Result importScheme(const QUrl& url);
    // The parsed jobs, queued; or why the job file or link gave none, reported.
    Result importParsed(const JobFileResult& read);
    void applyProbe(const QUuid& id, const std::expected<SourceInfo, QString>& result);

    JobStore& m_jobs;
    Persistence& m_persistence;
    Scheduler& m_scheduler;
    ActivityFeed& m_feed;
    DesktopServices& m_desktop;
    ModelClock& m_clock;
    std::unique_ptr<MediaProber> m_ownProber;
    MediaProber* m_prober;
    QList<std::pair<QString, QDateTime>> m_recentImports;
};

// A queued job for `sourcePath` whose source is still to be read.
EncodingJob newJob(const QString& sourcePath, const JobSettings& settings);

} // namespace corvel
