#pragma once

#include <QObject>
#include <QPointer>

class QWidget;

namespace corvel {

class Intake;

// Makes the whole window one drop target for files: drags of URLs over any of its widgets land
// in the intake, while a highlight frames the window. Drags over most children rise to the
// window; a child that takes text drops itself (a path field) never passes them on, so those
// children, as the window is shown, get watched too. Main thread; `intake` and `window` must
// outlive it.
class WindowDropTarget final : public QObject
{
    Q_OBJECT

public:
    WindowDropTarget(Intake& intake, QWidget* window);

    bool isHighlighted() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setHighlight(bool on);
    void watchDropTakingChildren();

    Intake& m_intake;
    QWidget* m_window;
    QWidget* m_highlight;
};

} // namespace corvel
