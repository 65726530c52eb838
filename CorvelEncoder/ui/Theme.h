#pragma once

#include <QColor>

// The window's colours. Dark unless the desktop asks for light (see Appearance.h); chosen
// once, before any window is built. Every text colour reads at least 4.5:1 on the
// backgrounds it is drawn on, and control edges at least 3:1 beside their surroundings.
namespace corvel::Theme {

inline bool& lightFlag()
{
    static bool light = false;
    return light;
}
inline bool isLight()
{
    return lightFlag();
}
inline void setLight(bool light)
{
    lightFlag() = light;
}

inline QColor rgb(double r, double g, double b, double alpha = 1.0)
{
    return QColor::fromRgbF(float(r), float(g), float(b), float(alpha));
}

inline QColor window()
{
    return isLight() ? rgb(0.96, 0.96, 0.97) : rgb(0.102, 0.102, 0.11);
}
inline QColor panel()
{
    return isLight() ? rgb(0.925, 0.925, 0.94) : rgb(0.145, 0.145, 0.157);
}
inline QColor raised()
{
    return isLight() ? rgb(1, 1, 1) : rgb(0.188, 0.188, 0.204);
}
inline QColor field()
{
    return isLight() ? rgb(1, 1, 1) : rgb(0.086, 0.086, 0.094);
}
inline QColor line()
{
    return isLight() ? rgb(0, 0, 0, 0.1) : rgb(1, 1, 1, 0.08);
}
inline QColor lineStrong()
{
    return isLight() ? rgb(0, 0, 0, 0.18) : rgb(1, 1, 1, 0.14);
}
// The outline that tells a control (field, picker, check box) from what it sits on.
inline QColor edge()
{
    return isLight() ? rgb(0.47, 0.47, 0.5) : rgb(0.5, 0.5, 0.53);
}
inline QColor text()
{
    return isLight() ? rgb(0.1, 0.1, 0.12) : rgb(0.93, 0.93, 0.95);
}
inline QColor dim()
{
    return isLight() ? rgb(0.3, 0.3, 0.34) : rgb(0.64, 0.64, 0.69);
}
// Captions and secondary lines: quieter than dim, still readable on every surface.
inline QColor mute()
{
    return isLight() ? rgb(0.38, 0.38, 0.42) : rgb(0.6, 0.6, 0.65);
}
inline QColor accent()
{
    return isLight() ? rgb(0.16, 0.4, 0.86) : rgb(0.27, 0.51, 0.98);
}
// The fill of the prominent button, dark enough for white text.
inline QColor accentFill()
{
    return isLight() ? rgb(0.13, 0.35, 0.78) : rgb(0.23, 0.434, 0.833);
}
inline QColor ok()
{
    return isLight() ? rgb(0.1, 0.5, 0.28) : rgb(0.38, 0.74, 0.52);
}
inline QColor warn()
{
    return isLight() ? rgb(0.54, 0.33, 0.0) : rgb(0.92, 0.7, 0.32);
}
inline QColor bad()
{
    return isLight() ? rgb(0.74, 0.16, 0.13) : rgb(0.9, 0.38, 0.34);
}
// Error text: `bad` lifted so it stays readable on a selected row.
inline QColor badText()
{
    return isLight() ? rgb(0.66, 0.12, 0.1) : rgb(0.96, 0.48, 0.44);
}
// A selected row: the accent washed over the window.
inline QColor selection()
{
    QColor c = accent();
    c.setAlphaF(isLight() ? 0.16f : 0.22f);
    return c;
}

} // namespace corvel::Theme
