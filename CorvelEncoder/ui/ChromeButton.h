#pragma once

#include "CorvelEncoder/ui/GlyphIcon.h"

#include <QString>

class QPushButton;
class QWidget;

namespace corvel {

// A header or empty-page button: a glyph and a title, filled with the accent when prominent.
// It takes focus from Tab only, so a click leaves the keyboard focus where the user put it;
// focus draws a ring that hover does not, and a disabled button looks flat and muted.
QPushButton* chromeButton(const QString& title, Glyph glyph, bool prominent, QWidget* parent);

} // namespace corvel
