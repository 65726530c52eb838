#pragma once

class QApplication;

namespace corvel {

// Fusion with a dark palette from the theme colours, whatever the desktop theme says.
void applyDarkTheme(QApplication& app);

} // namespace corvel
