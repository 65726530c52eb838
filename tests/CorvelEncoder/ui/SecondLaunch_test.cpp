// The desktop binary as a user meets it: one instance per user, later launches hand over.

#include "AppEnvironment.h"
#include "tests/TestSupport.h"

#include <QtCore>

#include <gtest/gtest.h>

#include <csignal>

namespace {

using corvel::testing::waitUntil;

QJsonArray queueJobs(const QString& supportFolder)
{
    const QByteArray data = corvel::testing::readFile(supportFolder + "/queue.json");
    return QJsonDocument::fromJson(data).object().value("jobs").toArray();
}

// The desktop binary in its own home folder.
struct Home
{
    QTemporaryDir dir;
    QProcessEnvironment environment = corvel::testing::appEnvironment(dir);
    QString support = dir.filePath("data/Corvel Encoder");

    // The instance socket is the runtime folder's only entry.
    QStringList runtimeEntries() const
    {
        return QDir(dir.filePath("runtime"))
            .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    }
    void launch(QProcess& app, const QStringList& arguments) const
    {
        app.setProcessEnvironment(environment);
        app.setWorkingDirectory(dir.path());
        app.start(CORVEL_ENCODER_BINARY, arguments);
    }
};

// A later launch hands its movie to the running instance and exits. While the first instance
// is stopped it cannot take the files: the launch says so and exits non-zero instead of running
// beside it, and the files do not arrive when the first resumes.
TEST(SecondLaunch, HandsItsMovieToTheRunningInstanceOrIsTurnedAwayWithAMessage)
{
    Home home;
    QProcess first;
    home.launch(first, {});
    ASSERT_TRUE(first.waitForStarted());
    ASSERT_TRUE(waitUntil([&] { return !home.runtimeEntries().isEmpty(); }, 20000)); // listening
    for (const char* name : {"late.mov", "next.mov"})
        ASSERT_TRUE(corvel::testing::writeFile(home.dir.filePath(name), {}));
    ::kill(pid_t(first.processId()), SIGSTOP);
    QProcess second;
    home.launch(second, {home.dir.filePath("late.mov")});
    const bool ended = second.waitForFinished(30000);
    ::kill(pid_t(first.processId()), SIGCONT);
    ASSERT_TRUE(ended) << "the second launch runs as a second instance";
    EXPECT_NE(second.exitCode(), 0);
    EXPECT_TRUE(second.readAllStandardError().contains("already running"));

    QProcess third;
    home.launch(third, {"next.mov"}); // relative to its own folder
    ASSERT_TRUE(third.waitForFinished(20000));
    EXPECT_EQ(third.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(third.exitCode(), 0);
    // Saved before the launch was told it was taken: a kill now would not lose it.
    ASSERT_EQ(queueJobs(home.support).size(), 1);
    EXPECT_EQ(queueJobs(home.support)[0].toObject().value("sourcePath"),
              home.dir.filePath("next.mov"));

    // Logging out (SIGTERM) quits through the normal quit path.
    ::kill(pid_t(first.processId()), SIGTERM);
    ASSERT_TRUE(first.waitForFinished(20000));
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 0);
    EXPECT_EQ(queueJobs(home.support).size(), 1);
    EXPECT_TRUE(home.runtimeEntries().isEmpty()) << "the socket is removed at exit";
}

} // namespace
