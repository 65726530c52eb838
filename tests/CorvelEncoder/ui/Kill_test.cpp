// The desktop binary killed without warning while it encodes and saves. Whatever it leaves
// must read back as a whole queue, and no movie in the output folder may pass for finished
// unless it is. Each round kills at a moment it can see: the link stored, an output file
// growing before or after the first finish, everything finished.

#include "AppEnvironment.h"
#include "FakeSession.h"
#include "tests/TestSupport.h"

#include "CorvelEncoder/engine/ClaimedOutput.h"
#include "CorvelEncoder/engine/OutputJournal.h"
#include "CorvelEncoder/model/AppModel.h"
#include "CorvelEncoder/platform/AppFiles.h"
#include "CorvelEncoder/platform/HeadlessDesktop.h"
#include "CorvelEncoderCore/AppSettings.h"
#include "CorvelEncoderCore/NewJobSettings.h"
#include "CorvelEncoderCore/StateFiles.h"

#include <QRegularExpression>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include <csignal>

namespace corvel::testing {
namespace {

constexpr double kMovieSeconds = 2.0;
constexpr int kSeededJobs = 6;
// A round whose kill landed past its moment (an encode that finished in between) is tried
// again, up to this often.
constexpr int kAttempts = 5;

// One life of the application in its own home folder, on a queue left by an earlier session,
// waiting to be started, and settings that let two encodes run at once.
struct Round
{
    QTemporaryDir home;
    QList<EncodingJob> seeded;

    QString support(const QString& name = {}) const
    {
        return home.filePath(u"data/Corvel Encoder/"_s + name);
    }
    QString out() const { return home.filePath(u"out"_s); }

    void seed(const QStringList& movies)
    {
        const QStringList presets = {u"h264"_s, u"prores-422-hq"_s};
        for (int i = 0; i < kSeededJobs; ++i) {
            EncodingJob job;
            job.id = QUuid::createUuid();
            job.sourcePath = movies.at(i % movies.size());
            job.settings = settingsFromPreset(presets.at(i / 2 % 2), {}, out(), false);
            job.addedAt = QDateTime::currentDateTimeUtc();
            seeded.append(job);
        }
        ASSERT_TRUE(writeFile(support(kQueueFileName), encodeQueueFile(seeded)));
        AppSettings settings = AppSettings::defaults(out());
        settings.maxParallel = 2;
        settings.revealWhenDone = settings.dockBounceWhenIdle = false;
        settings.hasSeenIntro = true;
        ASSERT_TRUE(writeFile(support(kSettingsFileName), encodeSettings(settings)));
    }
    // A browser link that adds one more movie and starts the queue.
    QString startLink(const QString& movie) const
    {
        QUrlQuery query(u"preset=h264&reveal=false&start=true"_s);
        query.addQueryItem(u"source"_s, movie);
        query.addQueryItem(u"output"_s, out());
        return u"corvelencoder://enqueue?"_s + query.toString(QUrl::FullyEncoded);
    }
    std::optional<QList<EncodingJob>> storedQueue() const
    {
        const auto decoded = decodeQueueFile(readFile(support(kQueueFileName)));
        return decoded ? std::optional(decoded->jobs) : std::nullopt;
    }
};

// Whole state files and, when `savesMayBeCutOff`, what a save cut off by the kill left beside
// one (".queue.json.corvel-saving.XXXXXX"), which is never read as state, and the output
// journal of the running encodes, which the next start reads and removes. The instance lock
// stays beside them.
void expectWholeStateFiles(const Round& round, const std::string& when, bool savesMayBeCutOff)
{
    const QStringList stateNames = {kPresetsFileName, kQueueFileName, kSettingsFileName};
    const QRegularExpression cutOff(u"^\\.(%1)\\.corvel-saving\\.[A-Za-z0-9]{6}$"_s.arg(
        stateNames.join(u'|').replace(u'.', "\\.")));
    for (const QString& name : entriesOf(round.support())) {
        if (name == u"instance.lock" ||
            (savesMayBeCutOff && (cutOff.match(name).hasMatch() || name == kOutputJournalFileName)))
            continue;
        EXPECT_TRUE(stateNames.contains(name)) << when << ": leftover " << name.toStdString();
        const QByteArray data = readFile(round.support(name));
        const bool whole = name == kQueueFileName      ? decodeQueueFile(data).has_value()
                           : name == kSettingsFileName ? decodeSettings(data).has_value()
                           : name == kPresetsFileName  ? decodePresetFile(data).has_value()
                                                       : true;
        EXPECT_TRUE(whole) << when << ": " << name.toStdString() << " does not decode";
    }
    EXPECT_TRUE(QFile::exists(round.support(kQueueFileName))) << when;
    EXPECT_TRUE(QFile::exists(round.support(kSettingsFileName))) << when;
}

// What the files of a round show: the stored queue and the outputs under way.
struct Seen
{
    qsizetype jobs = 0;
    int finished = 0;
    QStringList underWay; // output files created and not yet finished, with bytes in them

