#include "CorvelEncoder/model/ActivityFeed.h"

#include <QDateTime>

namespace corvel {

void ActivityFeed::log(const QString& text, bool isError)
{
    const qsizetype dropped = m_log.append(text, isError, QDateTime::currentDateTime());
    if (dropped > 0)
        emit logLinesRemoved(0, int(dropped) - 1);
    emit logLineAppended();
}

void ActivityFeed::setLogOpen(bool open)
{
    if (open == m_logOpen)
        return;
    m_logOpen = open;
    emit logOpenChanged(open);
}

void ActivityFeed::setBanner(const std::optional<QString>& banner)
{
    if (banner == m_banner)
        return;
    m_banner = banner;
    emit bannerChanged();
}

void ActivityFeed::reportError(const QString& text)
{
    setBanner(text);
    log(text, true);
}

} // namespace corvel
