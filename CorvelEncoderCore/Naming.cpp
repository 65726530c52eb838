#include "CorvelEncoderCore/Naming.h"

#include "CorvelEncoderCore/CorvelIdentity.h"
#include "CorvelEncoderCore/FrameMath.h"
#include "CorvelEncoderCore/TextRules.h"

#include <QTextBoundaryFinder>

namespace corvel {

namespace {

constexpr qsizetype kMaxNameCharacters = 120;
// File systems limit a name to 255 bytes. The base name leaves room for what is added to it:
// a "-" and a UUID when every numbered name is taken, the extension, and the affixes of the
// hidden name an encode writes into before the file takes its final name.
constexpr qsizetype kMaxNameBytes = 180;

bool isForbidden(char32_t c)
{
    switch (c) {
    case u'/':
    case u':':
    case u'\\':
    case u'?':
    case u'%':
    case u'*':
    case u'|':
    case u'"':
    case u'<':
    case u'>':
        return true;
    default:
        break;
    }
    const QChar::Category category = QChar::category(c);
    return category == QChar::Other_Control || category == QChar::Other_Format || isNewline(c);
}

// The longest run of whole grapheme clusters at the start of `text` with at most `count`
// clusters and `bytes` bytes of UTF-8; nullopt when the whole text fits.
std::optional<QString> truncatedToFit(const QString& text, qsizetype count, qsizetype bytes)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype seen = 0;
    qsizetype cut = 0;
    qsizetype used = 0;
    while (finder.toNextBoundary() != -1) {
        const qsizetype end = finder.position();
        used += QStringView(text).sliced(cut, end - cut).toUtf8().size();
        if (++seen > count || used > bytes)
            return text.left(cut);
        cut = end;
    }
    return std::nullopt;
}

QString withoutLastExtension(QStringView fileName)
{
    const qsizetype dot = fileName.lastIndexOf(u'.');
    return (dot < 0 ? fileName : fileName.first(dot)).toString();
}

} // namespace

const QSet<QString>& videoExtensions()
{
    static const QSet<QString> extensions{
        QStringLiteral("mov"), QStringLiteral("mp4"),  QStringLiteral("m4v"),
        QStringLiteral("mts"), QStringLiteral("m2ts"), QStringLiteral("ts"),
        QStringLiteral("avi"), QStringLiteral("mpg"),  QStringLiteral("mpeg"),
        QStringLiteral("mxf"), QStringLiteral("dv"),   QStringLiteral("3gp"),
        QStringLiteral("3g2"), QStringLiteral("mkv"),  QStringLiteral("webm"),
    };
    return extensions;
}

QString renderName(QStringView pattern, const NameContext& context)
{
    QString text = trimmedText(pattern);
    if (text.isEmpty())
        text = QStringLiteral("{name}");
    // Each replacement runs over the whole text, values of earlier tokens included.
    text.replace(QLatin1StringView("{name}"), context.name);
    text.replace(QLatin1StringView("{preset}"), context.preset);
    text.replace(QLatin1StringView("{codec}"), context.codec);
    text.replace(QLatin1StringView("{resolution}"), context.resolution);
    text.replace(QLatin1StringView("{date}"), context.date);
    return sanitizeFilename(text);
}

QString sanitizeFilename(QStringView text)
{
    QList<uint> scalars = text.toUcs4();
    for (uint& c : scalars) {
        if (isForbidden(c))
            c = u'-';
    }
    QString cleaned =
        QString::fromUcs4(reinterpret_cast<const char32_t*>(scalars.constData()), scalars.size());
    while (cleaned.contains(QLatin1StringView("--")))
        cleaned.replace(QLatin1StringView("--"), QLatin1StringView("-"));
    cleaned = trimmedOf(trimmedText(cleaned), u".");
    if (cleaned.isEmpty() || cleaned == u"-")
        return QStringLiteral("Untitled");
    if (const auto cut = truncatedToFit(cleaned, kMaxNameCharacters, kMaxNameBytes)) {
        cleaned = trimmedOf(*cut, u" .-");
        if (cleaned.isEmpty())
            return QStringLiteral("Untitled");
    }
    return cleaned;
}

QString dateStamp(const QDateTime& date, const QTimeZone& timeZone)
{
    return date.toTimeZone(timeZone).date().toString(QStringLiteral("yyyy-MM-dd"));
}

QString outputFilename(QStringView sourceFileName, const JobSettings& settings, PixelSize pixels,
                       const QString& date)
{
    const NameContext context{
        withoutLastExtension(sourceFileName),
        settings.presetName,
        fileToken(settings.body.codec),
        formatPixels(pixels, u"x"),
        date,
    };
    return renderName(settings.body.namingPattern, context) + u'.' +
           containerExtension(settings.body.codec, settings.body.audio);
}

QString uniqueFileURL(const QString& directory, const QString& base, QStringView ext,
                      const std::function<bool(const QString&)>& fileExists)
{
    const QString e = trimmedOf(ext, u".");
    const QString b = base.isEmpty() ? QStringLiteral("Untitled") : base;
    QString folder = directory;
    if (!folder.endsWith(u'/'))
        folder.append(u'/');
    auto pathFor = [&](const QString& name) {
        return folder + name + u'.' + e;
    };

    const QString first = pathFor(b);
    if (!fileExists(first))
        return first;
    for (int n = 2; n <= 9999; ++n) {
        const QString candidate = pathFor(b + u'-' + QString::number(n));
        if (!fileExists(candidate))
            return candidate;
    }
    return pathFor(b + u'-' + uuidString(QUuid::createUuid()));
}

bool isVideoFilePath(QStringView path)
{
    const QStringView fileName = path.sliced(path.lastIndexOf(u'/') + 1);
    const qsizetype dot = fileName.lastIndexOf(u'.');
    if (dot < 0)
        return false;
    return videoExtensions().contains(fileName.sliced(dot + 1).toString().toLower());
}

std::optional<QString> senderDisplayName(const std::optional<QString>& sender)
{
    if (!sender)
        return std::nullopt;
    const QString trimmed = trimmedText(*sender);
    if (trimmed.isEmpty())
        return std::nullopt;
    const QString lower = trimmed.toLower();
    if (lower == QString(CorvelIdentity::briskBundleID).toLower() || lower == u"corvel brisk" ||
        lower == u"corvelbrisk" || lower.contains(u"brisk"))
        return QString(CorvelIdentity::briskName);
    return trimmed;
}

} // namespace corvel
