#pragma once

#include "CorvelEncoderCore/AppSettings.h"
#include "CorvelEncoderCore/Records.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <functional>
#include <memory>

namespace corvel {

class ActivityFeed;
class JobStore;
class ModelClock;
class ModelTimer;
class StateStore;

// The settings and saved presets, and the three state files: "settings.json" and
// "presets.json" are written on every change, "queue.json" 0.4 s after the job store last
// asked, or at once when it asks for that.
class Persistence final : public QObject
{
    Q_OBJECT

public:
    // `store` must outlive it. `defaultOutputDirectory` is the output folder of default settings.
    Persistence(StateStore& store, QString defaultOutputDirectory, JobStore& jobs,
                ActivityFeed& feed, ModelClock& clock, QObject* parent = nullptr);
    ~Persistence() override;
    Q_DISABLE_COPY_MOVE(Persistence)

    // Reads the three files; jobs an encode left unfinished go back to queued. Called once,
    // before anything else touches the jobs.
    void restore();

    const AppSettings& settings() const { return m_settings; }
    // Changes settings and writes "settings.json" at once.
    void updateSettings(const std::function<void(AppSettings&)>& change);
    const QList<SavedPreset>& savedPresets() const { return m_savedPresets; }
    // Replaces the saved presets and writes "presets.json" at once.
    void setSavedPresets(const QList<SavedPreset>& presets);

    // Writes "queue.json" 0.4 s after the last call.
    void scheduleSave();
    // Writes "queue.json" now, with encoding and paused jobs stored as queued.
    void writeQueue();
    void writeSettings();
    // From now on only explicit writes happen; a pending save is dropped.
    void stopSaving();

signals:
    void settingsChanged();
    void savedPresetsChanged();

private:
    void writePresets();
    // Writes one state file; a failure is logged as an error once, until a save of that file
    // succeeds again.
    void saveStateFile(const QString& name, const QByteArray& data);

    StateStore& m_store;
    QString m_defaultOutputDirectory;
    JobStore& m_jobs;
    ActivityFeed& m_feed;
    AppSettings m_settings;
    QList<SavedPreset> m_savedPresets;
    std::unique_ptr<ModelTimer> m_saveTimer;
    // A state file that existed but could not be read is copied aside before it is replaced.
    bool m_queueFileUnreadable = false;
    bool m_presetsFileUnreadable = false;
    QSet<QString> m_failedSaves;
    bool m_stopped = false;
};

} // namespace corvel