    explicit Seen(const Round& round)
    {
        if (const auto stored = round.storedQueue()) {
            jobs = stored->size();
            finished = int(std::ranges::count(*stored, JobStatus::completed, &EncodingJob::status));
        }
        for (const QString& output :
             OutputJournal(round.support(kOutputJournalFileName)).unsettled())
            // Bytes go into the hidden partial file until the movie is complete.
            if (QFileInfo(partialOutputPath(output)).size() > 0)
                underWay.append(output);
    }
};

// A moment a round kills at: when the files show it, and the most jobs that may have finished
// while it can still come.
struct Moment
{
    const char* name;
    bool (*shows)(const Seen&);
    int mostFinished;
};
constexpr int kAllJobs = kSeededJobs + 1;
const Moment kMoments[] = {
    {"link stored", [](const Seen& s) { return s.jobs == kAllJobs; }, kAllJobs},
    {"first encodes under way",
     [](const Seen& s) { return s.jobs == kAllJobs && s.finished == 0 && !s.underWay.isEmpty(); },
     0},
    {"later encodes under way",
     [](const Seen& s) { return s.finished > 0 && s.finished < kAllJobs && !s.underWay.isEmpty(); },
     kAllJobs - 1},
    {"all finished", [](const Seen& s) { return s.finished == kAllJobs && s.underWay.isEmpty(); },
     kAllJobs},
};

// Starts the application on a seeded queue with a link that starts it, and kills it once the
// files show `moment`, or as soon as they show it can no longer come. Returns what the files
// showed right after the kill.
Seen killAt(Round& round, const Moment& moment, const QString& linked)
{
    QProcess app;
    app.setProcessEnvironment(appEnvironment(round.home));
    app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    app.start(CORVEL_ENCODER_BINARY, {round.startLink(linked)});
    if (!app.waitForStarted() || app.processId() <= 0) {
        ADD_FAILURE() << "the application did not start";
        return Seen(round);
    }
    const QDeadlineTimer deadline(60'000 * kSlowBuildFactor);
    while (!deadline.hasExpired()) {
        const Seen seen(round);
        if (moment.shows(seen) || seen.finished > moment.mostFinished)
            break;
        if (app.waitForFinished(5)) {
            ADD_FAILURE() << "the application ended by itself with status " << app.exitCode();
            return Seen(round);
        }
    }
    ::kill(pid_t(app.processId()), SIGKILL);
    EXPECT_TRUE(app.waitForFinished(10'000));
    return Seen(round);
}

// What the next start, as the application makes it, finds after the kill: every seeded job in
// its place, at most the linked movie after them, none mid-encode, and every finished one whole.
void expectWholeRestart(const Round& round, const QString& linked, int sourceFrames,
                        const std::string& when)
{
    expectWholeStateFiles(round, when + ", as left", true);
    const auto stored = round.storedQueue();
    ASSERT_TRUE(stored) << "queue.json does not decode";

    QList<EncodingJob> restored;
    {
        AppFilesStore store(round.support());
        FakeSessionFactory sessions;
        HeadlessDesktop desktop;
        AppModel model(store, round.out(), sessions, desktop);
        // As the application starts: files a killed run created but never finished go.
        OutputJournal journal(round.support(kOutputJournalFileName));
        model.removeUnfinishedOutputs(journal);
        restored = model.store().jobs();
        EXPECT_FALSE(model.scheduler().isQueueRunning());
        // It only restores: the test looks at what it restored.
        EXPECT_TRUE(sessions.launched.isEmpty()) << "the restored queue started an encode";
    }
    expectWholeStateFiles(round, when + ", restarted", false);
    ASSERT_EQ(restored.size(), stored->size());
    ASSERT_GE(restored.size(), round.seeded.size());
    ASSERT_LE(restored.size(), round.seeded.size() + 1);
    if (restored.size() > round.seeded.size()) {
        EXPECT_EQ(restored.last().sourcePath, linked);
    }
    QStringList finished;
    for (qsizetype i = 0; i < restored.size(); ++i) {
        const EncodingJob& before = stored->at(i);
        const EncodingJob& after = restored.at(i);
        EXPECT_EQ(after.id, i < round.seeded.size() ? round.seeded.at(i).id : before.id);
        EXPECT_EQ(after.id, before.id);
        // Interrupted jobs are stored as queued again, never as encoding, paused or failed.
        EXPECT_EQ(after.status, before.status);
        EXPECT_TRUE(after.status == JobStatus::queued || after.status == JobStatus::completed)
            << int(after.status) << " " << after.errorMessage.value_or("").toStdString();
        if (after.status == JobStatus::completed) {
            ASSERT_TRUE(after.outputPath);
            EXPECT_EQ(after.outputPath, before.outputPath);
            finished.append(*after.outputPath);
        } else {
            EXPECT_FALSE(after.outputPath) << "a queued job names no output yet";
        }
    }
    // Every file under an output name, a finished job's or one finished but not yet saved so, is a
    // whole movie (a cut-off one does not open). Hidden partial files of encodes the kill cut off
    // may wait for the next encode into the folder.
    for (const QString& name : entriesOf(round.out())) {
        if (isPartialOutputName(name))
            continue;
        EXPECT_EQ(readableFrames(round.out() + u'/' + name), sourceFrames)
            << name.toStdString() << " is under an output name but is not whole";
        finished.removeAll(round.out() + u'/' + name);
    }
    EXPECT_TRUE(finished.isEmpty()) << finished.join(u' ').toStdString() << " are missing";
}

TEST(KillTest, KilledAtAnyMomentItRestartsWithTheWholeQueueAndOnlyWholeOutputs)
{
    // A QuickTime movie with sound and an MPEG-4 one without: both writers and both audio
    // paths get killed mid-file.
    QTemporaryDir media;
    QStringList movies;
    for (const auto& [name, codec] :
         {std::pair{"talk.mov", QStringList{"-c:v", "mpeg4", "-c:a", "pcm_s16le"}},
          std::pair{"still.mp4", QStringList{"-c:v", "mpeg4", "-an"}}}) {
        movies.append(media.filePath(name));
        ASSERT_TRUE(makeMovie(movies.last(), kMovieSeconds, "320x240", true, codec))
            << "ffmpeg could not make " << name;
    }
    const int sourceFrames = readableFrames(movies.first());
    ASSERT_GT(sourceFrames, 0);
    for (int number = 0; number < 2 * int(std::size(kMoments)); ++number) {
        const Moment& moment = kMoments[number % std::size(kMoments)];
        bool hit = false;
        for (int attempt = 1; attempt <= kAttempts && !hit; ++attempt) {
            const std::string when = "round " + std::to_string(number + 1) + " (" + moment.name +
                                     "), attempt " + std::to_string(attempt);
            SCOPED_TRACE(when);
            Round round;
            ASSERT_TRUE(round.home.isValid());
            round.seed(movies);
            const Seen left = killAt(round, moment, movies.last());
            hit = moment.shows(left);
            std::cout << when << ": killed with " << left.finished << " of " << left.jobs
                      << " jobs finished and " << left.underWay.size() << " outputs under way"
                      << (hit ? "" : ", past its moment") << "\n";
            expectWholeRestart(round, movies.last(), sourceFrames, when);
            if (HasFatalFailure())
                return;
        }
        EXPECT_TRUE(hit) << "round " << number + 1 << " never killed at " << moment.name;
    }
}

} // namespace
} // namespace corvel::testing
