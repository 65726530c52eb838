// The desktop binary killed without warning while it encodes and saves. Whatever it leaves
// must read back as a whole queue, and no movie in the output folder may pass for finished
// unless it is.

#include "../../QtPrinters.h"
#include "AppEnvironment.h"
#include "tests/SlowBuild.h"

#include "CorvelEncoder/AppFiles.h"
#include "CorvelEncoder/AppModel.h"
#include "CorvelEncoder/AppSettings.h"
#include "CorvelEncoder/HeadlessDesktop.h"
#include "CorvelEncoder/NewJobSettings.h"
#include "CorvelEncoder/StateFiles.h"
#include "CorvelEncoder/engine/ClaimedOutput.h"
#include "CorvelEncoder/engine/OutputJournal.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include <csignal>
#include <random>

namespace corvel {
namespace {

constexpr int kRounds = 20;
// Kill moments spread over this much of a run; a sanitized build encodes about half as fast, so
// it needs twice as long to reach finished jobs as often.
constexpr int kLongestRunMs = kSlowBuildFactor > 1 ? 6000 : 3000;
constexpr double kMovieSeconds = 2.0;

// The restarted model must not encode anything: the test only looks at what it restored.
class NoSessions final : public EncodeSessionFactory
{
public:
    std::unique_ptr<EncodeSession> create(const QUuid&, const QString&, const JobSettings&,
                                          EncodeCallbacks) override
    {
        ADD_FAILURE() << "the restored queue started an encode by itself";
        return nullptr;
    }
};

QString runProgram(const QString& program, const QStringList& arguments, int* exitCode = nullptr)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(30000);
    if (exitCode)
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// The number of video frames that can be read back from a movie, or -1 when it does not open.
int readableFrames(const QString& path)
{
    int exitCode = 0;
    const QString text =
        runProgram(QStringLiteral("ffprobe"),
                   {"-v", "error", "-select_streams", "v:0", "-count_packets", "-show_entries",
                    "stream=nb_read_packets", "-of", "csv=p=0", path},
                   &exitCode);
    bool ok = false;
    const int frames = text.toInt(&ok);
    return exitCode == 0 && ok ? frames : -1;
}

class KillTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        media = std::make_unique<QTemporaryDir>();
        // A QuickTime movie with sound and an MPEG-4 one without: both writers and both
        // audio paths get killed mid-file.
        const struct
        {
            const char* name;
            QStringList codec;
        } rows[] = {
            {"talk.mov", {"-c:v", "mpeg4", "-c:a", "pcm_s16le"}},
            {"still.mp4", {"-c:v", "mpeg4", "-an"}},
        };
        for (const auto& row : rows) {
            const QString path = media->filePath(row.name);
            int exitCode = 0;
            runProgram(
                QStringLiteral("ffmpeg"),
                QStringList{
                    "-v", "error", "-y", "-f", "lavfi", "-i",
                    QStringLiteral("testsrc2=size=320x240:rate=25:duration=%1").arg(kMovieSeconds),
                    "-f", "lavfi", "-i", QStringLiteral("sine=duration=%1").arg(kMovieSeconds),
                    "-shortest"} +
                    row.codec + QStringList{path},
                &exitCode);
            ASSERT_EQ(exitCode, 0) << "ffmpeg could not make " << row.name;
            movies.append(path);
        }
        sourceFrames = readableFrames(movies.first());
        ASSERT_GT(sourceFrames, 0);
    }

    static void TearDownTestSuite()
    {
        movies.clear();
        media.reset();
    }

    static inline std::unique_ptr<QTemporaryDir> media;
    static inline QStringList movies;
    static inline int sourceFrames = 0;
};

// One life of the application in its own home folder.
struct Round
{
    QTemporaryDir home;
    QString support() const { return home.filePath(QStringLiteral("data/Corvel Encoder")); }
    QString out() const { return home.filePath(QStringLiteral("out")); }
    QList<EncodingJob> seeded;
};

void writeFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(data), data.size());
}

