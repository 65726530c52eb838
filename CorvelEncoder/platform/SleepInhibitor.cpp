#include "CorvelEncoder/platform/SleepInhibitor.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>

#include <unistd.h>

namespace corvel {

namespace {

constexpr int kBusTimeoutMs = 2000;

} // namespace

SleepInhibitor::~SleepInhibitor()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void SleepInhibitor::hold(const QString& who, const QString& why)
{
    if (m_depth++ > 0 || m_fd >= 0)
        return;
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep:idle") << who << why << QStringLiteral("block");
    const QDBusReply<QDBusUnixFileDescriptor> reply = bus.call(call, QDBus::Block, kBusTimeoutMs);
    if (reply.isValid() && reply.value().isValid())
        m_fd = ::dup(reply.value().fileDescriptor());
}

void SleepInhibitor::release()
{
    if (m_depth == 0 || --m_depth > 0)
        return;
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

} // namespace corvel
