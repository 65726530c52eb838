#include "CorvelEncoderCore/Records.h"

#include <QHashFunctions>

#include <utility>

namespace corvel {

namespace {

constexpr std::pair<DynamicRange, const char*> kRangeNames[] = {
    {DynamicRange::sdr, "sdr"},
    {DynamicRange::hlg, "hlg"},
    {DynamicRange::pq, "pq"},
    {DynamicRange::hdr10, "hdr10"},
    {DynamicRange::dolbyVision, "dolbyVision"},
};

} // namespace

bool isHdr(DynamicRange range)
{
    return range != DynamicRange::sdr;
}

QString rangeName(DynamicRange range)
{
    for (const auto& [value, name] : kRangeNames) {
        if (value == range)
            return QString::fromLatin1(name);
    }
    return QStringLiteral("sdr");
}

DynamicRange rangeFromName(const QString& name)
{
    for (const auto& [value, text] : kRangeNames) {
        if (name == QLatin1StringView(text))
            return value;
    }
    return DynamicRange::sdr;
}

size_t qHash(const PixelSize& size, size_t seed) noexcept
{
    return qHashMulti(seed, size.width, size.height);
}

QString EncodingJob::sourceName() const
{
    // A trailing separator does not hide the last component: /a/b/ names b.
    QStringView path(sourcePath);
    while (path.size() > 1 && path.endsWith(u'/'))
        path.chop(1);
    const qsizetype slash = path.lastIndexOf(u'/');
    if (slash < 0 || path.size() == 1)
        return path.toString();
    return path.mid(slash + 1).toString();
}

QString uuidString(const QUuid& id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

} // namespace corvel
