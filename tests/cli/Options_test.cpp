// What the command line accepts and refuses, and with which words, events and exit status.

#include "CliTestSupport.h"

#include <QDir>
#include <QFile>
#include <QSet>

namespace corvel::clitest {
namespace {

using OptionsTest = CliTest;

TEST_F(OptionsTest, EachInvocationGivesItsExitStatusMessagesAndEvents)
{
    const QString clip = path(u"clip.mov"_s);
    ASSERT_TRUE(makeMovie(clip, 0.2, u"64x48"_s, false));
    // A movie cut off while it was copied in. Its index comes first, as in what the encoder
    // writes, so it opens with its whole length; the end of its pictures is missing.
    const QString whole = path(u"whole.mp4"_s);
    ASSERT_TRUE(makeMovie(whole, 0.2, u"64x48"_s, false,
                          QStringLiteral("-c:v libx264 -preset ultrafast -pix_fmt yuv420p "
                                         "-movflags +faststart")
                              .split(u' ')));
    const QByteArray clipBytes = readFile(clip), wholeBytes = readFile(whole);
    const QList<std::pair<const char*, QByteArray>> files = {
        {"-dash.mov", clipBytes},
        {"renders/clip_H264.mp4", clipBytes},
        {"cut/clip_H264.mp4", wholeBytes.left(wholeBytes.size() * 3 / 4)},
        {"notes.txt", "notes\n"},
        {"broken.mov", "this is not a movie\n"},
        {"bad.corveljob", R"({"sources": ["clip.mov"], "quality": "ultra"})"},
        {"cut.corveljob",
         R"({"sender": "studio.corvel.brisk", "sources": ["clip.mov", "-dash.mov"]})"}};
    for (const auto& [name, bytes] : files)
        ASSERT_TRUE(writeFile(path(QLatin1StringView(name)), bytes));
    ASSERT_TRUE(QDir().mkpath(path(u"empty"_s)));

    struct Row
    {
        QStringList args;
        int exitCode;
        const char* says;    // in stderr
        const char* emits;   // in stdout
        int errorLines = -1; // how many lines stderr has, when that matters
    };
    // clang-format off
    const QList<Row> rows = {
        {{"--resolution", "0x720", "clip.mov"}, 2, "Unknown resolution \"0x720\".", ""},
        {{"--fps", "29.97fps", "clip.mov"}, 2, "Unknown frame rate.", ""},
        {{"--audio", "MP3", "clip.mov"}, 2, "Unknown audio mode \"MP3\". Use AAC or PCM.", ""},
        {{"--quality", " Ultra ", "clip.mov"}, 2, "Unknown quality \"Ultra\".", ""},
        {{"--bitrate", "fast", "clip.mov"}, 2, "Unknown bitrate \"fast\"", ""},
        {{"-j", "5", "clip.mov"}, 2, "--parallel takes 1 to 4", ""},
        {{"--shard", "3/2", "clip.mov"}, 2, "--shard takes K/N", ""},
        {{"--shard-index", "2", "--shard-count", "2", "clip.mov"}, 2, "--shard-index takes 0 to N-1", ""},
        // Counted from 0, the second share of two.
        {{"--json", "-n", "--shard-index", "1", "--shard-count", "2", "renders/clip_H264.mp4", "clip.mov"}, 0, "",
         R"("text":"Shard 2/2: 1 of 2 jobs")"},
        {{"--reveal", "yes", "clip.mov"}, 2, "Unknown option 'reveal'.", ""},
        {{"clip.mov", "-o"}, 2, "Missing value after '-o'.", ""},
        {{"-q", "-v", "clip.mov"}, 2, "--quiet and --verbose do not go together.", ""},
        {{}, 2, "Nothing to encode", ""},
        {{"--json", "-p", "x265", "a.mov"}, 2, "Unknown preset \"x265\".", R"("event":"log","text":"Unknown preset \"x265\".")"},
        {{"notes.txt"}, 1, "notes.txt: not a movie this app reads.", ""},
        {{"--watch", "nosuch"}, 2, "Cannot watch ", "", 1},
        {{"bad.corveljob"}, 1, "bad.corveljob: Unknown quality \"ultra\".", ""},
        {{"--json", "-n", "clip.mov", "nosuch/", "empty", "notes.txt"}, 1, "nosuch/: no such file or folder\nempty: no movies or job files in it\n",
         R"({"event":"skipped","input":"notes.txt","reason":"not a movie this app reads."})"},
        {{"--json", "-n", "broken.mov", "clip.mov"}, 1, "Failed broken.mov: ", R"("event":"failed")"},
        {{"--json", "-n", "cut.corveljob"}, 0, "", R"({"error":false,"event":"log","text":"Added 2 files from Corvel Brisk"})"},
        {{"-n", "--", "-dash.mov"}, 0, "", "-dash.mov -> "},
        {{"--version"}, 0, "", "Corvel Encoder 1.0.0\n"},
        {{"--help"}, 0, "", "--shard K/N"},
        {{"--list-presets"}, 0, "", "prores-proxy, prores422proxy, proresproxy, proxy\n"},
        {{"--list-presets", "--json"}, 0, "", R"("aliases":["avc","avc1"],"builtIn":true)"},
        {{"-n", "-p", "h264", "--audio=PCM", "--bitrate=12.5", "-j2", "clip.mov"}, 0, "", "64×48  ·  24 fps  ·  H.264  ·  12.5 Mbps  ·  PCM"},
        // A dry run reads the source and names the file it would write now.
        {{"-n", "-p", "h264", "-o", "renders", "clip.mov"}, 0, "", "renders/clip_H264-2.mp4\n"},
        // A rerun leaves out what a complete movie stands for, but not what was cut off.
        {{"--json", "-n", "--skip-existing", "-p", "h264", "-o", "renders", "clip.mov"}, 0, "",
         R"("reason":"already encoded")"},
        {{"-n", "--skip-existing", "-p", "h264", "-o", "cut", "clip.mov"}, 0, "", "cut/clip_H264-2.mp4\n"}
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args.join(u' ').toStdString());
        const CliRun run = runHere(QStringList{u"--state-dir"_s, path(u"state"_s)} + row.args);
        EXPECT_EQ(run.exitCode, row.exitCode) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(row.says)) << run.err.toStdString();
        EXPECT_TRUE(run.out.contains(row.emits)) << run.out.toStdString();
        EXPECT_TRUE(*row.emits != 0 || !run.out.contains('{')) << run.out.toStdString();
        // Each message once per stream: a failure is not logged again in other words.
        QList<QByteArray> errLines = run.err.split('\n');
        errLines.removeAll(QByteArray());
        EXPECT_EQ(QSet<QByteArray>(errLines.cbegin(), errLines.cend()).size(), errLines.size())
            << run.err.toStdString();
        for (const QByteArray& line : run.lines()) {
            const QString error = parseLine(line).value(u"error"_s).toString();
            EXPECT_TRUE(error.isEmpty() || run.out.count(error.toUtf8()) == 1)
                << run.out.toStdString();
        }
        if (row.errorLines >= 0) {
            EXPECT_EQ(run.err.count('\n'), row.errorLines) << run.err.toStdString();
        }
    }
}

} // namespace
} // namespace corvel::clitest
