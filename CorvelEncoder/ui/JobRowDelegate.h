#pragma once

#include <QRect>
#include <QStyledItemDelegate>
#include <QUuid>

namespace corvel {

class AppModel;

// Paints a queue row in four columns (source, preset, output, status) straight from the job,
// and handles the completed row's reveal button. Main thread; `model` must outlive it.
class JobRowDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    static constexpr int kRowHeight = 54;

    struct Columns
    {
        QRect source;
        QRect preset;
        QRect output;
        QRect status;
    };
    // Where each column sits in a row (or in the column header) of this rectangle.
    static Columns columns(const QRect& row);
    // The reveal button of a completed row.
    static QRect revealButtonRect(const QRect& row);

    explicit JobRowDelegate(AppModel& model, QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

signals:
    void revealRequested(const QUuid& id);

private:
    AppModel& m_model;
};

} // namespace corvel
