#include "CorvelEncoder/model/MediaProber.h"

#include "CorvelEncoder/engine/InspectMedia.h"

extern "C" {
#include <libavformat/avio.h>
}

#include <QMetaObject>
#include <QPointer>

namespace corvel {

namespace {

// How long destruction waits for running probes once they were told to stop.
constexpr int kStopWaitMs = 3000;

int stopRequested(void* opaque)
{
    return static_cast<std::atomic<bool>*>(opaque)->load() ? 1 : 0;
}

} // namespace

EngineProber::EngineProber(int maxThreads)
    : m_pool(std::make_unique<QThreadPool>()), m_stopping(std::make_shared<std::atomic<bool>>())
{
    m_pool->setMaxThreadCount(maxThreads);
}

EngineProber::~EngineProber()
{
    m_stopping->store(true);
    m_pool->clear();
    // A probe stuck where stopping cannot reach it must not hold up quitting: the pool is then
    // left to its threads, which end on their own and report to no one.
    if (!m_pool->waitForDone(kStopWaitMs))
        (void)m_pool.release();
}

void EngineProber::probe(const QString& path, QObject* context, Done done)
{
    QPointer<QObject> weakContext(context);
    m_pool->start([path, weakContext, done = std::move(done), stopping = m_stopping] {
        const AVIOInterruptCB interrupt{&stopRequested, stopping.get()};
        auto inspected = inspectMedia(path, &interrupt);
        if (stopping->load())
            return;
        Result result = inspected ? Result(inspected->info)
                                  : Result(std::unexpect, inspected.error().description());
        // Queued to the context: if it is gone by then, Qt drops the call.
        if (QObject* target = weakContext.data())
            QMetaObject::invokeMethod(
                target, [done, result] { done(result); }, Qt::QueuedConnection);
    });
}

} // namespace corvel
