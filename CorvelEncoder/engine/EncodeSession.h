#pragma once

#include "CorvelEncoder/engine/EncodeFailure.h"
#include "CorvelEncoderCore/Records.h"

#include <QString>
#include <QStringList>
#include <QUuid>

#include <functional>
#include <memory>
#include <optional>

namespace corvel {

// What a session reports. Every callback is delivered on the thread that created the session
// (the main thread), never from a worker; after onComplete nothing else arrives.
struct EncodeCallbacks
{
    // fraction in 0...0.99, eta in seconds when it can be estimated; at most every 0.1 s.
    std::function<void(double fraction, std::optional<double> eta)> onProgress;
    std::function<void(const QString& text, bool isError)> onLog;
    // Each time a reader and writer have been opened (again after a fallback to software).
    std::function<void(const QString& outputPath, bool hardwareRequested)> onReady;
    // Just before each onReady: the tracks the output gets, one line each, in file order
    // ("video prores", "audio pcm_s24le 5.1(side) eng", "subtitle mov_text spa").
    std::function<void(const QStringList& tracks)> onTracks;
    // Exactly once. A failed or cancelled session has removed its partial file by then.
    std::function<void(const EncodeResult& result)> onComplete;
};

// One encode of one job. Owned by the application model from launch until its completion has
// been handled. All operations are called on the main thread and return at once.
class EncodeSession
{
public:
    virtual ~EncodeSession() = default;

    virtual QUuid jobID() const = 0;
    // Begins the work; called once.
    virtual void start() = 0;
    // Stops moving data at the next opportunity, keeping reader and writer open. Allowed at
    // any time, also before start().
    virtual void pause() = 0;
    virtual void resume() = 0;
    // Asks the session to end; reported later through onComplete.
    virtual void cancel() = 0;
    // Blocks until the work has stopped and any partial file is gone, at most `msecs`.
    // Returns whether it stopped in time. Used at quit, after cancel().
    virtual bool waitForStopped(int msecs) = 0;
};

// Creates sessions; the model is given one so tests can substitute a scriptable fake.
class EncodeSessionFactory
{
public:
    virtual ~EncodeSessionFactory() = default;

    // `settings` is copied: later edits of the job do not reach the session.
    virtual std::unique_ptr<EncodeSession> create(const QUuid& jobID, const QString& sourcePath,
                                                  const JobSettings& settings,
                                                  EncodeCallbacks callbacks) = 0;
};

// For a model that reads and plans but never encodes: a dry run, a benchmark of the queue.
class NoEncodeSessions final : public EncodeSessionFactory
{
public:
    std::unique_ptr<EncodeSession> create(const QUuid&, const QString&, const JobSettings&,
                                          EncodeCallbacks) override
    {
        return nullptr;
    }
};

} // namespace corvel
