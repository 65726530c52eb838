#pragma once

#include "CorvelEncoderCore/Records.h"
#include "cli/CliOptions.h"
#include "cli/CliReporter.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QUuid>

#include <optional>

namespace corvel {

class AppModel;

// Follows the model and tells the reporter what changed, job by job.
class CliSession final : public QObject
{
public:
    CliSession(AppModel& model, CliReporter& reporter, const CliOptions& options);

    bool watching() const { return m_options.watchFolder.has_value(); }
    const QList<QUuid>& jobIDs() const { return m_order; }
    int skippedCount() const { return m_skipped; }
    std::optional<int> interruptedWith() const { return m_interruptStatus; }

    // Imports one command-line input; an input that gives no job is reported with its reason.
    // The model's messages about it are held back meanwhile, so a refused job file is reported
    // once, as the input's reason.
    QList<QUuid> import(const QString& input);

    // The jobs this run encodes, in the order they are numbered. The command line is the
    // strongest layer: its preset and fields go over what each job already has.
    void adopt(const QList<QUuid>& ids);

    // Of `ids`, once their sources are read, the jobs whose output is not complete yet; the
    // others leave the queue, reported. Nothing when the run is interrupted meanwhile.
    std::optional<QList<QUuid>> withoutEncoded(const QList<QUuid>& ids);

    // From now on every job the model adds (the watch folder's) is adopted as it comes.
    void adoptArrivals() { m_adoptArrivals = true; }

    // Jobs are read once, in order; a read job is not read again, so following 100,000
    // readings costs one pass over them, not one per reading.
    bool anyProbing();

    // Encoding starts once every given file has been read: the reading sets the job's bitrate.
    void startOnceProbed();

    // A dry run ends once every source has been read.
    void endOnceProbed();

    // Ends the event loop once every job has ended; not while watching.
    void scheduleCheck();

    // Cancels what runs, removes the partial files, and reports the jobs that will not end.
    void interrupt(int status);

    CliSummary summary(qint64 elapsedMs) const;

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

    void message(const QString& text, bool isError, bool isBanner);
    void applyOverrides(const QUuid& id);
    void onChanged(int row);
    void check();

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

} // namespace corvel