// A queue left by an earlier session, waiting to be started, and settings that let two encodes
// run at once.
void seedState(Round& round, const QStringList& movies)
{
    const QStringList presets = {QStringLiteral("h264"), QStringLiteral("prores-422-hq")};
    for (int i = 0; i < 6; ++i) {
        EncodingJob job;
        job.id = QUuid::createUuid();
        job.sourcePath = movies.at(i % movies.size());
        job.settings = settingsFromPreset(presets.at(i / 2 % 2), {}, round.out(), false);
        job.addedAt = QDateTime::currentDateTimeUtc();
        round.seeded.append(job);
    }
    writeFile(round.support() + u'/' + kQueueFileName, encodeQueueFile(round.seeded));

    AppSettings settings = AppSettings::defaults(round.out());
    settings.maxParallel = 2;
    settings.revealWhenDone = false;
    settings.dockBounceWhenIdle = false;
    settings.hasSeenIntro = true;
    writeFile(round.support() + u'/' + kSettingsFileName, encodeSettings(settings));
}

// A browser link that adds one more movie and starts the queue.
QString startLink(const Round& round, const QString& movie)
{
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("source"), movie);
    query.addQueryItem(QStringLiteral("preset"), QStringLiteral("h264"));
    query.addQueryItem(QStringLiteral("output"), round.out());
    query.addQueryItem(QStringLiteral("reveal"), QStringLiteral("false"));
    query.addQueryItem(QStringLiteral("start"), QStringLiteral("true"));
    QUrl url(QStringLiteral("corvelencoder://enqueue"));
    url.setQuery(query);
    return url.toString(QUrl::FullyEncoded);
}

