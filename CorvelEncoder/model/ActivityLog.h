#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QUuid>

namespace corvel {

// One line of the in-memory activity log.
struct LogLine
{
    QUuid id; // random; the line's identity in lists
    QDateTime date;
    QString text;
    bool isError = false;

    friend bool operator==(const LogLine&, const LogLine&) = default;
};

// The time printed in front of a log line: "HH:mm:ss" in local time, 24-hour clock.
QString logStamp(const QDateTime& date);

// The newest lines, oldest first, at most kCapacity of them. Main thread only.
class ActivityLog
{
public:
    static constexpr qsizetype kCapacity = 300;

    // Appends a line with a new id; returns how many of the oldest lines were dropped for it.
    qsizetype append(const QString& text, bool isError, const QDateTime& date);

    const QList<LogLine>& lines() const { return m_lines; }

private:
    QList<LogLine> m_lines;
};

} // namespace corvel
