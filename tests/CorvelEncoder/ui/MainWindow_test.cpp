#include "UiTesting.h"

#include "CorvelEncoder/ui/IntroSheet.h"
#include "CorvelEncoder/ui/JobRowDelegate.h"
#include "CorvelEncoder/ui/MainWindow.h"
#include "CorvelEncoder/ui/QueueFinishedNotifier.h"
#include "CorvelEncoder/ui/QueueListModel.h"
#include "CorvelEncoder/ui/Theme.h"
#include "CorvelEncoderCore/StateFiles.h"

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

class MainWindowTest : public UiFixture
{
protected:
    void SetUp() override
    {
        UiFixture::SetUp();
        window = std::make_unique<MainWindow>(*model, desktop);
        root = window.get();
    }
    // The window in front, past the first-run introduction, which takes the focus.
    bool activateWithoutIntro()
    {
        const bool active = activate(window.get());
        if (auto* intro = window->findChild<IntroSheet*>())
            intro->continueButton()->click();
        return active;
    }
    QAction* action(const QString& title) const { return window->findChild<QAction*>(title); }
    QString touch(const QString& name)
    {
        EXPECT_TRUE(writeFile(path(name), {}));
        return path(name);
    }
    void setStatus(const QUuid& id, JobStatus status, std::optional<QString> output = {},
                   std::optional<QString> error = {})
    {
        model->store().update(id, [&](EncodingJob& job) {
            job.status = status;
            job.outputPath = output;
            job.errorMessage = error;
        });
    }

    std::unique_ptr<MainWindow> window;
};

TEST_F(MainWindowTest, HeaderButtonsFollowTheQueueWithoutMoving)
{
    window->show();
    auto* primary = child<QPushButton>("primaryButton");
    auto* pause = child<QPushButton>("pauseButton");
    auto* stop = child<QPushButton>("stopButton");
    const QRect primaryPlace = primary->geometry();
    // Enabled as: primary, pause, stop; the menu's commands always agree with them.
    auto states = [&] {
        EXPECT_EQ(action(u"Start Queue"_s)->isEnabled(), primary->isEnabled());
        EXPECT_EQ(action(u"Pause"_s)->isEnabled(), pause->isEnabled());
        EXPECT_EQ(action(u"Stop"_s)->isEnabled(), stop->isEnabled());
        return QList<bool>{primary->isEnabled(), pause->isEnabled(), stop->isEnabled()};
    };
    EXPECT_EQ(states(), (QList<bool>{false, false, false}));
    EXPECT_EQ(primary->text(), u"Start Queue"_s);

    const QList<EncodingJob> jobs = addQueued(1);
    // Encoding the only job: nothing left to start, but it can be paused and stopped.
    QTest::mouseClick(primary, Qt::LeftButton);
    ASSERT_EQ(status(jobs[0].id), JobStatus::encoding);
    EXPECT_EQ(states(), (QList<bool>{false, true, true}));
    // Paused from the keyboard: "Resume" with nothing queued, still stoppable, no second
    // pause; nothing moves, and the focus is not handed on to Stop.
    ASSERT_TRUE(activateWithoutIntro());
    pause->setFocus(Qt::TabFocusReason);
    QTest::keyClick(pause, Qt::Key_Space);
    EXPECT_EQ(primary->text(), u"Resume"_s);
    EXPECT_EQ(states(), (QList<bool>{true, false, true}));
    EXPECT_EQ(QApplication::focusWidget(), primary);
    QCoreApplication::processEvents();
    EXPECT_EQ(primary->geometry(), primaryPlace);

    QTest::mouseClick(primary, Qt::LeftButton);
    EXPECT_FALSE(model->scheduler().isQueuePaused());
    EXPECT_EQ(primary->text(), u"Start Queue"_s);
    QTest::mouseClick(stop, Qt::LeftButton);
    EXPECT_TRUE(sessions.session(jobs[0].id)->cancelRequested);
    sessions.session(jobs[0].id)->endCancelled();
    deliver();
    EXPECT_EQ(states(), (QList<bool>{false, false, false}));
    EXPECT_FALSE(action(u"Clear Completed"_s)->isEnabled());
}

