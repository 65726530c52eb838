#pragma once

#include <QAbstractListModel>

namespace corvel {

class AppModel;

// The activity log as a list model: "HH:mm:ss  text" per line, errors in the error colour.
// Follows appended and dropped lines. Main thread; `model` must outlive it.
class LogListModel final : public QAbstractListModel
{
    Q_OBJECT

public:
    explicit LogListModel(AppModel& model, QObject* parent = nullptr);
    Q_DISABLE_COPY_MOVE(LogListModel)

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    AppModel& m_model;
    int m_rows = 0;
};

} // namespace corvel
