#include "FakeProber.h"
#include "ModelTestSupport.h"

#include "CorvelEncoderCore/StateFiles.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace corvel::testing {
namespace {

class PersistenceTest : public ModelFixture
{
protected:
    QString stateFile(const QString& name) const { return QDir(supportDir()).filePath(name); }

    void writeState(const QString& name, const QByteArray& data)
    {
        ASSERT_TRUE(writeFile(stateFile(name), data));
    }
    QByteArray readState(const QString& name) const { return readFile(stateFile(name)); }
    QList<EncodingJob> storedJobs() const
    {
        const auto decoded = decodeQueueFile(readState(kQueueFileName));
        return decoded ? decoded->jobs : QList<EncodingJob>{};
    }
};

QJsonObject fullSettingsObject()
{
    return QJsonDocument::fromJson(R"({"maxParallel":3,"defaultOutputDirectory":"/m/out",
        "revealWhenDone":false,"lastPresetID":"h264-delivery","watchEnabled":true,
        "watchFolder":"/w","watchOutputDirectory":"/w/out","watchPresetID":"hevc",
        "watchProcessExisting":true,"dockBounceWhenIdle":false,"hasSeenIntro":true,
        "seenWatchKeys":["a|1|2"]})")
        .object();
}

TEST_F(PersistenceTest, SettingsAreReadStrictly)
{
    // name, the change, the slot count read back (0: the file is refused, the defaults hold)
    const std::tuple<const char*, std::function<void(QJsonObject&)>, int> rows[] = {
        {"complete file", [](QJsonObject&) {}, 3},
        {"slot count below the range", [](QJsonObject& o) { o["maxParallel"] = 0; }, 1},
        {"slot count above the range", [](QJsonObject& o) { o["maxParallel"] = 9; }, 4},
        {"without seenWatchKeys", [](QJsonObject& o) { o.remove("seenWatchKeys"); }, 0},
        {"number as text", [](QJsonObject& o) { o["maxParallel"] = "3"; }, 0},
        {"fractional slot count", [](QJsonObject& o) { o["maxParallel"] = 2.5; }, 0},
        {"null value", [](QJsonObject& o) { o["watchFolder"] = QJsonValue::Null; }, 0},
        {"non-text watch key", [](QJsonObject& o) { o["seenWatchKeys"] = QJsonArray{1}; }, 0},
        {"boolean as number", [](QJsonObject& o) { o["hasSeenIntro"] = 1; }, 0}};
    for (const auto& [name, edit, parallel] : rows) {
        SCOPED_TRACE(name);
        QJsonObject object = fullSettingsObject();
        edit(object);
        writeState(kSettingsFileName, QJsonDocument(object).toJson());
        makeModel();
        const AppSettings& s = settings();
        if (parallel > 0) {
            EXPECT_EQ(s.maxParallel, parallel);
            EXPECT_EQ(s.defaultOutputDirectory, u"/m/out"_s);
            EXPECT_EQ(s.watchPresetID, u"hevc"_s);
            EXPECT_EQ(s.seenWatchKeys, QStringList{u"a|1|2"_s});
            EXPECT_TRUE(s.hasSeenIntro);
        } else {
            EXPECT_EQ(s, AppSettings::defaults(path(u"Videos/Corvel Encoder"_s)));
        }
    }
}

// A first start makes the folder; neither it nor an unchanged restore writes a file. A burst
// of changes gives one queue write, after the last change.
TEST_F(PersistenceTest, AStartWritesNothingAndABurstOfChangesOneQueueWriteAfterTheLast)
{
    EXPECT_TRUE(QDir(supportDir()).exists());
    clock.advance(5000);
    EXPECT_TRUE(store->writes.isEmpty());

    writeState(kQueueFileName, encodeQueueFile({queuedJob(u"a.mov"_s)}));
    writeState(kSettingsFileName, QJsonDocument(fullSettingsObject()).toJson());
    makeModel();
    clock.advance(5000);
    EXPECT_TRUE(store->writes.isEmpty());

    for (int i = 0; i < 10; ++i) {
        clock.advance(30);
        addQueued(1);
    }
    const qint64 lastChange = clock.elapsed();
    clock.advance(399);
    EXPECT_EQ(store->writeCount(kQueueFileName), 0);
    clock.advance(1000);
    ASSERT_EQ(store->writeCount(kQueueFileName), 1);
    EXPECT_EQ(store->writes.last().second - lastChange, 400);
    EXPECT_EQ(storedJobs().size(), 11);
}

