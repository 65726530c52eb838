#include "CorvelEncoder/ui/WheelGuard.h"

#include <QAbstractScrollArea>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QScrollBar>
#include <QWheelEvent>

namespace corvel {

namespace {

class WheelGuard final : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Wheel)
            return false;
        auto* control = static_cast<QWidget*>(watched);
        if (control->hasFocus())
            return false;
        auto* wheel = static_cast<QWheelEvent*>(event);
        for (QWidget* up = control->parentWidget(); up; up = up->parentWidget()) {
            auto* area = qobject_cast<QAbstractScrollArea*>(up);
            if (!area)
                continue;
            QScrollBar* bar = wheel->angleDelta().y() != 0 ? area->verticalScrollBar()
                                                           : area->horizontalScrollBar();
            QWheelEvent copy(QPointF(), wheel->globalPosition(), wheel->pixelDelta(),
                             wheel->angleDelta(), wheel->buttons(), wheel->modifiers(),
                             wheel->phase(), wheel->inverted(), wheel->source());
            QCoreApplication::sendEvent(bar, &copy);
            event->accept();
            return true;
        }
        // No scroll area: an ignored wheel event travels on to the parents.
        event->ignore();
        return true;
    }
};

} // namespace

void guardWheel(QWidget* root)
{
    auto* guard = new WheelGuard(root);
    QList<QWidget*> controls;
    for (QWidget* w : root->findChildren<QComboBox*>())
        controls.append(w);
    for (QWidget* w : root->findChildren<QAbstractSpinBox*>())
        controls.append(w);
    for (QWidget* w : root->findChildren<QAbstractSlider*>())
        if (!qobject_cast<QScrollBar*>(w))
            controls.append(w);
    if (qobject_cast<QComboBox*>(root) || qobject_cast<QAbstractSpinBox*>(root) ||
        qobject_cast<QAbstractSlider*>(root))
        controls.append(root);
    for (QWidget* control : std::as_const(controls)) {
        control->setFocusPolicy(Qt::StrongFocus);
        control->installEventFilter(guard);
    }
}

} // namespace corvel
