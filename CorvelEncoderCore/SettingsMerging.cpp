#include "CorvelEncoderCore/SettingsMerging.h"

#include "CorvelEncoderCore/Presets.h"
#include "CorvelEncoderCore/TextRules.h"

namespace corvel {

std::expected<JobSettings, JobBuildError> settingsByMerging(const ParsedJob& job,
                                                            const JobSettings& defaults,
                                                            const QList<SavedPreset>& saved)
{
    if (trimmedText(job.sourcePath).isEmpty())
        return std::unexpected(JobBuildError::emptySource());

    JobSettings settings = defaults;
    if (job.presetRaw) {
        const QString& raw = *job.presetRaw;
        const auto id = resolvePresetID(raw, saved);
        const auto body = id ? presetBody(*id, saved) : std::nullopt;
        if (!body)
            return std::unexpected(JobBuildError::unknownPreset(raw));
        settings.body = *body;
        settings.presetID = *id;
        settings.presetName = presetDisplayName(*id, saved).value_or(raw);
    }

    PresetBody& body = settings.body;
    if (job.resolution)
        body.resolution = *job.resolution;
    if (job.customWidth)
        body.customWidth = *job.customWidth;
    if (job.customHeight)
        body.customHeight = *job.customHeight;
    if (job.frameRate)
        body.frameRate = *job.frameRate;
    if (job.audio)
        body.audio = *job.audio;
    if (job.namingPattern)
        body.namingPattern = *job.namingPattern;
    if (job.quality) {
        body.quality = *job.quality;
        body.bitrateFollowsQuality = true;
    }
    // After quality: an exact bitrate wins over a tier given with it.
    if (job.bitrateMbps) {
        body.bitrateMbps = *job.bitrateMbps;
        body.bitrateFollowsQuality = false;
    }
    if (job.outputDirectory)
        settings.outputDirectory = *job.outputDirectory;
    if (job.revealWhenDone)
        settings.revealWhenDone = *job.revealWhenDone;

    if (const auto automatic = automaticBitrateMbps(body, std::nullopt, std::nullopt))
        body.bitrateMbps = *automatic;
    return settings;
}

} // namespace corvel
