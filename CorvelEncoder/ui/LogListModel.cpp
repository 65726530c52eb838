#include "CorvelEncoder/ui/LogListModel.h"

#include "CorvelEncoder/model/ActivityFeed.h"
#include "CorvelEncoder/ui/Theme.h"

namespace corvel {

LogListModel::LogListModel(ActivityFeed& feed, QObject* parent)
    : QAbstractListModel(parent), m_feed(feed), m_lines(feed.logLines())
{
    connect(&feed, &ActivityFeed::logLinesRemoved, this, [this](int first, int last) {
        last = std::min(last, int(m_lines.size()) - 1);
        if (first < 0 || first > last)
            return;
        beginRemoveRows({}, first, last);
        m_lines.remove(first, last - first + 1);
        endRemoveRows();
    });
    connect(&feed, &ActivityFeed::logLineAppended, this, &LogListModel::takeNewLines);
}

void LogListModel::takeNewLines()
{
    const QList<LogLine>& lines = m_feed.logLines();
    qsizetype next = 0;
    if (!m_lines.isEmpty()) {
        const QUuid newest = m_lines.last().id;
        next = lines.size();
        for (qsizetype i = lines.size() - 1; i >= 0; --i) {
            if (lines.at(i).id == newest) {
                next = i + 1;
                break;
            }
        }
    }
    if (next >= lines.size())
        return;
    beginInsertRows({}, int(m_lines.size()), int(m_lines.size() + lines.size() - next) - 1);
    m_lines.append(lines.mid(next));
    endInsertRows();
}

int LogListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_lines.size());
}

QVariant LogListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const LogLine& line = m_lines.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return logStamp(line.date) + QStringLiteral("  ") + line.text;
    case Qt::ForegroundRole:
        return line.isError ? Theme::badText() : Theme::dim();
    default:
        return {};
    }
}

} // namespace corvel
