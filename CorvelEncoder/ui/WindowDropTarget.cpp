#include "CorvelEncoder/ui/WindowDropTarget.h"

#include "CorvelEncoder/model/Intake.h"
#include "CorvelEncoder/ui/Theme.h"

#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QPainter>
#include <QWidget>

namespace corvel {

namespace {

// Drawn over the whole window while a drag hovers; lets every event through.
class DropHighlight final : public QWidget
{
public:
    explicit DropHighlight(QWidget* parent) : QWidget(parent)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setObjectName(QStringLiteral("dropHighlight"));
        hide();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QColor fill = Theme::accent();
        fill.setAlphaF(0.08f);
        p.setBrush(fill);
        p.setPen(QPen(Theme::accent(), 2));
        p.drawRoundedRect(QRectF(rect()).adjusted(4, 4, -4, -4), 10, 10);
    }
};

bool carriesFiles(const QMimeData* mime)
{
    return mime && mime->hasUrls();
}

} // namespace

WindowDropTarget::WindowDropTarget(Intake& intake, QWidget* window)
    : QObject(window), m_intake(intake), m_window(window), m_highlight(new DropHighlight(window))
{
    window->setAcceptDrops(true);
    window->installEventFilter(this);
}

void WindowDropTarget::watchDropTakingChildren()
{
    for (QWidget* child : m_window->findChildren<QWidget*>())
        if (child->acceptDrops() && child->window() == m_window) {
            child->removeEventFilter(this); // installed once, whatever the number of shows
            child->installEventFilter(this);
        }
}

bool WindowDropTarget::isHighlighted() const
{
    return m_highlight->isVisible();
}

void WindowDropTarget::setHighlight(bool on)
{
    if (on) {
        m_highlight->setGeometry(m_window->rect());
        m_highlight->raise();
    }
    m_highlight->setVisible(on);
}

bool WindowDropTarget::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (watched == m_window && type == QEvent::Show)
        watchDropTakingChildren();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::DragLeave &&
        type != QEvent::Drop)
        return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != m_window)
        return false;
    switch (type) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (!carriesFiles(drag->mimeData()))
            return false;
        drag->setDropAction(Qt::CopyAction);
        drag->accept();
        setHighlight(true);
        return true;
    }
    case QEvent::DragLeave:
        // Moving between children leaves one and enters the next, which lights it again.
        setHighlight(false);
        return false;
    default: {
        auto* drop = static_cast<QDropEvent*>(event);
        setHighlight(false);
        if (!carriesFiles(drop->mimeData()))
            return false;
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        m_intake.handleDrop(drop->mimeData()->urls());
        return true;
    }
    }
}

} // namespace corvel
