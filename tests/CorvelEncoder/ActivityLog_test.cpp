#include "ModelTestSupport.h"

#include <QSignalSpy>

namespace corvel::testing {
namespace {

TEST(ActivityLogTest, KeepsTheNewest300Lines)
{
    ActivityLog log;
    const QDateTime now = QDateTime::currentDateTime();
    for (int i = 1; i <= 300; ++i)
        EXPECT_EQ(log.append(QString::number(i), false, now), 0);
    EXPECT_EQ(log.append(QStringLiteral("301"), false, now), 1);
    ASSERT_EQ(log.lines().size(), 300);
    EXPECT_EQ(log.lines().first().text, QStringLiteral("2"));
    EXPECT_EQ(log.lines().last().text, QStringLiteral("301"));
}

TEST(ActivityLogTest, IdenticalTextsAreDistinctLines)
{
    ActivityLog log;
    const QDateTime now = QDateTime::currentDateTime();
    log.append(QStringLiteral("Paused"), false, now);
    log.append(QStringLiteral("Paused"), false, now);
    EXPECT_NE(log.lines()[0].id, log.lines()[1].id);
    EXPECT_NE(log.lines()[0], log.lines()[1]);
}

TEST(ActivityLogTest, StampIsTwoDigitTwentyFourHourTime)
{
    const QDate day(2024, 3, 9);
    struct Row
    {
        QTime time;
        const char* expected;
    };
    const Row rows[] = {
        {QTime(9, 5, 7), "09:05:07"}, {QTime(21, 0, 59), "21:00:59"}, {QTime(0, 0, 0), "00:00:00"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.expected);
        EXPECT_EQ(logStamp(QDateTime(day, row.time)), QLatin1StringView(row.expected));
    }
}

class ModelLogTest : public ModelFixture
{
protected:
    void SetUp() override { makeModel(); }
};

TEST_F(ModelLogTest, ErrorLinesLeaveTheBannerAlone)
{
    model->setBanner(QStringLiteral("Could not read that drop."));
    QSignalSpy banner(model.get(), &AppModel::bannerChanged);
    model->log(QStringLiteral("Failed a.mov: Bad."), true);
    EXPECT_EQ(model->banner(), QStringLiteral("Could not read that drop."));
    EXPECT_EQ(banner.count(), 0);
    EXPECT_FALSE(model->logOpen());
    EXPECT_TRUE(model->logLines().last().isError);
}

TEST_F(ModelLogTest, TrimmingIsAnnouncedAsRowsLeavingTheFront)
{
    QSignalSpy appended(model.get(), &AppModel::logLineAppended);
    QSignalSpy removed(model.get(), &AppModel::logLinesRemoved);
    for (int i = 0; i < 300; ++i)
        model->log(QString::number(i));
    EXPECT_EQ(appended.count(), 300);
    ASSERT_EQ(removed.count(), 1); // the "ready" line made it 301
    EXPECT_EQ(removed.first(), (QList<QVariant>{0, 0}));
    EXPECT_EQ(model->logLines().first().text, QStringLiteral("0"));
}

} // namespace
} // namespace corvel::testing
