#pragma once

#include <QMainWindow>
#include <QUuid>

class QAction;
class QFrame;
class QLabel;
class QListView;
class QMenu;
class QMimeData;
class QPushButton;
class QSpinBox;
class QSplitter;
class QStackedWidget;
class QToolButton;

namespace corvel {

class AppModel;
class DesktopServices;
class JobRowDelegate;
class LogListModel;
class QueueListModel;

// The one window: header with the queue buttons, banner, queue list beside the inspector,
// footer and activity log. It holds no state beyond the drop highlight: every control reads
// the model and calls its operations. Main thread; `model` and `desktop` must outlive it.
// Closing it runs the model's quit preparation.
class MainWindow final : public QMainWindow
{
    Q_OBJECT

public:
    MainWindow(AppModel& model, DesktopServices& desktop, QWidget* parent = nullptr);
    ~MainWindow() override;
    Q_DISABLE_COPY_MOVE(MainWindow)

    QListView* queueView() const { return m_queueView; }
    QueueListModel* queueModel() const { return m_queueModel; }
    JobRowDelegate* rowDelegate() const { return m_delegate; }
    // Replaces the row painter (the window takes ownership).
    void setRowDelegate(JobRowDelegate* delegate);
    // The context menu of the job's row; the caller owns it.
    QMenu* makeContextMenu(const QUuid& id);
    bool isDropHighlighted() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QWidget* makeHeader();
    QWidget* makeBanner();
    QWidget* makeQueuePane();
    QWidget* makeEmptyQueue();
    QWidget* makeFooter();
    QWidget* makeLogPane();
    void makeMenus();
    void connectModel();

    void refreshQueueState();
    void refreshCounts();
    void refreshBanner();
    void fitBanner();
    void refreshWatch();
    void refreshLog();
    void refreshEmpty();
    void pushSelection();
    void pullSelection();
    bool acceptsDrag(const QMimeData* mime) const;
    void setDropHighlight(bool on);

    AppModel& m_model;
    DesktopServices& m_desktop;

    QueueListModel* m_queueModel = nullptr;
    LogListModel* m_logModel = nullptr;
    JobRowDelegate* m_delegate = nullptr;

    QPushButton* m_primaryButton = nullptr;
    QPushButton* m_pauseButton = nullptr;
    QPushButton* m_stopButton = nullptr;
    QFrame* m_banner = nullptr;
    QLabel* m_bannerText = nullptr;
    QStackedWidget* m_queueStack = nullptr;
    QListView* m_queueView = nullptr;
    QToolButton* m_watchButton = nullptr;
    QSpinBox* m_parallel = nullptr;
    QLabel* m_phase = nullptr;
    QLabel* m_queued = nullptr;
    QLabel* m_done = nullptr;
    QPushButton* m_logToggle = nullptr;
    QWidget* m_logPane = nullptr;
    QSplitter* m_logSplit = nullptr;
    int m_logHeight = 150;
    QListView* m_logView = nullptr;
    QWidget* m_dropHighlight = nullptr;
    QAction* m_pauseAction = nullptr;

    bool m_syncingSelection = false;
};

} // namespace corvel
