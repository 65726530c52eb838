#pragma once

#include "CorvelEncoderCore/Records.h"

#include <QList>
#include <QString>

namespace corvel {

// The settings of a job added by hand or by the watch folder: the preset `presetID` names
// (ProRes 422 HQ when it names none), its automatic bitrate for a source not yet read, and the
// given output folder and reveal choice.
JobSettings settingsFromPreset(const QString& presetID, const QList<SavedPreset>& saved,
                               const QString& outputDirectory, bool revealWhenDone);

} // namespace corvel
