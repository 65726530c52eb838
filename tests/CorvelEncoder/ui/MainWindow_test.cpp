#include "FakeProber.h"
#include "ModelTestSupport.h"

#include "CorvelEncoder/StateFiles.h"
#include "CorvelEncoder/ui/JobRowDelegate.h"
#include "CorvelEncoder/ui/MainWindow.h"
#include "CorvelEncoder/ui/QueueListModel.h"

#include <QAction>
#include <QDragEnterEvent>
#include <QFile>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTest>
#include <QToolButton>

namespace corvel::testing {
namespace {

// Records which rows were painted.
class CountingDelegate final : public JobRowDelegate
{
public:
    using JobRowDelegate::JobRowDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override
    {
        painted.append(index.row());
        JobRowDelegate::paint(painter, option, index);
    }
    mutable QList<int> painted;
};

class MainWindowTest : public ModelFixture
{
protected:
    void SetUp() override
    {
        makeModel();
        model->setProber(prober);
        window = std::make_unique<MainWindow>(*model, desktop);
    }
    void TearDown() override
    {
        window.reset();
        model.reset();
    }

    template <class T>
    T* child(const char* name) const
    {
        T* found = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QAction* action(const QString& title) const { return window->findChild<QAction*>(title); }
    QStringList menuTitles(QMenu* menu) const
    {
        QStringList titles;
        for (QAction* a : menu->actions()) {
            titles.append(a->isSeparator() ? QStringLiteral("---") : a->text());
            EXPECT_TRUE(a->isEnabled()) << a->text().toStdString();
        }
        return titles;
    }
    QString touch(const QString& name)
    {
        QFile file(path(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        return file.fileName();
    }
    void setStatus(const QUuid& id, JobStatus status, std::optional<QString> output = {})
    {
        model->update(id, [&](EncodingJob& job) {
            job.status = status;
            job.outputPath = output;
        });
    }

    FakeProber prober;
    std::unique_ptr<MainWindow> window;
};

TEST_F(MainWindowTest, HeaderButtonsFollowTheQueue)
{
    auto* primary = child<QPushButton>("primaryButton");
    auto* pause = child<QPushButton>("pauseButton");
    auto* stop = child<QPushButton>("stopButton");
    QAction* pauseCommand = action(QStringLiteral("Pause"));
    ASSERT_NE(pauseCommand, nullptr);

    EXPECT_EQ(primary->text(), QStringLiteral("Start Queue"));
    EXPECT_FALSE(primary->isEnabled());
    EXPECT_FALSE(pause->isEnabled());
    EXPECT_FALSE(stop->isEnabled());
    EXPECT_FALSE(pauseCommand->isEnabled());
    EXPECT_TRUE(child<QPushButton>("addButton")->isEnabled());

    const QList<EncodingJob> jobs = addQueued(1);
    EXPECT_TRUE(primary->isEnabled());

    // Encoding the only job: nothing left to start, but it can be paused and stopped.
    QTest::mouseClick(primary, Qt::LeftButton);
    ASSERT_EQ(status(jobs[0].id), JobStatus::encoding);
    EXPECT_EQ(primary->text(), QStringLiteral("Start Queue"));
    EXPECT_FALSE(primary->isEnabled());
    EXPECT_TRUE(pause->isEnabled());
    EXPECT_TRUE(stop->isEnabled());
    EXPECT_TRUE(pauseCommand->isEnabled());

    // Paused: "Resume" with nothing queued, still stoppable, no second pause.
    QTest::mouseClick(pause, Qt::LeftButton);
    ASSERT_TRUE(model->isQueuePaused());
    EXPECT_EQ(primary->text(), QStringLiteral("Resume"));
    EXPECT_TRUE(primary->isEnabled());
    EXPECT_FALSE(pause->isEnabled());
    EXPECT_TRUE(stop->isEnabled());
    EXPECT_FALSE(pauseCommand->isEnabled());

    QTest::mouseClick(primary, Qt::LeftButton);
    EXPECT_FALSE(model->isQueuePaused());
    EXPECT_EQ(primary->text(), QStringLiteral("Start Queue"));
    EXPECT_TRUE(pause->isEnabled());

    QTest::mouseClick(stop, Qt::LeftButton);
    EXPECT_TRUE(sessions.session(jobs[0].id)->cancelRequested);
    sessions.session(jobs[0].id)->endCancelled();
    deliver();
    EXPECT_EQ(model->activeCount() + model->pausedCount(), 0);
    EXPECT_FALSE(stop->isEnabled());
    EXPECT_FALSE(pauseCommand->isEnabled());
}

TEST_F(MainWindowTest, MenuCommandsUseCtrlShortcutsAndActOnTheModel)
{
    const struct
    {
        QString title;
        QKeySequence shortcut;
    } rows[] = {
        {QStringLiteral("Add Files\u2026"), QKeySequence(Qt::CTRL | Qt::Key_O)},
        {QStringLiteral("Add Folder\u2026"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O)},
        {QStringLiteral("Start Queue"), QKeySequence(Qt::CTRL | Qt::Key_Return)},
        {QStringLiteral("Pause"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P)},
        {QStringLiteral("Stop"), QKeySequence(Qt::CTRL | Qt::Key_Period)},
        {QStringLiteral("Remove"), QKeySequence()},
        {QStringLiteral("Clear Completed"), QKeySequence()},
        {QStringLiteral("Export Job File\u2026"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E)},
        {QStringLiteral("Corvel Encoder Help"), QKeySequence()},
        {QStringLiteral("About Corvel Encoder"), QKeySequence()},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.title.toStdString());
        QAction* a = action(row.title);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->shortcut(), row.shortcut);
    }

    // "Remove" takes the selection, and nothing when nothing is selected.
    const QList<EncodingJob> jobs = addQueued(3);
    action(QStringLiteral("Remove"))->trigger();
    EXPECT_EQ(model->jobs().size(), 3);
    QListView* list = window->queueView();
    list->selectionModel()->select(window->queueModel()->index(1),
                                   QItemSelectionModel::ClearAndSelect);
    EXPECT_EQ(model->selectedIDs(), QList<QUuid>{jobs[1].id});
    action(QStringLiteral("Remove"))->trigger();
    ASSERT_EQ(model->jobs().size(), 2);
    EXPECT_FALSE(model->job(jobs[1].id).has_value());

    action(QStringLiteral("About Corvel Encoder"))->trigger();
    EXPECT_TRUE(model->showAbout());
    action(QStringLiteral("Corvel Encoder Help"))->trigger();
    EXPECT_TRUE(model->showHelp());
    action(QStringLiteral("Add Folder\u2026"))->trigger();
    ASSERT_FALSE(desktop.openRequests.isEmpty());
    EXPECT_EQ(desktop.openRequests.last().title, QStringLiteral("Add Folder"));
}

TEST_F(MainWindowTest, SelectionIsTheModels)
{
    const QList<EncodingJob> jobs = addQueued(4);
    model->setSelection({jobs[0].id, jobs[2].id});
    QModelIndexList rows = window->queueView()->selectionModel()->selectedRows();
    ASSERT_EQ(rows.size(), 2);
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(rows[0].row(), 0);
    EXPECT_EQ(rows[1].row(), 2);

    window->queueView()->selectionModel()->select(window->queueModel()->index(3),
                                                  QItemSelectionModel::ClearAndSelect);
    EXPECT_EQ(model->selection(), QSet<QUuid>{jobs[3].id});
}

TEST_F(MainWindowTest, ContextMenuOffersWhatAppliesToTheRow)
{
    const QList<EncodingJob> jobs = addQueued(5);
    const QString output = touch(QStringLiteral("done.mov"));
    setStatus(jobs[1].id, JobStatus::completed, output);
    setStatus(jobs[2].id, JobStatus::failed);
    setStatus(jobs[3].id, JobStatus::cancelled);
    setStatus(jobs[4].id, JobStatus::completed); // finished without an output path

    const QString start = QStringLiteral("Start"), requeue = QStringLiteral("Requeue"),
                  duplicate = QStringLiteral("Duplicate"),
                  source = QStringLiteral("Show Source in File Manager"),
                  shown = QStringLiteral("Show Output in File Manager"),
                  line = QStringLiteral("---"), remove = QStringLiteral("Remove");
    const QList<QStringList> expected = {
        {start, duplicate, source, line, remove},
        {start, requeue, duplicate, source, shown, line, remove},
        {start, requeue, duplicate, source, line, remove},
        {start, requeue, duplicate, source, line, remove},
        {start, requeue, duplicate, source, line, remove},
    };
    for (int i = 0; i < jobs.size(); ++i) {
        SCOPED_TRACE(i);
        std::unique_ptr<QMenu> menu(window->makeContextMenu(jobs[i].id));
        EXPECT_EQ(menuTitles(menu.get()), expected[i]);
    }

    std::unique_ptr<QMenu> menu(window->makeContextMenu(jobs[1].id));
    auto find = [&](const QString& title) {
        for (QAction* a : menu->actions())
            if (a->text() == title)
                return a;
        return static_cast<QAction*>(nullptr);
    };
    find(source)->trigger();
    find(shown)->trigger();
    ASSERT_EQ(desktop.reveals.size(), 2);
    EXPECT_EQ(desktop.reveals[0], QStringList{jobs[1].sourcePath});
    EXPECT_EQ(desktop.reveals[1], QStringList{output});

    // The menu acts on its own row, not on the selection.
    model->setSelection({jobs[0].id});
    find(remove)->trigger();
    EXPECT_FALSE(model->job(jobs[1].id).has_value());
    EXPECT_TRUE(model->job(jobs[0].id).has_value());
    // A job removed while its menu is open is left alone.
    find(source)->trigger();
    EXPECT_EQ(desktop.reveals.size(), 2);
}

TEST_F(MainWindowTest, DropOnAnyPartOfTheWindowQueuesFilesWithAHighlight)
{
    const QString movie = touch(QStringLiteral("drop.mov"));
    window->show();
    auto* stack = child<QStackedWidget>("queuePane");
    EXPECT_EQ(stack->currentWidget()->objectName(), QStringLiteral("emptyQueue"));

    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(movie)});
    QWidget* target = child<QWidget>("footer");
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    EXPECT_TRUE(enter.isAccepted());
    EXPECT_TRUE(window->isDropHighlighted());

    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    EXPECT_TRUE(drop.isAccepted());
    EXPECT_FALSE(window->isDropHighlighted());
    ASSERT_TRUE(waitUntil([&] { return model->jobs().size() == 1; }));
    EXPECT_EQ(model->jobs()[0].sourcePath, movie);
    EXPECT_EQ(stack->currentIndex(), 1);

