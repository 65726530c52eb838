#include "CorvelEncoder/ui/LogListModel.h"

#include "CorvelEncoder/AppModel.h"
#include "CorvelEncoder/ui/Theme.h"

namespace corvel {

LogListModel::LogListModel(AppModel& model, QObject* parent)
    : QAbstractListModel(parent), m_model(model), m_rows(int(model.logLines().size()))
{
    // The model has already changed when it signals, so the row count is tracked here.
    connect(&model, &AppModel::logLinesRemoved, this, [this](int first, int last) {
        beginRemoveRows({}, first, last);
        m_rows -= last - first + 1;
        endRemoveRows();
    });
    connect(&model, &AppModel::logLineAppended, this, [this] {
        const int target = int(m_model.logLines().size());
        if (target <= m_rows)
            return;
        beginInsertRows({}, m_rows, target - 1);
        m_rows = target;
        endInsertRows();
    });
}

int LogListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

QVariant LogListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_model.logLines().size())
        return {};
    const LogLine& line = m_model.logLines().at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return logStamp(line.date) + QStringLiteral("  ") + line.text;
    case Qt::ForegroundRole:
        return line.isError ? Theme::bad() : Theme::dim();
    default:
        return {};
    }
}

} // namespace corvel
