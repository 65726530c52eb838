#include "FakeSession.h"

#include <QThread>

namespace corvel::testing {

FakeSession::~FakeSession()
{
    m_factory.live.removeAll(this);
}

void FakeSession::cancel()
{
    cancelRequested = true;
    if (stuck)
        return;
    stopped = true;
}

bool FakeSession::waitForStopped(int msecs)
{
    waitAllowances.append(msecs);
    if (stuck) {
        QThread::msleep(std::max(msecs, 0));
        return false;
    }
    return stopped;
}

void FakeSession::end(const EncodeResult& result)
{
    stopped = true;
    m_callbacks.onComplete(result);
}

std::unique_ptr<EncodeSession> FakeSessionFactory::create(const QUuid& jobID,
                                                          const QString& /*sourcePath*/,
                                                          const JobSettings& settings,
                                                          EncodeCallbacks callbacks)
{
    auto session = std::make_unique<FakeSession>(*this, jobID, settings, std::move(callbacks));
    live.append(session.get());
    launched.append(jobID);
    return session;
}

FakeSession* FakeSessionFactory::session(const QUuid& jobID) const
{
    for (qsizetype i = live.size() - 1; i >= 0; --i) {
        if (live.at(i)->jobID() == jobID)
            return live.at(i);
    }
    return nullptr;
}

} // namespace corvel::testing
