// The watch folder under load: hundreds of movies arriving at once while others are still
// being written, with real folder watching and real timers.

#include "FakeProber.h"
#include "ModelTestSupport.h"
#include "tests/SlowBuild.h"

#include "CorvelEncoder/StateFiles.h"
#include "CorvelEncoder/WatchRules.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <thread>

namespace corvel::testing {
namespace {

// Ends at once, successfully, after noting which source it was given and how big that file
// was at that moment.
class InstantSession final : public EncodeSession
{
public:
    InstantSession(QUuid id, QString output, EncodeCallbacks callbacks)
        : m_id(id), m_output(std::move(output)), m_callbacks(std::move(callbacks))
    {}
    QUuid jobID() const override { return m_id; }
    void start() override
    {
        // The model's callbacks hop through the event loop, so reporting from here is safe.
        m_callbacks.onReady(m_output, false);
        m_callbacks.onComplete(EncodeResult(m_output));
    }
    void pause() override {}
    void resume() override {}
    void cancel() override {}
    bool waitForStopped(int) override { return true; }

private:
    QUuid m_id;
    QString m_output;
    EncodeCallbacks m_callbacks;
};

class RecordingSessions final : public EncodeSessionFactory
{
public:
    struct Launch
    {
        QString source;
        qint64 sizeAtStart;
    };

    std::unique_ptr<EncodeSession> create(const QUuid& jobID, const QString& sourcePath,
                                          const JobSettings& settings,
                                          EncodeCallbacks callbacks) override
    {
        launches.append({sourcePath, QFileInfo(sourcePath).size()});
        const QString output = settings.outputDirectory + u'/' + QFileInfo(sourcePath).fileName();
        return std::make_unique<InstantSession>(jobID, output, std::move(callbacks));
    }

    QList<Launch> launches;
};

class WatchLoadTest : public ModelFixture
{
protected:
    QString watchDir() const { return path(QStringLiteral("Watch")); }

    QString put(const QString& name, const QByteArray& data)
    {
        const QString full = resolvedWatchPath(watchDir()) + u'/' + name;
        QFile file(full);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(data);
        return full;
    }

    FakeProber prober;
    RecordingSessions recording;
};

// Appends a chunk to each file in turn until every file has all its chunks, pausing between
// rounds: a slow copy the watch must not take before it is done.
class SlowWriters
{
public:
    SlowWriters(const QStringList& paths, int chunks, int pauseMs)
    {
        m_thread = std::thread([=, this] {
            for (int round = 0; round < chunks; ++round) {
                for (const QString& path : paths) {
                    QFile file(path);
                    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
                        file.write(QByteArray(64 * 1024, char('a' + round % 26)));
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
            }
            m_done = true;
        });
    }
    ~SlowWriters() { m_thread.join(); }
    bool done() const { return m_done; }

private:
    std::thread m_thread;
    std::atomic<bool> m_done = false;
};

TEST_F(WatchLoadTest, HundredsAtOnceAreEachEncodedOnceAndNeverWhileGrowing)
{
    constexpr int kDropped = 200;
    constexpr int kSlow = 4;
    constexpr int kAlreadyThere = 5;
    const struct
    {
        const char* name;
        bool processExisting;
    } rows[] = {
        {"files already there are left alone", false},
        {"files already there are taken too", true},
    };

    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        QDir(watchDir()).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(watchDir()));
        recording.launches.clear();

        QStringList expected;
        for (int i = 0; i < kAlreadyThere; ++i) {
            const QString file = put(QStringLiteral("old %1.mov").arg(i), "an older movie");
            if (row.processExisting)
                expected.append(file);
        }

        model.reset();
        store = std::make_unique<CountingStore>(supportDir());
        QFile::remove(supportDir() + u'/' + kSettingsFileName);
        QFile::remove(supportDir() + u'/' + kQueueFileName);
        model =
            std::make_unique<AppModel>(*store, path(QStringLiteral("Videos")), recording, desktop);
        AppModel& m = *model;
        m.setProber(prober);
        m.updateSettings([&](AppSettings& s) {
            s.maxParallel = 4;
            s.watchEnabled = true;
            s.watchFolder = watchDir();
            s.watchPresetID = QStringLiteral("h264");
            s.watchProcessExisting = row.processExisting;
        });
        m.refreshWatch();
        spin(100);

        // Movies still arriving, then hundreds dropped at once.
        QStringList slow;
        for (int i = 0; i < kSlow; ++i)
            slow.append(put(QStringLiteral("slow %1.mov").arg(i), {}));
        expected += slow;
        SlowWriters writers(slow, 12, 150);
        const QByteArray movie(4096, 'm');
        for (int i = 0; i < kDropped; ++i)
            expected.append(put(QStringLiteral("take %1.mov").arg(i, 3, 10, QChar(u'0')), movie));

        ASSERT_TRUE(waitUntil(
            [&] { return writers.done() && recording.launches.size() >= expected.size(); },
            20000 * kSlowBuildFactor))
            << recording.launches.size() << " of " << expected.size() << " encoded";
        // Long enough for every file to be judged stable again.
        spin(3000);

        QStringList encoded;
        for (const RecordingSessions::Launch& launch : std::as_const(recording.launches)) {
            encoded.append(launch.source);
            EXPECT_EQ(launch.sizeAtStart, QFileInfo(launch.source).size())
                << launch.source.toStdString() << " was taken while it was still growing";
        }
        encoded.sort();
        expected.sort();
        EXPECT_EQ(encoded, expected);
        EXPECT_EQ(m.jobs().size(), expected.size());
        EXPECT_EQ(m.doneCount(), expected.size());
        model.reset();
    }
}

TEST_F(WatchLoadTest, TenThousandFilesAreLeftAloneOrTakenEachOnce)
{
    constexpr int kFiles = 10'000;
    ASSERT_TRUE(QDir().mkpath(watchDir()));
    for (int i = 0; i < kFiles; ++i)
        put(QStringLiteral("f%1.mov").arg(i), "m");
    for (const bool processExisting : {false, true}) {
        SCOPED_TRACE(processExisting);
        QDir(supportDir()).removeRecursively();
        AppModel& m = makeModel();
        m.setProber(prober);
        m.updateSettings([&](AppSettings& s) {
            s.watchEnabled = true;
            s.watchFolder = watchDir();
            s.watchProcessExisting = processExisting;
        });
        m.refreshWatch();
        if (processExisting)
            ASSERT_TRUE(
                waitUntil([&] { return m.jobs().size() >= kFiles; }, 30000 * kSlowBuildFactor));
        // Every file's key stays remembered, so no later look takes a file again.
        m.scanWatch();
        EXPECT_EQ(m.jobs().size(), processExisting ? kFiles : 0);
        EXPECT_EQ(m.settings().seenWatchKeys.size(), kFiles);
    }
}

} // namespace
} // namespace corvel::testing
