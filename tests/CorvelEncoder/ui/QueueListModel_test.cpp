#include "ModelTestSupport.h"

#include "CorvelEncoder/ui/LogListModel.h"
#include "CorvelEncoder/ui/QueueListModel.h"
#include "CorvelEncoder/ui/Theme.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>

namespace corvel::testing {
namespace {

using namespace Qt::StringLiterals;

class QueueListModelTest : public ModelFixture
{
protected:
    void SetUp() override { makeModel(); }
};

TEST_F(QueueListModelTest, FollowsInsertsRemovalsAndProgressOfTheQueueRowByRow)
{
    const QList<EncodingJob> jobs = addQueued(200);
    QueueListModel list(*model);
    QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy inserted(&list, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&list, &QAbstractItemModel::rowsRemoved);
    QSignalSpy changed(&list, &QAbstractItemModel::dataChanged);
    QSignalSpy reset(&list, &QAbstractItemModel::modelReset);

    model->startQueue();
    deliver();
    changed.clear();
    sessions.session(jobs[1].id)->progress(0.42, 30);
    deliver();
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed[0][0].value<QModelIndex>().row(), 1);
    EXPECT_EQ(changed[0][1].value<QModelIndex>().row(), 1);
    EXPECT_EQ(list.data(list.index(1), QueueListModel::ProgressRole).toDouble(), 0.42);

    const QList<EncodingJob> more = addQueued(3);
    ASSERT_EQ(list.rowCount(), 203);
    ASSERT_EQ(inserted.count(), 1);
    EXPECT_EQ(list.idAt(201), more[1].id);
    EXPECT_EQ(list.data(list.index(201), QueueListModel::SourceNameRole), u"clip1.mov"_s);
    EXPECT_EQ(list.data(list.index(201), QueueListModel::PresetRole), model->presetLabel(more[1]));
    EXPECT_EQ(list.data(list.index(201), QueueListModel::OutputNameRole),
              model->previewFilename(more[1]));
    // Two separate runs come out as two removals, and the rows after them move up.
    model->remove({jobs[3].id, more[0].id, more[1].id});
    EXPECT_EQ(removed.count(), 2);
    ASSERT_EQ(list.rowCount(), 200);
    EXPECT_EQ(list.idAt(199), more[2].id);
    EXPECT_TRUE(list.idAt(200).isNull());
    EXPECT_FALSE(list.data(list.index(200), QueueListModel::JobIdRole).isValid());
    EXPECT_EQ(reset.count(), 0);
}

TEST_F(QueueListModelTest, LogListKeepsStampAndOrderAndDropsTheOldest)
{
    LogListModel log(*model);
    QAbstractItemModelTester tester(&log, QAbstractItemModelTester::FailureReportingMode::Fatal);
    const int before = log.rowCount();
    model->log(u"Something broke"_s, true);
    ASSERT_EQ(log.rowCount(), before + 1);
    const QModelIndex last = log.index(log.rowCount() - 1);
    const LogLine& line = model->logLines().last();
    EXPECT_EQ(log.data(last).toString(), logStamp(line.date) + u"  Something broke"_s);
    EXPECT_EQ(log.data(last, Qt::ForegroundRole).value<QColor>(), Theme::badText());

    for (int i = 0; i < int(ActivityLog::kCapacity) + 10; ++i)
        model->log(u"line %1"_s.arg(i));
    EXPECT_EQ(log.rowCount(), model->logLines().size());
    EXPECT_TRUE(log.data(log.index(log.rowCount() - 1))
                    .toString()
                    .endsWith(u"line %1"_s.arg(ActivityLog::kCapacity + 9)));
}

} // namespace
} // namespace corvel::testing
