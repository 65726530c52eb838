#pragma once

#include "FakeClock.h"
#include "FakeSession.h"
#include "RecordingDesktop.h"
#include "tests/TestSupport.h"

#include "CorvelEncoder/model/AppModel.h"
#include "CorvelEncoder/platform/AppFiles.h"
#include "CorvelEncoderCore/StateFiles.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <memory>

#include <sys/resource.h>

namespace corvel::testing {

// A disk that takes only `bytes` more of any one file, for this process, while it lives: past
// it write() fails with EFBIG as a full disk fails with ENOSPC. Check `active` and skip when
// the limit could not be set.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        const bool lowers = ::getrlimit(RLIMIT_FSIZE, &m_old) == 0 && bytes < m_old.rlim_max;
        const rlimit limit{bytes, m_old.rlim_max};
        active = lowers && ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit()
    {
        if (active)
            ::setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    bool active = false;

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = SIG_DFL;
};

// A folder store that also records when, by `clock`, each file was written.
class CountingStore final : public StateStore
{
public:
    CountingStore(const QString& directory, const FakeClock& clock) : files(directory), clock(clock)
    {}

    std::optional<QByteArray> read(const QString& name) override { return files.read(name); }
    std::expected<void, QString> write(const QString& name, const QByteArray& data) override
    {
        writes.append({name, clock.elapsed()});
        return files.write(name, data);
    }
    bool keepCopy(const QString& name, const QString& copyName) override
    {
        return files.keepCopy(name, copyName);
    }

    int writeCount(const QString& name) const
    {
        return int(std::ranges::count(writes, name, &std::pair<QString, qint64>::first));
    }

    AppFilesStore files;
    const FakeClock& clock;
    QList<std::pair<QString, qint64>> writes;
};

// A temporary support folder, fakes, and a model, made again on demand.
class ModelFixture : public ::testing::Test
{
protected:
    void SetUp() override { makeModel(); }

    QString supportDir() const { return temp.filePath(u"support/Corvel Encoder"_s); }
    QString path(const QString& name) const { return temp.filePath(name); }

    // A model on the fakes; sources are read by `prober`, or else by the engine.
    AppModel& makeModel(MediaProber* prober = nullptr)
    {
        model.reset();
        store = std::make_unique<CountingStore>(supportDir(), clock);
        model = std::make_unique<AppModel>(*store, temp.filePath(u"Videos/Corvel Encoder"_s),
                                           sessions, desktop, clock, prober);
        return *model;
    }

    // A job for a source in the temporary folder, queued unless `status` says otherwise.
    EncodingJob queuedJob(const QString& name, JobStatus status = JobStatus::queued) const
    {
        EncodingJob job;
        job.id = QUuid::createUuid();
        job.sourcePath = temp.filePath(name);
        job.settings.presetID = u"prores-422-hq"_s;
        job.settings.presetName = u"ProRes 422 HQ"_s;
        job.settings.outputDirectory = temp.filePath(u"out"_s);
        job.status = status;
        job.addedAt = QDateTime::currentDateTimeUtc();
        return job;
    }

    QList<EncodingJob> addQueued(int count, bool reveal = false)
    {
        QList<EncodingJob> jobs;
        for (int i = 0; i < count; ++i) {
            jobs.append(queuedJob(u"clip%1.mov"_s.arg(i)));
            jobs.last().settings.revealWhenDone = reveal;
        }
        model->store().addJobs(jobs);
        return jobs;
    }

    JobStatus status(const QUuid& id) const { return model->store().job(id).value().status; }
    EncodingJob current(const EncodingJob& job) const { return model->store().job(job.id).value(); }
    void select(const QList<EncodingJob>& jobs)
    {
        QSet<QUuid> ids;
        for (const EncodingJob& job : jobs)
            ids.insert(job.id);
        model->store().setSelection(ids);
    }
    // The job's live session ends with an output of that name in the temporary folder.
    void finish(const EncodingJob& job, const QString& output)
    {
        sessions.session(job.id)->succeed(path(output));
        deliver();
    }

    const AppSettings& settings() const { return model->persistence().settings(); }
    AppSettings storedSettings() const
    {
        return decodeSettings(store->files.read(kSettingsFileName).value_or(QByteArray())).value();
    }

    QStringList logTexts(bool errorsOnly = false) const
    {
        QStringList texts;
        for (const LogLine& line : model->feed().logLines())
            if (!errorsOnly || line.isError)
                texts.append(line.text);
        return texts;
    }

    QTemporaryDir temp;
    FakeClock clock;
    FakeSessionFactory sessions;
    RecordingDesktop desktop;
    std::unique_ptr<CountingStore> store;
    std::unique_ptr<AppModel> model;
};

} // namespace corvel::testing
