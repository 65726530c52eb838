#include "CorvelEncoder/ui/ChromeButton.h"

#include "CorvelEncoder/ui/PanelKit.h"
#include "CorvelEncoder/ui/Theme.h"

#include <QPushButton>

namespace corvel {

QPushButton* chromeButton(const QString& title, Glyph glyph, bool prominent, QWidget* parent)
{
    using panelkit::css;
    auto* button =
        new QPushButton(glyphIcon(glyph, prominent ? Qt::white : Theme::text(), 12), title, parent);
    button->setCursor(Qt::PointingHandCursor);
    button->setFocusPolicy(Qt::TabFocus);
    const QColor fill = prominent ? Theme::accentFill() : Theme::raised();
    button->setStyleSheet(
        QStringLiteral(
            "QPushButton { background: %1; color: %2; border: 1px solid %3; border-radius: 6px;"
            " padding: 5px 12px; font-weight: 600; }"
            "QPushButton:hover { background: %4; }"
            "QPushButton:focus { border: 2px solid %8; padding: 4px 11px; }"
            "QPushButton:disabled { background: %5; color: %6; border-color: %7; }")
            .arg(css(fill), prominent ? QStringLiteral("white") : css(Theme::text()),
                 css(prominent ? fill : Theme::edge()), css(fill.lighter(115)), css(Theme::panel()),
                 css(Theme::mute()), css(Theme::line()),
                 css(prominent ? QColor(Qt::white) : Theme::accent())));
    return button;
}

} // namespace corvel
