#pragma once

class QApplication;

namespace corvel {

enum class ColorScheme
{
    dark,
    light,
};

// The scheme the desktop asks for through the freedesktop settings portal
// (org.freedesktop.appearance color-scheme); dark when it asks for nothing or there is no
// portal. Main thread; blocks for at most a short bus timeout.
ColorScheme desktopColorScheme();

// Fusion with the window's palette in the given scheme, and control outlines that stand out
// from the panels. Call before building any window: the widgets read their colours once.
void applyAppearance(QApplication& app, ColorScheme scheme);

} // namespace corvel
