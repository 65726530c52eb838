// The watch folder on real folders, with the model's clock moved by the test: a file counts
// once it has stayed unchanged for 1.5 s of that clock.

#include "FakeProber.h"
#include "ModelTestSupport.h"

#include "CorvelEncoder/model/WatchRules.h"
#include "CorvelEncoder/platform/WatchLock.h"
#include "CorvelEncoderCore/StateFiles.h"

#include <QDir>
#include <QFile>

#include <unistd.h>

namespace corvel::testing {
namespace {

// Ends at once, successfully, after noting the size its source had at that moment.
class InstantSessions final : public EncodeSessionFactory
{
public:
    std::unique_ptr<EncodeSession> create(const QUuid& jobID, const QString& sourcePath,
                                          const JobSettings& settings,
                                          EncodeCallbacks callbacks) override
    {
        launches.append({sourcePath, QFileInfo(sourcePath).size()});
        const QString output = settings.outputDirectory + u'/' + QFileInfo(sourcePath).fileName();
        return std::make_unique<Session>(jobID, output, std::move(callbacks));
    }

    QList<std::pair<QString, qint64>> launches;

private:
    struct Session final : EncodeSession
    {
        Session(QUuid id, QString output, EncodeCallbacks callbacks)
            : id(id), output(std::move(output)), callbacks(std::move(callbacks))
        {}
        QUuid jobID() const override { return id; }
        // The model's callbacks hop through the event loop, so reporting from here is safe.
        void start() override
        {
            callbacks.onReady(output, false);
            callbacks.onComplete(EncodeResult(output));
        }
        void pause() override {}
        void resume() override {}
        void cancel() override {}
        bool waitForStopped(int) override { return true; }
        QUuid id;
        QString output;
        EncodeCallbacks callbacks;
    };
};

class WatchTest : public ModelFixture
{
protected:
    AppModel& startWatching(bool processExisting, const QString& output = {},
                            EncodeSessionFactory* factory = nullptr)
    {
        QDir().mkpath(watchDir());
        AppModel& m = makeModel(factory);
        m.setProber(prober);
        m.persistence().updateSettings([&](AppSettings& s) {
            s.maxParallel = 4;
            s.watchEnabled = true;
            s.watchFolder = watchDir();
            s.watchOutputDirectory = output;
            s.watchPresetID = QStringLiteral("hevc");
            s.watchProcessExisting = processExisting;
        });
        m.watch().refresh();
        return m;
    }

    QString watchDir() const { return path("Watch"); }

    QString write(const QString& name, const QByteArray& data = "movie")
    {
        const QString full = resolvedWatchPath(watchDir()) + u'/' + name;
        QDir().mkpath(QFileInfo(full).path());
        QFile file(full);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Append));
        file.write(data);
        return full;
    }

    QStringList sourceNames() const
    {
        QStringList names;
        for (const EncodingJob& job : model->store().jobs())
            names << job.sourceName();
        names.sort();
        return names;
    }

    FakeProber prober;
};

// The switch asks for a folder first; "encode existing files" forgets only that folder's keys.
TEST_F(WatchTest, SwitchAsksForAFolderAndAMissingOneSetsTheBanner)
{
    AppModel& m = makeModel();
    const auto stored = [&] {
        return decodeSettings(store->files.read(kSettingsFileName).value_or(QByteArray())).value();
    };
    m.watch().setEnabled(true);
    ASSERT_EQ(desktop.openRequests.size(), 1);
    EXPECT_FALSE(m.watch().enabled()) << "the chooser was cancelled";
    EXPECT_FALSE(m.watch().isWatching());
    ASSERT_TRUE(QDir().mkpath(watchDir()));
    desktop.nextChoice = {watchDir()};
    m.watch().setEnabled(true);
    EXPECT_TRUE(m.watch().enabled());
    EXPECT_EQ(stored().watchFolder, watchDir());
    EXPECT_TRUE(stored().watchEnabled);
    EXPECT_TRUE(m.watch().isWatching());
    desktop.nextChoice = {path(u"WatchOut"_s)};
    m.watch().chooseOutput();
    EXPECT_EQ(stored().watchOutputDirectory, path(u"WatchOut"_s));
    m.watch().setEnabled(false);
    EXPECT_FALSE(stored().watchEnabled);
    EXPECT_FALSE(m.watch().isWatching());
    EXPECT_EQ(desktop.openRequests.size(), 3) << "the folder is known now";

    const QString sibling = watchDir() + u"2/c.mov|10|1.0"_s;
    m.persistence().updateSettings([&](AppSettings& s) {
        s.seenWatchKeys = {watchDir() + u"/a.mov|10|1.0"_s, sibling};
    });
    m.watch().setProcessExisting(true);
    EXPECT_EQ(stored().seenWatchKeys, QStringList{sibling});
    EXPECT_TRUE(stored().watchProcessExisting);

    m.persistence().updateSettings([&](AppSettings& s) {
        s.watchEnabled = true;
        s.watchFolder = path("nowhere");
    });
    m.watch().refresh();
    EXPECT_EQ(m.feed().banner(), u"Watch folder is missing."_qs);
    EXPECT_FALSE(m.watch().isWatching());
}

