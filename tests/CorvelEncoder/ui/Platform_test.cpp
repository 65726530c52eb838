#include "CorvelEncoder/QuitSignals.h"
#include "CorvelEncoder/ui/LinuxDesktopServices.h"

#include "../../QtPrinters.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>

namespace corvel {
namespace {

TEST(QuitSignals, TerminationSignalsArriveInTheEventLoopOnce)
{
    QuitSignals signals_;
    ASSERT_TRUE(signals_.isActive());
    QSignalSpy spy(&signals_, &QuitSignals::quitRequested);
    for (const int number : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(number);
        spy.clear();
        ASSERT_EQ(::raise(number), 0); // would end the process without the handler
        EXPECT_TRUE(spy.wait(1000));
        QTest::qWait(20);
        ASSERT_EQ(spy.count(), 1);
        EXPECT_EQ(spy[0][0].toInt(), number);
    }
}

TEST(QuitSignals, ASecondInstanceStaysInactiveAndTheFirstStillHears)
{
    QuitSignals first;
    {
        QuitSignals second;
        EXPECT_FALSE(second.isActive());
    }
    QSignalSpy spy(&first, &QuitSignals::quitRequested);
    ASSERT_EQ(::raise(SIGHUP), 0);
    EXPECT_TRUE(spy.wait(1000));
}

TEST(LinuxDesktopServices, FallbackOpensEachContainingFolderOnce)
{
    EXPECT_EQ(LinuxDesktopServices::containingFolders({QStringLiteral("/tmp/a/one.mov"),
                                                       QStringLiteral("/tmp/b/two.mov"),
                                                       QStringLiteral("/tmp/a/three.mov")}),
              (QStringList{QStringLiteral("/tmp/a"), QStringLiteral("/tmp/b")}));
}

TEST(LinuxDesktopServices, InhibitorIsReleasedWhenTheLastEncodeEnds)
{
    LinuxDesktopServices desktop;
    desktop.disableAutomaticTermination(QStringLiteral("Encoding"));
    const bool held = desktop.holdsInhibitor(); // false where no logind answers
    desktop.disableAutomaticTermination(QStringLiteral("Encoding"));
    desktop.enableAutomaticTermination(QStringLiteral("Encoding"));
    EXPECT_EQ(desktop.holdsInhibitor(), held);
    desktop.enableAutomaticTermination(QStringLiteral("Encoding"));
    EXPECT_FALSE(desktop.holdsInhibitor());
    // An unpaired release does nothing.
    desktop.enableAutomaticTermination(QStringLiteral("Encoding"));
    EXPECT_FALSE(desktop.holdsInhibitor());
}

} // namespace
} // namespace corvel
