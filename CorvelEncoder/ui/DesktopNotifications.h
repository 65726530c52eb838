#pragma once

#include <QHash>
#include <QObject>

#include <functional>

namespace corvel {

// Desktop notifications through org.freedesktop.Notifications on the session bus, each with
// one action. Without a bus or a notification service nothing is shown. Main thread.
class DesktopNotifications final : public QObject
{
    Q_OBJECT

public:
    explicit DesktopNotifications(QObject* parent = nullptr);
    ~DesktopNotifications() override;
    Q_DISABLE_COPY_MOVE(DesktopNotifications)

    // Shows `text` with an action titled `actionTitle` that runs `action`.
    void send(const QString& text, const QString& actionTitle, std::function<void()> action);

private slots:
    void onActionInvoked(uint id, const QString& key);
    void onClosed(uint id, uint reason);

private:
    QHash<uint, std::function<void()>> m_actions;
};

} // namespace corvel
