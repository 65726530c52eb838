#pragma once

#include "CorvelEncoderCore/JsonCoding.h"
#include "CorvelEncoderCore/PresetConstants.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

namespace corvel {

// The persisted application settings, stored whole in "settings.json".
struct AppSettings
{
    static constexpr int kMinParallel = 1;
    static constexpr int kMaxParallel = 4;

    int maxParallel = 2; // kept in kMinParallel...kMaxParallel
    QString defaultOutputDirectory;
    bool revealWhenDone = true;
    QString lastPresetID = kFallbackPresetID;
    bool watchEnabled = false;
    QString watchFolder;
    QString watchOutputDirectory;
    QString watchPresetID = kFallbackPresetID;
    bool watchProcessExisting = false;
    bool dockBounceWhenIdle = true;
    bool hasSeenIntro = false;
    QStringList seenWatchKeys; // files the watch took into the queue
    // Files noted as present when a watch began without taking what was there: never taken,
    // so a watch that processes existing files still encodes them.
    QStringList notedWatchKeys;

    // Every default, with the given folder for new jobs' output.
    static AppSettings defaults(const QString& defaultOutputDirectory);
    static int clampParallel(int value);

    friend bool operator==(const AppSettings&, const AppSettings&) = default;
};

// All thirteen keys are written; notedWatchKeys may be missing from older files.
QJsonObject toJson(const AppSettings& settings);
QByteArray encodeSettings(const AppSettings& settings);
// Strict: every key must be present with its JSON type, or the whole file is rejected.
Decoded<AppSettings> decodeSettings(const QByteArray& data);

} // namespace corvel
