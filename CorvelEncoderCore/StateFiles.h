#pragma once

#include "CorvelEncoderCore/JsonCoding.h"
#include "CorvelEncoderCore/Records.h"

#include <QByteArray>
#include <QLatin1StringView>
#include <QList>

namespace corvel {

// The three state files, all directly in the support folder.
inline constexpr QLatin1StringView kSettingsFileName{"settings.json"};
inline constexpr QLatin1StringView kPresetsFileName{"presets.json"};
inline constexpr QLatin1StringView kQueueFileName{"queue.json"};
// Beside them, the output files of encodes still running (see OutputJournal).
inline constexpr QLatin1StringView kOutputJournalFileName{"outputs.journal"};
// Appended to a state file's name for the copy kept of a file that could not be read.
inline constexpr QLatin1StringView kUnreadableSuffix{".unreadable"};

// The stored queue: {"version": 1, "jobs": [...]}, jobs in queue order.
struct QueueFile
{
    int version = 1;
    QList<EncodingJob> jobs;
};

// The stored presets: {"version": 1, "presets": [...]}.
struct PresetFile
{
    int version = 1;
    QList<SavedPreset> presets;
};

// Written compact, always as version 1.
QByteArray encodeQueueFile(const QList<EncodingJob>& jobs);
QByteArray encodePresetFile(const QList<SavedPreset>& presets);
// `version` must be an integer but any value is accepted; one record that does not decode
// rejects the whole file.
Decoded<QueueFile> decodeQueueFile(const QByteArray& data);
Decoded<PresetFile> decodePresetFile(const QByteArray& data);

} // namespace corvel
