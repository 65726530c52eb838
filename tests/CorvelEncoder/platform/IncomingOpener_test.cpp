#include "CorvelEncoder/platform/IncomingOpener.h"

#include <QCoreApplication>
#include <QSet>

#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace corvel {
namespace {

using testing::waitUntil;

TEST(IncomingOpener, LosesNothingAcrossThreads)
{
    IncomingOpener opener;
    QObject context;
    std::atomic<bool> go{false};
    std::atomic<int> sent{0};
    constexpr int kPerThread = 500;
    std::vector<std::thread> senders;
    for (int t = 0; t < 4; ++t) {
        senders.emplace_back([&, t] {
            while (!go)
                std::this_thread::yield();
            for (int i = 0; i < kPerThread; ++i) {
                opener.receive({QUrl::fromLocalFile(u"/%1/%2.mov"_s.arg(t).arg(i))});
                ++sent;
            }
        });
    }
    QList<QUrl> delivered;
    go = true;
    // The handler arrives while the senders run: some URLs are held, the rest come later.
    while (sent == 0)
        std::this_thread::yield();
    delivered += opener.install(&context, [&](const QList<QUrl>& urls) { delivered += urls; });
    for (auto& sender : senders)
        sender.join();
    ASSERT_TRUE(waitUntil([&] { return delivered.size() >= 4 * kPerThread; }));
    // Every delivery was posted before the senders ended: none may still be on its way.
    QCoreApplication::processEvents();
    EXPECT_EQ(delivered.size(), 4 * kPerThread);
    EXPECT_EQ(QSet<QUrl>(delivered.begin(), delivered.end()).size(), 4 * kPerThread);
}

} // namespace
} // namespace corvel
