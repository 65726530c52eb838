#include "CorvelEncoder/ui/Appearance.h"

#include "CorvelEncoder/ui/Theme.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QPainter>
#include <QPalette>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOption>

namespace corvel {

namespace {

constexpr int kPortalTimeoutMs = 500;

// Fusion outlines check boxes, pickers and text fields in a shade of the window colour, which
// vanishes on a dark panel: draw their edge again in the theme's control edge.
class EdgedStyle final : public QProxyStyle
{
public:
    explicit EdgedStyle(QStyle* base) : QProxyStyle(base) {}

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override
    {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        if (element == PE_IndicatorCheckBox || element == PE_FrameLineEdit)
            outline(option, painter, 2);
        else if (element == PE_IndicatorRadioButton)
            outline(option, painter, -1);
    }

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                            QPainter* painter, const QWidget* widget) const override
    {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        if (control == CC_ComboBox && !(option->state & State_HasFocus))
            outline(option, painter, 2);
    }

private:
    // A negative radius draws a circle.
    static void outline(const QStyleOption* option, QPainter* painter, qreal radius)
    {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        QColor edge = Theme::edge();
        if (!(option->state & State_Enabled))
            edge = Theme::lineStrong();
        if (option->state & State_HasFocus)
            edge = Theme::accent();
        painter->setPen(QPen(edge, 1));
        painter->setBrush(Qt::NoBrush);
        const QRectF box = QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5);
        if (radius < 0)
            painter->drawEllipse(box);
        else
            painter->drawRoundedRect(box, radius, radius);
        painter->restore();
    }
};

} // namespace

ColorScheme desktopColorScheme()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return ColorScheme::dark;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.portal.Desktop"),
        QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.portal.Settings"), QStringLiteral("Read"));
    call << QStringLiteral("org.freedesktop.appearance") << QStringLiteral("color-scheme");
    const QDBusMessage reply = bus.call(call, QDBus::Block, kPortalTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return ColorScheme::dark;
    // The value arrives wrapped in a variant, sometimes twice.
    QVariant value = reply.arguments().constFirst();
    while (value.canConvert<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    // 1 prefers dark, 2 prefers light, 0 states no preference.
    return value.toUInt() == 2 ? ColorScheme::light : ColorScheme::dark;
}

void applyAppearance(QApplication& app, ColorScheme scheme)
{
    Theme::setLight(scheme == ColorScheme::light);
    app.setStyle(new EdgedStyle(QStyleFactory::create(QStringLiteral("Fusion"))));
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
    p.setColor(QPalette::Highlight, Theme::accentFill());
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, Theme::accent());
    const QColor raised = Theme::raised();
    p.setColor(QPalette::Light, Theme::isLight() ? raised : raised.lighter(130));
    p.setColor(QPalette::Midlight, raised);
    p.setColor(QPalette::Mid, Theme::panel());
    p.setColor(QPalette::Dark, Theme::isLight() ? Theme::edge() : Theme::field());
    p.setColor(QPalette::Shadow, Theme::isLight() ? Theme::edge() : QColor(Qt::black));
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, Theme::mute());
    p.setColor(QPalette::Disabled, QPalette::Base, Theme::panel());
    p.setColor(QPalette::Disabled, QPalette::Button, Theme::panel());
    app.setPalette(p);
}

} // namespace corvel
