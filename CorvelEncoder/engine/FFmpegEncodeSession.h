#pragma once

#include "CorvelEncoder/engine/EncodeSession.h"
#include "CorvelEncoder/engine/EncoderChoice.h"

#include <QObject>

#include <memory>
#include <thread>

namespace corvel {

// One encode on its own worker thread, which owns every FFmpeg object of the encode.
// Created, driven and destroyed on the main thread; callbacks arrive there through the event
// loop. Destroying a session that still runs cancels it and waits a few seconds for its worker;
// a worker that does not stop by then is abandoned to finish on its own.
class FFmpegEncodeSession final : public EncodeSession
{
public:
    FFmpegEncodeSession(const QUuid& jobID, const QString& sourcePath, const JobSettings& settings,
                        EncodeCallbacks callbacks, std::shared_ptr<EncoderChoice> encoders);
    ~FFmpegEncodeSession() override;
    FFmpegEncodeSession(const FFmpegEncodeSession&) = delete;
    FFmpegEncodeSession& operator=(const FFmpegEncodeSession&) = delete;

    QUuid jobID() const override { return m_jobID; }
    void start() override;
    void pause() override;
    void resume() override;
    void cancel() override;
    bool waitForStopped(int msecs) override;

    class Worker;

private:
    QUuid m_jobID;
    EncodeCallbacks m_callbacks;
    QObject* m_context; // lives on the main thread; queued callbacks are delivered through it
    std::shared_ptr<FFmpegEncodeSession*> m_alive; // nulled on destruction
    bool m_completed = false;                      // main thread only
    std::shared_ptr<Worker> m_worker;
    std::thread m_thread;
};

// Makes FFmpegEncodeSession objects sharing one encoder choice.
class FFmpegEncodeSessionFactory final : public EncodeSessionFactory
{
public:
    explicit FFmpegEncodeSessionFactory(
        std::shared_ptr<EncoderChoice> encoders = std::make_shared<FFmpegEncoderChoice>());

    std::unique_ptr<EncodeSession> create(const QUuid& jobID, const QString& sourcePath,
                                          const JobSettings& settings,
                                          EncodeCallbacks callbacks) override;

private:
    std::shared_ptr<EncoderChoice> m_encoders;
};

} // namespace corvel
