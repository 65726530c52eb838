#include "CorvelEncoder/platform/IncomingOpener.h"

#include <QMetaObject>
#include <QMutexLocker>

namespace corvel {

IncomingOpener& IncomingOpener::shared()
{
    static IncomingOpener opener;
    return opener;
}

void IncomingOpener::receive(const QList<QUrl>& urls)
{
    if (urls.isEmpty())
        return;
    QPointer<QObject> context;
    Handler handler;
    {
        QMutexLocker locker(&m_lock);
        if (!m_handler || !m_context) {
            m_pending += urls;
            return;
        }
        context = m_context;
        handler = m_handler;
    }
    // The handler runs later on the context's thread, never inside the caller.
    QMetaObject::invokeMethod(
        context.data(), [handler, urls] { handler(urls); }, Qt::QueuedConnection);
}

QList<QUrl> IncomingOpener::install(QObject* context, Handler handler)
{
    QMutexLocker locker(&m_lock);
    m_context = context;
    m_handler = std::move(handler);
    return std::exchange(m_pending, {});
}

} // namespace corvel
