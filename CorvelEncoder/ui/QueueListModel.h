#pragma once

#include <QAbstractListModel>
#include <QUuid>

namespace corvel {

class AppModel;

// The queue as a list model for the view: one row per job, in the model's order, showing the
// source name (the row delegate paints the rest from the job itself). Follows the job store's
// fine-grained signals, so a progress report changes exactly one row.
// Lives on the main thread; `model` must outlive it.
class QueueListModel final : public QAbstractListModel
{
    Q_OBJECT

public:
    explicit QueueListModel(AppModel& model, QObject* parent = nullptr);
    Q_DISABLE_COPY_MOVE(QueueListModel)

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    QUuid idAt(int row) const;

private:
    AppModel& m_model;
};

} // namespace corvel
