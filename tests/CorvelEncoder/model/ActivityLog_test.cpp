#include "CorvelEncoder/model/ActivityFeed.h"
#include "tests/QtPrinters.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

namespace corvel {
namespace {

TEST(ActivityLogTest, StampIsTwoDigitTwentyFourHourTime)
{
    const QDate day(2024, 3, 9);
    const std::pair<QTime, const char*> rows[] = {
        {QTime(9, 5, 7), "09:05:07"}, {QTime(21, 0, 59), "21:00:59"}, {QTime(0, 0, 0), "00:00:00"}};
    for (const auto& [time, expected] : rows)
        EXPECT_EQ(logStamp(QDateTime(day, time)), QLatin1StringView(expected));
}

// The feed keeps the newest 300 lines, and views hear of the oldest leaving as rows removed.
// An error line leaves the banner and the log panel as they were.
TEST(ActivityLogTest, FeedTrimsFromTheFrontAndErrorsLeaveTheBannerAlone)
{
    ActivityFeed feed;
    feed.setBanner(u"Could not read that drop."_s);
    QSignalSpy banner(&feed, &ActivityFeed::bannerChanged);
    QSignalSpy appended(&feed, &ActivityFeed::logLineAppended);
    QSignalSpy removed(&feed, &ActivityFeed::logLinesRemoved);
    for (int i = 0; i <= 300; ++i)
        feed.log(QString::number(i), i == 300);
    EXPECT_EQ(appended.count(), 301);
    ASSERT_EQ(removed.count(), 1);
    EXPECT_EQ(removed.first(), (QList<QVariant>{0, 0}));
    ASSERT_EQ(feed.logLines().size(), 300);
    EXPECT_EQ(feed.logLines().first().text, u"1"_s);
    EXPECT_TRUE(feed.logLines().last().isError);
    EXPECT_FALSE(feed.logLines().first().isError);
    EXPECT_EQ(feed.banner(), u"Could not read that drop."_s);
    EXPECT_EQ(banner.count(), 0);
    EXPECT_FALSE(feed.logOpen());
}

} // namespace
} // namespace corvel
