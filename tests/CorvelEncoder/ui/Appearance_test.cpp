#include "CorvelEncoder/ui/Theme.h"

#include <gtest/gtest.h>

#include <cmath>

namespace corvel {
namespace {

// WCAG 2 contrast; a translucent colour is laid over the window first.
double contrast(const QColor& a, const QColor& b)
{
    auto luminance = [](QColor c) {
        c = Theme::rgb(c.redF() * c.alphaF() + Theme::window().redF() * (1 - c.alphaF()),
                       c.greenF() * c.alphaF() + Theme::window().greenF() * (1 - c.alphaF()),
                       c.blueF() * c.alphaF() + Theme::window().blueF() * (1 - c.alphaF()));
        auto channel = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
               0.0722 * channel(c.blueF()) + 0.05;
    };
    return std::max(luminance(a), luminance(b)) / std::min(luminance(a), luminance(b));
}

TEST(Appearance, TextReadsAtFourAndAHalfAndControlEdgesAtThreeInBothSchemes)
{
    for (const bool light : {false, true}) {
        Theme::setLight(light);
        const std::pair<QColor, double> colours[] = {{Theme::text(), 4.5}, {Theme::dim(), 4.5},
                                                     {Theme::mute(), 4.5}, {Theme::badText(), 4.5},
                                                     {Theme::edge(), 3.0}, {Theme::accent(), 3.0}};
        for (const auto& [colour, least] : colours) {
            for (const QColor& background : {Theme::window(), Theme::panel(), Theme::raised(),
                                             Theme::field(), Theme::selection()}) {
                SCOPED_TRACE(::testing::Message() << light << colour.name().toStdString() << " on "
                                                  << background.name().toStdString());
                EXPECT_GE(contrast(colour, background), least);
            }
        }
        EXPECT_GE(contrast(Qt::white, Theme::accentFill()), 4.5) << light;
        EXPECT_GE(contrast(Theme::warn(), Theme::panel()), 4.5) << light;
    }
    Theme::setLight(false);
}

} // namespace
} // namespace corvel
