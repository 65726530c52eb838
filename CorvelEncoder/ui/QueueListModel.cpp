#include "CorvelEncoder/ui/QueueListModel.h"

#include "CorvelEncoder/model/AppModel.h"

#include <QDir>

namespace corvel {

QueueListModel::QueueListModel(AppModel& model, QObject* parent)
    : QAbstractListModel(parent), m_model(model)
{
    connect(&model.store(), &JobStore::jobsAboutToBeInserted, this,
            [this](int first, int last) { beginInsertRows({}, first, last); });
    connect(&model.store(), &JobStore::jobsInserted, this, [this] { endInsertRows(); });
    connect(&model.store(), &JobStore::jobsAboutToBeRemoved, this,
            [this](int first, int last) { beginRemoveRows({}, first, last); });
    connect(&model.store(), &JobStore::jobsRemoved, this, [this] { endRemoveRows(); });
    connect(&model.store(), &JobStore::jobChanged, this, [this](int row) {
        const QModelIndex changed = index(row);
        emit dataChanged(changed, changed);
    });
    // Preset labels name saved presets, and they can be renamed or deleted.
    connect(&model.persistence(), &Persistence::savedPresetsChanged, this, [this] {
        if (const int rows = rowCount(); rows > 0)
            emit dataChanged(index(0), index(rows - 1));
    });
}

int QueueListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_model.store().jobs().size());
}

QVariant QueueListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const EncodingJob& job = m_model.store().jobs().at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return job.sourceName();
    case Qt::ToolTipRole:
        return QDir::toNativeSeparators(job.sourcePath);
    case JobRole:
        return QVariant::fromValue(job);
    case PresetLabelRole:
        return m_model.editing().presetLabel(job);
    case IdRole:
        return job.id;
    default:
        return {};
    }
}

Qt::ItemFlags QueueListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

QUuid QueueListModel::idAt(int row) const
{
    if (row < 0 || row >= rowCount())
        return {};
    return m_model.store().jobs().at(row).id;
}

} // namespace corvel
