#include "ModelTestSupport.h"

#include <QSignalSpy>

namespace corvel::testing {
namespace {

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
    model->feed().setBanner(QStringLiteral("Could not read that drop."));
    QSignalSpy banner(&model->feed(), &ActivityFeed::bannerChanged);
    model->feed().log(QStringLiteral("Failed a.mov: Bad."), true);
    EXPECT_EQ(model->feed().banner(), QStringLiteral("Could not read that drop."));
    EXPECT_EQ(banner.count(), 0);
    EXPECT_FALSE(model->feed().logOpen());
    EXPECT_TRUE(model->feed().logLines().last().isError);
}

// The log keeps the newest 300 lines; views hear of the oldest leaving as rows removed.
TEST_F(ModelLogTest, TrimmingIsAnnouncedAsRowsLeavingTheFront)
{
    QSignalSpy appended(&model->feed(), &ActivityFeed::logLineAppended);
    QSignalSpy removed(&model->feed(), &ActivityFeed::logLinesRemoved);
    for (int i = 0; i < 300; ++i)
        model->feed().log(QString::number(i));
    EXPECT_EQ(appended.count(), 300);
    ASSERT_EQ(removed.count(), 1); // the "ready" line made it 301
    EXPECT_EQ(removed.first(), (QList<QVariant>{0, 0}));
    ASSERT_EQ(model->feed().logLines().size(), 300);
    EXPECT_EQ(model->feed().logLines().first().text, QStringLiteral("0"));
    EXPECT_EQ(model->feed().logLines().last().text, QStringLiteral("299"));
}

} // namespace
} // namespace corvel::testing
