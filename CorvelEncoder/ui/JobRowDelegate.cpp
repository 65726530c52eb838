#include "CorvelEncoder/ui/JobRowDelegate.h"

#include "CorvelEncoder/ui/JobRowTexts.h"
#include "CorvelEncoder/ui/QueueListModel.h"
#include "CorvelEncoder/ui/Theme.h"
#include "CorvelEncoderCore/JobTexts.h"

#include <QAbstractItemView>
#include <QDir>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>
#include <QToolTip>

namespace corvel {

namespace {

constexpr int kPadding = 14;
constexpr int kGap = 12;
constexpr int kBarHeight = 5;

QFont withSize(QFont font, qreal pointSize, QFont::Weight weight = QFont::Normal)
{
    font.setPointSizeF(pointSize);
    font.setWeight(weight);
    return font;
}

void drawText(QPainter* p, const QRect& rect, const QString& text, const QFont& font,
              const QColor& color, Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter)
{
    p->setFont(font);
    p->setPen(color);
    const QString elided = QFontMetrics(font).elidedText(text, Qt::ElideMiddle, rect.width());
    p->drawText(rect, int(align) | Qt::TextSingleLine, elided);
}

QString elided(const QString& text, const QFont& font, Qt::TextElideMode mode, int width)
{
    return QFontMetrics(font).elidedText(text, mode, width);
}

// A preset label is its name, sometimes followed by " · " and a state: the state goes first.
QString fitPresetLabel(const QString& label, const QFont& font, int width)
{
    const QFontMetrics fm(font);
    if (fm.horizontalAdvance(label) <= width)
        return label;
    const qsizetype dot = label.indexOf(QStringLiteral(" · "));
    const QString name = dot > 0 ? label.left(dot) : label;
    return fm.elidedText(name, Qt::ElideRight, width);
}

// Up to two lines broken at words; the second ends in an ellipsis when the text goes on.
QString fitTwoLines(const QString& text, const QFont& font, int width)
{
    const QFontMetrics fm(font);
    if (fm.horizontalAdvance(text) <= width)
        return text;
    QTextLayout layout(text, font);
    layout.beginLayout();
    QTextLine first = layout.createLine();
    first.setLineWidth(width);
    layout.endLayout();
    const int cut = first.textLength();
    const QString head = text.left(cut).trimmed();
    const QString rest = text.mid(cut).trimmed();
    if (rest.isEmpty())
        return head;
    return head + QChar::LineSeparator + fm.elidedText(rest, Qt::ElideRight, width);
}

// Whether a fitted text shows all of the original.
bool isWhole(const QString& shown, const QString& full)
{
    QString joined = shown;
    joined.replace(QChar::LineSeparator, QChar(' '));
    return joined.simplified() == full.simplified();
}

void drawBar(QPainter* p, const QRectF& track, double fraction, const QColor& color)
{
    const qreal radius = track.height() / 2;
    QColor trackColor = color;
    trackColor.setAlphaF(0.08f);
    p->setPen(Qt::NoPen);
    p->setBrush(trackColor);
    p->drawRoundedRect(track, radius, radius);
    fraction = std::clamp(fraction, 0.0, 1.0);
    if (fraction <= 0)
        return;
    QRectF fill = track;
    fill.setWidth(std::max(track.width() * fraction, track.height()));
    p->setBrush(color);
    p->drawRoundedRect(fill, radius, radius);
}

// A square with an arrow leaving its top-right corner.
void drawRevealGlyph(QPainter* p, const QRectF& r, const QColor& color)
{
    QPen pen(color, 1.3);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    p->setPen(pen);
    p->setBrush(Qt::NoBrush);
    const QRectF box = r.adjusted(2, 2, -2, -2);
    QPainterPath frame;
    frame.moveTo(box.center().x(), box.top());
    frame.lineTo(box.left(), box.top());
    frame.lineTo(box.left(), box.bottom());
    frame.lineTo(box.right(), box.bottom());
    frame.lineTo(box.right(), box.center().y());
    p->drawPath(frame);
    const QPointF tip(box.right() + 1, box.top() - 1);
    p->drawLine(QPointF(box.center().x() - 0.5, box.center().y() + 0.5), tip);
    p->drawLine(tip, tip + QPointF(-4, 0));
    p->drawLine(tip, tip + QPointF(0, 4));
}

// The two text lines of a row, across one column.
QRect upperLine(const QRect& row, const QRect& col)
{
    return QRect(col.left(), row.top() + 6, col.width(), row.height() / 2 - 6);
}

QRect lowerLine(const QRect& row, const QRect& col)
{
    const int half = row.height() / 2;
    return QRect(col.left(), row.top() + half, col.width(), half - 6);
}

std::optional<EncodingJob> jobAt(const QModelIndex& index)
{
    const QVariant value = index.data(QueueListModel::JobRole);
    if (!value.canConvert<EncodingJob>())
        return std::nullopt;
    return value.value<EncodingJob>();
}

} // namespace

JobRowDelegate::Columns JobRowDelegate::columns(const QRect& row)
{
    const QRect inner = row.adjusted(kPadding, 0, -kPadding, 0);
    const int usable = std::max(0, inner.width() - 3 * kGap);
    const int source = usable * 32 / 100;
    const int preset = usable * 17 / 100;
    const int output = usable * 27 / 100;
    Columns c;
    c.source = QRect(inner.left(), inner.top(), source, inner.height());
    c.preset = QRect(c.source.right() + 1 + kGap, inner.top(), preset, inner.height());
    c.output = QRect(c.preset.right() + 1 + kGap, inner.top(), output, inner.height());
    c.status = QRect(c.output.right() + 1 + kGap, inner.top(),
                     inner.right() - c.output.right() - kGap, inner.height());
    return c;
}

QRect JobRowDelegate::revealButtonRect(const QRect& row)
{
    const QRect status = columns(row).status;
    return QRect(status.right() - 17, status.top() + 8, 18, 18);
}

JobRowDelegate::JobRowDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

void JobRowDelegate::paint(QPainter* p, const QStyleOptionViewItem& option,
                           const QModelIndex& index) const
{
    const std::optional<EncodingJob> found = jobAt(index);
    if (!found)
        return;
    const EncodingJob& job = *found;
    const QRect row = option.rect;
    p->save();
    p->setRenderHint(QPainter::Antialiasing);

    if (option.state & QStyle::State_Selected) {
        p->fillRect(row, Theme::selection());
    } else if (option.state & QStyle::State_MouseOver) {
        p->fillRect(row, Theme::isLight() ? Theme::rgb(0, 0, 0, 0.03) : Theme::rgb(1, 1, 1, 0.03));
    }
    p->fillRect(QRect(row.left(), row.bottom(), row.width(), 1), Theme::line());
    // The keyboard's row, where the list has the focus: a ring that hover never draws.
    if ((option.state & QStyle::State_HasFocus) && option.widget && option.widget->hasFocus()) {
        p->setPen(QPen(Theme::accent(), 2));
        p->setBrush(Qt::NoBrush);
        p->drawRoundedRect(QRectF(row).adjusted(2, 2, -2, -3), 4, 4);
    }

    const QFont base = option.font;
    const QFont secondary = withSize(base, 8.5);
    const QFont semibold = withSize(base, 9.5, QFont::DemiBold);
    const Columns c = columns(row);

    for (const Piece& piece : pieces(option, index, job)) {
        p->setFont(piece.font);
        p->setPen(piece.color);
        const bool twoLines = piece.shown.contains(QChar::LineSeparator);
        const int flags = Qt::AlignLeft | (twoLines ? Qt::AlignTop : Qt::AlignVCenter);
        p->drawText(piece.rect, flags, piece.shown);
    }

    // Status: dot and title, then bar with percent and detail, or the failure.
    const QRect title = upperLine(row, c.status);
    const QColor statusColor = JobRowTexts::statusColor(job.status);
    p->setPen(Qt::NoPen);
    p->setBrush(statusColor);
    p->drawEllipse(QRectF(title.left(), title.center().y() - 3.5, 7, 7));
    drawText(p, title.adjusted(14, 0, -22, 0), JobRowTexts::statusTitle(job.status), semibold,
             Theme::text());
    if (JobRowTexts::offersReveal(job)) {
        const bool hovered =
            (option.state & QStyle::State_MouseOver) &&
            revealButtonRect(row).contains(
                option.widget ? option.widget->mapFromGlobal(QCursor::pos()) : QPoint(-1, -1));
        drawRevealGlyph(p, revealButtonRect(row), hovered ? Theme::text() : Theme::dim());
    }

    const QRect detailLine = lowerLine(row, c.status);
    if (JobRowTexts::showsProgress(job) && !JobRowTexts::failureText(job)) {
        const QFontMetrics fm(secondary);
        const QString percent = JobRowTexts::percentText(job);
        QString detail = JobRowTexts::detailText(job);
        const int fixed = fm.horizontalAdvance(QStringLiteral("Starting")) + 8;
        // The speed joins the time left where the bar keeps a useful length.
        if (const std::optional<QString> speed = JobRowTexts::speedText(job)) {
            const QString both = detail + QStringLiteral(" \u00B7 ") + *speed;
            if (detailLine.width() - fixed - fm.horizontalAdvance(both) - 8 >= 60)
                detail = both;
        }
        const int textWidth = fixed + std::max(fm.horizontalAdvance(detail), 48);
        const int barWidth = std::max(24, detailLine.width() - textWidth - 8);
        const QRectF track(detailLine.left(), detailLine.center().y() - kBarHeight / 2.0, barWidth,
                           kBarHeight);
        drawBar(p, track, JobRowTexts::barFraction(job), JobRowTexts::barColor(job.status));
        QRect text = detailLine;
        text.setLeft(int(track.right()) + 8);
        const int percentWidth = fm.horizontalAdvance(percent) + 6;
        drawText(p, text, percent, secondary, Theme::dim());
        text.setLeft(text.left() + percentWidth);
        drawText(p, text, detail, secondary, Theme::mute());
    }
    p->restore();
}

QList<JobRowDelegate::Piece> JobRowDelegate::pieces(const QStyleOptionViewItem& option,
                                                    const QModelIndex& index,
                                                    const EncodingJob& job) const
{
    const QRect row = option.rect;
    const QFont base = option.font;
    const QFont primary = withSize(base, 10, QFont::Medium);
    const QFont secondary = withSize(base, 8.5);
    const Columns c = columns(row);
    const int half = row.height() / 2;
    auto piece = [](const QRect& rect, const QString& full, const QString& shown, const QFont& font,
                    const QColor& color) {
        return Piece{rect, full, shown, font, color};
    };
    auto line = [&](const QRect& rect, const QString& text, const QFont& font, const QColor& color,
                    Qt::TextElideMode mode) {
        return piece(rect, text, elided(text, font, mode, rect.width()), font, color);
    };

    const bool selected = option.state & QStyle::State_Selected;
    const QString folder = QDir::toNativeSeparators(job.settings.outputDirectory);
    const QString preset = index.data(QueueListModel::PresetLabelRole).toString();
    QList<Piece> list = {
        line(upperLine(row, c.source), job.sourceName(), primary, Theme::text(), Qt::ElideMiddle),
        line(lowerLine(row, c.source), sourceLine(job), secondary, Theme::dim(), Qt::ElideRight),
        piece(c.preset, preset, fitPresetLabel(preset, base, c.preset.width()), base,
              Theme::text()),
        line(upperLine(row, c.output), JobRowTexts::outputName(job), base, Theme::text(),
             Qt::ElideMiddle),
        line(lowerLine(row, c.output), folder, secondary, selected ? Theme::dim() : Theme::mute(),
             Qt::ElideMiddle),
    };
    if (const std::optional<QString> failure = JobRowTexts::failureText(job)) {
        // Two lines under the title, clear of the line between rows.
        const int top = row.top() + half - 4;
        const QRect box(c.status.left(), top, c.status.width(), row.bottom() - 3 - top);
        list.append(piece(box, *failure, fitTwoLines(*failure, secondary, box.width()), secondary,
                          Theme::badText()));
    }
    return list;
}

QString JobRowDelegate::cutTextAt(const QStyleOptionViewItem& option, const QModelIndex& index,
                                  const QPoint& pos) const
{
    const std::optional<EncodingJob> job = jobAt(index);
    if (!job)
        return {};
    for (const Piece& piece : pieces(option, index, *job)) {
        if (piece.rect.contains(pos) && !isWhole(piece.shown, piece.full))
            return piece.full;
    }
    return {};
}

QSize JobRowDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const
{
    return QSize(600, kRowHeight);
}

bool JobRowDelegate::editorEvent(QEvent* event, QAbstractItemModel* model,
                                 const QStyleOptionViewItem& option, const QModelIndex& index)
{
    if (event->type() == QEvent::MouseButtonRelease) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        const std::optional<EncodingJob> job = jobAt(index);
        if (job && mouse->button() == Qt::LeftButton && JobRowTexts::offersReveal(*job) &&
            revealButtonRect(option.rect).contains(mouse->position().toPoint())) {
            emit revealRequested(job->id);
            return true;
        }
    }
    return QStyledItemDelegate::editorEvent(event, model, option, index);
}

