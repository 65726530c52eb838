#include "CorvelEncoder/ui/WindowCommands.h"

#include "CorvelEncoder/model/AppModel.h"
#include "CorvelEncoder/model/DesktopServices.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>

namespace corvel {

QueueControls QueueControls::of(const AppModel& model)
{
    const JobStore& store = model.store();
    const bool paused = model.scheduler().isQueuePaused();
    const int active = store.activeCount();
    QueueControls c;
    // Jobs left paused when another was started alone are resumed by the queue's button too.
    c.resumable = paused || store.pausedCount() > 0;
    c.canStart = c.resumable || store.queuedCount() > 0;
    c.canPause = active > 0 && !paused;
    c.running = active + store.pausedCount();
    c.canStop = c.running > 0;
    c.canClearCompleted = store.doneCount() > 0;
    return c;
}

namespace {

bool askWithDialog(QWidget* window, const QString& question, const QString& yes)
{
    QMessageBox box(QMessageBox::Warning, QString(), question, QMessageBox::NoButton, window);
    box.setInformativeText(QStringLiteral("What they wrote so far is lost."));
    QPushButton* go = box.addButton(yes, QMessageBox::DestructiveRole);
    QPushButton* keep = box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(keep);
    box.setEscapeButton(keep);
    box.exec();
    return box.clickedButton() == go;
}

} // namespace

WindowCommands::WindowCommands(AppModel& model, DesktopServices& desktop, QWidget* window)
    : QObject(window), m_model(model), m_desktop(desktop), m_window(window),
      m_confirm([window](const QString& question, const QString& yes) {
          return askWithDialog(window, question, yes);
      })
{}

void WindowCommands::fillMenuBar(QMenuBar* bar)
{
    QMenu* file = bar->addMenu(QStringLiteral("&File"));
    QAction* addFiles = file->addAction(QStringLiteral("Add Files\u2026"), this,
                                        [this] { m_model.intake().addFiles(); });
    addFiles->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    QAction* addFolder = file->addAction(QStringLiteral("Add Folder\u2026"), this,
                                         [this] { m_model.intake().addFolder(); });
    addFolder->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
    file->addSeparator();
    QAction* quit = file->addAction(QStringLiteral("Quit"), this, [this] {
        const QueueControls now = QueueControls::of(m_model);
        if (!m_quitWithoutAsking && now.running > 0 &&
            !confirmStopping(now.running, QStringLiteral("Quit")))
            return;
        m_quitConfirmed = true;
        m_window->close();
        m_quitConfirmed = false;
    });
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

    QMenu* queue = bar->addMenu(QStringLiteral("&Queue"));
    m_start = queue->addAction(QStringLiteral("Start Queue"), this,
                               [this] { m_model.scheduler().startQueue(); });
    m_start->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)});
    m_pause = queue->addAction(QStringLiteral("Pause"), this,
                               [this] { m_model.scheduler().pauseQueue(); });
    m_pause->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P));
    m_stop = queue->addAction(QStringLiteral("Stop"), this,
                              [this] { m_model.scheduler().stopActive(); });
    m_stop->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Period));
    queue->addSeparator();
    queue->addAction(QStringLiteral("Remove"), this,
                     [this] { removeJobs(m_model.store().selectedIDs()); });
    m_clearCompleted = queue->addAction(QStringLiteral("Clear Completed"), this,
                                        [this] { m_model.store().clearCompleted(); });
    queue->addSeparator();
    QAction* exportJob = queue->addAction(QStringLiteral("Export Job File\u2026"), this,
                                          [this] { m_model.editing().exportJobFile(); });
    exportJob->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E));

    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    help->addAction(QStringLiteral("Corvel Encoder Help"), this,
                    [this] { m_model.sheets().setShowHelp(true); });
    help->addAction(QStringLiteral("About Corvel Encoder"), this,
                    [this] { m_model.sheets().setShowAbout(true); });

    for (QMenu* menu : {file, queue, help})
        for (QAction* action : menu->actions())
            if (!action->isSeparator())
                action->setObjectName(action->text());
    refresh();
}

void WindowCommands::refresh()
{
    if (!m_start)
        return;
    const QueueControls now = QueueControls::of(m_model);
    m_start->setText(now.resumable ? QStringLiteral("Resume") : QStringLiteral("Start Queue"));
    m_start->setEnabled(now.canStart);
    m_pause->setEnabled(now.canPause);
    m_stop->setEnabled(now.canStop);
    m_clearCompleted->setEnabled(now.canClearCompleted);
}

QMenu* WindowCommands::makeContextMenu(const QUuid& id, QWidget* parent)
{
    auto* menu = new QMenu(parent);
    const std::optional<EncodingJob> job = m_model.store().job(id);
    if (!job)
        return menu;
    menu->addAction(QStringLiteral("Start"), this,
                    [this, id] { m_model.scheduler().startJobNow(id); });
    if (isTerminal(job->status))
        menu->addAction(QStringLiteral("Requeue"), this,
                        [this, id] { m_model.scheduler().requeue(id); });
    menu->addAction(QStringLiteral("Duplicate"), this,
                    [this, id] { m_model.store().duplicate(id); });
    menu->addAction(QStringLiteral("Show Source in File Manager"), this, [this, id] {
        // The job may be gone or changed since the menu opened.
        if (const std::optional<EncodingJob> current = m_model.store().job(id))
            m_desktop.revealFiles({current->sourcePath});
    });
    if (job->status == JobStatus::completed && job->outputPath && !job->outputPath->isEmpty())
        menu->addAction(QStringLiteral("Show Output in File Manager"), this,
                        [this, id] { m_model.scheduler().revealOutput(id); });
    menu->addSeparator();
    menu->addAction(QStringLiteral("Remove"), this, [this, id] { removeJobs({id}); });
    return menu;
}

void WindowCommands::removeJobs(const QList<QUuid>& ids)
{
    int running = 0;
    for (const QUuid& id : ids) {
        const std::optional<EncodingJob> job = m_model.store().job(id);
        if (job && (job->status == JobStatus::encoding || job->status == JobStatus::paused))
            ++running;
    }
    if (running > 0 && !confirmStopping(running, QStringLiteral("Remove")))
        return;
    m_model.scheduler().remove(ids);
}

bool WindowCommands::mayClose()
{
    if (m_quitWithoutAsking || m_quitConfirmed)
        return true;
    const int running = QueueControls::of(m_model).running;
    return running == 0 || confirmStopping(running, QStringLiteral("Quit"));
}

bool WindowCommands::confirmStopping(int count, const QString& verb)
{
    const QString encodes =
        count == 1 ? QStringLiteral("1 encode") : QStringLiteral("%1 encodes").arg(count);
    return m_confirm(QStringLiteral("%1 and stop %2?").arg(verb, encodes),
                     QStringLiteral("%1 and Stop").arg(verb));
}

} // namespace corvel
