#include "CorvelEncoder/ui/DarkPalette.h"

#include "CorvelEncoder/ui/Theme.h"

#include <QApplication>
#include <QPalette>
#include <QStyleFactory>

namespace corvel {

void applyDarkTheme(QApplication& app)
{
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QPalette p;
    p.setColor(QPalette::Window, Theme::window());
    p.setColor(QPalette::WindowText, Theme::text());
    p.setColor(QPalette::Base, Theme::field());
    p.setColor(QPalette::AlternateBase, Theme::panel());
    p.setColor(QPalette::ToolTipBase, Theme::raised());
    p.setColor(QPalette::ToolTipText, Theme::text());
    p.setColor(QPalette::PlaceholderText, Theme::mute());
    p.setColor(QPalette::Text, Theme::text());
    p.setColor(QPalette::Button, Theme::raised());
    p.setColor(QPalette::ButtonText, Theme::text());
    p.setColor(QPalette::BrightText, Theme::bad());
    p.setColor(QPalette::Highlight, Theme::accent());
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, Theme::accent());
    p.setColor(QPalette::Light, Theme::raised().lighter(130));
    p.setColor(QPalette::Midlight, Theme::raised());
    p.setColor(QPalette::Mid, Theme::panel());
    p.setColor(QPalette::Dark, Theme::field());
    p.setColor(QPalette::Shadow, Qt::black);
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, Theme::mute());
    p.setColor(QPalette::Disabled, QPalette::Button, Theme::panel());
    app.setPalette(p);
}

} // namespace corvel
