#include "CorvelEncoderCore/TextRules.h"

#include <QChar>

namespace corvel {

bool isNewline(char32_t c)
{
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

bool isWhitespaceOrNewline(char32_t c)
{
    return c == u'\t' || isNewline(c) || QChar::category(c) == QChar::Separator_Space;
}

QString trimmedText(QStringView text)
{
    // Walk by code points from both ends; every such character lies in the BMP.
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isWhitespaceOrNewline(text[begin].unicode()))
        ++begin;
    while (end > begin && isWhitespaceOrNewline(text[end - 1].unicode()))
        --end;
    return text.sliced(begin, end - begin).toString();
}

QString trimmedOf(QStringView text, QStringView set)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && set.contains(text[begin]))
        ++begin;
    while (end > begin && set.contains(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin).toString();
}

namespace {

QString foldedWithoutMarks(QStringView text)
{
    const QString decomposed = text.toString().normalized(QString::NormalizationForm_D);
    return filteredCodePoints(decomposed, [](char32_t c) { return !QChar::isMark(c); })
        .toCaseFolded();
}

} // namespace

bool equalIgnoringCaseAndDiacritics(QStringView a, QStringView b)
{
    return foldedWithoutMarks(a) == foldedWithoutMarks(b);
}

} // namespace corvel
