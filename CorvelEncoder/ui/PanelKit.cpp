#include "CorvelEncoder/ui/PanelKit.h"

#include "CorvelEncoder/ui/Theme.h"
#include "CorvelEncoderCore/CorvelIdentity.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QVBoxLayout>

namespace corvel::panelkit {

QString css(const QColor& color)
{
    return QStringLiteral("rgba(%1, %2, %3, %4)")
        .arg(color.red())
        .arg(color.green())
        .arg(color.blue())
        .arg(color.alphaF(), 0, 'f', 3);
}

QLabel* sectionLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setPixelSize(10);
    font.setWeight(QFont::DemiBold);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 0.6);
    label->setFont(font);
    label->setStyleSheet(QStringLiteral("color: %1;").arg(css(Theme::dim())));
    return label;
}

QLabel* caption(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setPixelSize(11);
    label->setFont(font);
    label->setWordWrap(true);
    label->setStyleSheet(QStringLiteral("color: %1;").arg(css(Theme::mute())));
    return label;
}

void makeSelectable(QLabel* label)
{
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    label->setCursor(Qt::IBeamCursor);
}

QString fieldChromeStyle()
{
    return QStringLiteral("QLineEdit, QAbstractSpinBox { background: %1; color: %2;"
                          " border: 1px solid %3; border-radius: 5px; padding: 6px 8px; }"
                          "QLineEdit:focus, QAbstractSpinBox:focus { border-color: %4; }"
                          "QLineEdit:disabled, QAbstractSpinBox:disabled { background: %5;"
                          " color: %6; border-color: %7; }"
                          "QPushButton { background: %8; color: %2; border: 1px solid %3;"
                          " border-radius: 5px; padding: 5px 12px; }"
                          "QPushButton:hover { border-color: %4; }"
                          "QPushButton:focus { border-color: %4; }"
                          "QPushButton:disabled { color: %6; border-color: %7; }"
                          "QPushButton::menu-indicator { subcontrol-origin: padding;"
                          " subcontrol-position: center right; right: 7px; }"
                          "#namingMenu { padding-right: 22px; }")
        .arg(css(Theme::field()), css(Theme::text()), css(Theme::edge()), css(Theme::accent()),
             css(Theme::panel()), css(Theme::mute()), css(Theme::lineStrong()),
             css(Theme::raised()));
}

void setText(QLabel* label, const QString& text)
{
    if (label->text() != text)
        label->setText(text);
}

void setShown(QWidget* widget, bool shown)
{
    if (widget->isHidden() == shown)
        widget->setVisible(shown);
}

void setChoices(QComboBox* picker, const QList<std::pair<QString, QString>>& choices,
                const QString& id)
{
    bool same = picker->count() == choices.size();
    for (int i = 0; same && i < picker->count(); ++i) {
        same = picker->itemText(i) == choices.at(i).first &&
               picker->itemData(i).toString() == choices.at(i).second;
    }
    if (!same) {
        picker->clear();
        for (const auto& [label, value] : choices)
            picker->addItem(label, value);
    }
    const int index = picker->findData(id);
    if (picker->currentIndex() != index)
        picker->setCurrentIndex(index);
}

QString choiceID(const QComboBox* picker, int index)
{
    return picker->itemData(index).toString();
}

// Folder button

namespace {

constexpr int kInsetX = 8;
constexpr int kInsetY = 6;
constexpr int kIconSide = 14;

} // namespace

FolderButton::FolderButton(bool chrome, QWidget* parent) : QAbstractButton(parent), m_chrome(chrome)
{
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize FolderButton::sizeHint() const
{
    const int height = fontMetrics().height() + 2 * kInsetY + 2;
    return {fontMetrics().horizontalAdvance(text()) + kIconSide + 3 * kInsetX, height};
}

QSize FolderButton::minimumSizeHint() const
{
    return {kIconSide + 3 * kInsetX + 40, sizeHint().height()};
}

void FolderButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    if (m_chrome) {
        QPainterPath shape;
        shape.addRoundedRect(box, 5, 5);
        painter.fillPath(shape, isDown()      ? Theme::raised()
                                : isEnabled() ? Theme::field()
                                              : Theme::panel());
        painter.setPen(QPen(hasFocus()    ? Theme::accent()
                            : isEnabled() ? Theme::edge()
                                          : Theme::lineStrong(),
                            1));
        painter.drawPath(shape);
    } else if (isDown() || underMouse()) {
        QPainterPath shape;
        shape.addRoundedRect(box, 5, 5);
        painter.fillPath(shape, Theme::raised());
    }

    const QRect icon(width() - kInsetX - kIconSide, (height() - kIconSide) / 2, kIconSide,
                     kIconSide);
    style()->standardIcon(QStyle::SP_DirIcon).paint(&painter, icon);

    const QRect textRect(kInsetX, 0, icon.left() - 2 * kInsetX, height());
    painter.setPen(isEnabled() ? Theme::text() : Theme::mute());
    painter.drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft,
                     fontMetrics().elidedText(text(), Qt::ElideMiddle, textRect.width()));
}

// Suite lockup

namespace {

// A rounded square in the accent colour with an open ring: the suite's mark.
class SuiteMark final : public QWidget
{
public:
    SuiteMark(int side, QWidget* parent) : QWidget(parent) { setFixedSize(side, side); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF box(0, 0, width(), height());
        QLinearGradient fill(box.topLeft(), box.bottomRight());
        fill.setColorAt(0, Theme::accent().lighter(125));
        fill.setColorAt(1, Theme::accent().darker(130));
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill);
        painter.drawRoundedRect(box, width() * 0.24, height() * 0.24);
        const qreal inset = width() * 0.27;
        painter.setPen(QPen(Qt::white, width() * 0.11, Qt::SolidLine, Qt::RoundCap));
        painter.setBrush(Qt::NoBrush);
        painter.drawArc(box.adjusted(inset, inset, -inset, -inset), 45 * 16, 270 * 16);
    }
};

} // namespace

SuiteLockup::SuiteLockup(bool large, QWidget* parent) : QWidget(parent)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(large ? 12 : 8);
    row->addWidget(new SuiteMark(large ? 40 : 24, this));

    auto* names = new QVBoxLayout;
    names->setSpacing(0);
    auto* suite = new QLabel(QString(CorvelIdentity::suiteName).toUpper(), this);
    QFont suiteFont = suite->font();
    suiteFont.setPixelSize(large ? 10 : 9);
    suiteFont.setWeight(QFont::DemiBold);
    suiteFont.setLetterSpacing(QFont::AbsoluteSpacing, 0.8);
    suite->setFont(suiteFont);
    suite->setStyleSheet(QStringLiteral("color: %1;").arg(css(Theme::dim())));
    auto* app = new QLabel(QString(CorvelIdentity::appName), this);
    QFont appFont = app->font();
    appFont.setPixelSize(large ? 18 : 14);
    appFont.setWeight(QFont::DemiBold);
    app->setFont(appFont);
    app->setStyleSheet(QStringLiteral("color: %1;").arg(css(Theme::text())));
    names->addWidget(suite);
    names->addWidget(app);
    row->addLayout(names);
    row->addStretch(1);
}

} // namespace corvel::panelkit
