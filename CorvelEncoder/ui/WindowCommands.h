#pragma once

#include <QList>
#include <QObject>
#include <QUuid>

#include <functional>

class QAction;
class QMenu;
class QMenuBar;
class QWidget;

namespace corvel {

class AppModel;
class DesktopServices;

// What the queue's controls may do now. The header's buttons and the menu commands both
// follow it, so they never disagree.
struct QueueControls
{
    bool resumable = false; // the primary button reads "Resume"
    bool canStart = false;
    bool canPause = false;
    bool canStop = false;
    bool canClearCompleted = false;
    // Encoding or paused jobs: what quitting would stop.
    int running = 0;

    static QueueControls of(const AppModel& model);
};

// The window's commands: the menu bar, the queue row's context menu, and the questions asked
// before a command throws running work away (quitting, removing an encoding job). Main
// thread; `model`, `desktop` and `window` must outlive it.
class WindowCommands final : public QObject
{
    Q_OBJECT

public:
    // Asks the user a yes/no question whose yes stops work; true to go ahead.
    using Confirmation = std::function<bool(const QString& question, const QString& yes)>;

    WindowCommands(AppModel& model, DesktopServices& desktop, QWidget* window);

    void fillMenuBar(QMenuBar* bar);
    // The context menu of the job's row; the caller owns it.
    QMenu* makeContextMenu(const QUuid& id, QWidget* parent);
    // Takes the jobs off the queue, first asking when some of them are encoding.
    void removeJobs(const QList<QUuid>& ids);
    // Whether the window may close: asks when encodes are running, unless told the app is
    // quitting anyway (a signal, the session ending).
    bool mayClose();
    void setQuitWithoutAsking() { m_quitWithoutAsking = true; }
    void setConfirmation(Confirmation confirm) { m_confirm = std::move(confirm); }

    void refresh();

private:
    bool confirmStopping(int count, const QString& verb);

    AppModel& m_model;
    DesktopServices& m_desktop;
    QWidget* m_window;
    Confirmation m_confirm;
    bool m_quitWithoutAsking = false;
    // Quit asked already; the close that follows must not ask again.
    bool m_quitConfirmed = false;
    QAction* m_start = nullptr;
    QAction* m_pause = nullptr;
    QAction* m_stop = nullptr;
    QAction* m_clearCompleted = nullptr;
};

} // namespace corvel