TEST_F(MainWindowTest, MenuCommandsActOnTheSelection)
{
    // Delete belongs to the list alone, so text fields keep the key.
    EXPECT_TRUE(action(u"Remove"_s)->shortcut().isEmpty());
    // The list and the model share one selection; "Remove" takes it, and nothing without.
    const QList<EncodingJob> jobs = addQueued(4);
    action(u"Remove"_s)->trigger();
    EXPECT_EQ(model->store().jobs().size(), 4);
    model->store().setSelection({jobs[0].id, jobs[2].id});
    EXPECT_EQ(window->queueView()->selectionModel()->selectedRows().size(), 2);
    window->queueView()->selectionModel()->select(window->queueModel()->index(1),
                                                  QItemSelectionModel::ClearAndSelect);
    EXPECT_EQ(model->store().selectedIDs(), QList<QUuid>{jobs[1].id});
    action(u"Remove"_s)->trigger();
    EXPECT_FALSE(model->store().job(jobs[1].id).has_value());

    action(u"About Corvel Encoder"_s)->trigger();
    EXPECT_TRUE(model->sheets().showAbout());
    action(u"Corvel Encoder Help"_s)->trigger();
    EXPECT_TRUE(model->sheets().showHelp());
    action(u"Add Folder\u2026"_s)->trigger();
    ASSERT_FALSE(desktop.openRequests.isEmpty());
    EXPECT_EQ(desktop.openRequests.last().title, u"Add Folder"_s);
}

TEST_F(MainWindowTest, ContextMenuOffersWhatAppliesToTheRow)
{
    const QList<EncodingJob> jobs = addQueued(5);
    const QString output = touch(u"done.mov"_s);
    setStatus(jobs[1].id, JobStatus::completed, output);
    setStatus(jobs[2].id, JobStatus::failed);
    setStatus(jobs[3].id, JobStatus::cancelled);
    setStatus(jobs[4].id, JobStatus::completed); // finished without an output path
    const QString start = u"Start"_s, requeue = u"Requeue"_s, duplicate = u"Duplicate"_s,
                  source = u"Show Source in File Manager"_s,
                  shown = u"Show Output in File Manager"_s, line = u"---"_s, remove = u"Remove"_s;
    const QStringList queued = {start, duplicate, source, line, remove};
    const QStringList done = {start, requeue, duplicate, source, shown, line, remove};
    const QStringList ended = {start, requeue, duplicate, source, line, remove};
    const QList<QStringList> expected = {queued, done, ended, ended, ended};
    std::unique_ptr<QMenu> menu;
    for (int i = 0; i < jobs.size(); ++i) {
        SCOPED_TRACE(i);
        menu.reset(window->makeContextMenu(jobs[i].id));
        QStringList titles;
        for (QAction* a : menu->actions()) {
            titles.append(a->isSeparator() ? line : a->text());
            EXPECT_TRUE(a->isEnabled());
        }
        EXPECT_EQ(titles, expected[i]);
    }
    menu.reset(window->makeContextMenu(jobs[1].id));
    const QList<QAction*> actions = menu->actions(); // in the order checked above
    ASSERT_EQ(actions.size(), expected[1].size());
    actions[3]->trigger();
    actions[4]->trigger();
    EXPECT_EQ(desktop.reveals, (QList<QStringList>{{jobs[1].sourcePath}, {output}}));
    // The menu acts on its own row, not on the selection; a removed job is left alone.
    model->store().setSelection({jobs[0].id});
    actions[6]->trigger();
    EXPECT_FALSE(model->store().job(jobs[1].id).has_value());
    EXPECT_TRUE(model->store().job(jobs[0].id).has_value());
    actions[3]->trigger();
    EXPECT_EQ(desktop.reveals.size(), 2);
}

TEST_F(MainWindowTest, DropOnAnyPartOfTheWindowQueuesFilesWithAHighlight)
{
    window->show();
    const QList<QUrl> movie = {QUrl::fromLocalFile(touch(u"drop.mov"_s))};
    EXPECT_TRUE(sendDrag(child("footer"), movie, QEvent::DragEnter));
    EXPECT_TRUE(window->isDropHighlighted());
    EXPECT_TRUE(sendDrag(child("footer"), movie, QEvent::Drop));
    EXPECT_FALSE(window->isDropHighlighted());
    ASSERT_TRUE(waitUntil([&] { return model->store().jobs().size() == 1; }));
    EXPECT_EQ(child<QStackedWidget>("queuePane")->currentIndex(), 1)
        << "the list, not the empty page";

    // A drag that leaves takes the highlight with it; a drop without files says so.
    sendDrag(child("footer"), movie, QEvent::DragEnter);
    sendDrag(child("footer"), movie, QEvent::DragLeave);
    EXPECT_FALSE(window->isDropHighlighted());
    const QList<QUrl> web = {QUrl(u"https://example.com/a.mov"_s)};
    EXPECT_TRUE(sendDrag(window->queueView()->viewport(), web, QEvent::DragEnter));
    EXPECT_TRUE(sendDrag(window->queueView()->viewport(), web, QEvent::Drop));
    EXPECT_EQ(model->store().jobs().size(), 1);
    EXPECT_EQ(child<QLabel>("bannerText")->text(), u"Could not read that drop."_s);
}