    // A drag that leaves takes the highlight with it; a drop without files says so.
    QCoreApplication::sendEvent(target, &enter);
    QDragLeaveEvent leave;
    QCoreApplication::sendEvent(target, &leave);
    EXPECT_FALSE(window->isDropHighlighted());
    QMimeData web;
    web.setUrls({QUrl(QStringLiteral("https://example.com/clip.mov"))});
    QWidget* list = window->queueView()->viewport();
    QDragEnterEvent webEnter(QPoint(5, 5), Qt::CopyAction, &web, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(list, &webEnter);
    QDropEvent webDrop(QPointF(5, 5), Qt::CopyAction, &web, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(list, &webDrop);
    EXPECT_TRUE(webDrop.isAccepted());
    EXPECT_EQ(model->jobs().size(), 1);
    EXPECT_EQ(model->banner(), QStringLiteral("Could not read that drop."));
    EXPECT_EQ(child<QLabel>("bannerText")->text(), QStringLiteral("Could not read that drop."));
}

TEST_F(MainWindowTest, BannerFooterAndLogShowTheModel)
{
    window->show();
    auto* banner = child<QWidget>("banner");
    EXPECT_FALSE(banner->isVisible());
    model->setBanner(QStringLiteral("The watch folder is gone."));
    EXPECT_TRUE(banner->isVisible());
    EXPECT_EQ(child<QLabel>("bannerText")->text(), QStringLiteral("The watch folder is gone."));
    QTest::mouseClick(child<QPushButton>("dismissBanner"), Qt::LeftButton);
    EXPECT_FALSE(model->banner().has_value());
    EXPECT_FALSE(banner->isVisible());

    EXPECT_EQ(child<QToolButton>("watchButton")->text(), QStringLiteral("Watch off"));
    EXPECT_EQ(child<QToolButton>("watchButton")->toolTip(), QStringLiteral("Watch Folder"));
    const QList<EncodingJob> jobs = addQueued(3);
    setStatus(jobs[0].id, JobStatus::completed);
    EXPECT_EQ(child<QLabel>("queuedCount")->text(), QStringLiteral("2 queued"));
    EXPECT_EQ(child<QLabel>("doneCount")->text(), QStringLiteral("1 done"));
    EXPECT_EQ(child<QLabel>("phase")->text(), model->phaseLabel());

    auto* parallel = child<QSpinBox>("parallel");
    EXPECT_EQ(parallel->value(), model->parallel());
    parallel->setValue(3);
    EXPECT_EQ(model->parallel(), 3);
    model->setParallel(1);
    EXPECT_EQ(parallel->value(), 1);

    auto* toggle = child<QPushButton>("logToggle");
    auto* pane = child<QWidget>("logPane");
    EXPECT_EQ(toggle->text(), QStringLiteral("Activity"));
    EXPECT_FALSE(pane->isVisible());
    QTest::mouseClick(toggle, Qt::LeftButton);
    EXPECT_TRUE(model->logOpen());
    EXPECT_EQ(toggle->text(), QStringLiteral("Hide Log"));
    EXPECT_TRUE(pane->isVisible());

    // The pane follows the newest line.
    auto* log = child<QListView>("logList");
    for (int i = 0; i < 60; ++i)
        model->log(QStringLiteral("line %1").arg(i));
    QCoreApplication::processEvents();
    EXPECT_GT(log->verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(log->verticalScrollBar()->value(), log->verticalScrollBar()->maximum());
}

TEST_F(MainWindowTest, EmptyQueueButtonsOpenTheChoosers)
{
    const QString movie = touch(QStringLiteral("picked.mov"));
    desktop.nextChoice = {movie};
    window->show();
    QTest::mouseClick(child<QPushButton>("emptyAddFiles"), Qt::LeftButton);
    ASSERT_EQ(desktop.openRequests.size(), 1);
    EXPECT_EQ(desktop.openRequests[0].title, QStringLiteral("Add to Queue"));
    ASSERT_TRUE(waitUntil([&] { return model->jobs().size() == 1; }));
    EXPECT_EQ(child<QStackedWidget>("queuePane")->currentIndex(), 1);
}

TEST_F(MainWindowTest, ClosingTheWindowPreparesForQuit)
{
    const QList<EncodingJob> jobs = addQueued(1);
    model->startQueue();
    FakeSession* session = sessions.session(jobs[0].id);
    ASSERT_NE(session, nullptr);
    const int queueWrites = store->writeCount(QString(kQueueFileName));
    window->show();
    window->close();
    EXPECT_TRUE(sessions.live.isEmpty() || sessions.live.first()->cancelRequested);
    EXPECT_GT(store->writeCount(QString(kQueueFileName)), queueWrites);
}

TEST_F(MainWindowTest, TenThousandJobsRepaintOneRowPerProgressReport)
{
    auto* delegate = new CountingDelegate(*model);
    window->setRowDelegate(delegate);
    QList<EncodingJob> jobs;
    jobs.reserve(10'000);
    for (int i = 0; i < 10'000; ++i)
        jobs.append(queuedJob(QStringLiteral("clip%1.mov").arg(i)));
    model->addJobs(jobs);
    model->startQueue();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    QTest::qWait(200);
    ASSERT_FALSE(delegate->painted.isEmpty());

    sessions.session(jobs[1].id)->progress(0.4, 30);
    QTest::qWait(100);
    delegate->painted.clear();
    sessions.session(jobs[1].id)->progress(0.5, 20);
    QTest::qWait(100);
    ASSERT_FALSE(delegate->painted.isEmpty());
    for (int row : std::as_const(delegate->painted))
        EXPECT_EQ(row, 1);

    // Scrolling far paints only the rows that come into view.
    QListView* list = window->queueView();
    delegate->painted.clear();
    list->verticalScrollBar()->setValue(list->verticalScrollBar()->maximum() / 2);
    QTest::qWait(50);
    const int visible = list->viewport()->height() / JobRowDelegate::kRowHeight + 2;
    ASSERT_FALSE(delegate->painted.isEmpty());
    const auto [low, high] =
        std::minmax_element(delegate->painted.cbegin(), delegate->painted.cend());
    EXPECT_LE(*high - *low, visible);
    EXPECT_LE(delegate->painted.size(), 2 * visible);
}

} // namespace
} // namespace corvel::testing
