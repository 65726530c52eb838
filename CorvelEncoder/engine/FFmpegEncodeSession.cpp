#include "CorvelEncoder/engine/FFmpegEncodeSession.h"

#include "CorvelEncoder/engine/EncodeWorker.h"

namespace corvel {

namespace {

// How long destroying a session waits for its cancelled worker.
constexpr int kStopWaitMs = 5000;

} // namespace

FFmpegEncodeSession::FFmpegEncodeSession(const QUuid& jobID, const QString& sourcePath,
                                         const JobSettings& settings, EncodeCallbacks callbacks,
                                         std::shared_ptr<EncoderChoice> encoders)
    : m_jobID(jobID), m_callbacks(std::move(callbacks)), m_context(new QObject),
      m_alive(std::make_shared<FFmpegEncodeSession*>(this)),
      m_worker(
          std::make_shared<Worker>(sourcePath, settings, std::move(encoders), m_context, m_alive))
{}

FFmpegEncodeSession::~FFmpegEncodeSession()
{
    *m_alive = nullptr;
    m_worker->forgetContext();
    if (m_thread.joinable()) {
        m_worker->cancel();
        // A worker stuck where cancelling cannot reach it (a read from a hung network mount)
        // would hold up quitting for good. It is left to end on its own: it owns all it uses,
        // removes its partial file itself, and reports to no one.
        if (m_worker->waitForStopped(kStopWaitMs))
            m_thread.join();
        else
            m_thread.detach();
    }
    // May run inside a callback delivered through the context, so the context goes later.
    m_context->deleteLater();
}

void FFmpegEncodeSession::start()
{
    if (m_thread.joinable() || m_completed)
        return;
    m_thread = std::thread([worker = m_worker] { worker->run(); });
}

void FFmpegEncodeSession::pause()
{
    if (!m_completed)
        m_worker->setPaused(true);
}

void FFmpegEncodeSession::resume()
{
    if (!m_completed)
        m_worker->setPaused(false);
}

void FFmpegEncodeSession::cancel()
{
    if (!m_completed)
        m_worker->cancel();
}

bool FFmpegEncodeSession::waitForStopped(int msecs)
{
    if (!m_thread.joinable())
        return true;
    if (!m_worker->waitForStopped(msecs))
        return false;
    m_thread.join();
    return true;
}

FFmpegEncodeSessionFactory::FFmpegEncodeSessionFactory(std::shared_ptr<EncoderChoice> encoders)
    : m_encoders(std::move(encoders))
{}

std::unique_ptr<EncodeSession> FFmpegEncodeSessionFactory::create(const QUuid& jobID,
                                                                  const QString& sourcePath,
                                                                  const JobSettings& settings,
                                                                  EncodeCallbacks callbacks)
{
    return std::make_unique<FFmpegEncodeSession>(jobID, sourcePath, settings, std::move(callbacks),
                                                 m_encoders);
}

} // namespace corvel
