#include "CorvelEncoder/model/ActivityLog.h"

#include <QLocale>

namespace corvel {

QString logStamp(const QDateTime& date)
{
    // A fixed locale keeps the stamp the same whatever the user's regional format.
    return QLocale::c().toString(date.toLocalTime().time(), QStringLiteral("HH:mm:ss"));
}

qsizetype ActivityLog::append(const QString& text, bool isError, const QDateTime& date)
{
    m_lines.append(LogLine{QUuid::createUuid(), date, text, isError});
    const qsizetype excess = m_lines.size() - kCapacity;
    if (excess <= 0)
        return 0;
    m_lines.remove(0, excess);
    return excess;
}

} // namespace corvel
