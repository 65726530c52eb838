#pragma once

#include <QAbstractListModel>
#include <QUuid>

namespace corvel {

class AppModel;

// The queue as a list model for the view: one row per job, in the model's order. The display
// role is the source name; the row painter reads the whole job and its preset label through
// the roles below, so it works over any proxy of this model. Follows the job store's
// fine-grained signals, so a progress report changes exactly one row.
// Lives on the main thread; `model` must outlive it.
class QueueListModel final : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Role
    {
        JobRole = Qt::UserRole + 1, // the EncodingJob
        PresetLabelRole,            // the preset column's text
        IdRole,                     // the job's QUuid
    };

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
