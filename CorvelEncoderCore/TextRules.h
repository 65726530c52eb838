#pragma once

#include <QList>
#include <QString>
#include <QStringView>

namespace corvel {

// Unicode whitespace (separators and tabs) and newline characters.
bool isWhitespaceOrNewline(char32_t c);
bool isNewline(char32_t c);

// Both ends stripped of whitespace and newlines.
QString trimmedText(QStringView text);
// Both ends stripped of the characters in `set` (compared as UTF-16 units, so BMP only).
QString trimmedOf(QStringView text, QStringView set);

// A copy of `text` keeping only the code points `keep` accepts.
template <class Predicate>
QString filteredCodePoints(QStringView text, Predicate keep)
{
    QList<uint> kept;
    for (const uint c : text.toUcs4()) {
        if (keep(char32_t(c)))
            kept.append(c);
    }
    return QString::fromUcs4(reinterpret_cast<const char32_t*>(kept.constData()), kept.size());
}

// Equal ignoring case and diacritics, with no locale.
bool equalIgnoringCaseAndDiacritics(QStringView a, QStringView b);

} // namespace corvel
