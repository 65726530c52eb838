#pragma once

#include "CorvelEncoder/model/ActivityLog.h"

#include <QObject>
#include <QString>

#include <optional>

namespace corvel {

// What the application tells the user: the activity log, whether its panel is open, and the
// banner across the top of the window. Main thread only.
class ActivityFeed final : public QObject
{
    Q_OBJECT

public:
    explicit ActivityFeed(QObject* parent = nullptr) : QObject(parent) {}
    Q_DISABLE_COPY_MOVE(ActivityFeed)

    void log(const QString& text, bool isError = false);
    const QList<LogLine>& logLines() const { return m_log.lines(); }
    bool logOpen() const { return m_logOpen; }
    void setLogOpen(bool open);
    const std::optional<QString>& banner() const { return m_banner; }
    void setBanner(const std::optional<QString>& banner);
    // A failure the user must see: the banner, and an error line in the log.
    void reportError(const QString& text);

signals:
    void logLineAppended();
    // The oldest lines were dropped to keep the log within its cap.
    void logLinesRemoved(int first, int last);
    void logOpenChanged(bool open);
    void bannerChanged();

private:
    ActivityLog m_log;
    bool m_logOpen = false;
    std::optional<QString> m_banner;
};

} // namespace corvel
