#pragma once

#include <QListView>
#include <QStackedWidget>
#include <QUuid>

namespace corvel {

class AppModel;
class QueueListModel;

// The queue's list. QListView lays out every item again on any data change, which repaints the
// whole viewport on each progress report; rows here all have one height, so a change only
// repaints its row. Reports its viewport's width, which the column titles follow.
class QueueView final : public QListView
{
    Q_OBJECT

public:
    using QListView::QListView;

signals:
    void viewportWidthChanged(int width);

protected:
    void dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                     const QList<int>& roles) override;
    bool viewportEvent(QEvent* event) override;
};

// The left pane: a page inviting the first files while the queue is empty, else the column
// titles over the list. The list and the model share one selection. Delete and Backspace ask
// for the selected rows' removal; the Menu key and Shift+F10 open the current row's menu, as a
// right click does. Main thread; `model` and `list` must outlive it.
class QueuePane final : public QStackedWidget
{
    Q_OBJECT

public:
    QueuePane(AppModel& model, QueueListModel* list, QWidget* parent = nullptr);

    QueueView* view() const { return m_view; }

signals:
    void removeRequested(const QList<QUuid>& ids);
    void contextMenuRequested(const QUuid& id, const QPoint& globalPos);

private:
    QWidget* makeEmptyPage();
    void refreshEmpty();
    void pushSelection();
    void pullSelection();

    AppModel& m_model;
    QueueListModel* m_list;
    QueueView* m_view = nullptr;
    bool m_syncingSelection = false;
};

} // namespace corvel
