#pragma once

#include <QColor>

// The window's colours: dark, whatever the desktop theme.
namespace corvel::Theme {

inline QColor rgb(double r, double g, double b, double alpha = 1.0)
{
    return QColor::fromRgbF(float(r), float(g), float(b), float(alpha));
}

inline QColor window()
{
    return rgb(0.102, 0.102, 0.11);
}
inline QColor panel()
{
    return rgb(0.145, 0.145, 0.157);
}
inline QColor raised()
{
    return rgb(0.188, 0.188, 0.204);
}
inline QColor field()
{
    return rgb(0.086, 0.086, 0.094);
}
inline QColor line()
{
    return rgb(1, 1, 1, 0.08);
}
inline QColor lineStrong()
{
    return rgb(1, 1, 1, 0.14);
}
inline QColor text()
{
    return rgb(0.93, 0.93, 0.95);
}
inline QColor dim()
{
    return rgb(0.64, 0.64, 0.69);
}
inline QColor mute()
{
    return rgb(0.45, 0.45, 0.5);
}
inline QColor accent()
{
    return rgb(0.27, 0.51, 0.98);
}
inline QColor ok()
{
    return rgb(0.38, 0.74, 0.52);
}
inline QColor warn()
{
    return rgb(0.92, 0.7, 0.32);
}
inline QColor bad()
{
    return rgb(0.9, 0.38, 0.34);
}

} // namespace corvel::Theme
