// Encodes that meet a hostile machine: a file-size limit reached mid-file, output folders that
// cannot take a file, and several encodes racing for one name. Whatever happens, no file is
// lost or overwritten and no partial file stays behind.

#include "CliTestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSet>

#include <csignal>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

namespace corvel::clitest {
namespace {

// Every entry below `root` with its size and modification time: two equal snapshots mean
// nothing was written, created or removed.
QMap<QString, QString> snapshot(const QString& root)
{
    QMap<QString, QString> all;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        all.insert(
            QDir(root).relativeFilePath(info.filePath()),
            QStringLiteral("%1 %2").arg(info.size()).arg(info.lastModified().toMSecsSinceEpoch()));
    }
    return all;
}

// Whether the user nobody can run `program` and read `file`.
bool nobodyCanReach(const QString& program, const QString& file)
{
    const QByteArray programPath = QFile::encodeName(program), filePath = QFile::encodeName(file);
    const pid_t child = fork();
    if (child == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
            _exit(2);
        _exit(access(programPath.constData(), X_OK) == 0 && access(filePath.constData(), R_OK) == 0
                  ? 0
                  : 1);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

using FaultsTest = CliTest;

// RLIMIT_FSIZE stands in for a full disk: past the limit write() fails, as it does when the
// disk fills, and the process gets SIGXFSZ, which must not kill it.
// Three jobs, two at a time: both big ones fail and take their files with them, and the
// small one is still encoded.
TEST_F(FaultsTest, FileSizeLimitFailsTheBigJobsRemovesTheirFilesAndTheQueueGoesOn)
{
    constexpr rlim_t kLimit = 256 * 1024;
    const QString big = path("big.mov"), small = path("small.mov");
    ASSERT_TRUE(makeMovie(big, 3, QStringLiteral("320x240"), true));
    ASSERT_TRUE(QFile::copy(big, path("big2.mov")));
    ASSERT_TRUE(makeMovie(small, 0.5, QStringLiteral("64x48"), false));

    const QString out = path("out");
    const CliRun run = runEncoder({"--json", "-p", "proxy", "--audio", "pcm", "-j", "2", "-o", out,
                                   big, path("big2.mov"), small},
                                  m_dir.path(), m_home, {}, 60000, [] {
                                      const rlimit limit{kLimit, kLimit};
                                      setrlimit(RLIMIT_FSIZE, &limit);
                                  });
    ASSERT_FALSE(run.crashed) << run.err.toStdString();
    EXPECT_EQ(run.exitCode, 1) << run.err.toStdString();

    const QList<QJsonObject> failed = eventsNamed(run, "failed");
    ASSERT_EQ(failed.size(), 2) << run.out.toStdString();
    for (const QJsonObject& event : failed)
        EXPECT_EQ(event.value(QStringLiteral("error")).toString(),
                  QStringLiteral("Could not write the output file. File too large."));

    const QList<QJsonObject> finished = eventsNamed(run, "finished");
    ASSERT_EQ(finished.size(), 1) << run.out.toStdString();
    const QString output = finished.first().value(QStringLiteral("output")).toString();
    EXPECT_TRUE(QFileInfo(output).fileName().startsWith(u"small"));
    EXPECT_GT(QFileInfo(output).size(), 0);
    EXPECT_LT(QFileInfo(output).size(), qint64(kLimit));
    EXPECT_EQ(entriesOf(out), QStringList{QFileInfo(output).fileName()});
}

TEST_F(FaultsTest, OutputFolderThatCannotTakeAFileFailsAndWritesNothing)
{
    const QString clip = path("clip.mov");
    ASSERT_TRUE(makeMovie(clip, 0.5, QStringLiteral("64x48"), true));
    // The output folder below the scratch folder, which holds the read-only folder "locked"
    // and the regular file "renders".
    const struct
    {
        const char* out;
        const char* error;
        bool needsAnotherUser; // permissions mean nothing to root
    } rows[] = {{"locked", "Could not write the output file. Permission denied.", true},
                {"renders", "Could not create the output folder. Not a directory.", false},
                {"renders/day1", "Could not create the output folder. Not a directory.", false}};
    // As root the child drops to nobody, for whom the scratch tree and the program must be
    // reachable. The build tree may lie where nobody cannot go (a clone in root's own home),
    // so nobody runs a copy.
    const bool asRoot = geteuid() == 0;
    const QFile::Permissions open = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                    QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                    QFile::ExeOther;
    ASSERT_TRUE(QFile::setPermissions(m_dir.path(), open));
    ASSERT_TRUE(QFile::setPermissions(m_home, open | QFile::WriteGroup | QFile::WriteOther));
    ASSERT_TRUE(QFile::setPermissions(clip, QFile::ReadOwner | QFile::WriteOwner |
                                                QFile::ReadGroup | QFile::ReadOther));
    QTemporaryDir programDir;
    QString program = QStringLiteral(CORVEL_ENCODE_PATH);
    if (asRoot) {
        const QString copy = programDir.filePath(QStringLiteral("corvel-encode"));
        ASSERT_TRUE(QFile::copy(program, copy));
        ASSERT_TRUE(QFile::setPermissions(programDir.path(), open));
        ASSERT_TRUE(QFile::setPermissions(copy, open));
        program = copy;
        if (!nobodyCanReach(program, clip))
            GTEST_SKIP() << "the user nobody cannot reach " << program.toStdString() << " or "
                         << clip.toStdString()
                         << " (a temporary folder inside a private one?), so a folder without "
                            "write permission cannot be tried as root";
    }

    const QString scratch = path("scratch"), locked = scratch + QStringLiteral("/locked");
    ASSERT_TRUE(QDir().mkpath(locked));
    ASSERT_TRUE(writeFile(scratch + QStringLiteral("/renders"), "notes\n"));
    ASSERT_TRUE(QFile::setPermissions(scratch, open));
    ASSERT_TRUE(QFile::setPermissions(locked, open & ~QFile::WriteOwner));
    for (const auto& row : rows) {
        SCOPED_TRACE(row.out);
        const QString out = scratch + u'/' + QLatin1StringView(row.out);
        const QMap<QString, QString> before = snapshot(m_dir.path());

        std::function<void()> inChild;
        if (row.needsAnotherUser && asRoot)
            inChild = [] {
                if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
                    _exit(99);
            };
        const CliRun run = runEncoder({"--json", "-p", "h264", "-o", out, clip}, m_dir.path(),
                                      m_home, {}, 60000, inChild, {}, 0, program);
        ASSERT_FALSE(run.crashed);
        ASSERT_NE(run.exitCode, 99) << "could not drop to nobody";
        EXPECT_EQ(run.exitCode, 1) << run.err.toStdString();
        const QList<QJsonObject> failed = eventsNamed(run, "failed");
        ASSERT_EQ(failed.size(), 1) << run.out.toStdString();
        EXPECT_EQ(failed.first().value(QStringLiteral("error")).toString(),
                  QLatin1StringView(row.error));
        EXPECT_TRUE(eventsNamed(run, "ready").isEmpty());
        EXPECT_EQ(snapshot(m_dir.path()), before);
    }
    QFile::setPermissions(locked, open);
}

// Four sources called clip.mov in four folders all want out/clip.mov, which already exists.
// Two processes are two shards of one batch, as on two machines sharing the output folder.
TEST_F(FaultsTest, EncodesRacingForOneNameGetFourNewNamesAndLeaveTheExistingFileAlone)
{
    QStringList sources;
    for (const QString folder : {"a", "b", "c", "d"}) {
        const QString source = path(folder + QStringLiteral("/clip.mov"));
        ASSERT_TRUE(QDir().mkpath(QFileInfo(source).path()));
        ASSERT_TRUE(makeMovie(source, 0.5, QStringLiteral("64x48"), false));
        sources << source;
    }
    // name, processes (each takes its --shard of all four sources), encodes at once in each
    const std::tuple<const char*, int, const char*> rows[] = {
        {"one process, four at once", 1, "4"}, {"two processes, two each at once", 2, "2"}};
    const QByteArray existingBytes = "an earlier render that must survive\n";
    for (const auto& [name, processes, parallel] : rows) {
        SCOPED_TRACE(name);
        const QString out = path(QStringLiteral("out-%1").arg(processes));
        ASSERT_TRUE(QDir().mkpath(out));
        const QString existing = out + QStringLiteral("/clip.mov");
        ASSERT_TRUE(writeFile(existing, existingBytes));
        const QDateTime existingTime = QDateTime::currentDateTimeUtc().addSecs(-3600);
        {
            QFile file(existing);
            ASSERT_TRUE(file.open(QIODevice::ReadWrite));
            ASSERT_TRUE(file.setFileTime(existingTime, QFileDevice::FileModificationTime));
        }

        std::vector<CliRun> runs(processes);
        std::vector<std::thread> threads;
        for (int p = 0; p < processes; ++p) {
            threads.emplace_back([&, p] {
                runs[p] = runHere(
                    QStringList{"--json", "-p", "proxy", "--naming", "{name}", "-j", parallel, "-o",
                                out, u"--shard=%1/%2"_s.arg(p + 1).arg(processes)} +
                    QStringList{sources.at(2), sources.at(0), sources.at(3), sources.at(1)});
            });
        }
        for (std::thread& thread : threads)
            thread.join();

        QSet<QString> outputs;
        QStringList encoded;
        for (const CliRun& run : runs) {
            ASSERT_FALSE(run.crashed);
            EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
            for (const QJsonObject& finished : eventsNamed(run, "finished"))
                outputs.insert(finished.value(QStringLiteral("output")).toString());
            for (const QJsonObject& added : eventsNamed(run, "added"))
                encoded << added.value("job").toObject().value("sourcePath").toString();
        }
        // The shares cover every source exactly once, whatever order the inputs came in.
        encoded.sort();
        EXPECT_EQ(encoded, sources);
        EXPECT_EQ(outputs.size(), 4);
        EXPECT_FALSE(outputs.contains(existing));
        EXPECT_EQ(readFile(existing), existingBytes);
        EXPECT_EQ(QFileInfo(existing).lastModified().toSecsSinceEpoch(),
                  existingTime.toSecsSinceEpoch());

        QStringList expected{QStringLiteral("clip.mov")};
        for (const QString& output : std::as_const(outputs)) {
            EXPECT_EQ(QFileInfo(output).path(), out);
            EXPECT_GT(QFileInfo(output).size(), 1000);
            expected << QFileInfo(output).fileName();
        }
        expected.sort();
        EXPECT_EQ(entriesOf(out), expected);
    }
}

// A kill -9 mid-encode leaves nothing under the movie's name (its bytes were in a hidden
// partial file); the next run into the folder clears that file and writes the whole movie.
TEST_F(FaultsTest, KilledMidEncodeLeavesNoCutOffMovieAndTheNextRunClearsWhatItLeft)
{
    const QString source = path("long.mov");
    ASSERT_TRUE(makeMovie(source, 4, QStringLiteral("640x360"), true));
    const QString out = path("out");
    const QStringList args{"--json", "-p", "prores-422-hq", "-o", out, source};
    const CliRun killed = runHere(args, [](const QByteArray& line, qint64 pid) {
        // Frames are in the file once progress is reported.
        const QJsonObject event = parseLine(line);
        if (event.value(QStringLiteral("event")).toString() == u"progress" &&
            event.value(QStringLiteral("progress")).toDouble() > 0)
            ::kill(pid_t(pid), SIGKILL);
    });
    ASSERT_TRUE(killed.crashed) << "the encode ended before it could be killed";
    QStringList left = entriesOf(out);
    ASSERT_EQ(left.size(), 1) << left.join(u' ').toStdString();
    EXPECT_TRUE(left[0].startsWith(u'.')) << left[0].toStdString() << " poses as a movie";

    const CliRun again = runHere(args);
    EXPECT_EQ(again.exitCode, 0) << again.err.toStdString();
    const QList<QJsonObject> finished = eventsNamed(again, "finished");
    ASSERT_EQ(finished.size(), 1);
    const QString output = finished[0].value(QStringLiteral("output")).toString();
    EXPECT_EQ(entriesOf(out), QStringList{QFileInfo(output).fileName()});
    EXPECT_GT(QFileInfo(output).size(), 100'000);
}

// Two watchers of one folder, or with one state folder, would each encode every file: the
// second says so and ends, whichever it shares.
TEST_F(FaultsTest, ASecondWatcherSaysSoAndEnds)
{
    const QString watch = path("watch"), state = path("state");
    for (const QString& folder : {watch, state, path("watch2"), path("state2")})
        ASSERT_TRUE(QDir().mkpath(folder));
    const struct
    {
        const char* name;
        QStringList secondArgs;
        const char* says;
    } rows[] = {
        {"same state folder", {"--state-dir", state, "--watch", path("watch2")}, "state folder"},
        {"same watch folder", {"--state-dir", path("state2"), "--watch", watch}, "is watching"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        CliRun second;
        const CliRun first = runHere({"--state-dir", state, "--watch", watch},
                                     [&](const QByteArray& line, qint64 pid) {
                                         if (!line.startsWith("Watching") || second.exitCode != -1)
                                             return;
                                         second = runHere(row.secondArgs);
                                         ::kill(pid_t(pid), SIGTERM);
                                     });
        EXPECT_FALSE(first.crashed);
        EXPECT_EQ(second.exitCode, 1);
        EXPECT_TRUE(second.err.contains(row.says)) << second.err.toStdString();
    }
}

} // namespace
} // namespace corvel::clitest
