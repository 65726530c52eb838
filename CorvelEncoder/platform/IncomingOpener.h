#pragma once

#include <QList>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <functional>

namespace corvel {

// Hands over files and links that arrive from outside (a second launch, the command line)
// to the model. URLs that arrive before the model exists wait in a pending list; the model
// takes that list and installs its handler under one lock, so no URL is lost or delivered twice.
// Safe to call from any thread.
class IncomingOpener final
{
public:
    using Handler = std::function<void(const QList<QUrl>& urls)>;

    IncomingOpener() = default;
    Q_DISABLE_COPY_MOVE(IncomingOpener)

    // The process-wide instance.
    static IncomingOpener& shared();

    // Queues the URLs while no handler is installed; otherwise posts them to the handler on
    // its context's thread.
    void receive(const QList<QUrl>& urls);
    // Installs the handler, run on `context`'s thread while `context` lives, and returns the
    // URLs that were pending (leaving none).
    QList<QUrl> install(QObject* context, Handler handler);

private:
    QMutex m_lock;
    QList<QUrl> m_pending;
    QPointer<QObject> m_context;
    Handler m_handler;
};

} // namespace corvel
