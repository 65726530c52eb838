#include "CorvelEncoder/MediaProber.h"

#include "CorvelEncoder/engine/InspectMedia.h"

#include <QMetaObject>
#include <QPointer>

namespace corvel {

EngineProber::EngineProber(int maxThreads)
{
    m_pool.setMaxThreadCount(maxThreads);
}

EngineProber::~EngineProber()
{
    m_pool.clear();
    m_pool.waitForDone();
}

void EngineProber::probe(const QString& path, QObject* context, Done done)
{
    QPointer<QObject> weakContext(context);
    m_pool.start([path, weakContext, done = std::move(done)] {
        auto inspected = inspectMedia(path);
        Result result = inspected ? Result(inspected->info)
                                  : Result(std::unexpect, inspected.error().description());
        // Queued to the context: if it is gone by then, Qt drops the call.
        if (QObject* target = weakContext.data())
            QMetaObject::invokeMethod(
                target, [done, result] { done(result); }, Qt::QueuedConnection);
    });
}

} // namespace corvel
