#pragma once

#include "CorvelEncoder/engine/EncodeSession.h"

#include <QList>
#include <QString>
#include <QUuid>

#include <memory>

namespace corvel::testing {

class FakeSessionFactory;

// A session driven by the test: it reports only what the test tells it to, synchronously,
// on the calling (main) thread.
class FakeSession final : public EncodeSession
{
public:
    FakeSession(FakeSessionFactory& factory, QUuid jobID, JobSettings settings,
                EncodeCallbacks callbacks)
        : settings(std::move(settings)), m_factory(factory), m_jobID(jobID),
          m_callbacks(std::move(callbacks))
    {}
    ~FakeSession() override;

    QUuid jobID() const override { return m_jobID; }
    void start() override { ++startCount; }
    void pause() override { paused = true; }
    void resume() override { paused = false; }
    void cancel() override;
    bool waitForStopped(int msecs) override;

    // What the test makes the session report.
    void progress(double fraction, std::optional<double> eta = std::nullopt)
    {
        m_callbacks.onProgress(fraction, eta);
    }
    void ready(const QString& outputPath, bool hardware)
    {
        m_callbacks.onReady(outputPath, hardware);
    }
    void log(const QString& text, bool isError = false) { m_callbacks.onLog(text, isError); }
    void succeed(const QString& outputPath) { end(EncodeResult(outputPath)); }
    void fail(const QString& message) { end(std::unexpected(EncodeFailure::message(message))); }
    void endCancelled() { end(std::unexpected(EncodeFailure::cancelled())); }

    const JobSettings settings;
    int startCount = 0;
    bool paused = false;
    bool cancelRequested = false;
    bool stopped = false;
    // A worker that does not stop: waitForStopped uses up its whole allowance and fails.
    bool stuck = false;
    QList<int> waitAllowances;

private:
    void end(const EncodeResult& result);

    FakeSessionFactory& m_factory;
    QUuid m_jobID;
    EncodeCallbacks m_callbacks;
};

// Records every session it creates; sessions deregister themselves when the model lets go.
class FakeSessionFactory final : public EncodeSessionFactory
{
public:
    std::unique_ptr<EncodeSession> create(const QUuid& jobID, const QString& sourcePath,
                                          const JobSettings& settings,
                                          EncodeCallbacks callbacks) override;

    // The live sessions in creation order.
    QList<FakeSession*> live;
    // Job ids in launch order, including sessions since destroyed.
    QList<QUuid> launched;

    // The newest live session for the job, or null.
    FakeSession* session(const QUuid& jobID) const;
};

} // namespace corvel::testing