TEST_F(WatchTest, ExistingFilesAreNotedNewOnesEncodedOnce)
{
    write("already-there.mov");
    AppModel& m = startWatching(false);
    EXPECT_TRUE(m.watch().isWatching());
    clock.advance(5000);
    EXPECT_TRUE(m.store().jobs().isEmpty());
    EXPECT_EQ(m.persistence().settings().notedWatchKeys.size(), 1);

    const QString fresh = write("new.mov");
    write("notes.txt");
    clock.advance(5000);
    ASSERT_EQ(m.store().jobs().size(), 1);
    const EncodingJob job = m.store().jobs().first();
    EXPECT_EQ(job.sourceName(), u"new.mov");
    EXPECT_EQ(job.settings.presetID, u"hevc");
    EXPECT_EQ(job.settings.outputDirectory, resolvedWatchPath(watchDir()) + "/Corvel Output");
    EXPECT_FALSE(job.settings.revealWhenDone);
    EXPECT_TRUE(logTexts().contains(QStringLiteral("Watch folder added 1 file")));
    EXPECT_TRUE(waitUntil([&] { return status(job.id) == JobStatus::encoding; }))
        << "the watch starts the queue once the file is read";
    // The unknown file is ignored and not remembered.
    EXPECT_EQ(m.persistence().settings().seenWatchKeys.size(), 1);

    clock.advance(5000);
    EXPECT_EQ(m.store().jobs().size(), 1) << "a handled file is not taken again";

    // Renamed, or linked under one more name, it is still the file already handled.
    const QString renamed = QFileInfo(fresh).path() + "/renamed.mov";
    ASSERT_TRUE(QFile::rename(fresh, renamed));
    ASSERT_EQ(::link(QFile::encodeName(renamed).constData(),
                     QFile::encodeName(QFileInfo(fresh).path() + "/linked.mov").constData()),
              0);
    clock.advance(5000);
    EXPECT_EQ(m.store().jobs().size(), 1) << "known by device and inode too";
}

TEST_F(WatchTest, GrowingFilesWaitAndOutputIsNeverPickedUp)
{
    AppModel& m = startWatching(true, watchDir()); // output folder == watch folder
    EXPECT_EQ(m.watch().resolvedOutput(), resolvedWatchPath(watchDir()) + "/Corvel Output");
    write("Corvel Output/result.mov");
    write("deep/er/take.mov");

    // Appended to every 0.3 s: never taken while it grows.
    for (int i = 0; i < 10; ++i) {
        write("growing.mov", QByteArray(1000, 'x'));
        clock.advance(300);
        EXPECT_FALSE(sourceNames().contains(u"growing.mov"_qs));
    }
    clock.advance(5000);
    EXPECT_EQ(sourceNames(), (QStringList{"growing.mov", "take.mov"}));
    // The queue was not paused: watch jobs start at once.
    EXPECT_TRUE(m.scheduler().isQueueRunning());
    EXPECT_TRUE(waitUntil([&] { return sessions.live.size() == 2; }));

    // A rewritten file is a new file.
    write("growing.mov", "more");
    clock.advance(5000);
    EXPECT_EQ(m.store().jobs().size(), 3);
}

TEST_F(WatchTest, JobFilesInTheWatchFolderAreImported)
{
    ASSERT_TRUE(writeFile(path("clips/a.mov"), {}));
    AppModel& m = startWatching(true);
    // A paused queue: watch jobs wait in it.
    const EncodingJob running = queuedJob(QStringLiteral("running.mov"));
    m.store().addJobs({running});
    m.scheduler().startQueue();
    m.scheduler().pauseQueue();
    ASSERT_TRUE(m.scheduler().isQueuePaused());
    write("cut.corveljob", QStringLiteral(R"({"sources":["%1"],"preset":"ProRes LT"})")
                               .arg(path("clips/a.mov"))
                               .toUtf8());
    clock.advance(5000);
    ASSERT_EQ(m.store().jobs().size(), 2);
    const EncodingJob added = m.store().jobs().last();
    EXPECT_EQ(added.settings.body.codec, Codec::proRes422LT);
    EXPECT_TRUE(logTexts().contains(QStringLiteral("Watch folder added 1 file")));
    EXPECT_EQ(status(added.id), JobStatus::queued);
    EXPECT_EQ(sessions.live.size(), 1);
}