TEST_F(MainWindowTest, BannerFooterAndLogShowTheModelAndKeepWhatTheUserSet)
{
    window->show();
    auto* banner = child("banner");
    EXPECT_FALSE(banner->isVisible());
    model->feed().setBanner(u"The watch folder is gone."_s);
    EXPECT_TRUE(banner->isVisible());
    EXPECT_TRUE(child<QLabel>("bannerText")->toolTip().isEmpty());
    // A word wider than the banner ends in an ellipsis; the tooltip has all of it.
    const QString cut = u"Cannot read /"_s + QString(400, u'x');
    model->feed().setBanner(cut);
    EXPECT_TRUE(child<QLabel>("bannerText")->text().startsWith(u"Cannot read /x"_s));
    EXPECT_TRUE(child<QLabel>("bannerText")->text().contains(QChar(0x2026)));
    EXPECT_EQ(child<QLabel>("bannerText")->toolTip(), cut);
    QTest::mouseClick(child<QPushButton>("dismissBanner"), Qt::LeftButton);
    EXPECT_FALSE(banner->isVisible());

    auto* watch = child<QToolButton>("watchButton");
    watch->click();
    EXPECT_TRUE(model->sheets().showWatchSettings());
    watch->click(); // its own button closes the panel too
    EXPECT_FALSE(model->sheets().showWatchSettings());
    const QList<EncodingJob> jobs = addQueued(3);
    setStatus(jobs[0].id, JobStatus::completed);
    EXPECT_EQ(child<QLabel>("queuedCount")->text(), u"2 queued"_s);
    EXPECT_EQ(child<QLabel>("doneCount")->text(), u"1 done"_s);
    auto* parallel = child<QSpinBox>("parallel");
    parallel->setValue(3);
    EXPECT_EQ(model->editing().parallel(), 3);
    model->scheduler().setMaxParallel(1);
    EXPECT_EQ(parallel->value(), 1);
    wheelOver(parallel, 1); // the pointer passing over the footer changes nothing
    EXPECT_EQ(model->editing().parallel(), 1);

    auto* toggle = child<QPushButton>("logToggle");
    EXPECT_FALSE(child("logPane")->isVisible());
    QTest::mouseClick(toggle, Qt::LeftButton);
    EXPECT_EQ(toggle->text(), u"Hide Log"_s);
    EXPECT_TRUE(child("logPane")->isVisible());
    auto* log = child<QListView>("logList");
    model->feed().log(u"Something broke"_s, true);
    const QModelIndex bad = log->model()->index(log->model()->rowCount() - 1, 0);
    EXPECT_EQ(bad.data().toString(),
              logStamp(model->feed().logLines().last().date) + u"  Something broke"_s);
    EXPECT_EQ(bad.data(Qt::ForegroundRole).value<QColor>(), Theme::badText());
    // Past its capacity the log drops its oldest lines, in the list too.
    for (int i = 0; i < int(ActivityLog::kCapacity) + 10; ++i)
        model->feed().log(u"line %1"_s.arg(i));
    QCoreApplication::processEvents();
    EXPECT_EQ(log->model()->rowCount(), model->feed().logLines().size());
    EXPECT_GT(log->verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(log->verticalScrollBar()->value(), log->verticalScrollBar()->maximum());
    // The log keeps the height it was dragged to when it is closed and opened again.
    auto* split = child<QSplitter>("logSplit");
    split->setSizes({split->height() - 260, 260});
    emit split->splitterMoved(split->height() - 260, 1);
    model->feed().setLogOpen(false);
    model->feed().setLogOpen(true);
    EXPECT_EQ(child("logPane")->height(), 260);
}

TEST_F(MainWindowTest, TabReachesEveryButtonAndTheEmptyPageAddsFiles)
{
    ASSERT_TRUE(activateWithoutIntro());
    // Tabs round the window twice; names the buttons never reached.
    auto unreached = [&] {
        child("addButton")->setFocus(Qt::TabFocusReason);
        QSet<QWidget*> reached;
        for (int i = 0; i < 120; ++i) {
            reached.insert(QApplication::focusWidget());
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        QStringList missed;
        for (QAbstractButton* button : window->findChildren<QAbstractButton*>())
            if (button->isVisible() && button->isEnabled() && !reached.contains(button))
                missed.append(button->objectName() + u':' + button->text());
        return missed;
    };
    EXPECT_EQ(unreached(), QStringList());
    desktop.nextChoice = {touch(u"picked.mov"_s)};
    QTest::keyClick(child("emptyAddFiles"), Qt::Key_Space);
    ASSERT_EQ(desktop.openRequests.size(), 1);
    EXPECT_EQ(desktop.openRequests[0].title, u"Add to Queue"_s);
    ASSERT_TRUE(waitUntil([&] { return model->store().jobs().size() == 1; }));

    const QList<EncodingJob> jobs = addQueued(3);
    model->feed().setBanner(u"The watch folder is gone."_s);
    model->store().setSelection({jobs[0].id});
    EXPECT_EQ(unreached(), QStringList());
}

TEST_F(MainWindowTest, QuittingOrRemovingWhileEncodingAsksFirst)
{
    QStringList asked;
    bool answer = false;
    window->setConfirmation([&](const QString& question, const QString&) {
        asked.append(question);
        return answer;
    });
    ASSERT_TRUE(activateWithoutIntro());
    const QList<EncodingJob> jobs = addQueued(3);
    model->scheduler().setMaxParallel(2);
    model->scheduler().startQueue();
    ASSERT_TRUE(waitUntil([&] { return model->store().activeCount() == 2; }));
    // Declined: every running encode goes on. Each row: the command, its question.
    const QList<std::pair<std::function<void()>, QString>> rows = {
        {[&] { action(u"Quit"_s)->trigger(); }, u"Quit and stop 2 encodes?"_s},
        {[&] { window->close(); }, u"Quit and stop 2 encodes?"_s},
        {[&] {
             window->queueView()->setFocus();
             model->store().setSelection({jobs[0].id, jobs[2].id});
             QTest::keyClick(window->queueView(), Qt::Key_Delete);
         },
         u"Remove and stop 1 encode?"_s},
    };
    for (const auto& [command, question] : rows) {
        SCOPED_TRACE(question.toStdString());
        asked.clear();
        command();
        EXPECT_EQ(asked, QStringList{question});
        EXPECT_TRUE(window->isVisible());
        EXPECT_EQ(model->store().jobs().size(), 3);
        EXPECT_FALSE(sessions.session(jobs[0].id)->cancelRequested);
    }
    // Accepted: removed at once; with nothing running, nothing asks.
    answer = true;
    QTest::keyClick(window->queueView(), Qt::Key_Delete);
    EXPECT_EQ(model->store().jobs().size(), 1);
    model->store().setSelection({jobs[1].id});
    QTest::keyClick(window->queueView(), Qt::Key_Backspace); // the other key of Remove
    asked.clear();
    model->store().addJobs({queuedJob(u"idle.mov"_s)});
    action(u"Quit"_s)->trigger();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(asked, QStringList());
}

// Cut texts carry their whole text as tooltip; row and inspector name the file written (the
// pattern's name was taken), not the pattern.
TEST_F(MainWindowTest, CutRowTextsCarryTheirWholeTextAndNameTheFileWritten)
{
    const QList<EncodingJob> jobs = addQueued(2);
    const QString message = QStringLiteral(
        "This file could not be read: the container ends before its index, so the encoder "
        "stopped while processing input.");
    setStatus(jobs[0].id, JobStatus::failed, {}, message);
    setStatus(jobs[1].id, JobStatus::completed, path(u"C003_bars_H264-2.mp4"_s));
    model->store().setSelection({jobs[1].id});
    EXPECT_EQ(child<QLabel>("previewName")->text(), u"C003_bars_H264-2.mp4"_s);
    QStyleOptionViewItem option;
    option.font = window->queueView()->font();
    // width, row, where, tooltip: a narrow row cuts the name, a wide one nothing.
    using Spot = QPoint (*)(const JobRowDelegate::Columns&);
    const std::tuple<int, int, Spot, QString> rows[] = {
        {500, 1, [](auto& c) { return QPoint(c.output.left() + 2, 14); },
         u"C003_bars_H264-2.mp4"_s},
        {1000, 0, [](auto& c) { return QPoint(c.status.left() + 2, 44); }, message},
        {1000, 0, [](auto& c) { return c.preset.center(); }, QString()}, // a short preset is whole
        {20000, 0, [](auto& c) { return QPoint(c.status.left() + 2, 44); }, QString()},
    };
    for (const auto& [width, row, spot, tooltip] : rows) {
        SCOPED_TRACE(width);
        option.rect = QRect(0, 0, width, JobRowDelegate::kRowHeight);
        const QModelIndex index = window->queueModel()->index(row);
        EXPECT_EQ(window->rowDelegate()->cutTextAt(option, index,
                                                   spot(JobRowDelegate::columns(option.rect))),
                  tooltip);
    }
}

TEST_F(MainWindowTest, QueueFinishingWhileAwaySendsOneNoticeThatShowsTheOutputs)
{
    QStringList notices;
    std::function<void()> show;
    QueueFinishedNotifier notifier(*model, desktop, [&](const QString& text, auto action) {
        notices.append(text);
        show = action;
    });
    desktop.active = false;
    const QList<EncodingJob> jobs = addQueued(4);
    model->scheduler().startQueue();
    QStringList outputs;
    for (int i = 0; i < jobs.size(); ++i) {
        ASSERT_TRUE(waitUntil([&] { return sessions.session(jobs[i].id) != nullptr; }));
        if (i < 3)
            sessions.session(jobs[i].id)
                ->succeed(outputs.emplaceBack(touch(u"out%1.mov"_s.arg(i))));
        else
            sessions.session(jobs[i].id)->fail(u"Broken."_s);
        deliver();
    }
    ASSERT_TRUE(waitUntil([&] { return !notices.isEmpty(); }));
    EXPECT_EQ(notices, QStringList{u"3 movies encoded, 1 failed"_s});
    ASSERT_TRUE(show);
    show();
    EXPECT_EQ(desktop.reveals.value(0), outputs);

    // Watching the window, the user needs no notice.
    desktop.active = true;
    model->scheduler().requeue(jobs[3].id);
    model->scheduler().startQueue();
    ASSERT_TRUE(waitUntil([&] { return sessions.session(jobs[3].id) != nullptr; }));
    sessions.session(jobs[3].id)->succeed(touch(u"again.mov"_s));
    ASSERT_TRUE(waitUntil([&] { return status(jobs[3].id) == JobStatus::completed; }));
    QCoreApplication::processEvents(); // the notifier looks once the scheduler has moved on
    EXPECT_EQ(notices.size(), 1);
}

TEST_F(MainWindowTest, TenThousandJobsRepaintOneRowPerProgressReportAndClosingPreparesForQuit)
{
    auto* delegate = new CountingDelegate;
    window->setRowDelegate(delegate);
    const QList<EncodingJob> jobs = addQueued(10'000);
    model->scheduler().startQueue();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    ASSERT_TRUE(waitUntil([&] { return !delegate->painted.isEmpty(); }));
    sessions.session(jobs[1].id)->progress(0.4, 30);
    deliver();
    delegate->painted.clear();
    sessions.session(jobs[1].id)->progress(0.5, 20);
    ASSERT_TRUE(waitUntil([&] { return !delegate->painted.isEmpty(); }));
    deliver();
    for (int row : std::as_const(delegate->painted))
        EXPECT_EQ(row, 1);

    const int queueWrites = store->writeCount(QString(kQueueFileName));
    window->setConfirmation([](const QString&, const QString&) { return true; });
    window->close();
    EXPECT_TRUE(sessions.live.isEmpty() || sessions.live.first()->cancelRequested);
    EXPECT_GT(store->writeCount(QString(kQueueFileName)), queueWrites);
}

using QueueListModelTest = UiFixture;

TEST_F(QueueListModelTest, FollowsInsertsAndRemovalsOfTheQueueRowByRow)
{
    const QList<EncodingJob> jobs = addQueued(200);
    QueueListModel list(*model);
    QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy inserted(&list, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&list, &QAbstractItemModel::rowsRemoved);
    QSignalSpy reset(&list, &QAbstractItemModel::modelReset);
    // A progress report repaints its own row alone: see the ten thousand jobs above.
    const QList<EncodingJob> more = addQueued(3);
    ASSERT_EQ(list.rowCount(), 203);
    ASSERT_EQ(inserted.count(), 1);
    EXPECT_EQ(list.idAt(201), more[1].id);
    EXPECT_EQ(list.data(list.index(201)), u"clip1.mov"_s);
    // Two separate runs come out as two removals, and the rows after them move up.
    model->scheduler().remove({jobs[3].id, more[0].id, more[1].id});
    EXPECT_EQ(removed.count(), 2);
    ASSERT_EQ(list.rowCount(), 200);
    EXPECT_EQ(list.idAt(199), more[2].id);
    EXPECT_TRUE(list.idAt(200).isNull());
    EXPECT_FALSE(list.data(list.index(200)).isValid());
    EXPECT_EQ(reset.count(), 0);
}

} // namespace
} // namespace corvel::testing
