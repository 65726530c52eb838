// Real encodes through the command line: what is printed, what is left on disk, and the
// exit status.

#include "CliTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <signal.h>

namespace corvel::clitest {
namespace {

const QSet<QString> kEvents = {"added",  "progress",  "ready", "finished",
                               "failed", "cancelled", "log",   "banner"};

QList<QJsonObject> events(const CliRun& run)
{
    QList<QJsonObject> all;
    for (const QByteArray& line : run.lines()) {
        const QJsonObject event = parseJsonLine(line);
        EXPECT_TRUE(kEvents.contains(event.value(QStringLiteral("event")).toString()))
            << "not an event line: " << line.toStdString();
        all.append(event);
    }
    return all;
}

QList<QJsonObject> named(const QList<QJsonObject>& all, const char* name)
{
    QList<QJsonObject> some;
    for (const QJsonObject& event : all) {
        if (event.value(QStringLiteral("event")).toString() == QLatin1StringView(name))
            some.append(event);
    }
    return some;
}

class EncodeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_clip = m_dir.filePath(QStringLiteral("clip.mov"));
        ASSERT_TRUE(makeMovie(m_clip, 1, QStringLiteral("160x120"), true));
        m_out = m_dir.filePath(QStringLiteral("out"));
    }

    QStringList outputs() const
    {
        return QDir(m_out).entryList(QDir::Files | QDir::Hidden | QDir::System);
    }

    QTemporaryDir m_dir;
    QString m_clip;
    QString m_out;
};

TEST_F(EncodeTest, EncodesWithJsonLinesOnlyAndLeavesTheDesktopQueueAlone)
{
    // The desktop application has a queue of its own waiting; a command-line run must neither
    // encode it nor rewrite it.
    const QString home = m_dir.filePath(QStringLiteral("home"));
    const QString support = home + QStringLiteral("/data/Corvel Encoder");
    ASSERT_TRUE(QDir().mkpath(support));
    const QByteArray desktopQueue =
        QStringLiteral(R"({"version":1,"jobs":[{"id":"6A1C3B9E-5D7F-4E2A-9B8C-1D2E3F4A5B6C",)"
                       R"("sourcePath":"%1","probing":false,"settings":{"presetID":"h264",)"
                       R"("presetName":"H.264","body":{"codec":"h264","resolution":"source",)"
                       R"("customWidth":1920,"customHeight":1080,"frameRate":{"kind":"source"},)"
                       R"("audio":"aac","bitrateMbps":20,"bitrateFollowsQuality":true,)"
                       R"("quality":"high","namingPattern":"{name}_desk"},"outputDirectory":"%2",)"
                       R"("revealWhenDone":false},"status":"queued","progress":0,"addedAt":0}]})")
            .arg(m_clip, m_out)
            .toUtf8();
    {
        QFile queue(support + QStringLiteral("/queue.json"));
        ASSERT_TRUE(queue.open(QIODevice::WriteOnly));
        queue.write(desktopQueue);
    }

    const CliRun run = runEncoder({QStringLiteral("--json"), QStringLiteral("-p"),
                                   QStringLiteral("h264"), QStringLiteral("-o"), m_out, m_clip},
                                  m_dir.path(), home);
    ASSERT_FALSE(run.crashed);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QList<QJsonObject> all = events(run);
    ASSERT_EQ(named(all, "added").size(), 1);
    const QString id = named(all, "added")
                           .first()
                           .value(QStringLiteral("job"))
                           .toObject()
                           .value(QStringLiteral("id"))
                           .toString();
    const QList<QJsonObject> ready = named(all, "ready");
    const QList<QJsonObject> finished = named(all, "finished");
    ASSERT_EQ(ready.size(), 1);
    ASSERT_EQ(finished.size(), 1);
    EXPECT_EQ(finished.first().value(QStringLiteral("id")).toString(), id);
    EXPECT_TRUE(ready.first().value(QStringLiteral("hardware")).isBool());
    const QString output = finished.first().value(QStringLiteral("output")).toString();
    EXPECT_EQ(ready.first().value(QStringLiteral("output")).toString(), output);
    EXPECT_EQ(QFileInfo(output).path(), m_out);
    EXPECT_GT(QFileInfo(output).size(), 1000);
    EXPECT_EQ(outputs(), QStringList{QFileInfo(output).fileName()});
    for (const QJsonObject& progress : named(all, "progress")) {
        const double fraction = progress.value(QStringLiteral("progress")).toDouble(-1);
        EXPECT_GE(fraction, 0);
        EXPECT_LE(fraction, 1);
    }

    QFile queue(support + QStringLiteral("/queue.json"));
    ASSERT_TRUE(queue.open(QIODevice::ReadOnly));
    EXPECT_EQ(queue.readAll(), desktopQueue);
    EXPECT_FALSE(QFile::exists(support + QStringLiteral("/settings.json")));
}

TEST_F(EncodeTest, AnUnreadableSourceFailsTheRunButNotTheOtherJobs)
{
    const QString broken = m_dir.filePath(QStringLiteral("broken.mov"));
    {
        QFile file(broken);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("this is not a movie\n");
    }
    const CliRun run =
        runEncoder({QStringLiteral("--json"), QStringLiteral("-p"), QStringLiteral("h264"),
                    QStringLiteral("-o"), m_out, broken, m_clip},
                   m_dir.path(), m_dir.filePath(QStringLiteral("home")));
    ASSERT_FALSE(run.crashed);
    EXPECT_EQ(run.exitCode, 1);
    const QList<QJsonObject> all = events(run);
    const QList<QJsonObject> failed = named(all, "failed");
    ASSERT_EQ(failed.size(), 1);
    EXPECT_FALSE(failed.first().value(QStringLiteral("error")).toString().isEmpty());
    EXPECT_EQ(named(all, "finished").size(), 1);
    EXPECT_EQ(outputs().size(), 1);
}

TEST_F(EncodeTest, InterruptCancelsRemovesPartialFilesAndExits130)
{
    // Upscaled ProRes keeps the encode busy for seconds on any machine.
    const CliRun run =
        runEncoder({QStringLiteral("--json"), QStringLiteral("-p"), QStringLiteral("ProRes 422 HQ"),
                    QStringLiteral("--resolution"), QStringLiteral("1920x1080"),
                    QStringLiteral("-o"), m_out, m_clip},
                   m_dir.path(), m_dir.filePath(QStringLiteral("home")),
                   [sent = false](const QByteArray& line, qint64 pid) mutable {
                       if (!sent && parseJsonLine(line).value(QStringLiteral("event")).toString() ==
                                        "progress") {
                           sent = true;
                           ::kill(pid_t(pid), SIGINT);
                       }
                   });
    ASSERT_FALSE(run.crashed);
    EXPECT_EQ(run.exitCode, 130) << run.err.toStdString();
    const QList<QJsonObject> all = events(run);
    EXPECT_EQ(named(all, "finished").size(), 0) << "encoded before the interrupt arrived";
    EXPECT_EQ(named(all, "cancelled").size(), 1);
    EXPECT_EQ(outputs(), QStringList{});
}

} // namespace
} // namespace corvel::clitest
