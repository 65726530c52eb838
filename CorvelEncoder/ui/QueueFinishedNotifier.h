#pragma once

#include <QHash>
#include <QObject>
#include <QStringList>
#include <QUuid>

#include <functional>

namespace corvel {

class AppModel;
class DesktopServices;
enum class JobStatus;

// Tells the user, once, that the queue has finished while they were in another window:
// "3 movies encoded, 1 failed", with an action that shows the outputs. It counts the encodes
// that end between two idle moments, and speaks only when the application is not active.
// Main thread; the model and the desktop must outlive it.
class QueueFinishedNotifier final : public QObject
{
    Q_OBJECT

public:
    // Shows a notice; `show` runs when the user picks its action.
    using Send = std::function<void(const QString& text, std::function<void()> show)>;

    QueueFinishedNotifier(AppModel& model, DesktopServices& desktop, Send send,
                          QObject* parent = nullptr);

    // "1 movie encoded", "3 movies encoded, 1 failed".
    static QString summary(int encoded, int failed);

private:
    void noteJob(int row);
    void checkFinished();

    AppModel& m_model;
    DesktopServices& m_desktop;
    Send m_send;
    QHash<QUuid, JobStatus> m_seen;
    int m_encoded = 0;
    int m_failed = 0;
    QStringList m_outputs;
    bool m_checkQueued = false;
};

} // namespace corvel
