// The model with a large queue: adding 10,000 jobs, the one debounced save that follows, and
// a restore from the written file. Prints wall times and ratios against plain JSON coding of
// the same jobs, measured in the same run.
#include "CorvelEncoder/model/AppModel.h"
#include "CorvelEncoder/platform/AppFiles.h"
#include "CorvelEncoder/platform/HeadlessDesktop.h"
#include "CorvelEncoderCore/JsonCoding.h"
#include "CorvelEncoderCore/StateFiles.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>

using namespace corvel;

namespace {

// Times each write; the model's save is the encoding plus this write.
class TimedStore final : public StateStore
{
public:
    explicit TimedStore(const QString& dir) : files(dir) {}
    std::optional<QByteArray> read(const QString& name) override { return files.read(name); }
    std::expected<void, QString> write(const QString& name, const QByteArray& data) override
    {
        if (name == kQueueFileName) {
            ++writes;
            bytes = data.size();
        }
        return files.write(name, data);
    }
    bool keepCopy(const QString& name, const QString& copy) override
    {
        return files.keepCopy(name, copy);
    }
    AppFilesStore files;
    int writes = 0;
    qsizetype bytes = 0;
};

QList<EncodingJob> makeJobs(int count)
{
    QList<EncodingJob> jobs;
    jobs.reserve(count);
    for (int i = 0; i < count; ++i) {
        EncodingJob job;
        job.id = QUuid::createUuid();
        job.sourcePath = QStringLiteral("/home/user/Footage/Day %1/A%2_C%3.mov")
                             .arg(i / 100)
                             .arg(i % 100)
                             .arg(i);
        job.sourceInfo =
            SourceInfo{1920, 1080, 23.976, 12.5 + i % 60, true, false, QStringLiteral("H.264")};
        job.settings.presetID = QStringLiteral("prores-422-hq");
        job.settings.presetName = QStringLiteral("ProRes 422 HQ");
        job.settings.outputDirectory = QStringLiteral("/home/user/Videos/Corvel Encoder");
        job.settings.revealWhenDone = true;
        job.addedAt = QDateTime::currentDateTimeUtc();
        jobs.append(job);
    }
    return jobs;
}

double ms(const QElapsedTimer& t)
{
    return double(t.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int count = 10000;
    QTemporaryDir temp;
    const QString dir = temp.filePath(QStringLiteral("Corvel Encoder"));
    HeadlessDesktop desktop;
    NoEncodeSessions sessions;
    const QList<EncodingJob> jobs = makeJobs(count);

    // Reference: the queue file's coding of the same jobs, without the model around it.
    QElapsedTimer t;
    t.start();
    const QByteArray reference = encodeQueueFile(jobs);
    const double refEncode = ms(t);
    t.restart();
    const auto refDecoded = decodeQueueFile(reference);
    const double refDecode = ms(t);
    if (!refDecoded || refDecoded->jobs.size() != count)
        return 1;

    TimedStore store(dir);
    double addBatch = 0, addOneByOne = 0, save = 0;
    int savesAfterBurst = 0;
    {
        AppModel model(store, temp.filePath(QStringLiteral("out")), sessions, desktop);
        t.restart();
        model.store().addJobs(jobs);
        addBatch = ms(t);

        AppModel single(store, temp.filePath(QStringLiteral("out")), sessions, desktop);
        t.restart();
        for (const EncodingJob& job : jobs)
            single.store().addJobs({job});
        addOneByOne = ms(t);
        single.prepareForQuit(); // writes the queue once more; measured below instead
        store.writes = 0;

        // The debounced save: exactly one write after the quiet period.
        t.restart();
        QDeadlineTimer deadline(5000);
        while (store.writes == 0 && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        const QDeadlineTimer settle(600);
        while (!settle.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        savesAfterBurst = store.writes;
        t.restart();
        model.persistence().writeQueue();
        save = ms(t);
    }

    store.writes = 0;
    t.restart();
    AppModel restored(store, temp.filePath(QStringLiteral("out")), sessions, desktop);
    const double restore = ms(t);
    if (restored.store().jobs().size() != count)
        return 1;

    std::printf("model with %d jobs (queue.json %.1f MB)\n", count, double(store.bytes) / 1e6);
    std::printf("  reference: encodeQueueFile %.1f ms, decodeQueueFile %.1f ms\n", refEncode,
                refDecode);
    std::printf("  addJobs, one call          %8.1f ms\n", addBatch);
    std::printf("  addJobs, one job per call  %8.1f ms\n", addOneByOne);
    std::printf("  debounced queue writes     %8d\n", savesAfterBurst);
    std::printf("  writeQueue                 %8.1f ms  (%.2f x reference encode)\n", save,
                save / refEncode);
    std::printf("  restore (new model)        %8.1f ms  (%.2f x reference decode)\n", restore,
                restore / refDecode);
    std::printf("  queue writes during restore %7d\n", store.writes);
    return 0;
}