// A process killed at any moment leaves a queue that knows the encode under way: its file is
// on record as soon as it exists, its finish as soon as it ends.
TEST_F(PersistenceTest, TheStoredQueueKnowsAnEncodeFromItsFirstFileToItsEnd)
{
    const QList<EncodingJob> jobs = addQueued(1);
    clock.advance(1000); // the save for the addition has gone by; nothing else is pending
    model->scheduler().startQueue();
    FakeSession* session = sessions.session(jobs[0].id);
    const QString partial = path(u"out/clip0_ProRes422HQ.mov"_s);
    session->ready(partial, true);
    session->progress(0.57, 42.0);
    deliver();
    EXPECT_EQ(status(jobs[0].id), JobStatus::encoding);
    EXPECT_DOUBLE_EQ(model->store().job(jobs[0].id)->progress, 0.57);

    // Stored as it would restart.
    const QList<EncodingJob> running = storedJobs();
    ASSERT_EQ(running.size(), 1);
    EXPECT_EQ(running[0].status, JobStatus::queued);
    EXPECT_EQ(running[0].progress, 0.0);
    EXPECT_EQ(running[0].outputPath, partial) << "the file under way is on record at once";

    session->succeed(partial);
    deliver();
    const QList<EncodingJob> stored = storedJobs();
    ASSERT_EQ(stored.size(), 1);
    EXPECT_EQ(stored[0].status, JobStatus::completed) << "the finish is on record at once";
    EXPECT_EQ(stored[0].outputPath, partial);
}

// The next start after a kill: unfinished jobs are queued again, and the queue is rewritten
// at once.
TEST_F(PersistenceTest, RestoreRequeuesUnfinishedJobsAndRewritesTheQueue)
{
    EncodingJob crashed = queuedJob(u"a.mov"_s, JobStatus::encoding);
    crashed.progress = 0.4;
    crashed.etaSeconds = 12;
    crashed.hardwareEncoder = true;
    crashed.outputPath = path(u"a_partial.mov"_s);
    const EncodingJob paused = queuedJob(u"b.mov"_s, JobStatus::paused);
    EncodingJob failed = queuedJob(u"c.mov"_s, JobStatus::failed);
    failed.errorMessage = u"Bad."_s;
    EncodingJob reading = queuedJob(u"d.mov"_s);
    reading.probing = true;
    writeState(kQueueFileName, encodeQueueFile({crashed, paused, failed, reading}));
    QFile(crashed.outputPath.value()).open(QIODevice::WriteOnly);

    FakeProber prober;
    makeModel(&prober);
    ASSERT_EQ(model->store().jobs().size(), 4);
    const EncodingJob a = model->store().jobs()[0];
    EXPECT_EQ(a.status, JobStatus::queued);
    EXPECT_EQ(a.progress, 0.0);
    EXPECT_FALSE(a.etaSeconds || a.hardwareEncoder);
    EXPECT_FALSE(a.outputPath) << "the cut-off file is no output of the job";
    EXPECT_EQ(model->store().jobs()[1].status, JobStatus::queued);
    EXPECT_EQ(model->store().jobs()[2], failed);
    EXPECT_FALSE(model->scheduler().isQueueRunning());
    EXPECT_TRUE(sessions.launched.isEmpty());
    EXPECT_TRUE(QFile::exists(*crashed.outputPath))
        << "nothing cut off is ever under an output name, so the file there is not removed";
    // Written at once, not after the debounce; someone with a queue already knows the app.
    EXPECT_EQ(store->writeCount(kQueueFileName), 1);
    EXPECT_TRUE(decodeSettings(readState(kSettingsFileName))->hasSeenIntro);
    EXPECT_EQ(decodeQueueFile(readState(kQueueFileName))->jobs, model->store().jobs());
    // A movie handed over before the event loop runs, as the command line's are.
    const QString handed = path(u"e.mov"_s);
    ASSERT_TRUE(writeFile(handed, "movie"));
    model->intake().importURLs({QUrl::fromLocalFile(handed)}, true);
    // A job saved while its source was being read is read again; the handed-over one is read
    // once, not a second time by the restore.
    ASSERT_TRUE(waitUntil(
        [&] { return !model->store().jobs()[3].probing && !model->store().jobs()[4].probing; }));
    EXPECT_EQ(model->store().jobs()[3].sourceInfo, FakeProber::hd());
    EXPECT_EQ(prober.requested, (QStringList{reading.sourcePath, handed}));
}