QStringList entriesOf(const QString& folder)
{
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

std::optional<QList<EncodingJob>> storedQueue(const Round& round)
{
    QFile file(round.support() + u'/' + kQueueFileName);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    auto decoded = decodeQueueFile(file.readAll());
    if (!decoded)
        return std::nullopt;
    return decoded->jobs;
}

// Whole state files and, when `savesMayBeCutOff`, what a save cut off by the kill left beside
// one (".queue.json.corvel-saving.XXXXXX"), which is never read as state, and the output
// journal. The instance lock stays beside them.
void expectWholeStateFiles(const Round& round, const std::string& when, bool savesMayBeCutOff)
{
    const QStringList stateNames = {kPresetsFileName, kQueueFileName, kSettingsFileName};
    const QRegularExpression cutOff(QStringLiteral("^\\.(%1)\\.corvel-saving\\.[A-Za-z0-9]{6}$")
                                        .arg(stateNames.join(u'|').replace(u'.', "\\.")));
    for (const QString& name : entriesOf(round.support())) {
        if (name == u"instance.lock")
            continue;
        if (savesMayBeCutOff && cutOff.match(name).hasMatch())
            continue;
        // The running encodes' journal; the next start reads and removes it.
        if (savesMayBeCutOff && name == kOutputJournalFileName)
            continue;
        EXPECT_TRUE(stateNames.contains(name)) << when << ": leftover " << name.toStdString();
        QFile file(round.support() + u'/' + name);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray data = file.readAll();
        const bool whole = name == kQueueFileName      ? decodeQueueFile(data).has_value()
                           : name == kSettingsFileName ? decodeSettings(data).has_value()
                           : name == kPresetsFileName  ? decodePresetFile(data).has_value()
                                                       : true;
        EXPECT_TRUE(whole) << when << ": " << name.toStdString() << " does not decode";
    }
    EXPECT_TRUE(QFile::exists(round.support() + u'/' + kQueueFileName)) << when;
    EXPECT_TRUE(QFile::exists(round.support() + u'/' + kSettingsFileName)) << when;
}

// Every seeded job in its place, at most the linked movie after them, no job mid-encode.
void expectEveryJob(const QList<EncodingJob>& jobs, const Round& round, const QString& movie,
                    const std::string& when)
{
    ASSERT_GE(jobs.size(), round.seeded.size()) << when;
    ASSERT_LE(jobs.size(), round.seeded.size() + 1) << when;
    for (qsizetype i = 0; i < round.seeded.size(); ++i)
        EXPECT_EQ(jobs.at(i).id, round.seeded.at(i).id) << when << ": job " << i;
    if (jobs.size() > round.seeded.size()) {
        EXPECT_EQ(jobs.last().sourcePath, movie) << when;
    }
    for (const EncodingJob& job : jobs) {
        EXPECT_NE(job.status, JobStatus::encoding) << when;
        EXPECT_NE(job.status, JobStatus::paused) << when;
        EXPECT_NE(job.status, JobStatus::failed)
            << when << ": " << job.errorMessage.value_or("").toStdString();
    }
}

TEST_F(KillTest, KilledAtAnyMomentItRestartsWithTheWholeQueueAndOnlyWholeOutputs)
{
    std::mt19937 random(20251109);
    std::uniform_int_distribution<int> killAfter(0, kLongestRunMs);
    QElapsedTimer clock;
    clock.start();
    int roundsWithFinishedJobs = 0;
    int roundsWithInterruptedJobs = 0;

    for (int number = 1; number <= kRounds; ++number) {
        const int delayMs = killAfter(random);
        const std::string when =
            QStringLiteral("round %1, killed after %2 ms").arg(number).arg(delayMs).toStdString();
        SCOPED_TRACE(when);
        Round round;
        ASSERT_TRUE(round.home.isValid());
        seedState(round, movies);
        const QString linked = movies.last();

        QProcess app;
        app.setProcessEnvironment(corvel::testing::appEnvironment(round.home));
        app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        app.start(CORVEL_ENCODER_BINARY, {startLink(round, linked)});
        ASSERT_TRUE(app.waitForStarted());
        ASSERT_FALSE(app.waitForFinished(delayMs))
            << "the application ended by itself with status " << app.exitCode();
        ASSERT_GT(app.processId(), 0);
        ::kill(pid_t(app.processId()), SIGKILL);
        ASSERT_TRUE(app.waitForFinished(10000));

        expectWholeStateFiles(round, when + ", as left", true);
        const auto stored = storedQueue(round);
        ASSERT_TRUE(stored) << "queue.json does not decode";
        expectEveryJob(*stored, round, linked, when + ", as left");
        // An encode that was running is stored as queued with the file it was writing.
        QStringList interrupted;
        for (const EncodingJob& job : *stored) {
            if (job.status == JobStatus::queued && job.outputPath)
                interrupted.append(*job.outputPath);
        }
        roundsWithInterruptedJobs += interrupted.isEmpty() ? 0 : 1;

        // The next start, as the application makes it.
        QList<EncodingJob> restored;
        {
            AppFilesStore store(round.support());
            NoSessions sessions;
            HeadlessDesktop desktop;
            AppModel model(store, round.out(), sessions, desktop);
            // As the application starts: files a killed run created but never finished go.
            OutputJournal journal(QDir(round.support()).filePath(kOutputJournalFileName));
            model.removeUnfinishedOutputs(journal);
            restored = model.jobs();
            EXPECT_FALSE(model.isQueueRunning());
        }
        expectWholeStateFiles(round, when + ", restarted", false);
        expectEveryJob(restored, round, linked, when + ", restarted");
        ASSERT_EQ(restored.size(), stored->size());
        QStringList finished;
        for (qsizetype i = 0; i < restored.size(); ++i) {
            const EncodingJob& before = stored->at(i);
            const EncodingJob& after = restored.at(i);
            EXPECT_EQ(after.id, before.id);
            EXPECT_EQ(after.status, before.status) << "interrupted jobs are queued again";
            if (after.status == JobStatus::completed) {
                ASSERT_TRUE(after.outputPath);
                EXPECT_EQ(after.outputPath, before.outputPath);
                finished.append(QFileInfo(*after.outputPath).fileName());
                // A cut-off movie has no index and does not open at all.
                EXPECT_EQ(readableFrames(*after.outputPath), sourceFrames)
                    << after.outputPath->toStdString() << " is marked done but is not whole";
            } else {
                EXPECT_FALSE(after.outputPath) << "a queued job names no output yet";
            }
        }
        roundsWithFinishedJobs += finished.isEmpty() ? 0 : 1;
        // Every file under an output name is a whole movie: a job finished but not yet saved
        // as finished leaves one more, never a cut-off one. Hidden partial files of encodes
        // the kill cut off may wait for the next encode into the folder.
        for (const QString& name : entriesOf(round.out())) {
            if (isPartialOutputName(name))
                continue;
            EXPECT_EQ(readableFrames(round.out() + u'/' + name), sourceFrames)
                << name.toStdString() << " is under an output name but is not whole";
            finished.removeAll(name);
        }
        EXPECT_TRUE(finished.isEmpty()) << finished.join(u' ').toStdString() << " are missing";
    }
    // The moments spread over starting, encoding and finishing.
    EXPECT_GE(roundsWithInterruptedJobs, kRounds / 4);
    EXPECT_GE(roundsWithFinishedJobs, kRounds / 4);
    std::cout << "killed " << kRounds << " times in " << clock.elapsed() << " ms; "
              << roundsWithInterruptedJobs << " rounds cut an encode, " << roundsWithFinishedJobs
              << " had finished jobs\n";
}

} // namespace
} // namespace corvel
