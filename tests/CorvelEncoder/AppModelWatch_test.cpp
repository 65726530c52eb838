#include "FakeProber.h"
#include "ModelTestSupport.h"

#include "CorvelEncoder/WatchRules.h"

#include <QDir>
#include <QFile>

namespace corvel::testing {
namespace {

// Real folders, real timers: a file counts once it has stayed unchanged for 1.5 s, so each
// test waits a few seconds.
class WatchTest : public ModelFixture
{
protected:
    AppModel& startWatching(bool processExisting, const QString& output = {})
    {
        QDir().mkpath(watchDir());
        AppModel& m = makeModel();
        m.setProber(prober);
        m.updateSettings([&](AppSettings& s) {
            s.watchEnabled = true;
            s.watchFolder = watchDir();
            s.watchOutputDirectory = output;
            s.watchPresetID = QStringLiteral("hevc");
            s.watchProcessExisting = processExisting;
        });
        m.refreshWatch();
        return m;
    }

    QString watchDir() const { return path("Watch"); }

    void write(const QString& name, const QByteArray& data = "movie")
    {
        const QString full = watchDir() + u'/' + name;
        QDir().mkpath(QFileInfo(full).path());
        QFile file(full);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Append));
        file.write(data);
    }

    QStringList sourceNames() const
    {
        QStringList names;
        for (const EncodingJob& job : model->jobs())
            names << job.sourceName();
        names.sort();
        return names;
    }

    FakeProber prober;
};

TEST_F(WatchTest, MissingFolderSetsTheBanner)
{
    AppModel& m = makeModel();
    m.updateSettings([&](AppSettings& s) {
        s.watchEnabled = true;
        s.watchFolder = path("nowhere");
    });
    m.refreshWatch();
    EXPECT_EQ(m.banner(), u"Watch folder is missing."_qs);
    EXPECT_FALSE(m.isWatching());

    m.updateSettings([](AppSettings& s) { s.watchEnabled = false; });
    m.refreshWatch();
    EXPECT_FALSE(m.isWatching());
}

TEST_F(WatchTest, ExistingFilesAreNotedNewOnesEncodedOnce)
{
    write("already-there.mov");
    AppModel& m = startWatching(false);
    EXPECT_TRUE(m.isWatching());
    spin(3000); // past the baseline
    EXPECT_TRUE(m.jobs().isEmpty());
    EXPECT_EQ(m.settings().seenWatchKeys.size(), 1);

    write("new.mov");
    write("notes.txt");
    ASSERT_TRUE(waitUntil([&] { return m.jobs().size() == 1; }, 10000));
    const EncodingJob job = m.jobs().first();
    EXPECT_EQ(job.sourceName(), u"new.mov");
    EXPECT_EQ(job.settings.presetID, u"hevc");
    EXPECT_EQ(job.settings.outputDirectory, resolvedWatchPath(watchDir()) + "/Corvel Output");
    EXPECT_FALSE(job.settings.revealWhenDone);
    EXPECT_EQ(logTexts().last(), u"Watch folder added 1 file");
    EXPECT_TRUE(waitUntil([&] { return status(job.id) == JobStatus::encoding; }))
        << "the watch starts the queue once the file is read";
    // The unknown file is ignored and not remembered.
    EXPECT_EQ(m.settings().seenWatchKeys.size(), 2);

    spin(2600);
    EXPECT_EQ(m.jobs().size(), 1) << "a handled file is not taken again";
}

TEST_F(WatchTest, GrowingFilesWaitAndOutputIsNeverPickedUp)
{
    AppModel& m = startWatching(true, watchDir()); // output folder == watch folder
    EXPECT_EQ(m.resolvedWatchOutput(), resolvedWatchPath(watchDir()) + "/Corvel Output");
    write("Corvel Output/result.mov");
    write("deep/er/take.mov");

    // Keep appending for a while: never taken while it grows.
    for (int i = 0; i < 8; ++i) {
        write("growing.mov", QByteArray(1000, 'x'));
        spin(300);
        EXPECT_FALSE(sourceNames().contains(u"growing.mov"_qs));
    }
    ASSERT_TRUE(waitUntil([&] { return m.jobs().size() == 2; }, 10000));
    EXPECT_EQ(sourceNames(), (QStringList{"growing.mov", "take.mov"}));
    // The queue was not paused: watch jobs start at once.
    EXPECT_TRUE(m.isQueueRunning());
    EXPECT_TRUE(waitUntil([&] { return sessions.live.size() == 2; }));

    // A rewritten file is a new file.
    write("growing.mov", "more");
    ASSERT_TRUE(waitUntil([&] { return m.jobs().size() == 3; }, 10000));
}

TEST_F(WatchTest, JobFilesInTheWatchFolderAreImported)
{
    QDir().mkpath(path("clips"));
    QFile(path("clips/a.mov")).open(QIODevice::WriteOnly);
    AppModel& m = startWatching(true);
    // A paused queue: watch jobs wait in it.
    const EncodingJob running = queuedJob(QStringLiteral("running.mov"));
    m.addJobs({running});
    m.startQueue();
    m.pauseQueue();
    ASSERT_TRUE(m.isQueuePaused());
    write("cut.corveljob", QStringLiteral(R"({"sources":["%1"],"preset":"ProRes LT"})")
                               .arg(path("clips/a.mov"))
                               .toUtf8());
    ASSERT_TRUE(waitUntil([&] { return m.jobs().size() == 2; }, 10000));
    const EncodingJob added = m.jobs().last();
    EXPECT_EQ(added.settings.body.codec, Codec::proRes422LT);
    EXPECT_EQ(logTexts().last(), u"Watch folder added 1 file");
    EXPECT_EQ(status(added.id), JobStatus::queued);
    EXPECT_EQ(sessions.live.size(), 1);
}

} // namespace
} // namespace corvel::testing
