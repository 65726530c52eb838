#include "FakeProber.h"
#include "ModelTestSupport.h"
#include "tests/SlowBuild.h"

#include "CorvelEncoder/model/IntakeFiles.h"
#include "CorvelEncoder/platform/IncomingOpener.h"

#include <algorithm>

#include <ctime>

namespace corvel::testing {
namespace {

class IntakeTest : public ModelFixture
{
protected:
    void SetUp() override { makeModel(&prober); }

    QString makeFile(const QString& name, const QByteArray& data = "x")
    {
        EXPECT_TRUE(writeFile(path(name), data));
        return path(name);
    }

    QList<EncodingJob> jobs() const { return model->store().jobs(); }

    FakeProber prober;
};

TEST_F(IntakeTest, DroppingAMovieAddsAProbedJobWithTheDefaults)
{
    model->persistence().updateSettings([&](AppSettings& s) {
        s.lastPresetID = u"h264"_s;
        s.defaultOutputDirectory = path("exports");
        s.revealWhenDone = false;
    });
    const QString clip = makeFile("footage/clip.mov");
    prober.infos.insert(clip, FakeProber::hd(50));

    EXPECT_TRUE(model->intake().showIntro());
    ASSERT_TRUE(model->intake().handleDrop({QUrl::fromLocalFile(clip)}));
    ASSERT_EQ(jobs().size(), 1);
    const EncodingJob job = jobs().first();
    EXPECT_TRUE(job.probing);
    EXPECT_EQ(job.settings.presetID, u"h264");
    EXPECT_EQ(job.settings.body.bitrateMbps, 19.9); // 1080p at 24 fps until probed
    EXPECT_EQ(job.settings.outputDirectory, path("exports"));
    EXPECT_FALSE(job.settings.revealWhenDone);
    EXPECT_EQ(model->store().selection(), QSet<QUuid>{job.id});
    EXPECT_EQ(logTexts().last(), u"Added clip.mov");
    EXPECT_FALSE(model->intake().showIntro());

    ASSERT_TRUE(waitUntil([&] { return !model->store().job(job.id)->probing; }));
    EXPECT_EQ(model->store().job(job.id)->sourceInfo, FakeProber::hd(50));
}

TEST_F(IntakeTest, FoldersAreWalkedAndOnlyMoviesAndJobsCount)
{
    for (const char* name :
         {"a.mov", "sub/b.MP4", "readme.txt", ".hidden.mov", "Corvel Output/old.mov",
          "sub/Corvel Output/old.mov", ".hidden/inside.mov", "1/2/3/4/5/deepest-found.mov",
          "1/2/3/4/5/6/too-deep.mov", "c.mkv", "notes.pdf"})
        makeFile(u"drop/"_s + QLatin1StringView(name));

    model->intake().importURLs({QUrl::fromLocalFile(path("drop"))}, false);
    QStringList names;
    for (const EncodingJob& job : jobs())
        names << job.sourceName();
    EXPECT_EQ(names, (QStringList{"deepest-found.mov", "a.mov", "c.mkv", "b.MP4"}));
    EXPECT_EQ(logTexts().filter(u"notes.pdf, readme.txt").size(), 1);
    EXPECT_EQ(model->store().selection().size(), 4);
}

TEST_F(IntakeTest, JobFilesAddTheirEntriesAndMayStartTheQueue)
{
    const QString a = makeFile("cut/a.mov");
    makeFile("cut/b.mov");
    makeFile("cut/c.mov");
    const QString jobFile =
        makeFile("cut/cut.corveljob",
                 R"({"version":1,"sender":"studio.corvel.brisk","start":true,"preset":"HEVC",
            "sources":["a.mov","b.mov",{"path":"c.mov","preset":"ProRes LT"}]})");

