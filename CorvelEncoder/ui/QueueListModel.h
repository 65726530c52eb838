#pragma once

#include <QAbstractListModel>
#include <QUuid>

namespace corvel {

class AppModel;

// The queue as a list model for the view: one row per job, in the model's order. Follows the
// application model's fine-grained signals, so a progress report changes exactly one row.
// Lives on the main thread; `model` must outlive it.
class QueueListModel final : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Role
    {
        JobIdRole = Qt::UserRole + 1,
        StatusRole, // JobStatus as int
        SourceNameRole,
        SourceLineRole,
        PresetRole,
        OutputNameRole,
        OutputFolderRole,
        ProgressRole, // stored fraction
    };

    explicit QueueListModel(AppModel& model, QObject* parent = nullptr);
    Q_DISABLE_COPY_MOVE(QueueListModel)

    AppModel& appModel() const { return m_model; }

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    QUuid idAt(int row) const;

private:
    AppModel& m_model;
};

} // namespace corvel
