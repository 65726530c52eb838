// Real encodes through the command line: what is printed, what is left on disk, and the
// exit status.

#include "CliTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <signal.h>

namespace corvel::clitest {
namespace {

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
    ASSERT_EQ(eventsNamed(run, "added").size(), 1);
    const QString id = eventsNamed(run, "added").first()["job"].toObject()["id"].toString();
    const QList<QJsonObject> ready = eventsNamed(run, "ready");
    const QList<QJsonObject> finished = eventsNamed(run, "finished");
    ASSERT_EQ(ready.size(), 1);
    ASSERT_EQ(finished.size(), 1);
    EXPECT_EQ(finished.first().value(QStringLiteral("id")).toString(), id);
    EXPECT_TRUE(ready.first().value(QStringLiteral("hardware")).isBool());
    const QString output = finished.first().value(QStringLiteral("output")).toString();
    EXPECT_EQ(ready.first().value(QStringLiteral("output")).toString(), output);
    EXPECT_EQ(QFileInfo(output).path(), m_out);
    EXPECT_GT(QFileInfo(output).size(), 1000);
    EXPECT_EQ(outputs(), QStringList{QFileInfo(output).fileName()});

    QFile queue(support + QStringLiteral("/queue.json"));
    ASSERT_TRUE(queue.open(QIODevice::ReadOnly));
    EXPECT_EQ(queue.readAll(), desktopQueue);
    EXPECT_FALSE(QFile::exists(support + QStringLiteral("/settings.json")));
}

TEST_F(EncodeTest, ASignalCancelsRemovesPartialFilesAndExitsAsTheShellExpects)
{
    for (const auto& [signal, status] : {std::pair{SIGINT, 130}, std::pair{SIGTERM, 143}}) {
        SCOPED_TRACE(signal);
        // Upscaled ProRes keeps the encode busy for seconds on any machine.
        const CliRun run = runEncoder(
            QStringLiteral("--json -p prores-422-hq --resolution 1920x1080 -o").split(u' ')
                << m_out << m_clip,
            m_dir.path(), m_dir.filePath(QStringLiteral("home")),
            [&, sent = false](const QByteArray& line, qint64 pid) mutable {
                if (!sent &&
                    parseLine(line).value(QStringLiteral("event")).toString() == "progress") {
                    sent = true;
                    ::kill(pid_t(pid), signal);
                }
            });
        ASSERT_FALSE(run.crashed);
        EXPECT_EQ(run.exitCode, status) << run.err.toStdString();
        EXPECT_EQ(eventsNamed(run, "finished").size(), 0) << "encoded before the signal arrived";
        EXPECT_EQ(eventsNamed(run, "cancelled").size(), 1);
        EXPECT_EQ(outputs(), QStringList{});
    }
}

// People read the text output on terminals of any width, on dumb terminals and in log files.
TEST_F(EncodeTest, TextOutputFitsWhereItIsShown)
{
    struct Row
    {
        const char* name;
        QStringList env;
        int columns; // 0: a pipe
        QStringList extra;
    };
    const Row rows[] = {
        {"a terminal 50 columns wide", {"TERM=xterm"}, 50, {}},
        {"a dumb terminal", {"TERM=dumb"}, 50, {}},
        {"a pipe, verbose", {}, 0, {"--verbose"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QDir(m_out).removeRecursively();
        const CliRun run = runEncoder(QStringLiteral("-p h264 -o").split(u' ') +
                                          QStringList{m_out, m_clip} + row.extra,
                                      m_dir.path(), m_dir.filePath(QStringLiteral("home")), {},
                                      60000, {}, row.env, row.columns);
        ASSERT_FALSE(run.crashed);
        EXPECT_EQ(run.exitCode, 0) << run.out.toStdString() << run.err.toStdString();
        EXPECT_FALSE(run.out.contains('\x1b')) << run.out.toStdString();
        const QString out = QString::fromUtf8(run.out);
        EXPECT_TRUE(out.contains(QStringLiteral("1 done in "))) << out.toStdString();
        EXPECT_TRUE(out.contains(QStringLiteral("job 1 of 1"))) << out.toStdString();
        // A live line is redrawn with \r and never wraps; elsewhere every line stays.
        const bool live = row.env.contains(QStringLiteral("TERM=xterm"));
        EXPECT_EQ(out.contains(QRegularExpression(QStringLiteral("\r[^\n]"))), live)
            << out.toStdString();
        for (const QString& piece : out.split(QRegularExpression(QStringLiteral("[\r\n]")))) {
            EXPECT_TRUE(!live || !piece.startsWith(u"job ") || piece.size() <= row.columns)
                << piece.toStdString();
        }
        // FFmpeg's own messages, named after their job, only when asked for.
        EXPECT_EQ(run.err.contains("[clip.mov] "), !row.extra.isEmpty()) << run.err.toStdString();
    }
}

TEST_F(EncodeTest, WatchWritesApartFromItsFolderAndTakesWhatArrivedWhileItWasDown)
{
    ASSERT_TRUE(QDir().mkpath(m_dir.filePath(QStringLiteral("watch"))));
    const QString watch = QDir(m_dir.filePath(QStringLiteral("watch"))).canonicalPath();
    const QString home = m_dir.filePath(QStringLiteral("home"));
    const QString out = watch + QStringLiteral("/Corvel Output");
    ASSERT_TRUE(QFile::copy(m_clip, m_dir.filePath(QStringLiteral("watch/there.mov"))));
    // Each run copies `arriving` in once it watches, and is interrupted once that is encoded.
    auto watchUntil = [&](const QString& arriving, const QString& encoded) {
        const QString folder = m_dir.filePath(QStringLiteral("watch"));
        return runEncoder(
            {QStringLiteral("--json"), QStringLiteral("-p"), QStringLiteral("h264"),
             QStringLiteral("--watch"), folder, QStringLiteral("-o"), folder},
            m_dir.path(), home, [&](const QByteArray& line, qint64 pid) {
                const QJsonObject event = parseLine(line);
                const QString text = event.value(QStringLiteral("text")).toString();
                if (text.startsWith(QStringLiteral("Watching ")) && !arriving.isEmpty())
                    QFile::copy(m_clip, folder + u'/' + arriving);
                if (event.value(QStringLiteral("event")).toString() == u"finished" &&
                    event.value(QStringLiteral("output")).toString().endsWith(encoded))
                    ::kill(pid_t(pid), SIGINT);
            });
    };
    const CliRun first = watchUntil(QStringLiteral("new.mov"), QStringLiteral("new_H264.mp4"));
    EXPECT_EQ(first.exitCode, 130) << first.err.toStdString();
    EXPECT_TRUE(
        first.out.contains(QStringLiteral("Watching %1 \u2192 %2 with H.264; Ctrl-C to stop")
                               .arg(watch, out)
                               .toUtf8()))
        << first.out.toStdString();
    ASSERT_TRUE(QFile::copy(m_clip, m_dir.filePath(QStringLiteral("watch/while down.mov"))));
    const CliRun second = watchUntil({}, QStringLiteral("while down_H264.mp4"));
    EXPECT_EQ(second.exitCode, 130) << second.err.toStdString();
    // The file there before the first run is left alone, nothing is encoded twice, and the
    // results never land where the watch would take them again.
    EXPECT_EQ(QDir(out).entryList(QDir::Files),
              (QStringList{"new_H264.mp4", "while down_H264.mp4"}));
    EXPECT_EQ(QDir(watch).entryList(QDir::Files),
              (QStringList{"new.mov", "there.mov", "while down.mov"}));
}

} // namespace
} // namespace corvel::clitest