    model->intake().importURLs({QUrl::fromLocalFile(jobFile)}, false);
    ASSERT_EQ(jobs().size(), 3);
    EXPECT_EQ(jobs()[0].sourcePath, a);
    EXPECT_EQ(jobs()[0].settings.body.codec, Codec::hevc);
    EXPECT_EQ(jobs()[2].settings.body.codec, Codec::proRes422LT);
    EXPECT_TRUE(logTexts().contains(u"Added 3 files from Corvel Brisk"_qs))
        << logTexts().join(u'|').toStdString();
    EXPECT_EQ(model->store().selection().size(), 3);
    // The file asked to start: once read, the first two take the two slots.
    EXPECT_TRUE(model->scheduler().isQueueRunning());
    EXPECT_TRUE(waitUntil([&] { return sessions.live.size() == 2; }));
}

TEST_F(IntakeTest, BadEntriesAndBadFilesAreReported)
{
    makeFile("x/a.mov");
    makeFile("x/b.mov");
    const QString mixed = makeFile(
        "x/mixed.corveljob", R"({"jobs":[{"source":"a.mov","preset":"x265"},{"source":"b.mov"}]})");
    model->intake().importURLs({QUrl::fromLocalFile(mixed)}, false);
    ASSERT_EQ(jobs().size(), 1);
    EXPECT_EQ(jobs().first().sourceName(), u"b.mov");
    ASSERT_TRUE(model->feed().banner());
    EXPECT_TRUE(model->feed().banner()->contains(u"x265"));
    EXPECT_TRUE(model->feed().logLines().at(model->feed().logLines().size() - 2).isError);
    EXPECT_EQ(logTexts().last(), u"Added b.mov");

    const QString notes = makeFile("x/notes.json", R"({"title":"not a job"})");
    model->intake().importURLs({QUrl::fromLocalFile(notes)}, false);
    EXPECT_TRUE(model->feed().banner()->startsWith(u"notes.json"));

    const qsizetype lines = model->feed().logLines().size();
    model->intake().importURLs(
        {QUrl::fromLocalFile(makeFile("x/song.wav")), QUrl("https://example.com/a.mov")}, false);
    EXPECT_EQ(jobs().size(), 1);
    EXPECT_EQ(model->feed().logLines().size(), lines + 1) << "only the file is logged";
    EXPECT_TRUE(logTexts().last().contains(u"song.wav"));
    ASSERT_TRUE(model->feed().banner());
    EXPECT_TRUE(model->feed().banner()->startsWith(u"https://example.com/a.mov"))
        << "an address is not taken for a missing file";

    const QString broken = makeFile("x/broken.corveljob", "{not json");
    model->intake().importURLs({QUrl::fromLocalFile(broken)}, false);
    EXPECT_EQ(jobs().size(), 1);
    EXPECT_TRUE(model->feed().logLines().last().isError);
    EXPECT_EQ(model->feed().banner(), model->feed().logLines().last().text);

    EXPECT_FALSE(model->intake().handleDrop({}));
    EXPECT_TRUE(model->intake().handleDrop({QUrl("https://example.com/x.mov")}));
    EXPECT_EQ(model->feed().banner(), u"Could not read that drop."_qs);
}

TEST_F(IntakeTest, LinksAddClipsWithTheirSettings)
{
    const QString clip = makeFile("links/shot 1.mov");
    // Written as people and browsers write it: a raw space and raw braces.
    const QString link = QStringLiteral("corvelencoder://enqueue?source=%1&preset=H.264"
                                        "&quality=low&naming={name}_web&sender=Web+Cutter")
                             .arg(clip);
    model->intake().importURLs(commandLineURLs({"corvel-encoder", link}, path("")), true);
    ASSERT_EQ(jobs().size(), 1);
    EXPECT_EQ(jobs().first().sourcePath, clip);
    EXPECT_EQ(jobs().first().settings.body.codec, Codec::h264);
    EXPECT_EQ(jobs().first().settings.body.quality, QualityTier::low);
    EXPECT_EQ(jobs().first().settings.body.namingPattern, u"{name}_web");
    EXPECT_EQ(logTexts().last(), u"Added 1 file from Web+Cutter");
    EXPECT_EQ(desktop.activations, 1);
    EXPECT_FALSE(model->scheduler().isQueueRunning());

    for (const char* unreadable : {"corvelencoder://enqueue", "corvelencoder://bad host%zz"}) {
        model->feed().setBanner(std::nullopt);
        model->intake().importURLs(commandLineURLs({"corvel-encoder", unreadable}, path("")), true);
        EXPECT_EQ(jobs().size(), 1);
        EXPECT_EQ(model->feed().banner(), u"Not a corvelencoder link."_qs);
        EXPECT_TRUE(model->feed().logLines().last().isError);
    }
}

TEST_F(IntakeTest, ALinkWithTenThousandSourcesIsTakenWholeAndQuickly)
{
    QString query = u"corvelencoder://enqueue?preset=H.264&sender=Batch"_s;
    QStringList expected;
    for (int i = 0; i < 10'000; ++i) {
        const QString clip = u"/media/day %1/shot-%2.mov"_s.arg(i / 100).arg(i);
        expected.append(clip);
        query += u"&source="_s + QString::fromLatin1(QUrl::toPercentEncoding(clip));
    }
    // Processor time, not wall time: a busy machine must not fail this, a quadratic import must.
    const std::clock_t start = std::clock();
    model->intake().importURLs({QUrl(query)}, true);
    const auto allRead = [&] {
        return jobs().size() == 10'000 && std::ranges::none_of(jobs(), &EncodingJob::probing);
    };
    ASSERT_TRUE(waitUntil(allRead, 10'000));
    const double cpuMs = 1000.0 * double(std::clock() - start) / CLOCKS_PER_SEC;
    QStringList sources;
    for (const EncodingJob& job : jobs())
        sources.append(job.sourcePath);
    EXPECT_EQ(sources, expected);
    EXPECT_EQ(logTexts().last(), u"Added 10000 files from Batch");
    EXPECT_LT(cpuMs, 2000.0 * kSlowBuildFactor);
}

TEST_F(IntakeTest, OutsideURLsAreTakenOnceWithinTheRepeatWindow)
{
    model->persistence().updateSettings(
        [](AppSettings& s) { s.lastPresetID = u"custom:nothing"_s; });
    const QUrl clip = QUrl::fromLocalFile(makeFile("clip.mov"));
    model->intake().handleIncoming({clip});
    model->intake().handleIncoming({clip});
    ASSERT_EQ(jobs().size(), 1);
    // A default preset that is gone falls back to ProRes 422 HQ.
    EXPECT_EQ(jobs()[0].settings.presetID, u"prores-422-hq");
    EXPECT_EQ(jobs()[0].settings.presetName, u"ProRes 422 HQ");
    // Drops and panels are never de-duplicated.
    model->intake().handleDrop({clip});
    EXPECT_EQ(jobs().size(), 2);
    clock.advance(1600);
    model->intake().handleIncoming({clip});
    EXPECT_EQ(jobs().size(), 3);
    EXPECT_EQ(desktop.activations, 2);
}

TEST_F(IntakeTest, ProbeResultsMoveQueuedAndFailedJobs)
{
    prober.hold = true;
    model->persistence().updateSettings([](AppSettings& s) { s.lastPresetID = u"h264"_s; });
    const QString good = makeFile("good.mov");
    const QString bad = makeFile("bad.mov");
    model->intake().importURLs({QUrl::fromLocalFile(good), QUrl::fromLocalFile(bad)}, false);
    const QUuid goodID = jobs()[0].id;
    const QUuid badID = jobs()[1].id;

    // A job that failed before its probe came back is queued again by a good probe.
    model->store().update(goodID, [](EncodingJob& j) {
        j.status = JobStatus::failed;
        j.errorMessage = u"earlier"_s;
    });
    prober.answer(good, FakeProber::hd());
    prober.answer(bad, MediaProber::Result(std::unexpect, u"No video track in this file."_s));
    ASSERT_TRUE(waitUntil([&] {
        return !model->store().job(goodID)->probing && !model->store().job(badID)->probing;
    }));
    EXPECT_EQ(status(goodID), JobStatus::queued);
    EXPECT_FALSE(model->store().job(goodID)->errorMessage);
    EXPECT_EQ(status(badID), JobStatus::failed);
    EXPECT_EQ(model->store().job(badID)->errorMessage, u"No video track in this file."_qs);
    EXPECT_EQ(logTexts().last(), u"Could not read bad.mov: No video track in this file.");
    EXPECT_TRUE(model->feed().logLines().last().isError);

    // A job is never launched before its source is read: the reading sets the bitrate the
    // encode must use. Its return launches it; a job that cannot be read never launches.
    const QString late = makeFile("late.mov");
    const QString unreadable = makeFile("unreadable.mov");
    model->intake().importURLs({QUrl::fromLocalFile(late), QUrl::fromLocalFile(unreadable)}, false);
    const QUuid lateID = jobs()[2].id;
    model->scheduler().startJobNow(jobs()[3].id);
    model->scheduler().startJobNow(lateID);
    EXPECT_EQ(status(lateID), JobStatus::queued);
    EXPECT_EQ(sessions.launched, QList<QUuid>{goodID}) << "only the job already read starts";
    prober.answer(unreadable, MediaProber::Result(std::unexpect, u"gone"_s));
    prober.answer(late, FakeProber::hd(50));
    ASSERT_TRUE(waitUntil([&] { return status(lateID) == JobStatus::encoding; }));
    EXPECT_EQ(sessions.launched, (QList<QUuid>{goodID, lateID}));
    EXPECT_EQ(sessions.session(lateID)->settings.body.bitrateMbps, 41.5);

    const QString removed = makeFile("removed.mov");
    model->intake().importURLs({QUrl::fromLocalFile(removed)}, false);
    model->scheduler().remove({jobs().last().id});
    prober.answer(removed, FakeProber::hd());
    deliver();
    EXPECT_EQ(jobs().size(), 4);
}

TEST_F(IntakeTest, BeginIntakeTakesPendingAndCommandLineURLs)
{
    IncomingOpener opener;
    opener.receive({QUrl::fromLocalFile(makeFile("early.mov"))});
    model->beginIntake(opener, {QUrl::fromLocalFile(makeFile("argument.mov"))});
    ASSERT_EQ(jobs().size(), 1);
    EXPECT_EQ(jobs()[0].sourceName(), u"argument.mov");
    ASSERT_TRUE(waitUntil([&] { return jobs().size() == 2; }));
    EXPECT_EQ(jobs()[1].sourceName(), u"early.mov");

    opener.receive({QUrl::fromLocalFile(makeFile("later.mov"))});
    EXPECT_EQ(jobs().size(), 2) << "a later URL comes through the event loop, not inside receive";
    ASSERT_TRUE(waitUntil([&] { return jobs().size() == 3; }));
    // A model that is gone no longer receives; the URL waits for the next one.
    model.reset();
    opener.receive({QUrl::fromLocalFile(path("after.mov"))});
    deliver();
    EXPECT_EQ(opener.install(nullptr, {}).size(), 1);
}

} // namespace
} // namespace corvel::testing
