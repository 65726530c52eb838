#pragma once

#include <QColor>
#include <QIcon>

namespace corvel {

// The window's symbols.
enum class Glyph
{
    plus,
    play,
    pause,
    stop,
    folder,
    film,
    eye,
    eyeSlash,
    warning,
};

// A small line icon in place of the symbol names the design uses, drawn at the screen's
// pixel ratio.
QIcon glyphIcon(Glyph glyph, const QColor& color, int size = 16);

} // namespace corvel
