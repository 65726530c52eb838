#include "CorvelEncoder/ui/MainWindow.h"

#include "CorvelEncoder/model/AppModel.h"
#include "CorvelEncoder/ui/BannerBar.h"
#include "CorvelEncoder/ui/FooterBar.h"
#include "CorvelEncoder/ui/HeaderBar.h"
#include "CorvelEncoder/ui/InspectorPanel.h"
#include "CorvelEncoder/ui/JobRowDelegate.h"
#include "CorvelEncoder/ui/LogListModel.h"
#include "CorvelEncoder/ui/LogPane.h"
#include "CorvelEncoder/ui/PanelKit.h"
#include "CorvelEncoder/ui/QueueListModel.h"
#include "CorvelEncoder/ui/QueuePane.h"
#include "CorvelEncoder/ui/SheetPresenter.h"
#include "CorvelEncoder/ui/Theme.h"
#include "CorvelEncoder/ui/WindowDropTarget.h"
#include "CorvelEncoderCore/CorvelIdentity.h"

#include <QCloseEvent>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QSplitter>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace corvel {

MainWindow::MainWindow(AppModel& model, DesktopServices& desktop, QWidget* parent)
    : QMainWindow(parent), m_model(model)
{
    using panelkit::css;
    setWindowTitle(QString(CorvelIdentity::appName));
    setObjectName(QStringLiteral("main"));
    setMinimumSize(900, 600);
    resize(1200, 780);

    m_queueModel = new QueueListModel(model, this);
    m_logModel = new LogListModel(model.feed(), this);
    m_commands = new WindowCommands(model, desktop, this);

    auto* central = new QWidget(this);
    central->setAutoFillBackground(true);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    m_header = new HeaderBar(model, central);
    column->addWidget(m_header);
    column->addWidget(new BannerBar(model.feed(), central));

    m_split = new QSplitter(Qt::Horizontal, central);
    m_split->setObjectName(QStringLiteral("split"));
    m_split->setChildrenCollapsible(false);
    m_split->setHandleWidth(1);
    m_split->setStyleSheet(
        QStringLiteral("QSplitter::handle { background: %1; }").arg(css(Theme::line())));
    m_queuePane = new QueuePane(model, m_queueModel, m_split);
    m_queuePane->setMinimumWidth(440);
    m_split->addWidget(m_queuePane);
    auto* inspector = new InspectorPanel(model, m_split);
    inspector->setMinimumWidth(300);
    m_split->addWidget(inspector);
    m_split->setStretchFactor(0, 1);
    m_split->setStretchFactor(1, 0);
    m_split->setSizes({820, 360});
    m_header->setFocusFallback(m_queuePane->view());
    setRowDelegate(new JobRowDelegate(this));
    connect(m_queuePane, &QueuePane::removeRequested, m_commands, &WindowCommands::removeJobs);
    connect(m_queuePane, &QueuePane::contextMenuRequested, this,
            [this](const QUuid& id, const QPoint& at) {
                QMenu* menu = makeContextMenu(id);
                menu->setAttribute(Qt::WA_DeleteOnClose);
                menu->popup(at);
            });

    // The log pane sits under the footer; dragging the line above it sets its height.
    auto* upper = new QWidget(central);
    auto* upperColumn = new QVBoxLayout(upper);
    upperColumn->setContentsMargins(0, 0, 0, 0);
    upperColumn->setSpacing(0);
    upperColumn->addWidget(m_split, 1);
    m_footer = new FooterBar(model, upper);
    upperColumn->addWidget(m_footer);
    m_logSplit = new QSplitter(Qt::Vertical, central);
    m_logSplit->setObjectName(QStringLiteral("logSplit"));
    m_logSplit->setChildrenCollapsible(false);
    m_logSplit->setHandleWidth(3);
    m_logSplit->setStyleSheet(
        QStringLiteral("QSplitter::handle { background: %1; }").arg(css(Theme::line())));
    m_logSplit->addWidget(upper);
    m_logPane = new LogPane(m_logModel, m_logSplit);
    m_logSplit->addWidget(m_logPane);
    m_logSplit->setStretchFactor(0, 1);
    m_logSplit->setStretchFactor(1, 0);
    connect(m_logSplit, &QSplitter::splitterMoved, this,
            [this] { m_logHeight = m_logPane->height(); });
    column->addWidget(m_logSplit, 1);
    setCentralWidget(central);

    m_commands->fillMenuBar(menuBar());
    connect(&model.scheduler(), &Scheduler::queueStateChanged, this,
            &MainWindow::refreshQueueState);
    connect(&model.store(), &JobStore::countsChanged, this, &MainWindow::refreshQueueState);
    connect(&model.feed(), &ActivityFeed::logOpenChanged, this, &MainWindow::refreshLog);
    refreshQueueState();
    refreshLog();

    m_drops = new WindowDropTarget(model.intake(), this);
    auto* sheets = new SheetPresenter(model, this);
    sheets->setWatchAnchor(m_footer->watchButton());
}

