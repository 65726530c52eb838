#include "CorvelEncoder/ui/JobRowTexts.h"

#include "CorvelEncoder/ui/Theme.h"
#include "CorvelEncoderCore/FrameMath.h"

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
    if (job.hardwareEncoder == false)
        return QStringLiteral("Software");
    if (const std::optional<QString> eta = formatETA(job.etaSeconds))
        return *eta;
    return QStringLiteral("Hardware");
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
