#include "CorvelEncoderCore/JobTexts.h"

#include "CorvelEncoderCore/FrameMath.h"
#include "CorvelEncoderCore/Naming.h"
#include "CorvelEncoderCore/PresetConstants.h"
#include "CorvelEncoderCore/Presets.h"

#include <QTimeZone>

#include <algorithm>
#include <cmath>

namespace corvel {

namespace {

const QString kSeparator = QStringLiteral("  \u00B7  ");
const QString kTimes = QStringLiteral("\u00D7");

} // namespace

QString presetLabel(const EncodingJob& job, const QList<SavedPreset>& saved)
{
    const JobSettings& settings = job.settings;
    if (const auto body = presetBody(settings.presetID, saved);
        body && samePresetChoices(settings.body, *body))
        return settings.presetName;
    if (settings.presetName == kCustomPresetName)
        return settings.presetName;
    return settings.presetName + QStringLiteral(" \u00B7 Edited");
}

QString previewFilename(const EncodingJob& job, const QDateTime& now)
{
    return outputFilename(job.sourceName(), job.settings,
                          predictedPixels(job.sourceInfo, job.settings.body),
                          dateStamp(now, QTimeZone::systemTimeZone()));
}

QString summaryLine(const EncodingJob& job)
{
    const PresetBody& body = job.settings.body;
    const std::optional<double> sourceFPS =
        job.sourceInfo ? std::optional(job.sourceInfo->frameRate) : std::nullopt;
    double fps = body.frameRate.exactRate().value_or(sourceFPS.value_or(kFallbackFrameRate));
    fps = std::clamp(std::isnan(fps) ? kFallbackFrameRate : fps, kMinFrameRate, kMaxFrameRate);

    QStringList parts{
        formatPixels(predictedPixels(job.sourceInfo, body), kTimes),
        formatFPS(fps) + QStringLiteral(" fps"),
        displayName(body.codec),
    };
    if (usesBitrate(body.codec))
        parts << QString::asprintf("%.1f Mbps", body.bitrateMbps);
    parts << label(body.audio) << containerExtension(body.codec, body.audio).toUpper();
    return parts.join(kSeparator);
}

std::optional<QString> alphaNote(const EncodingJob& job)
{
    if (!job.sourceInfo)
        return std::nullopt;
    const bool sourceAlpha = job.sourceInfo->hasAlpha;
    const bool codecAlpha = keepsAlpha(job.settings.body.codec);
    if (sourceAlpha && codecAlpha)
        return QStringLiteral("Alpha will be kept.");
    if (sourceAlpha)
        return QStringLiteral("This preset does not keep alpha. The matte will be dropped.");
    if (codecAlpha)
        return QStringLiteral("The source has no alpha channel.");
    return std::nullopt;
}

std::optional<QString> dynamicRangeLabel(const SourceInfo& info)
{
    switch (info.dynamicRange) {
    case DynamicRange::hlg:
        return QStringLiteral("HDR \u00B7 HLG");
    case DynamicRange::pq:
        return QStringLiteral("HDR \u00B7 PQ");
    case DynamicRange::hdr10:
        return QStringLiteral("HDR10");
    case DynamicRange::dolbyVision:
        return QStringLiteral("Dolby Vision");
    case DynamicRange::sdr:
        break;
    }
    if (info.bitDepth > 8)
        return QStringLiteral("%1-bit").arg(info.bitDepth);
    return std::nullopt;
}

std::optional<QString> dynamicRangeNote(const EncodingJob& job)
{
    if (!job.sourceInfo || !isHdr(job.sourceInfo->dynamicRange))
        return std::nullopt;
    const DynamicRange range = job.sourceInfo->dynamicRange;
    const QString what = range == DynamicRange::hlg           ? QStringLiteral("HDR (HLG)")
                         : range == DynamicRange::dolbyVision ? QStringLiteral("Dolby Vision")
                                                              : QStringLiteral("HDR (PQ)");
    // Only these write 8-bit pictures, where HDR code values would show washed out.
    const Codec codec = job.settings.body.codec;
    if (codec == Codec::h264 || codec == Codec::hevcWithAlpha)
        return what + QStringLiteral(" will be converted to SDR.");
    if (range == DynamicRange::dolbyVision)
        return QStringLiteral("HDR will be kept; the Dolby Vision layer will not.");
    return what + QStringLiteral(" will be kept.");
}

QString sourceLine(const EncodingJob& job)
{
    if (!job.sourceInfo)
        return job.probing ? QStringLiteral("Reading source\u2026")
                           : QStringLiteral("Source not read");
    const SourceInfo& info = *job.sourceInfo;
    QStringList parts{formatPixels({info.width, info.height}, kTimes), formatFPS(info.frameRate),
                      formatClock(info.duration)};
    if (const auto range = dynamicRangeLabel(info))
        parts << *range;
    if (info.hasAlpha)
        parts << QStringLiteral("alpha");
    if (!info.hasAudio)
        parts << QStringLiteral("no audio");
    return parts.join(kSeparator);
}

} // namespace corvel
