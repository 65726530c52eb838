#include "cli/EncodedBefore.h"

#include "CorvelEncoder/engine/InspectMedia.h"
#include "CorvelEncoderCore/JobTexts.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cmath>

namespace corvel {

bool isCompleteMovie(const QString& path, double sourceDuration)
{
    if (!QFileInfo(path).isFile() || !(sourceDuration > 0))
        return false;
    const auto media = inspectMedia(path);
    if (!media)
        return false;
    const double tolerance = std::clamp(sourceDuration * 0.02, 0.1, 1.0);
    return std::abs(media->duration - sourceDuration) <= tolerance;
}

std::optional<QString> encodedBefore(const EncodingJob& job)
{
    if (!job.sourceInfo || job.settings.outputDirectory.isEmpty())
        return std::nullopt;
    const QString path = QDir(job.settings.outputDirectory).filePath(previewFilename(job));
    if (!isCompleteMovie(path, job.sourceInfo->duration))
        return std::nullopt;
    return path;
}

} // namespace corvel
