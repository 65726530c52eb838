#include "CorvelEncoder/ui/DesktopNotifications.h"

#include "CorvelEncoderCore/CorvelIdentity.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace corvel {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kActionKey = QStringLiteral("default");

} // namespace

DesktopNotifications::DesktopNotifications(QObject* parent) : QObject(parent)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                SLOT(onActionInvoked(uint, QString)));
    bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                SLOT(onClosed(uint, uint)));
}

DesktopNotifications::~DesktopNotifications() = default;

void DesktopNotifications::send(const QString& text, const QString& actionTitle,
                                std::function<void()> action)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QString(CorvelIdentity::bundleID));
    call << QString(CorvelIdentity::appName) << uint(0) << QString(CorvelIdentity::bundleID) << text
         << QString() << QStringList{kActionKey, actionTitle} << hints << int(-1);
    // Asynchronous: a missing or slow service must not hold up the window.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, action = std::move(action)] {
                const QDBusPendingReply<uint> reply = *watcher;
                if (reply.isValid())
                    m_actions.insert(reply.value(), action);
                watcher->deleteLater();
            });
}

void DesktopNotifications::onActionInvoked(uint id, const QString& key)
{
    if (key != kActionKey)
        return;
    if (const auto action = m_actions.take(id))
        action();
}

void DesktopNotifications::onClosed(uint id, uint)
{
    m_actions.remove(id);
}

} // namespace corvel
