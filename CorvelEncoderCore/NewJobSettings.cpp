#include "CorvelEncoderCore/NewJobSettings.h"

#include "CorvelEncoderCore/PresetConstants.h"
#include "CorvelEncoderCore/Presets.h"

namespace corvel {

JobSettings settingsFromPreset(const QString& presetID, const QList<SavedPreset>& saved,
                               const QString& outputDirectory, bool revealWhenDone)
{
    const QString id = presetBody(presetID, saved) ? presetID : kFallbackPresetID;
    JobSettings settings;
    settings.presetID = id;
    settings.body = presetBody(id, saved).value_or(PresetBody::standard());
    settings.presetName = presetDisplayName(id, saved).value_or(kFallbackPresetName);
    // Until the source is read, 1920 by 1080 at 24 fps stands in for its size and rate.
    if (const auto mbps = automaticBitrateMbps(settings.body, std::nullopt, std::nullopt))
        settings.body.bitrateMbps = *mbps;
    settings.outputDirectory = outputDirectory;
    settings.revealWhenDone = revealWhenDone;
    return settings;
}

} // namespace corvel
