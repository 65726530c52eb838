// Real encodes through the command line: what is printed, what is left on disk, and the
// exit status.

#include "CliTestSupport.h"

#include "CorvelEncoderCore/Presets.h"
#include "CorvelEncoderCore/StateFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <signal.h>

namespace corvel::clitest {
namespace {

class EncodeTest : public CliTest
{
protected:
    void SetUp() override
    {
        CliTest::SetUp();
        ASSERT_TRUE(makeMovie(m_clip, 1, u"160x120"_s, true));
    }

    QString m_clip = path(u"clip.mov"_s);
    QString m_out = path(u"out"_s);
};

TEST_F(EncodeTest, EncodesWithJsonLinesOnlyAndLeavesTheDesktopQueueAlone)
{
    // The desktop application has a queue of its own waiting; a command-line run must neither
    // encode it nor rewrite it.
    const QString support = m_home + u"/data/Corvel Encoder"_s;
    EncodingJob queued;
    queued.id = QUuid::createUuid();
    queued.sourcePath = m_clip;
    queued.settings = {u"h264"_s, u"H.264"_s, BuiltinPreset::matching(u"h264")->body, m_out, false};
    queued.settings.body.namingPattern = u"{name}_desk"_s;
    const QByteArray desktopQueue = encodeQueueFile({queued});
    ASSERT_TRUE(writeFile(support + u"/queue.json"_s, desktopQueue));

    const CliRun run = runHere({u"--json"_s, u"-p"_s, u"h264"_s, u"-o"_s, m_out, m_clip});
    ASSERT_FALSE(run.crashed);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    ASSERT_EQ(eventsNamed(run, "added").size(), 1);
    const QString id = eventsNamed(run, "added").first()["job"].toObject()["id"].toString();
    const QList<QJsonObject> ready = eventsNamed(run, "ready");
    const QList<QJsonObject> finished = eventsNamed(run, "finished");
    ASSERT_EQ(ready.size(), 1);
    ASSERT_EQ(finished.size(), 1);
    EXPECT_EQ(finished.first().value(u"id"_s).toString(), id);
    EXPECT_TRUE(ready.first().value(u"hardware"_s).isBool());
    const QString output = finished.first().value(u"output"_s).toString();
    EXPECT_EQ(ready.first().value(u"output"_s).toString(), output);
    EXPECT_EQ(QFileInfo(output).path(), m_out);
    EXPECT_GT(QFileInfo(output).size(), 1000);
    EXPECT_EQ(entriesOf(m_out), QStringList{QFileInfo(output).fileName()});

    EXPECT_EQ(readFile(support + u"/queue.json"_s), desktopQueue);
    EXPECT_FALSE(QFile::exists(support + u"/settings.json"_s));
}

TEST_F(EncodeTest, ASignalCancelsRemovesPartialFilesAndExitsAsTheShellExpects)
{
    for (const auto& [signal, status] : {std::pair{SIGINT, 130}, std::pair{SIGTERM, 143}}) {
        SCOPED_TRACE(signal);
        // Upscaled ProRes keeps the encode busy for seconds on any machine.
        const CliRun run = runHere(
            u"--json -p prores-422-hq --resolution 1920x1080 -o"_s.split(u' ') << m_out << m_clip,
            [&, sent = false](const QByteArray& line, qint64 pid) mutable {
                if (!sent && parseLine(line).value(u"event"_s).toString() == "progress") {
                    sent = true;
                    ::kill(pid_t(pid), signal);
                }
            });
        ASSERT_FALSE(run.crashed);
        EXPECT_EQ(run.exitCode, status) << run.err.toStdString();
        EXPECT_EQ(eventsNamed(run, "finished").size(), 0) << "encoded before the signal arrived";
        EXPECT_EQ(eventsNamed(run, "cancelled").size(), 1);
        EXPECT_EQ(entriesOf(m_out), QStringList{});
    }
}

// People read the text output on terminals of any width, on dumb terminals and in log files.
TEST_F(EncodeTest, TextOutputFitsWhereItIsShown)
{
    // name, environment, terminal columns (0: a pipe), extra arguments
    const std::tuple<const char*, QStringList, int, QStringList> rows[] = {
        {"a terminal 50 columns wide", {"TERM=xterm"}, 50, {}},
        {"a dumb terminal", {"TERM=dumb"}, 50, {}},
        {"a pipe, verbose", {}, 0, {"--verbose"}}};
    for (const auto& [name, env, columns, extra] : rows) {
        SCOPED_TRACE(name);
        QDir(m_out).removeRecursively();
        const CliRun run =
            runEncoder(u"-p h264 -o"_s.split(u' ') + QStringList{m_out, m_clip} + extra,
                       m_dir.path(), m_home, {}, 60000, {}, env, columns);
        ASSERT_FALSE(run.crashed);
        EXPECT_EQ(run.exitCode, 0) << run.out.toStdString() << run.err.toStdString();
        EXPECT_FALSE(run.out.contains('\x1b')) << run.out.toStdString();
        const QString out = QString::fromUtf8(run.out);
        EXPECT_TRUE(out.contains(u"1 done in "_s)) << out.toStdString();
        EXPECT_TRUE(out.contains(u"job 1 of 1"_s)) << out.toStdString();
        // A live line is redrawn with \r and never wraps; elsewhere every line stays.
        const bool live = env.contains(u"TERM=xterm"_s);
        EXPECT_EQ(out.contains(QRegularExpression(u"\r[^\n]"_s)), live) << out.toStdString();
        for (const QString& piece : out.split(QRegularExpression(u"[\r\n]"_s))) {
            EXPECT_TRUE(!live || !piece.startsWith(u"job ") || piece.size() <= columns)
                << piece.toStdString();
        }
        // FFmpeg's own messages, named after their job, only when asked for.
        EXPECT_EQ(run.err.contains("[clip.mov] "), !extra.isEmpty()) << run.err.toStdString();
    }
}

TEST_F(EncodeTest, WatchWritesApartFromItsFolderAndTakesWhatArrivedWhileItWasDown)
{
    const QString folder = path(u"watch"_s);
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString out = QDir(folder).canonicalPath() + u"/Corvel Output"_s;
    ASSERT_TRUE(QFile::copy(m_clip, folder + u"/there.mov"_s));
    // Each run copies `arriving` in once it watches, and is interrupted once that is encoded.
    auto watchUntil = [&](const QString& arriving, const QString& encoded,
                          const QStringList& more = {}) {
        const CliRun run = runHere(
            QStringList{u"--json"_s, u"-p"_s, u"h264"_s, u"--watch"_s, folder, u"-o"_s, folder} +
                more,
            [&](const QByteArray& line, qint64 pid) {
                const QJsonObject event = parseLine(line);
                const QString text = event.value(u"text"_s).toString();
                if (text.startsWith(u"Watching "_s) && !arriving.isEmpty())
                    QFile::copy(m_clip, folder + u'/' + arriving);
                if (event.value(u"event"_s).toString() == u"finished" &&
                    event.value(u"output"_s).toString().endsWith(encoded))
                    ::kill(pid_t(pid), SIGINT);
            });
        EXPECT_EQ(run.exitCode, 130) << encoded.toStdString() << run.err.toStdString();
    };
    watchUntil(u"new.mov"_s, u"new_H264.mp4"_s);
    ASSERT_TRUE(QFile::copy(m_clip, folder + u"/while down.mov"_s));
    watchUntil({}, u"while down_H264.mp4"_s);
    // The file there before the first run is left alone until existing files are asked for,
    // nothing is encoded twice, and the results never land where the watch would take them.
    watchUntil({}, u"there_H264.mp4"_s, {u"--watch-existing"_s});
    EXPECT_EQ(QDir(out).entryList(QDir::Files),
              (QStringList{"new_H264.mp4", "there_H264.mp4", "while down_H264.mp4"}));
}

} // namespace
} // namespace corvel::clitest
