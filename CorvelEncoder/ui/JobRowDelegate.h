#pragma once

#include <QRect>
#include <QStyledItemDelegate>
#include <QUuid>

namespace corvel {

struct EncodingJob;

// Paints a queue row in four columns (source, preset, output, status) from the job the index
// carries (QueueListModel's roles), and handles the completed row's reveal button. Main thread.
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

    explicit JobRowDelegate(QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;
    // The whole text under `pos` when the row shows it cut, else an empty string: what the
    // row's tooltip says there.
    QString cutTextAt(const QStyleOptionViewItem& option, const QModelIndex& index,
                      const QPoint& pos) const;

signals:
    void revealRequested(const QUuid& id);

private:
    // One text of a row as drawn: where, the whole text and the part that fits.
    struct Piece
    {
        QRect rect;
        QString full;
        QString shown;
        QFont font;
        QColor color;
    };
    QList<Piece> pieces(const QStyleOptionViewItem& option, const QModelIndex& index,
                        const EncodingJob& job) const;
};

} // namespace corvel
