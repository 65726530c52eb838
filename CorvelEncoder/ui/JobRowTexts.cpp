#include "CorvelEncoder/ui/JobRowTexts.h"

#include "CorvelEncoder/ui/Theme.h"
#include "CorvelEncoderCore/FrameMath.h"
#include "CorvelEncoderCore/JobTexts.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>

namespace corvel::JobRowTexts {

QString statusTitle(JobStatus status)
{
    return label(status);
}

QColor statusColor(JobStatus status)
{
    switch (status) {
    case JobStatus::queued:
        return Theme::mute();
    case JobStatus::encoding:
        return Theme::accent();
    case JobStatus::paused:
        return Theme::warn();
    case JobStatus::completed:
        return Theme::ok();
    case JobStatus::failed:
        return Theme::bad();
    case JobStatus::cancelled:
        return Theme::dim();
    }
    return Theme::mute();
}

bool showsProgress(const EncodingJob& job)
{
    return job.status == JobStatus::encoding || job.status == JobStatus::paused ||
           job.status == JobStatus::completed;
}

double barFraction(const EncodingJob& job)
{
    if (job.status == JobStatus::completed)
        return 1.0;
    if (!(job.progress > 0)) // NaN draws empty too
        return 0.0;
    return std::min(job.progress, 1.0);
}

QColor barColor(JobStatus status)
{
    switch (status) {
    case JobStatus::paused:
        return Theme::warn();
    case JobStatus::completed:
        return Theme::ok();
    default:
        return Theme::accent();
    }
}

QString percentText(const EncodingJob& job)
{
    if (job.status == JobStatus::completed)
        return QStringLiteral("100%");
    if (!(job.progress > 0))
        return QStringLiteral("Starting");
    // std::round rounds halves away from zero.
    return QStringLiteral("%1%").arg(qint64(std::round(job.progress * 100)));
}

QString detailText(const EncodingJob& job)
{
    if (job.status == JobStatus::paused)
        return QStringLiteral("Paused");
    if (job.status == JobStatus::completed)
        return QStringLiteral("In Folder");
    if (const std::optional<QString> eta = formatETA(job.etaSeconds))
        return *eta;
    return job.hardwareEncoder == false ? QStringLiteral("Software") : QStringLiteral("Hardware");
}

std::optional<QString> speedText(const EncodingJob& job)
{
    if (job.status != JobStatus::encoding || !job.sourceInfo || !job.etaSeconds)
        return std::nullopt;
    const double left = (1.0 - std::clamp(job.progress, 0.0, 1.0)) * job.sourceInfo->duration;
    const double eta = *job.etaSeconds;
    if (!(left > 0) || !(eta > 0) || !std::isfinite(left / eta))
        return std::nullopt;
    return QStringLiteral("%1\u00D7").arg(left / eta, 0, 'f', left / eta < 10 ? 1 : 0);
}

std::optional<QString> encoderText(const EncodingJob& job)
{
    if (!job.hardwareEncoder)
        return std::nullopt;
    return *job.hardwareEncoder ? QStringLiteral("Hardware encoder")
                                : QStringLiteral("Software encoder");
}

QString outputName(const EncodingJob& job)
{
    if (job.outputPath && !job.outputPath->isEmpty())
        return QFileInfo(*job.outputPath).fileName();
    return previewFilename(job);
}

std::optional<QString> failureText(const EncodingJob& job)
{
    if (job.status != JobStatus::failed || !job.errorMessage)
        return std::nullopt;
    return job.errorMessage;
}

bool offersReveal(const EncodingJob& job)
{
    return job.status == JobStatus::completed;
}

} // namespace corvel::JobRowTexts
