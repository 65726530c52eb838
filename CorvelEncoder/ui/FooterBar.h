#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
class QSpinBox;
class QToolButton;

namespace corvel {

class AppModel;

// The row under the queue: the watch folder button, how many encodes run at once, the queue's
// phase and counts, and the log's toggle. Main thread; `model` must outlive it.
class FooterBar final : public QWidget
{
    Q_OBJECT

public:
    explicit FooterBar(AppModel& model, QWidget* parent = nullptr);

    QToolButton* watchButton() const { return m_watch; }

private:
    void refreshCounts();
    void refreshWatch();
    void refreshLogToggle();

    AppModel& m_model;
    QToolButton* m_watch = nullptr;
    QSpinBox* m_parallel = nullptr;
    QLabel* m_phase = nullptr;
    QLabel* m_queued = nullptr;
    QLabel* m_done = nullptr;
    QPushButton* m_logToggle = nullptr;
};

} // namespace corvel
