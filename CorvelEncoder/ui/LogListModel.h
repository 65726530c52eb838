#pragma once

#include "CorvelEncoder/model/ActivityLog.h"

#include <QAbstractListModel>
#include <QList>

namespace corvel {

class ActivityFeed;

// The activity log as a list model: "HH:mm:ss  text" per line, errors in the error colour.
// Follows appended and dropped lines. Main thread; `feed` must outlive it.
class LogListModel final : public QAbstractListModel
{
    Q_OBJECT

public:
    explicit LogListModel(ActivityFeed& feed, QObject* parent = nullptr);
    Q_DISABLE_COPY_MOVE(LogListModel)

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    void takeNewLines();

    ActivityFeed& m_feed;
    // The lines as views last saw them: the model has already changed when it signals, so
    // rows are removed from this copy and new ones appended from the model.
    QList<LogLine> m_lines;
};

} // namespace corvel
