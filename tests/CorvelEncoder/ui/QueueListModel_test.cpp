#include "ModelTestSupport.h"

#include "CorvelEncoder/ui/LogListModel.h"
#include "CorvelEncoder/ui/QueueListModel.h"
#include "CorvelEncoder/ui/Theme.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>

namespace corvel::testing {
namespace {

class QueueListModelTest : public ModelFixture
{
protected:
    void SetUp() override { makeModel(); }
};

TEST_F(QueueListModelTest, FollowsInsertsRemovalsAndChangesOfTheQueue)
{
    QueueListModel list(*model);
    QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy inserted(&list, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&list, &QAbstractItemModel::rowsRemoved);

    const QList<EncodingJob> jobs = addQueued(5);
    ASSERT_EQ(list.rowCount(), 5);
    ASSERT_EQ(inserted.count(), 1);
    EXPECT_EQ(list.idAt(3), jobs[3].id);
    EXPECT_EQ(list.data(list.index(3), QueueListModel::SourceNameRole),
              QStringLiteral("clip3.mov"));
    EXPECT_EQ(list.data(list.index(3), QueueListModel::PresetRole), model->presetLabel(jobs[3]));
    EXPECT_EQ(list.data(list.index(3), QueueListModel::OutputNameRole),
              model->previewFilename(jobs[3]));

    // Two separate runs come out as two removals, and the rows after them move up.
    model->remove({jobs[1].id, jobs[3].id, jobs[4].id});
    EXPECT_EQ(removed.count(), 2);
    ASSERT_EQ(list.rowCount(), 2);
    EXPECT_EQ(list.idAt(0), jobs[0].id);
    EXPECT_EQ(list.idAt(1), jobs[2].id);
    EXPECT_TRUE(list.idAt(2).isNull());
    EXPECT_FALSE(list.data(list.index(2), QueueListModel::JobIdRole).isValid());
}

TEST_F(QueueListModelTest, AProgressReportChangesOnlyItsRow)
{
    model->setMaxParallel(2);
    const QList<EncodingJob> jobs = addQueued(200);
    QueueListModel list(*model);
    QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model->startQueue();
    deliver();

    QSignalSpy changed(&list, &QAbstractItemModel::dataChanged);
    QSignalSpy reset(&list, &QAbstractItemModel::modelReset);
    sessions.session(jobs[1].id)->progress(0.42, 30);
    deliver();
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed[0][0].value<QModelIndex>().row(), 1);
    EXPECT_EQ(changed[0][1].value<QModelIndex>().row(), 1);
    EXPECT_EQ(reset.count(), 0);
    EXPECT_EQ(list.data(list.index(1), QueueListModel::ProgressRole).toDouble(), 0.42);
}

TEST_F(QueueListModelTest, LogListKeepsStampAndOrderAndDropsTheOldest)
{
    LogListModel log(*model);
    QAbstractItemModelTester tester(&log, QAbstractItemModelTester::FailureReportingMode::Fatal);
    const int before = log.rowCount();
    model->log(QStringLiteral("Something broke"), true);
    ASSERT_EQ(log.rowCount(), before + 1);
    const QModelIndex last = log.index(log.rowCount() - 1);
    const LogLine& line = model->logLines().last();
    EXPECT_EQ(log.data(last).toString(), logStamp(line.date) + QStringLiteral("  Something broke"));
    EXPECT_EQ(log.data(last, Qt::ForegroundRole).value<QColor>(), Theme::bad());

    for (int i = 0; i < int(ActivityLog::kCapacity) + 10; ++i)
        model->log(QStringLiteral("line %1").arg(i));
    EXPECT_EQ(log.rowCount(), model->logLines().size());
    EXPECT_TRUE(log.data(log.index(log.rowCount() - 1))
                    .toString()
                    .endsWith(QStringLiteral("line %1").arg(ActivityLog::kCapacity + 9)));
}

} // namespace
} // namespace corvel::testing
