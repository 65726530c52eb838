#pragma once

#include <QObject>

#include <initializer_list>

class QSocketNotifier;

namespace corvel {

// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal on the main thread, through a self-pipe:
// the handler only writes one byte, everything else runs in the event loop. One instance per
// process, shared by the desktop application and the command line; create it on the main thread
// after the application object.
class QuitSignals final : public QObject
{
    Q_OBJECT

public:
    explicit QuitSignals(QObject* parent = nullptr);
    ~QuitSignals() override;
    Q_DISABLE_COPY_MOVE(QuitSignals)

    // Whether the handlers are installed.
    bool isActive() const { return m_notifier != nullptr; }

    // From now on a signal arriving after an earlier one ends the process at once with the
    // status a shell gives for it (128 + number): the user asked twice, and the event loop may
    // be busy winding down.
    void endOnRepeat();

    // The signal that arrived while no event loop ran (a long start-up), or 0; it is still
    // delivered as quitRequested once the loop runs.
    int pendingSignal() const;
    // Whether a quit signal has arrived; long loops outside the event loop stop on it, since
    // the process is about to end.
    static bool arrived();

signals:
    // Once per delivered signal.
    void quitRequested(int signalNumber);

private:
    void readPipe();

    QSocketNotifier* m_notifier = nullptr;
};

} // namespace corvel
