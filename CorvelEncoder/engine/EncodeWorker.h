#pragma once

#include "CorvelEncoder/engine/EncodeGraph.h"
#include "CorvelEncoder/engine/EncodeSteps.h"
#include "CorvelEncoder/engine/FFmpegEncodeSession.h"

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace corvel {

// The worker thread of one session: opens the source, and demuxes, decodes, filters, encodes
// and muxes until the end, a failure or a cancel, retrying once in software when a hardware
// encoder fails before its first frame. It reports to its session through the main thread's
// event loop, never once the session is gone.
class FFmpegEncodeSession::Worker
{
public:
    Worker(QString sourcePath, JobSettings settings, std::shared_ptr<EncoderChoice> encoders,
           QObject* context, std::shared_ptr<FFmpegEncodeSession*> alive)
        : m_sourcePath(std::move(sourcePath)), m_settings(std::move(settings)),
          m_encoders(std::move(encoders)), m_context(context), m_alive(std::move(alive))
    {
        m_interrupt.callback = &Worker::interrupted;
        m_interrupt.opaque = this;
    }

    void run();

    void setPaused(bool paused)
    {
        {
            std::lock_guard lock(m_mutex);
            m_paused = paused;
        }
        m_cv.notify_all();
    }
    void cancel()
    {
        {
            std::lock_guard lock(m_mutex);
            m_cancelled = true;
        }
        m_cv.notify_all();
    }
    bool waitForStopped(int msecs)
    {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::milliseconds(std::max(msecs, 0)),
                             [this] { return m_stopped; });
    }

    // After this, nothing the worker reports reaches the main thread: its session is gone.
    void forgetContext()
    {
        std::lock_guard lock(m_contextMutex);
        m_context = nullptr;
    }

private:
    static int interrupted(void* opaque)
    {
        return static_cast<Worker*>(opaque)->m_cancelled.load() ? 1 : 0;
    }
    bool cancelled() const { return m_cancelled.load(); }

    void post(std::function<void(FFmpegEncodeSession&)> fn)
    {
        std::lock_guard lock(m_contextMutex);
        if (!m_context)
            return;
        QMetaObject::invokeMethod(
            m_context,
            [alive = m_alive, fn = std::move(fn)] {
                if (FFmpegEncodeSession* session = *alive; session && !session->m_completed)
                    fn(*session);
            },
            Qt::QueuedConnection);
    }
    void log(const QString& text, bool isError)
    {
        post([text, isError](FFmpegEncodeSession& s) {
            if (s.m_callbacks.onLog)
                s.m_callbacks.onLog(text, isError);
        });
    }

    // More decoder or demuxer errors than this in a row end the retries for that packet.
    static constexpr int kErrorsInARow = 64;

    Step runGraphs();
    Step openGraph(const InspectedMedia& media, Graph& g);
    Step makeWriter(Graph& g);
    Step pump(Graph& g);
    Step finish(Graph& g);
    void cleanupPartial(Graph& g);

    // Decodes one packet, or drains the decoder and everything after it for a null packet.
    Step decode(Graph& g, Lane& lane, const AVPacket* packet);
    // Feeds `frame` (null at the end) through the lane's filter and encodes all it gives back.
    Step filter(Graph& g, Lane& lane, AVFrame* frame);
    Step drainFilter(Graph& g, Lane& lane);
    Step pullFiltered(Graph& g, Lane& lane);
    bool buildFilter(Graph& g, Lane& lane, const AVFrame* frame);
    Step encode(Graph& g, Lane& lane, AVFrame* frame);
    // An audio track that fails to read or convert is left out from there on, with a line in
    // the log; the encode goes on. Any other failure is returned as it is.
    Step spare(Lane& lane, Step step);
    Step writePacket(Graph& g, AVPacket* packet, AVStream* stream, AVRational encoderBase);
    void reportProgress(Graph& g, double fraction);

    const QString m_sourcePath;
    const JobSettings m_settings;
    const std::shared_ptr<EncoderChoice> m_encoders;
    std::mutex m_contextMutex;
    QObject* m_context; // guarded by m_contextMutex; null once the session is destroyed
    const std::shared_ptr<FFmpegEncodeSession*> m_alive;
    AVIOInterruptCB m_interrupt{};

    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_paused = false;  // guarded by m_mutex
    bool m_stopped = false; // guarded by m_mutex
    std::atomic<bool> m_cancelled = false;

    // Worker thread only.
    bool m_allowHardware = true;
    bool m_retried = false;
};

} // namespace corvel
