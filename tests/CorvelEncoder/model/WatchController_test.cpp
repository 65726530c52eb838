// The watch folder on real folders, with the model's clock moved by the test: a file counts
// once it has stayed unchanged for 1.5 s of that clock.

#include "FakeProber.h"
#include "ModelTestSupport.h"

#include "CorvelEncoder/model/WatchRules.h"
#include "CorvelEncoder/platform/WatchLock.h"

#include <QDir>
#include <QFile>

#include <unistd.h>

namespace corvel::testing {
namespace {

class WatchTest : public ModelFixture
{
protected:
    AppModel& startWatching(bool processExisting, const QString& output = {})
    {
        QDir().mkpath(watchDir());
        AppModel& m = makeModel(&prober);
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

    FakeProber prober;
};

// The switch asks for a folder first; "encode existing files" forgets only that folder's keys.
TEST_F(WatchTest, SwitchAsksForAFolderAndAMissingOrWatchedOneSetsTheBanner)
{
    AppModel& m = *model;
    const AppSettings& settings = m.persistence().settings();
    m.watch().setEnabled(true);
    EXPECT_FALSE(m.watch().enabled()) << "the chooser was cancelled";
    ASSERT_TRUE(QDir().mkpath(watchDir()));
    desktop.nextChoice = {watchDir()};
    m.watch().setEnabled(true);
    EXPECT_TRUE(m.watch().isWatching());
    desktop.nextChoice = {path(u"WatchOut"_s)};
    m.watch().chooseOutput();
    EXPECT_EQ(settings.watchOutputDirectory, path(u"WatchOut"_s));
    m.watch().setEnabled(false);
    EXPECT_FALSE(m.watch().isWatching());
    // One folder, one watcher: while another Corvel Encoder watches it, this one stays off
    // until the watch restarts.
    auto elsewhere = WatchLock::takeFolder(resolvedWatchPath(watchDir()));
    ASSERT_TRUE(elsewhere);
    m.watch().setEnabled(true);
    EXPECT_EQ(desktop.openRequests.size(), 3) << "the folder is known now";
    EXPECT_FALSE(m.watch().isWatching());
    EXPECT_TRUE(m.feed().banner().value_or(QString()).contains(watchDir()));
    elsewhere->reset();
    m.watch().refresh();
    EXPECT_TRUE(m.watch().isWatching());
    EXPECT_FALSE(WatchLock::takeFolder(resolvedWatchPath(watchDir()))) << "held by this watch";

    const QString sibling = watchDir() + u"2/c.mov|10|1.0"_s;
    m.persistence().updateSettings([&](AppSettings& s) {
        s.seenWatchKeys = {watchDir() + u"/a.mov|10|1.0"_s, watchDir() + u"|0|1.0"_s, sibling};
    });
    m.watch().setProcessExisting(true);
    EXPECT_EQ(settings.seenWatchKeys, QStringList{sibling});

    desktop.nextChoice = {path("nowhere")};
    m.watch().chooseFolder();
    EXPECT_EQ(m.feed().banner(), u"Watch folder is missing."_qs);
    EXPECT_FALSE(m.watch().isWatching());
}

TEST_F(WatchTest, ExistingFilesAreNotedNewOnesEncodedOnce)
{
    write("already-there.mov");
    AppModel& m = startWatching(false);
    clock.advance(5000);

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

    // Renamed, or linked under one more name, it is still the file already handled.
    const QString renamed = QFileInfo(fresh).path() + "/renamed.mov";
    ASSERT_TRUE(QFile::rename(fresh, renamed));
    ASSERT_EQ(::link(QFile::encodeName(renamed).constData(),
                     QFile::encodeName(QFileInfo(fresh).path() + "/linked.mov").constData()),
              0);
    clock.advance(5000);
    EXPECT_EQ(m.store().jobs().size(), 1) << "known by device and inode too";
    write("renamed.mov", "more"); // rewritten, it is a new file
    clock.advance(5000);
    EXPECT_EQ(m.store().jobs().size(), 2);
}

TEST_F(WatchTest, JobFilesInTheWatchFolderAreImported)
{
    ASSERT_TRUE(writeFile(path("clips/a.mov"), {}));
    AppModel& m = startWatching(true);
    // A paused queue: watch jobs wait in it.
    m.store().addJobs({queuedJob(QStringLiteral("running.mov"))});
    m.scheduler().startQueue();
    m.scheduler().pauseQueue();
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

// Hundreds of movies dropped at once while others are still being copied, beside thousands
// already there: each is taken once, and none before its copy is done.
TEST_F(WatchTest, HundredsAtOnceAreEachTakenOnceAndNeverWhileGrowing)
{
    constexpr int kDropped = 200;
    constexpr int kSlow = 4;
    // name; files already there (more than the 4000 keys kept of files that are gone); noted
    // before by a watch that left existing files alone; existing files processed
    const std::tuple<const char*, int, bool, bool> rows[] = {
        {"files already there are left alone", 10'000, false, false},
        {"files already there are taken too", 10'000, false, true},
        {"files noted by an earlier watch are taken too", 5, true, true}};
    for (const auto& [name, alreadyThere, notedBefore, processExisting] : rows) {
        SCOPED_TRACE(name);
        QDir(watchDir()).removeRecursively();
        QDir(supportDir()).removeRecursively();
        QStringList expected;
        for (int i = 0; i < alreadyThere; ++i) {
            const QString file = write(QStringLiteral("old %1.mov").arg(i), "an older movie");
            if (processExisting)
                expected.append(file);
        }
        if (notedBefore) {
            startWatching(false);
            clock.advance(5000);
            model.reset();
        }
        AppModel& m = startWatching(processExisting, watchDir()); // output folder == watch folder
        QList<std::pair<QString, qint64>> taken; // each source with its size when it was taken
        QObject::connect(&m.store(), &JobStore::jobsInserted, &m.store(), [&](int first, int last) {
            for (int row = first; row <= last; ++row)
                taken.append({m.store().jobs().at(row).sourcePath,
                              QFileInfo(m.store().jobs().at(row).sourcePath).size()});
        });

        QStringList slow;
        for (int i = 0; i < kSlow; ++i)
            slow.append(write(QStringLiteral("slow %1.mov").arg(i), {}));
        expected += slow;
        // Sub-folders are watched too, the watch's own results never.
        expected.append(write("deep/er/take.mov"));
        write("Corvel Output/result.mov");
        for (int i = 0; i < kDropped; ++i)
            expected.append(write(QStringLiteral("take %1.mov").arg(i, 3, 10, QChar(u'0')),
                                  QByteArray(4096, 'm')));
        // The slow copies go on in chunks 0.15 s apart while the drop is taken.
        for (int chunk = 0; chunk < 12; ++chunk) {
            for (const QString& file : std::as_const(slow))
                write(QFileInfo(file).fileName(), QByteArray(64 * 1024, char('a' + chunk)));
            clock.advance(150);
        }
        ASSERT_TRUE(waitUntil(
            [&] {
                clock.advance(100);
                return taken.size() >= expected.size();
            },
            // Ten thousand files on a sanitized build on a busy machine: a generous bound.
            300'000))
            << taken.size() << " of " << expected.size() << " taken";
        // Long enough for every file to be judged stable again.
        clock.advance(5000);

        QStringList sources;
        for (const auto& [source, sizeWhenTaken] : std::as_const(taken)) {
            sources.append(source);
            EXPECT_EQ(sizeWhenTaken, QFileInfo(source).size())
                << source.toStdString() << " was taken while it was still growing";
        }
        sources.sort();
        expected.sort();
        EXPECT_EQ(sources, expected);
        // Every file is remembered, noted or taken, so no later watch takes one again.
        const AppSettings& kept = m.persistence().settings();
        EXPECT_EQ(kept.seenWatchKeys.size() + kept.notedWatchKeys.size(),
                  alreadyThere + kSlow + kDropped + 1);
        model.reset();
    }
}

} // namespace
} // namespace corvel::testing