// The version is read but not examined; one bad job makes the whole file unreadable.
TEST_F(PersistenceTest, QueueFileReadsWholeOrNotAtAll)
{
    const QList<EncodingJob> jobs = {queuedJob(u"a.mov"_s), queuedJob(u"b.mov"_s)};
    const QJsonObject good = QJsonDocument::fromJson(encodeQueueFile(jobs)).object();
    const std::tuple<const char*, std::function<void(QJsonObject&)>, bool> rows[] = {
        {"version 1", [](QJsonObject&) {}, true},
        {"version 7", [](QJsonObject& o) { o["version"] = 7; }, true},
        {"version as text", [](QJsonObject& o) { o["version"] = "1"; }, false},
        {"version fractional", [](QJsonObject& o) { o["version"] = 1.5; }, false},
        {"no version", [](QJsonObject& o) { o.remove("version"); }, false},
        {"one bad job",
         [](QJsonObject& o) {
             QJsonArray all = o["jobs"].toArray();
             QJsonObject second = all[1].toObject();
             second["status"] = u"exploded"_s;
             all[1] = second;
             o["jobs"] = all;
         },
         false}};
    for (const auto& [name, change, reads] : rows) {
        SCOPED_TRACE(name);
        QJsonObject file = good;
        change(file);
        writeState(kQueueFileName, QJsonDocument(file).toJson());
        makeModel();
        EXPECT_EQ(model->store().jobs(), reads ? jobs : QList<EncodingJob>{});
    }
}

TEST_F(PersistenceTest, OnlyAnUnreadableStateFileIsKeptAsideBeforeItIsReplaced)
{
    const std::tuple<const char*, QString, std::function<void(AppModel&)>> rows[] = {
        {"queue", kQueueFileName,
         [this](AppModel& m) {
             m.store().addJobs({queuedJob(u"a.mov"_s)});
         }},
        {"presets", kPresetsFileName, [](AppModel& m) {
             m.persistence().setSavedPresets(
                 {SavedPreset{QUuid::createUuid(), u"Mine"_s, PresetBody::standard()}});
         }}};
    for (const auto& [name, file, change] : rows) {
        SCOPED_TRACE(name);
        const QString backup = file + u".unreadable"_s;
        writeState(backup, "older copy");
        const QByteArray damaged = R"({"version":1,"presets":[{"id":"nope"}],"jobs":[{}]})";
        writeState(file, damaged);
        makeModel();
        EXPECT_TRUE(model->store().jobs().isEmpty());
        EXPECT_TRUE(model->persistence().savedPresets().isEmpty());
        EXPECT_EQ(readState(file), damaged) << "loading alone changes nothing";

        change(*model);
        clock.advance(1000);
        EXPECT_EQ(readState(backup), damaged);
        EXPECT_NE(readState(file), damaged);

        // Only the first replacement keeps a copy: later writes leave the backup alone.
        change(*model);
        clock.advance(1000);
        EXPECT_EQ(readState(backup), damaged);
        QDir(supportDir()).removeRecursively();
    }
    // A readable file is replaced without a copy.
    writeState(kQueueFileName, encodeQueueFile({}));
    makeModel();
    addQueued(1);
    clock.advance(1000);
    EXPECT_FALSE(QFile::exists(stateFile(u"queue.json.unreadable"_s)));
    EXPECT_EQ(decodeQueueFile(readState(kQueueFileName))->jobs.size(), 1);
}

TEST_F(PersistenceTest, AFailedSaveIsReportedOnceAsAnErrorUntilASaveSucceeds)
{
    model->scheduler().setMaxParallel(3);
    const QByteArray before = readState(u"settings.json"_s);
    ASSERT_FALSE(before.isEmpty());
    {
        FileSizeLimit fullDisk(10);
        if (!fullDisk.active)
            GTEST_SKIP() << "this process cannot limit its file size (RLIMIT_FSIZE)";
        model->scheduler().setMaxParallel(4);
        model->scheduler().setMaxParallel(5);
    }
    const QStringList errors = logTexts(true);
    ASSERT_EQ(errors.size(), 1) << errors.join(u'\n').toStdString();
    EXPECT_TRUE(errors[0].contains(u"settings.json"_s)) << errors[0].toStdString();
    EXPECT_EQ(model->feed().banner(), errors[0]) << "shown, not only in the collapsed log";
    EXPECT_EQ(readState(u"settings.json"_s), before);
    EXPECT_EQ(entriesOf(supportDir()), QStringList{u"settings.json"_s})
        << "the cut-off save leaves nothing beside the file";

    model->scheduler().setMaxParallel(6);
    {
        FileSizeLimit fullDisk(10);
        model->scheduler().setMaxParallel(7);
    }
    EXPECT_EQ(logTexts(true).size(), 2) << "a save that works again re-arms the message";
}

} // namespace
} // namespace corvel::testing
