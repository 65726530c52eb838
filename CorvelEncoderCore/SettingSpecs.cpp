#include "CorvelEncoderCore/SettingSpecs.h"

#include "CorvelEncoderCore/DecimalText.h"
#include "CorvelEncoderCore/TextRules.h"

#include <QString>

namespace corvel {

namespace {

QString folded(QStringView text)
{
    return trimmedText(text).toLower();
}

bool isOneOf(const QString& text, std::initializer_list<const char*> words)
{
    for (const char* word : words) {
        if (text == QLatin1StringView(word))
            return true;
    }
    return false;
}

std::optional<int64_t> positiveInteger(QStringView text)
{
    const auto value = parseDecimalInteger(text);
    if (!value || *value <= 0)
        return std::nullopt;
    return value;
}

} // namespace

std::optional<ResolutionSpec> parseResolutionSpec(QStringView text)
{
    QString t = folded(text);
    t.replace(QChar(0x00D7), u'x'); // the multiplication sign
    t.remove(u' ');
    if (isOneOf(t, {"source", "original", "native"}))
        return ResolutionSpec{ResolutionMode::source, {}, {}};
    if (isOneOf(t, {"4k", "uhd", "2160p", "3840x2160"}))
        return ResolutionSpec{ResolutionMode::uhd4k, {}, {}};
    if (isOneOf(t, {"1080p", "hd", "fhd", "1920x1080"}))
        return ResolutionSpec{ResolutionMode::hd1080, {}, {}};
    if (isOneOf(t, {"720p", "1280x720"}))
        return ResolutionSpec{ResolutionMode::hd720, {}, {}};
    if (t == u"custom")
        return ResolutionSpec{ResolutionMode::custom, {}, {}};

    const QList<QStringView> pieces = QStringView(t).split(u'x', Qt::SkipEmptyParts);
    if (pieces.size() != 2)
        return std::nullopt;
    const auto width = positiveInteger(pieces[0]);
    const auto height = positiveInteger(pieces[1]);
    if (!width || !height)
        return std::nullopt;
    return ResolutionSpec{ResolutionMode::custom, width, height};
}

std::optional<AudioMode> parseAudioSpec(QStringView text)
{
    const QString t = folded(text);
    if (t == u"aac")
        return AudioMode::aac;
    if (isOneOf(t, {"pcm", "lpcm", "linearpcm", "linear pcm"}))
        return AudioMode::pcm;
    return std::nullopt;
}

std::optional<QualityTier> parseQualitySpec(QStringView text)
{
    const QString t = folded(text);
    if (t == u"low")
        return QualityTier::low;
    if (isOneOf(t, {"medium", "med"}))
        return QualityTier::medium;
    if (t == u"high")
        return QualityTier::high;
    if (isOneOf(t, {"veryhigh", "very high", "very-high", "max"}))
        return QualityTier::veryHigh;
    return std::nullopt;
}

} // namespace corvel
