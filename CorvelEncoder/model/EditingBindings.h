#pragma once

#include "CorvelEncoderCore/Records.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>

#include <cstdint>
#include <functional>

namespace corvel {

class ActivityFeed;
class DesktopServices;
class JobStore;
class Persistence;
class Sheets;

// What the inspector edits: settings of the selected jobs, the defaults of new jobs, saved
// presets, output folders and the job-file export.
//
// Edits reach the selected jobs that are neither encoding nor paused; with nothing selected,
// the bindings show and change the defaults of new jobs. Preset ids that name no preset, and
// "inline", are ignored.
class EditingBindings final : public QObject
{
    Q_OBJECT

public:
    // The desktop services must outlive it.
    EditingBindings(JobStore& jobs, Persistence& persistence, Sheets& sheets, ActivityFeed& feed,
                    DesktopServices& desktop, QObject* parent = nullptr);
    Q_DISABLE_COPY_MOVE(EditingBindings)

    // The primary job is encoding or paused, so it is shown read-only.
    bool inspectorLocked() const;
    // Applies `change` to every editable job; saves the queue when there was one.
    void mutateEditable(const std::function<void(EncodingJob&)>& change);
    // mutateEditable on the body, then each job's bitrate follows its quality where it should.
    void editBody(const std::function<void(PresetBody&)>& change);

    // What the inspector edits. Getters show the primary job, or the defaults when nothing is
    // selected; the window reads the other fields from the job itself.
    QString presetSelection() const;
    void setPresetSelection(const QString& id);
    void setResolution(ResolutionMode mode);
    void setCustomWidth(int64_t width);
    void setCustomHeight(int64_t height);
    // A frame-rate menu id ("source", "23.976", …, "custom").
    QString frameRateSelection() const;
    void setFrameRateSelection(const QString& id);
    void setAudio(AudioMode mode);
    // Choosing a tier makes the bitrate follow it again.
    void setQuality(QualityTier tier);
    // Megabits per second, kept in 0.5...200; a typed rate no longer follows the quality.
    double bitrate() const;
    void setBitrate(double mbps);
    void setNaming(const QString& pattern);
    bool reveal() const;
    void setReveal(bool on);
    // The number of encodes at once (the scheduler changes it).
    int parallel() const;
    bool dockBounce() const;
    void setDockBounce(bool on);

    // Gives the editable jobs the preset's body (output folder and reveal stay) and makes it
    // the default of new jobs.
    void applyPreset(const QString& id);
    void setDefaultPreset(const QString& id);
    // Opens the save-preset dialog with a name for the primary job's settings.
    void beginSavePreset();
    // Stores the primary job's body under `name` (trimmed; empty does nothing).
    void savePreset(const QString& name);
    // Jobs that used the preset keep their settings and are labelled "Custom".
    void deletePreset(const QUuid& id);
    // The row and inspector label of the job's preset.
    QString presetLabel(const EncodingJob& job) const;

    void chooseOutputFolder();
    void useOutputAsDefault();
    void exportJobFile();
    void writeJobFile(const QList<EncodingJob>& jobs, const QString& path);

private:
    JobStore& m_jobs;
    Persistence& m_persistence;
    Sheets& m_sheets;
    ActivityFeed& m_feed;
    DesktopServices& m_desktop;
};

} // namespace corvel
