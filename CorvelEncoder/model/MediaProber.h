#pragma once

#include "CorvelEncoderCore/Records.h"

#include <QObject>
#include <QString>
#include <QThreadPool>

#include <atomic>
#include <expected>
#include <functional>
#include <memory>

namespace corvel {

// Reads what a new job's source holds, off the main thread.
class MediaProber
{
public:
    using Result = std::expected<SourceInfo, QString>; // the error is the user's message
    using Done = std::function<void(const Result& result)>;

    virtual ~MediaProber() = default;
    // Inspects `path` and calls `done` on `context`'s thread, unless `context` is gone by then.
    virtual void probe(const QString& path, QObject* context, Done done) = 0;
};

// Probes with the engine's inspection on a small thread pool, so a drop of thousands of files
// never starts thousands of threads.
class EngineProber final : public MediaProber
{
public:
    explicit EngineProber(int maxThreads = 2);
    // Stops probes already running and waits a few seconds for them; queued ones are dropped.
    ~EngineProber() override;
    Q_DISABLE_COPY_MOVE(EngineProber)

    void probe(const QString& path, QObject* context, Done done) override;

private:
    std::unique_ptr<QThreadPool> m_pool;
    std::shared_ptr<std::atomic<bool>> m_stopping;
};

} // namespace corvel
