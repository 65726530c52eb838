#pragma once

#include <QPointer>
#include <QWidget>

class QPushButton;

namespace corvel {

class AppModel;
struct QueueControls;

// The window's top row: the suite lockup, then Add, Start Queue (or Resume), Pause and Stop.
// A button that loses its use while it has the keyboard focus hands the focus to a harmless
// place (the primary button, else the fallback) rather than to its neighbour, so the next key
// cannot stop the encodes. Main thread; `model` must outlive it.
class HeaderBar final : public QWidget
{
    Q_OBJECT

public:
    HeaderBar(AppModel& model, QWidget* parent = nullptr);

    void setFocusFallback(QWidget* widget) { m_fallback = widget; }
    void refresh(const QueueControls& controls);

private:
    void setUsable(QPushButton* button, bool usable);

    QPushButton* m_primary = nullptr;
    QPushButton* m_pause = nullptr;
    QPushButton* m_stop = nullptr;
    QPointer<QWidget> m_fallback;
};

} // namespace corvel
