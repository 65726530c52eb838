// The desktop binary as a user meets it: one instance per user, later launches hand over.

#include "../../QtPrinters.h"
#include "AppEnvironment.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

namespace {

bool waitFor(const std::function<bool()>& done, int msecs)
{
    QDeadlineTimer deadline(msecs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(50);
    }
    return true;
}

QJsonArray queueJobs(const QString& supportFolder)
{
    QFile file(supportFolder + "/queue.json");
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object().value("jobs").toArray();
}

TEST(SecondLaunch, HandsItsMovieToTheRunningInstanceAndExits)
{
    QTemporaryDir home;
    const QProcessEnvironment environment = corvel::testing::appEnvironment(home);
    const QString support = home.filePath("data/Corvel Encoder");
    // The instance socket is the runtime folder's only entry.
    auto runtimeEntries = [&] {
        return QDir(home.filePath("runtime"))
            .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    };

    QProcess first;
    first.setProcessEnvironment(environment);
    first.start(CORVEL_ENCODER_BINARY, {});
    ASSERT_TRUE(first.waitForStarted());
    // Listening once the socket exists in the runtime folder.
    ASSERT_TRUE(waitFor([&] { return !runtimeEntries().isEmpty(); }, 20000));

    QFile movie(home.filePath("clip.mov"));
    ASSERT_TRUE(movie.open(QIODevice::WriteOnly));
    movie.close();
    QProcess second;
    second.setProcessEnvironment(environment);
    second.setWorkingDirectory(home.path());
    second.start(CORVEL_ENCODER_BINARY, {"clip.mov"}); // relative to its own folder
    ASSERT_TRUE(second.waitForFinished(20000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);

    // The first instance adds it and saves its queue shortly after.
    ASSERT_TRUE(waitFor([&] { return queueJobs(support).size() == 1; }, 20000));
    EXPECT_EQ(queueJobs(support).at(0).toObject().value("sourcePath").toString(),
              home.filePath("clip.mov"));

    // Logging out (SIGTERM) quits through the normal quit path.
    ::kill(pid_t(first.processId()), SIGTERM);
    ASSERT_TRUE(first.waitForFinished(20000));
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 0);
    EXPECT_EQ(queueJobs(support).size(), 1);
    EXPECT_TRUE(runtimeEntries().isEmpty()) << "the socket is removed at exit";
}

// A first instance that is stopped cannot take the files: the second launch says so and exits
// non-zero instead of running beside it, and the files do not arrive when the first resumes.
TEST(SecondLaunch, AStoppedFirstInstanceTurnsTheLaunchAwayWithAMessage)
{
    QTemporaryDir home;
    const QProcessEnvironment environment = corvel::testing::appEnvironment(home);
    const QString support = home.filePath("data/Corvel Encoder");
    QProcess first;
    first.setProcessEnvironment(environment);
    first.start(CORVEL_ENCODER_BINARY, {});
    ASSERT_TRUE(first.waitForStarted());
    // Listening once the socket exists in the runtime folder.
    ASSERT_TRUE(waitFor(
        [&] {
            return !QDir(home.filePath("runtime"))
                        .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
                        .isEmpty();
        },
        20000));
    for (const char* name : {"late.mov", "next.mov"})
        QFile(home.filePath(name)).open(QIODevice::WriteOnly);

    ::kill(pid_t(first.processId()), SIGSTOP);
    QProcess second;
    second.setProcessEnvironment(environment);
    second.start(CORVEL_ENCODER_BINARY, {home.filePath("late.mov")});
    const bool ended = second.waitForFinished(30000);
    ::kill(pid_t(first.processId()), SIGCONT);
    ASSERT_TRUE(ended) << "the second launch runs as a second instance";
    EXPECT_NE(second.exitCode(), 0);
    EXPECT_TRUE(second.readAllStandardError().contains("already running"));

    QProcess third;
    third.setProcessEnvironment(environment);
    third.start(CORVEL_ENCODER_BINARY, {home.filePath("next.mov")});
    ASSERT_TRUE(third.waitForFinished(20000));
    EXPECT_EQ(third.exitCode(), 0);
    // Saved before the launch was told it was taken: a kill now would not lose it.
    ASSERT_EQ(queueJobs(support).size(), 1);
    EXPECT_EQ(queueJobs(support).at(0).toObject().value("sourcePath").toString(),
              home.filePath("next.mov"));
    ::kill(pid_t(first.processId()), SIGTERM);
    ASSERT_TRUE(first.waitForFinished(20000));
    EXPECT_EQ(queueJobs(support).size(), 1);
}

} // namespace
