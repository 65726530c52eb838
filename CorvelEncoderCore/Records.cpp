#include "CorvelEncoderCore/Records.h"

#include <QHashFunctions>

namespace corvel {

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