MainWindow::~MainWindow() = default;

QListView* MainWindow::queueView() const
{
    return m_queuePane->view();
}

void MainWindow::setRowDelegate(JobRowDelegate* delegate)
{
    if (m_delegate == delegate)
        return;
    if (m_delegate) {
        queueView()->setItemDelegate(nullptr);
        m_delegate->deleteLater();
    }
    m_delegate = delegate;
    m_delegate->setParent(this);
    queueView()->setItemDelegate(m_delegate);
    connect(m_delegate, &JobRowDelegate::revealRequested, this,
            [this](const QUuid& id) { m_model.scheduler().revealOutput(id); });
}

QMenu* MainWindow::makeContextMenu(const QUuid& id)
{
    return m_commands->makeContextMenu(id, this);
}

bool MainWindow::isDropHighlighted() const
{
    return m_drops->isHighlighted();
}

void MainWindow::setConfirmation(WindowCommands::Confirmation confirm)
{
    m_commands->setConfirmation(std::move(confirm));
}

void MainWindow::quitWithoutAsking()
{
    m_commands->setQuitWithoutAsking();
}

void MainWindow::refreshQueueState()
{
    const QueueControls controls = QueueControls::of(m_model);
    m_header->refresh(controls);
    m_commands->refresh();
}

void MainWindow::refreshLog()
{
    const bool open = m_model.feed().logOpen();
    if (!open && m_logPane->isVisible())
        m_logHeight = m_logPane->height();
    m_logPane->setVisible(open);
    if (open) {
        const int total = m_logSplit->height();
        m_logSplit->setSizes({std::max(0, total - m_logHeight), m_logHeight});
        m_logPane->scrollToEnd();
    }
}

void MainWindow::restoreLayout(const QString& file)
{
    m_layoutFile = file;
    const QSettings layout(file, QSettings::IniFormat);
    if (const QByteArray geometry = layout.value(QStringLiteral("geometry")).toByteArray();
        !geometry.isEmpty())
        restoreGeometry(geometry);
    m_split->restoreState(layout.value(QStringLiteral("split")).toByteArray());
    m_logHeight = std::max(60, layout.value(QStringLiteral("logHeight"), m_logHeight).toInt());
    m_model.feed().setLogOpen(layout.value(QStringLiteral("logOpen"), false).toBool());
}

void MainWindow::saveLayout() const
{
    if (m_layoutFile.isEmpty())
        return;
    QSettings layout(m_layoutFile, QSettings::IniFormat);
    layout.setValue(QStringLiteral("geometry"), saveGeometry());
    layout.setValue(QStringLiteral("split"), m_split->saveState());
    layout.setValue(QStringLiteral("logHeight"),
                    m_logPane->isVisible() ? m_logPane->height() : m_logHeight);
    layout.setValue(QStringLiteral("logOpen"), m_model.feed().logOpen());
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (!m_commands->mayClose()) {
        event->ignore();
        return;
    }
    saveLayout();
    m_model.prepareForQuit();
    event->accept();
}

} // namespace corvel
