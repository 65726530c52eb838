// What the command line accepts and refuses, and with which words and exit status.

#include "CliTestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace corvel::clitest {
namespace {

TEST(OptionsTest, BadValuesAndUsageErrorsExitTwoWithTheJobFileText)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const char* name : {"clip.mov", "notes.txt"}) {
        QFile file(dir.filePath(QLatin1StringView(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    {
        QFile file(dir.filePath(QStringLiteral("bad.corveljob")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(R"({"sources": ["clip.mov"], "quality": "ultra"})");
    }

    struct Row
    {
        QStringList args;
        int exitCode;
        const char* says;    // in stderr, or in stdout for exit 0
        int errorLines = -1; // how many lines stderr has, when that matters
    };
    const QList<Row> rows = {
        {{"--resolution", "0x720", "clip.mov"}, 2, "Unknown resolution \"0x720\"."},
        {{"--resolution=1920x", "clip.mov"}, 2, "Unknown resolution \"1920x\"."},
        {{"--fps", "29.97fps", "clip.mov"}, 2, "Unknown frame rate."},
        {{"--fps=0", "clip.mov"}, 2, "Unknown frame rate."},
        {{"--audio", "MP3", "clip.mov"}, 2, "Unknown audio mode \"MP3\". Use AAC or PCM."},
        {{"--quality", " Ultra ", "clip.mov"}, 2, "Unknown quality \"Ultra\"."},
        {{"-p", "nonsense", "clip.mov"}, 2, "Unknown preset \"nonsense\"."},
        {{"--bitrate", "fast", "clip.mov"}, 2, "Unknown bitrate \"fast\""},
        {{"--reveal", "maybe", "clip.mov"}, 2, "Unknown reveal choice \"maybe\""},
        {{"-j", "5", "clip.mov"}, 2, "--parallel takes 1 to 4"},
        {{"--parallel=0", "clip.mov"}, 2, "--parallel takes 1 to 4"},
        {{"--frobnicate", "clip.mov"}, 2, "Unknown option --frobnicate."},
        {{"clip.mov", "-o"}, 2, "--output needs a value."},
        {{}, 2, "Nothing to encode"},
        {{"notes.txt"}, 2, "notes.txt: not a movie this app reads."},
        {{"--watch", "nosuch"}, 2, "Cannot watch ", 1},
        {{"bad.corveljob"}, 2, "Unknown quality \"ultra\"."},
        {{"--version"}, 0, "Corvel Encoder 1.0.0\n"},
        {{"--dry-run", "--audio=PCM", "--fps=25", "--bitrate=12.5", "--reveal=no", "-j2",
          "clip.mov"},
         0,
         "clip.mov"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args.join(u' ').toStdString());
        const CliRun run = runEncoder(
            QStringList{QStringLiteral("--state-dir"), dir.filePath(QStringLiteral("state"))} +
                row.args,
            dir.path(), dir.filePath(QStringLiteral("home")));
        EXPECT_EQ(run.exitCode, row.exitCode) << run.err.toStdString();
        const QByteArray& text = row.exitCode == 0 ? run.out : run.err;
        EXPECT_TRUE(text.contains(row.says)) << text.toStdString();
        if (row.exitCode != 0) {
            EXPECT_TRUE(run.out.isEmpty()) << run.out.toStdString();
        }
        if (row.errorLines >= 0) {
            EXPECT_EQ(run.err.count('\n'), row.errorLines) << run.err.toStdString();
        }
    }
}

} // namespace
} // namespace corvel::clitest
