#pragma once

#include "CorvelEncoder/model/ActivityFeed.h"
#include "CorvelEncoder/model/EditingBindings.h"
#include "CorvelEncoder/model/Intake.h"
#include "CorvelEncoder/model/JobStore.h"
#include "CorvelEncoder/model/ModelClock.h"
#include "CorvelEncoder/model/Persistence.h"
#include "CorvelEncoder/model/Scheduler.h"
#include "CorvelEncoder/model/Sheets.h"
#include "CorvelEncoder/model/WatchController.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

namespace corvel {

class DesktopServices;
class EncodeSessionFactory;
class IncomingOpener;
class MediaProber;
class OutputJournal;
class StateStore;

// The one object the window and the command line hold: it owns the parts of the application
// model, wires them together and hands them out. Each part has one job:
//   feed()        the activity log and the banner
//   store()       the jobs in queue order and the selection
//   persistence() settings, saved presets and the state files
//   scheduler()   queue commands and the running encode sessions
//   intake()      files, folders, job files and links entering the queue; source probing
//   watch()       the watch folder and its settings
//   sheets()      which sheets the window shows
//   editing()     the inspector's bindings, presets, output folders and the export
//
// Lives on the main thread; every part is called there. The store, the session factory and
// the desktop services must outlive the model.
class AppModel final : public QObject
{
    Q_OBJECT

public:
    // Restores settings, presets and queue from `store`. `defaultOutputDirectory` is the
    // output folder of default settings. Timers and times come from `clock`; sources are read
    // by `prober`, or by the engine when it is null. Both must outlive the model.
    AppModel(StateStore& store, QString defaultOutputDirectory, EncodeSessionFactory& sessions,
             DesktopServices& desktop, ModelClock& clock = ModelClock::system(),
             MediaProber* prober = nullptr, QObject* parent = nullptr);
    ~AppModel() override;
    Q_DISABLE_COPY_MOVE(AppModel)

    ActivityFeed& feed() { return m_feed; }
    const ActivityFeed& feed() const { return m_feed; }
    JobStore& store() { return m_store; }
    const JobStore& store() const { return m_store; }
    Persistence& persistence() { return m_persistence; }
    const Persistence& persistence() const { return m_persistence; }
    Scheduler& scheduler() { return m_scheduler; }
    const Scheduler& scheduler() const { return m_scheduler; }
    Intake& intake() { return m_intake; }
    const Intake& intake() const { return m_intake; }
    WatchController& watch() { return m_watch; }
    const WatchController& watch() const { return m_watch; }
    Sheets& sheets() { return m_sheets; }
    const Sheets& sheets() const { return m_sheets; }
    EditingBindings& editing() { return m_editing; }
    const EditingBindings& editing() const { return m_editing; }

    // Takes over URLs that arrived before the model, then imports `commandLine` and starts
    // the watch folder. Called once, right after construction.
    void beginIntake(IncomingOpener& opener, const QList<QUrl>& commandLine);
    // Removes the partial files of encodes a killed run never finished, and logs each one.
    void removeUnfinishedOutputs(OutputJournal& journal);
    // Cancels every session, waits for them (bounded) to remove their partial files, and
    // writes the queue and the settings. After it, session reports are ignored and nothing is
    // saved.
    void prepareForQuit();

private:
    ActivityFeed m_feed;
    JobStore m_store;
    Persistence m_persistence;
    Scheduler m_scheduler;
    Intake m_intake;
    WatchController m_watch;
    Sheets m_sheets;
    EditingBindings m_editing;
    bool m_quitting = false;
};

} // namespace corvel
