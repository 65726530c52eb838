#pragma once

#include "CorvelEncoderCore/Records.h"

#include <QObject>
#include <QSet>
#include <QString>

#include <memory>

namespace corvel {

class ActivityFeed;
class DesktopServices;
class Intake;
class JobStore;
class ModelClock;
class ModelTimer;
class Persistence;
class Scheduler;
class WatchFolder;
class WatchLock;
class WatchSightings;

// The watch folder: movies and job files copied into it are encoded once they stop changing.
// Also the bindings of its settings popover.
class WatchController final : public QObject
{
    Q_OBJECT

public:
    WatchController(Persistence& persistence, JobStore& jobs, Intake& intake, Scheduler& scheduler,
                    ActivityFeed& feed, DesktopServices& desktop, ModelClock& clock,
                    QObject* parent = nullptr);
    ~WatchController() override;
    Q_DISABLE_COPY_MOVE(WatchController)

    // Restarts watching from the current settings.
    void refresh();
    // Looks through the watch folder now (normally 0.35 s after a change or timer tick).
    void scan();
    // No more scans; for the quit.
    void stop();
    JobSettings settingsForWatch() const;
    // Where watch jobs write.
    QString resolvedOutput() const;
    // Whether the watch folder is being watched.
    bool isWatching() const;
    // Files present at the start that no earlier watch noted or took arrived while none was
    // watching, and are taken; noted ones stay noted unless existing files are processed. For
    // a command-line run going on with a folder it watched before. Applies at the next refresh.
    void setResuming(bool on) { m_resuming = on; }
    // Watching takes the folder's WatchLock, so no other Corvel Encoder encodes its files too;
    // a command-line run takes it itself, before it reads what earlier runs handled.
    void setTakesFolderLock(bool on) { m_takesFolderLock = on; }

    // Bindings. Preset ids that name no preset, and "inline", are ignored.
    QString presetSelection() const;
    void setPreset(const QString& id);
    // Turning the watch on without a folder asks for one first.
    bool enabled() const;
    void setEnabled(bool on);
    // Turning it on forgets the files already handled in the watch folder.
    bool processExisting() const;
    void setProcessExisting(bool on);
    void chooseFolder();
    void chooseOutput();

signals:
    // After every restart: the watch may be on in the settings yet not watching (the folder
    // is missing, or another Corvel Encoder watches it).
    void watchingChanged();

private:
    void restart();
    void scheduleScan();

    Persistence& m_persistence;
    JobStore& m_jobs;
    Intake& m_intake;
    Scheduler& m_scheduler;
    ActivityFeed& m_feed;
    DesktopServices& m_desktop;
    ModelClock& m_clock;
    bool m_stopped = false;
    bool m_resuming = false;
    bool m_takesFolderLock = true;
    std::unique_ptr<WatchLock> m_folderLock;
    std::unique_ptr<WatchFolder> m_watchService;
    std::unique_ptr<WatchSightings> m_sightings;
    std::unique_ptr<ModelTimer> m_watchTimer;
    std::unique_ptr<ModelTimer> m_scanWork;
    QSet<QString> m_handledFiles; // watchFileIdentity of the handled files seen in the folder
};

} // namespace corvel