// Hundreds of movies dropped at once while others are still being copied: each is encoded
// once, and none before its copy is done.
TEST_F(WatchTest, HundredsAtOnceAreEachEncodedOnceAndNeverWhileGrowing)
{
    constexpr int kDropped = 200;
    constexpr int kSlow = 4;
    constexpr int kAlreadyThere = 5;
    const struct
    {
        const char* name;
        bool notedBefore; // by a watch that left existing files alone
        bool processExisting;
    } rows[] = {{"files already there are left alone", false, false},
                {"files already there are taken too", false, true},
                {"files noted by an earlier watch are taken too", true, true}};
    for (const auto& [name, notedBefore, processExisting] : rows) {
        SCOPED_TRACE(name);
        QDir(watchDir()).removeRecursively();
        QFile::remove(supportDir() + u'/' + kSettingsFileName);
        QFile::remove(supportDir() + u'/' + kQueueFileName);
        QStringList expected;
        for (int i = 0; i < kAlreadyThere; ++i) {
            const QString file = write(QStringLiteral("old %1.mov").arg(i), "an older movie");
            if (processExisting)
                expected.append(file);
        }
        if (notedBefore) {
            startWatching(false);
            clock.advance(5000);
            model.reset();
        }
        InstantSessions instant;
        AppModel& m = startWatching(processExisting, {}, &instant);

        QStringList slow;
        for (int i = 0; i < kSlow; ++i)
            slow.append(write(QStringLiteral("slow %1.mov").arg(i), {}));
        expected += slow;
        for (int i = 0; i < kDropped; ++i)
            expected.append(write(QStringLiteral("take %1.mov").arg(i, 3, 10, QChar(u'0')),
                                  QByteArray(4096, 'm')));
        // The slow copies go on in chunks 0.15 s apart while the drop is taken.
        for (int chunk = 0; chunk < 12; ++chunk) {
            for (const QString& file : std::as_const(slow))
                write(QFileInfo(file).fileName(), QByteArray(64 * 1024, char('a' + chunk)));
            clock.advance(150);
        }
        // Each encode ends through the event loop, which the clock's steps let turn.
        ASSERT_TRUE(waitUntil(
            [&] {
                clock.advance(100);
                return instant.launches.size() >= expected.size();
            },
            60'000))
            << instant.launches.size() << " of " << expected.size() << " encoded";
        // Long enough for every file to be judged stable again.
        clock.advance(5000);
        deliver();

        QStringList encoded;
        for (const auto& [source, sizeAtStart] : std::as_const(instant.launches)) {
            encoded.append(source);
            EXPECT_EQ(sizeAtStart, QFileInfo(source).size())
                << source.toStdString() << " was taken while it was still growing";
        }
        encoded.sort();
        expected.sort();
        EXPECT_EQ(encoded, expected);
        EXPECT_EQ(m.store().jobs().size(), expected.size());
        EXPECT_EQ(m.store().doneCount(), expected.size());
        model.reset();
    }
}

// One folder, one watcher: while another Corvel Encoder watches it, this one stays off until
// the watch is restarted.
TEST_F(WatchTest, AFolderWatchedElsewhereIsLeftToItUntilARestart)
{
    ASSERT_TRUE(QDir().mkpath(watchDir()));
    auto elsewhere = WatchLock::takeFolder(resolvedWatchPath(watchDir()));
    ASSERT_TRUE(elsewhere);
    write("a.mov");
    AppModel& m = startWatching(true);
    clock.advance(5000);
    EXPECT_FALSE(m.watch().isWatching());
    EXPECT_TRUE(m.store().jobs().isEmpty());
    EXPECT_TRUE(m.feed().banner().value_or(QString()).contains(watchDir()));
    elsewhere->reset();
    m.watch().refresh();
    clock.advance(5000);
    EXPECT_EQ(sourceNames(), QStringList{"a.mov"});
    EXPECT_FALSE(WatchLock::takeFolder(resolvedWatchPath(watchDir()))) << "held by this watch";
}

TEST_F(WatchTest, TenThousandFilesAreLeftAloneOrTakenEachOnce)
{
    constexpr int kFiles = 10'000;
    QDir().mkpath(watchDir());
    for (int i = 0; i < kFiles; ++i)
        write(QStringLiteral("f%1.mov").arg(i), "m");
    for (const bool processExisting : {false, true}) {
        SCOPED_TRACE(processExisting);
        QDir(supportDir()).removeRecursively();
        AppModel& m = startWatching(processExisting);
        if (processExisting) {
            ASSERT_TRUE(waitUntil(
                [&] {
                    clock.advance(2000);
                    return m.store().jobs().size() >= kFiles;
                },
                60'000));
        }
        // Every file's key stays remembered, so no later look takes a file again.
        clock.advance(5000);
        m.watch().scan();
        deliver();
        EXPECT_EQ(m.store().jobs().size(), processExisting ? kFiles : 0);
        const AppSettings& settings = m.persistence().settings();
        EXPECT_EQ((processExisting ? settings.seenWatchKeys : settings.notedWatchKeys).size(),
                  kFiles);
        model.reset();
    }
}

} // namespace
} // namespace corvel::testing
