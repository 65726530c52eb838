#pragma once

#include <QWidget>

class QPushButton;

namespace corvel {

class AppModel;

// The first-run introduction: a dimmed layer over the window's content with a centred panel.
// It stays until "Continue" (or Return) is pressed, which calls the model's dismissIntro and
// emits continued(); files dropped on it go to the model like drops on the window.
class IntroSheet final : public QWidget
{
    Q_OBJECT

public:
    IntroSheet(AppModel& model, QWidget* parent);

    QPushButton* continueButton() const { return m_continue; }

signals:
    void continued();

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void proceed();

    AppModel& m_model;
    QPushButton* m_continue = nullptr;
};

} // namespace corvel
