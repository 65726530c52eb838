#pragma once

class QWidget;

namespace corvel {

// Keeps the mouse wheel from editing a value the user is only scrolling past: every picker,
// slider and number field below `root` changes with the wheel only while it has keyboard
// focus (and no longer takes focus from the wheel). Otherwise the wheel scrolls the nearest
// scroll area around it, or is left to the parents when there is none. Main thread.
void guardWheel(QWidget* root);

} // namespace corvel
