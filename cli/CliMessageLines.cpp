#include "cli/CliMessageLines.h"

#include <QLocale>
#include <QRegularExpression>

namespace corvel {

QString escapedControls(const QString& text)
{
    static const QRegularExpression colour(QStringLiteral("\\x1b\\[[0-9;]*m"));
    QString escaped;
    escaped.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\x1b' && colour
                                .match(text, i, QRegularExpression::NormalMatch,
                                       QRegularExpression::AnchorAtOffsetMatchOption)
                                .hasMatch())
            escaped += c;
        else if (c == u'\n')
            escaped += QStringLiteral("\\n");
        else if (c == u'\r')
            escaped += QStringLiteral("\\r");
        else if (c == u'\t')
            escaped += QStringLiteral("\\t");
        else if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            escaped += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QChar(u'0'));
        else
            escaped += c;
    }
    return escaped;
}

void writeLine(FILE* out, const QString& text)
{
    const QByteArray line = escapedControls(text).toUtf8();
    std::fwrite(line.constData(), 1, size_t(line.size()), out);
    std::fputc('\n', out);
    // Scripts and logs read the lines as they come.
    std::fflush(out);
}

QString skippedText(const QString& input, const QString& reason)
{
    return input + QStringLiteral(": ") + reason;
}

bool MessageLines::isNew(const QString& text)
{
    for (const QString& failure : std::as_const(m_failures)) {
        if (text.endsWith(failure))
            return false;
    }
    if (text == m_last)
        return false;
    m_last = text;
    return true;
}

bool MessageLines::failure(const EncodingJob& job)
{
    const QString error = job.errorMessage.value_or(QString());
    if (!error.isEmpty())
        m_failures.insert(error);
    m_last = QStringLiteral("Failed %1: %2").arg(job.sourceName(), error);
    if (++m_alike[error] <= kShownAlike)
        return true;
    if (!m_alikeOrder.contains(error))
        m_alikeOrder.append(error);
    return false;
}

QStringList MessageLines::unshownFailures() const
{
    QStringList lines;
    for (const QString& error : m_alikeOrder)
        lines.append(
            QStringLiteral("Failed %1 more: %2")
                .arg(QLocale(QLocale::English).toString(m_alike.value(error) - kShownAlike),
                     error));
    return lines;
}

} // namespace corvel
