#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QComboBox>
#include <QLabel>
#include <QList>
#include <QString>
#include <QWidget>

#include <utility>

// Small building blocks shared by the inspector and the sheets.
namespace corvel::panelkit {

// A colour as style-sheet text, alpha included.
QString css(const QColor& color);

// A block's heading in capitals, in the dim colour.
QLabel* sectionLabel(const QString& text, QWidget* parent = nullptr);
// 11-pixel wrapped text in the muted colour.
QLabel* caption(const QString& text, QWidget* parent = nullptr);
// Lets the user select and copy a label's text.
void makeSelectable(QLabel* label);

// The shared look of single-line inputs, as a style sheet for a container.
QString fieldChromeStyle();

// Setters that leave a widget alone when nothing changed, so refreshing from the model does
// not move a cursor or repaint for nothing.
void setText(QLabel* label, const QString& text);
void setShown(QWidget* widget, bool shown);

// Replaces a picker's entries (label, id) only when they differ, then selects `id`.
void setChoices(QComboBox* picker, const QList<std::pair<QString, QString>>& choices,
                const QString& id);
// The id of the entry at `index`.
QString choiceID(const QComboBox* picker, int index);

// A clickable folder path: elided on one line, with a folder symbol at the end. With chrome it
// draws the field look; without, it is borderless.
class FolderButton final : public QAbstractButton
{
    Q_OBJECT

public:
    explicit FolderButton(bool chrome, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool m_chrome;
};

// The suite mark beside the suite name and the application name.
class SuiteLockup final : public QWidget
{
    Q_OBJECT

public:
    explicit SuiteLockup(bool large, QWidget* parent = nullptr);
};

} // namespace corvel::panelkit
