#pragma once

#include "CorvelEncoder/ui/WindowCommands.h"

#include <QMainWindow>
#include <QUuid>

class QListView;
class QMenu;
class QSplitter;

namespace corvel {

class AppModel;
class DesktopServices;
class FooterBar;
class HeaderBar;
class JobRowDelegate;
class LogListModel;
class LogPane;
class QueueListModel;
class QueuePane;
class WindowDropTarget;

// The one window: header with the queue buttons, banner, queue list beside the inspector,
// footer and activity log. It holds no state beyond its layout: every control reads the model
// and calls its operations. Main thread; `model` and `desktop` must outlive it. Closing it
// while encodes run asks first, then runs the model's quit preparation.
class MainWindow final : public QMainWindow
{
    Q_OBJECT

public:
    MainWindow(AppModel& model, DesktopServices& desktop, QWidget* parent = nullptr);
    ~MainWindow() override;
    Q_DISABLE_COPY_MOVE(MainWindow)

    QListView* queueView() const;
    QueueListModel* queueModel() const { return m_queueModel; }
    JobRowDelegate* rowDelegate() const { return m_delegate; }
    // Replaces the row painter (the window takes ownership).
    void setRowDelegate(JobRowDelegate* delegate);
    // The context menu of the job's row; the caller owns it.
    QMenu* makeContextMenu(const QUuid& id);
    bool isDropHighlighted() const;
    // How the window asks before stopping encodes (a dialog unless replaced).
    void setConfirmation(WindowCommands::Confirmation confirm);
    // The app quits for a reason the user already gave (a signal, the session ending).
    void quitWithoutAsking();

    // The window's size, panes and log as the user left them, kept in `file`.
    void restoreLayout(const QString& file);
    void saveLayout() const;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void refreshQueueState();
    void refreshLog();

    AppModel& m_model;
    QueueListModel* m_queueModel = nullptr;
    LogListModel* m_logModel = nullptr;
    JobRowDelegate* m_delegate = nullptr;
    WindowCommands* m_commands = nullptr;
    WindowDropTarget* m_drops = nullptr;
    HeaderBar* m_header = nullptr;
    QueuePane* m_queuePane = nullptr;
    FooterBar* m_footer = nullptr;
    LogPane* m_logPane = nullptr;
    QSplitter* m_split = nullptr;
    QSplitter* m_logSplit = nullptr;
    int m_logHeight = 150;
    QString m_layoutFile;
};

} // namespace corvel
