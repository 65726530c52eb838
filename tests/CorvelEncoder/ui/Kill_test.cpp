// The desktop binary killed without warning while it encodes and saves. Whatever it leaves
// must read back as a whole queue, and no movie in the output folder may pass for finished
// unless it is. Each round kills at a moment it can see: the link stored, an output file
// growing before or after the first finish, everything finished.

#include "AppEnvironment.h"
#include "tests/TestSupport.h"

#include "CorvelEncoder/engine/ClaimedOutput.h"
#include "CorvelEncoder/engine/OutputJournal.h"
#include "CorvelEncoder/model/AppModel.h"
#include "CorvelEncoder/platform/AppFiles.h"
#include "CorvelEncoder/platform/HeadlessDesktop.h"
#include "CorvelEncoderCore/AppSettings.h"
#include "CorvelEncoderCore/NewJobSettings.h"
#include "CorvelEncoderCore/StateFiles.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include <csignal>

namespace corvel {
namespace {

using testing::entriesOf;
using testing::readableFrames;
using testing::readFile;
using testing::writeFile;

constexpr double kMovieSeconds = 2.0;
constexpr int kSeededJobs = 6;
// A round whose kill landed past its moment (an encode that finished in between) is tried
// again, up to this often.
constexpr int kAttempts = 5;

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
        } rows[] = {{"talk.mov", {"-c:v", "mpeg4", "-c:a", "pcm_s16le"}},
                    {"still.mp4", {"-c:v", "mpeg4", "-an"}}};
        for (const auto& row : rows) {
            const QString path = media->filePath(row.name);
            ASSERT_TRUE(testing::makeMovie(path, kMovieSeconds, "320x240", true, row.codec))
                << "ffmpeg could not make " << row.name;
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

public:
    static inline std::unique_ptr<QTemporaryDir> media;
    static inline QStringList movies;
    static inline int sourceFrames = 0;
};

// One life of the application in its own home folder.
struct Round
{
    QTemporaryDir home;
    QString support() const { return home.filePath(u"data/Corvel Encoder"_s); }
    QString out() const { return home.filePath(u"out"_s); }
    QList<EncodingJob> seeded;
};

// A queue left by an earlier session, waiting to be started, and settings that let two encodes
// run at once.
void seedState(Round& round, const QStringList& movies)
{
    const QStringList presets = {u"h264"_s, u"prores-422-hq"_s};
    for (int i = 0; i < kSeededJobs; ++i) {
        EncodingJob job;
        job.id = QUuid::createUuid();
        job.sourcePath = movies.at(i % movies.size());
        job.settings = settingsFromPreset(presets.at(i / 2 % 2), {}, round.out(), false);
        job.addedAt = QDateTime::currentDateTimeUtc();
        round.seeded.append(job);
    }
    ASSERT_TRUE(writeFile(round.support() + u'/' + kQueueFileName, encodeQueueFile(round.seeded)));

    AppSettings settings = AppSettings::defaults(round.out());
    settings.maxParallel = 2;
    settings.revealWhenDone = false;
    settings.dockBounceWhenIdle = false;
    settings.hasSeenIntro = true;
    ASSERT_TRUE(writeFile(round.support() + u'/' + kSettingsFileName, encodeSettings(settings)));
}

// A browser link that adds one more movie and starts the queue.
QString startLink(const Round& round, const QString& movie)
{
    QUrl url(u"corvelencoder://enqueue?preset=h264&reveal=false&start=true"_s);
    QUrlQuery query(url);
    query.addQueryItem(u"source"_s, movie);
    query.addQueryItem(u"output"_s, round.out());
    url.setQuery(query);
    return url.toString(QUrl::FullyEncoded);
}

std::optional<QList<EncodingJob>> storedQueue(const Round& round)
{
    const auto decoded = decodeQueueFile(readFile(round.support() + u'/' + kQueueFileName));
    return decoded ? std::optional(decoded->jobs) : std::nullopt;
}

// Whole state files and, when `savesMayBeCutOff`, what a save cut off by the kill left beside
// one (".queue.json.corvel-saving.XXXXXX"), which is never read as state, and the output
// journal. The instance lock stays beside them.
void expectWholeStateFiles(const Round& round, const std::string& when, bool savesMayBeCutOff)
{
    const QStringList stateNames = {kPresetsFileName, kQueueFileName, kSettingsFileName};
    const QRegularExpression cutOff(u"^\\.(%1)\\.corvel-saving\\.[A-Za-z0-9]{6}$"_s.arg(
        stateNames.join(u'|').replace(u'.', "\\.")));
    for (const QString& name : entriesOf(round.support())) {
        // The running encodes' journal: the next start reads and removes it.
        if (name == u"instance.lock" ||
            (savesMayBeCutOff && (cutOff.match(name).hasMatch() || name == kOutputJournalFileName)))
            continue;
        EXPECT_TRUE(stateNames.contains(name)) << when << ": leftover " << name.toStdString();
        const QByteArray data = readFile(round.support() + u'/' + name);
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
    if (jobs.size() > round.seeded.size())
        EXPECT_EQ(jobs.last().sourcePath, movie) << when;
    for (const EncodingJob& job : jobs)
        EXPECT_TRUE(job.status != JobStatus::encoding && job.status != JobStatus::paused &&
                    job.status != JobStatus::failed)
            << when << ": " << int(job.status) << " "
            << job.errorMessage.value_or("").toStdString();
}

// The moments a round kills at.
enum class Moment
{
    linkStored,  // the linked movie is in the stored queue
    firstEncode, // an output file is growing and nothing has finished
    laterEncode, // an output file is growing and a job has finished
    allFinished, // every job has finished
};

const char* nameOf(Moment moment)
{
    const char* const names[] = {"link stored", "first encodes under way",
                                 "later encodes under way", "all finished"};
    return names[int(moment)];
}

// What the files of a round show: the stored queue and the outputs under way.
struct Seen
{
    qsizetype jobs = 0;
    int finished = 0;
    QStringList underWay; // output files created and not yet finished, with bytes in them

    static Seen look(const Round& round)
    {
        Seen seen;
        if (const auto stored = storedQueue(round)) {
            seen.jobs = stored->size();
            for (const EncodingJob& job : *stored)
                seen.finished += job.status == JobStatus::completed ? 1 : 0;
        }
        for (const QString& output :
             OutputJournal(round.support() + u'/' + kOutputJournalFileName).unsettled()) {
            // Bytes go into the hidden partial file until the movie is complete.
            if (QFileInfo(partialOutputPath(output)).size() > 0)
                seen.underWay.append(output);
        }
        return seen;
    }

    bool matches(Moment moment) const
    {
        const int all = kSeededJobs + 1;
        switch (moment) {
        case Moment::linkStored:
            return jobs == all;
        case Moment::firstEncode:
            return jobs == all && finished == 0 && !underWay.isEmpty();
        case Moment::laterEncode:
            return finished > 0 && finished < all && !underWay.isEmpty();
        case Moment::allFinished:
            return finished == all && underWay.isEmpty();
        }
        return false;
    }

    // Whether `moment` can still come.
    bool canStillReach(Moment moment) const
    {
        if (moment == Moment::firstEncode)
            return finished == 0;
        if (moment == Moment::laterEncode)
            return finished < kSeededJobs + 1;
        return true;
    }
};

// Starts the application on a seeded queue with a link that starts it, and kills it once the
// files show `moment`, or as soon as they show it can no longer come. Returns what the files
// showed right after the kill.
Seen killAt(Round& round, Moment moment, const QString& linked, const QStringList& movies)
{
    seedState(round, movies);
    QProcess app;
    app.setProcessEnvironment(corvel::testing::appEnvironment(round.home));
    app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    app.start(CORVEL_ENCODER_BINARY, {startLink(round, linked)});
    if (!app.waitForStarted() || app.processId() <= 0) {
        ADD_FAILURE() << "the application did not start";
        return {};
    }
    const QDeadlineTimer deadline(60'000 * kSlowBuildFactor);
    while (!deadline.hasExpired()) {
        const Seen seen = Seen::look(round);
        if (seen.matches(moment) || !seen.canStillReach(moment))
            break;
        if (app.waitForFinished(5)) {
            ADD_FAILURE() << "the application ended by itself with status " << app.exitCode();
            return {};
        }
    }
    ::kill(pid_t(app.processId()), SIGKILL);
    EXPECT_TRUE(app.waitForFinished(10'000));
    return Seen::look(round);
}

// What the next start, as the application makes it, finds after the kill.
void expectWholeRestart(const Round& round, const QString& linked, const std::string& when)
{
    expectWholeStateFiles(round, when + ", as left", true);
    const auto stored = storedQueue(round);
    ASSERT_TRUE(stored) << "queue.json does not decode";
    expectEveryJob(*stored, round, linked, when + ", as left");

    QList<EncodingJob> restored;
    {
        AppFilesStore store(round.support());
        NoSessions sessions;
        HeadlessDesktop desktop;
        AppModel model(store, round.out(), sessions, desktop);
        // As the application starts: files a killed run created but never finished go.
        OutputJournal journal(QDir(round.support()).filePath(kOutputJournalFileName));
        model.removeUnfinishedOutputs(journal);
        restored = model.store().jobs();
        EXPECT_FALSE(model.scheduler().isQueueRunning());
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
            EXPECT_EQ(readableFrames(*after.outputPath), KillTest::sourceFrames)
                << after.outputPath->toStdString() << " is marked done but is not whole";
        } else {
            EXPECT_FALSE(after.outputPath) << "a queued job names no output yet";
        }
    }
    // Every file under an output name is a whole movie: a job finished but not yet saved as
    // finished leaves one more, never a cut-off one. Hidden partial files of encodes the kill
    // cut off may wait for the next encode into the folder.
    for (const QString& name : entriesOf(round.out())) {
        if (isPartialOutputName(name))
            continue;
        EXPECT_EQ(readableFrames(round.out() + u'/' + name), KillTest::sourceFrames)
            << name.toStdString() << " is under an output name but is not whole";
        finished.removeAll(name);
    }
    EXPECT_TRUE(finished.isEmpty()) << finished.join(u' ').toStdString() << " are missing";
}

TEST_F(KillTest, KilledAtAnyMomentItRestartsWithTheWholeQueueAndOnlyWholeOutputs)
{
    const Moment moments[] = {Moment::linkStored, Moment::firstEncode, Moment::laterEncode,
                              Moment::allFinished};
    for (int number = 0; number < 2 * int(std::size(moments)); ++number) {
        const Moment moment = moments[number % std::size(moments)];
        bool hit = false;
        for (int attempt = 1; attempt <= kAttempts && !hit; ++attempt) {
            const std::string when = u"round %1 (%2), attempt %3"_s.arg(number + 1)
                                         .arg(QString::fromLatin1(nameOf(moment)))
                                         .arg(attempt)
                                         .toStdString();
            SCOPED_TRACE(when);
            Round round;
            ASSERT_TRUE(round.home.isValid());
            const QString linked = movies.last();
            const Seen left = killAt(round, moment, linked, movies);
            hit = left.matches(moment);
            std::cout << when << ": killed with " << left.finished << " of " << left.jobs
                      << " jobs finished and " << left.underWay.size() << " outputs under way"
                      << (hit ? "" : ", past its moment") << "\n";
            expectWholeRestart(round, linked, when);
            if (::testing::Test::HasFatalFailure())
                return;
        }
        EXPECT_TRUE(hit) << "round " << number + 1 << " never killed at " << nameOf(moment)
                         << " in " << kAttempts << " attempts";
    }
}

} // namespace
} // namespace corvel