bool JobRowDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view,
                               const QStyleOptionViewItem& option, const QModelIndex& index)
{
    const std::optional<EncodingJob> job = jobAt(index);
    if (event->type() == QEvent::ToolTip && job) {
        if (JobRowTexts::offersReveal(*job) &&
            revealButtonRect(option.rect).contains(event->pos())) {
            QToolTip::showText(event->globalPos(), QStringLiteral("Show in File Manager"), view);
            return true;
        }
        const QString whole = cutTextAt(option, index, event->pos());
        if (!whole.isEmpty()) {
            QToolTip::showText(event->globalPos(), whole, view);
            return true;
        }
        // The progress line names the encoder and its speed, which the row has no room for.
        if (lowerLine(option.rect, columns(option.rect).status).contains(event->pos()) &&
            JobRowTexts::showsProgress(*job)) {
            QStringList parts;
            if (const std::optional<QString> encoder = JobRowTexts::encoderText(*job))
                parts.append(*encoder);
            if (const std::optional<QString> speed = JobRowTexts::speedText(*job))
                parts.append(*speed + QStringLiteral(" realtime"));
            if (!parts.isEmpty()) {
                QToolTip::showText(event->globalPos(), parts.join(QStringLiteral(" \u00B7 ")),
                                   view);
                return true;
            }
        }
        QToolTip::hideText();
    }
    return QStyledItemDelegate::helpEvent(event, view, option, index);
}

} // namespace corvel
