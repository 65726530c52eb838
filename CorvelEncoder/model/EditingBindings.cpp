#include "CorvelEncoder/model/EditingBindings.h"
#include "CorvelEncoderCore/CorvelIdentity.h"

#include "CorvelEncoder/model/ActivityFeed.h"
#include "CorvelEncoder/model/DesktopServices.h"
#include "CorvelEncoder/model/DirectoryChooser.h"
#include "CorvelEncoder/model/JobStore.h"
#include "CorvelEncoder/model/Persistence.h"
#include "CorvelEncoder/model/Sheets.h"
#include "CorvelEncoderCore/FrameMath.h"
#include "CorvelEncoderCore/JobFileWriter.h"
#include "CorvelEncoderCore/JobTexts.h"
#include "CorvelEncoderCore/PresetConstants.h"
#include "CorvelEncoderCore/Presets.h"

#include <QFileInfo>
#include <QPointer>

#include <algorithm>
#include <cmath>

namespace corvel {

namespace {

// A bitrate that follows the quality is recomputed from the probed source, or from 1920 by
// 1080 at 24 fps while the source is unread.
void followQuality(EncodingJob& job)
{
    std::optional<PixelSize> size;
    std::optional<double> fps;
    if (job.sourceInfo) {
        size = PixelSize{job.sourceInfo->width, job.sourceInfo->height};
        fps = job.sourceInfo->frameRate;
    }
    if (const auto mbps = automaticBitrateMbps(job.settings.body, size, fps))
        job.settings.body.bitrateMbps = *mbps;
}

// The export names each job's preset, and the importer takes the codec from that preset alone.
// A name that no longer resolves to a preset of the job's codec ("Custom", a deleted or
// renamed saved preset) would make the entry fail to import or change its codec, so such jobs
// name the built-in preset of their codec instead; every other field travels on its own.
QList<EncodingJob> withImportablePresetNames(QList<EncodingJob> jobs,
                                             const QList<SavedPreset>& saved)
{
    for (EncodingJob& job : jobs) {
        JobSettings& settings = job.settings;
        const auto id = resolvePresetID(settings.presetName, saved);
        const auto body = id ? presetBody(*id, saved) : std::nullopt;
        if (body && body->codec == settings.body.codec)
            continue;
        for (const BuiltinPreset& builtin : BuiltinPreset::all()) {
            if (builtin.body.codec == settings.body.codec) {
                settings.presetName = builtin.name;
                break;
            }
        }
    }
    return jobs;
}

} // namespace

EditingBindings::EditingBindings(JobStore& jobs, Persistence& persistence, Sheets& sheets,
                                 ActivityFeed& feed, DesktopServices& desktop, QObject* parent)
    : QObject(parent), m_jobs(jobs), m_persistence(persistence), m_sheets(sheets), m_feed(feed),
      m_desktop(desktop)
{}

// Which jobs an edit reaches

bool EditingBindings::inspectorLocked() const
{
    const auto primary = m_jobs.primaryJob();
    return primary && isLockedStatus(primary->status);
}

void EditingBindings::mutateEditable(const std::function<void(EncodingJob&)>& change)
{
    const QList<QUuid> ids = m_jobs.editableIDs();
    for (const QUuid& id : ids)
        m_jobs.update(id, change);
    if (!ids.isEmpty())
        m_jobs.requestSave();
}

void EditingBindings::editBody(const std::function<void(PresetBody&)>& change)
{
    mutateEditable([&change](EncodingJob& job) {
        change(job.settings.body);
        followQuality(job);
    });
}

// Bindings

QString EditingBindings::presetSelection() const
{
    if (const auto primary = m_jobs.primaryJob()) {
        const JobSettings& settings = primary->settings;
        const auto body = presetBody(settings.presetID, m_persistence.savedPresets());
        if (body && samePresetChoices(settings.body, *body))
            return settings.presetID;
        return kInlinePresetID;
    }
    // New jobs fall back to ProRes 422 HQ when the stored default names no preset any more,
    // so the defaults menu shows that rather than nothing.
    if (presetBody(m_persistence.settings().lastPresetID, m_persistence.savedPresets()))
        return m_persistence.settings().lastPresetID;
    return kFallbackPresetID;
}

void EditingBindings::setPresetSelection(const QString& id)
{
    if (m_jobs.primaryJob())
        applyPreset(id);
    else
        setDefaultPreset(id);
}

namespace {

PresetBody shownBody(const std::optional<EncodingJob>& primary)
{
    return primary ? primary->settings.body : PresetBody::standard();
}

} // namespace

void EditingBindings::setResolution(ResolutionMode mode)
{
    editBody([mode](PresetBody& body) { body.resolution = mode; });
}

void EditingBindings::setCustomWidth(int64_t width)
{
    editBody([width](PresetBody& body) { body.customWidth = width; });
}

void EditingBindings::setCustomHeight(int64_t height)
{
    editBody([height](PresetBody& body) { body.customHeight = height; });
}

QString EditingBindings::frameRateSelection() const
{
    return frameRateOptionID(shownBody(m_jobs.primaryJob()).frameRate);
}

void EditingBindings::setFrameRateSelection(const QString& id)
{
    // "custom" is on the menu only while the primary job has a rate off the standard list.
    const QList<FrameRateOption> menu = frameRateMenu(shownBody(m_jobs.primaryJob()).frameRate);
    const auto option = std::find_if(menu.cbegin(), menu.cend(),
                                     [&id](const FrameRateOption& o) { return o.id == id; });
    if (option == menu.cend())
        return;
    const FrameRateMode mode = option->mode;
    editBody([mode](PresetBody& body) { body.frameRate = mode; });
}

void EditingBindings::setAudio(AudioMode mode)
{
    editBody([mode](PresetBody& body) { body.audio = mode; });
}

void EditingBindings::setQuality(QualityTier tier)
{
    editBody([tier](PresetBody& body) {
        body.quality = tier;
        body.bitrateFollowsQuality = true;
    });
}

double EditingBindings::bitrate() const
{
    return shownBody(m_jobs.primaryJob()).bitrateMbps;
}

void EditingBindings::setBitrate(double mbps)
{
    // A half-typed field can hand over NaN; it would pass the clamp and reach the encoder.
    if (!std::isfinite(mbps))
        return;
    const double value = std::clamp(mbps, kMinBitrateMbps, kMaxBitrateMbps);
    editBody([value](PresetBody& body) {
        body.bitrateMbps = value;
        body.bitrateFollowsQuality = false;
    });
}

void EditingBindings::setNaming(const QString& pattern)
{
    editBody([&pattern](PresetBody& body) { body.namingPattern = pattern; });
}

bool EditingBindings::reveal() const
{
    if (const auto primary = m_jobs.primaryJob())
        return primary->settings.revealWhenDone;
    return m_persistence.settings().revealWhenDone;
}

void EditingBindings::setReveal(bool on)
{
    if (!m_jobs.primaryJob()) {
        m_persistence.updateSettings([on](AppSettings& s) { s.revealWhenDone = on; });
        return;
    }
    mutateEditable([on](EncodingJob& job) { job.settings.revealWhenDone = on; });
}

int EditingBindings::parallel() const
{
    return m_persistence.settings().maxParallel;
}

bool EditingBindings::dockBounce() const
{
    return m_persistence.settings().dockBounceWhenIdle;
}

void EditingBindings::setDockBounce(bool on)
{
    m_persistence.updateSettings([on](AppSettings& s) { s.dockBounceWhenIdle = on; });
}

// Presets

void EditingBindings::applyPreset(const QString& id)
{
    if (id == kInlinePresetID)
        return;
    const auto body = presetBody(id, m_persistence.savedPresets());
    if (!body)
        return;
    const QString name =
        presetDisplayName(id, m_persistence.savedPresets()).value_or(QStringLiteral("Preset"));
    mutateEditable([&](EncodingJob& job) {
        job.settings.presetID = id;
        job.settings.presetName = name;
        job.settings.body = *body;
        followQuality(job);
    });
    m_persistence.updateSettings([&id](AppSettings& s) { s.lastPresetID = id; });
}

void EditingBindings::setDefaultPreset(const QString& id)
{
    if (id == kInlinePresetID || !presetBody(id, m_persistence.savedPresets()))
        return;
    m_persistence.updateSettings([&id](AppSettings& s) { s.lastPresetID = id; });
}

void EditingBindings::beginSavePreset()
{
    const auto primary = m_jobs.primaryJob();
    if (!primary)
        return;
    const QString& current = primary->settings.presetName;
    m_sheets.openSavePreset(current == kCustomPresetName ? QStringLiteral("Preset") : current);
}

void EditingBindings::savePreset(const QString& name)
{
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty())
        return;
    const auto primary = m_jobs.primaryJob();
    if (!primary)
        return;

    SavedPreset preset{QUuid::createUuid(), trimmed, primary->settings.body};
    QList<SavedPreset> presets = m_persistence.savedPresets();
    presets.append(preset);
    m_persistence.setSavedPresets(presets);

    const QString id = savedPresetID(preset);
    m_jobs.update(primary->id, [&](EncodingJob& job) {
        job.settings.presetID = id;
        job.settings.presetName = trimmed;
    });
    m_jobs.requestSave();
    m_feed.log(QStringLiteral("Saved preset ") + trimmed);
    m_sheets.setShowSavePreset(false);
}

void EditingBindings::deletePreset(const QUuid& id)
{
    const auto found =
        std::find_if(m_persistence.savedPresets().cbegin(), m_persistence.savedPresets().cend(),
                     [&id](const SavedPreset& p) { return p.id == id; });
    // Nothing to delete: leave jobs, settings and the log alone.
    if (found == m_persistence.savedPresets().cend())
        return;
    const QString name = found->name;
    const QString key = savedPresetID(*found);

    QList<SavedPreset> presets = m_persistence.savedPresets();
    presets.removeIf([&id](const SavedPreset& p) { return p.id == id; });

    // Only the label changes, so running jobs are relabelled too; nothing re-encodes.
    for (qsizetype row = 0; row < m_jobs.jobs().size(); ++row) {
        if (m_jobs.jobs().at(row).settings.presetID != key)
            continue;
        m_jobs.changeRow(row, [](EncodingJob& job) {
            job.settings.presetID = kInlinePresetID;
            job.settings.presetName = kCustomPresetName;
        });
    }
    m_persistence.updateSettings([&key](AppSettings& s) {
        if (s.lastPresetID == key)
            s.lastPresetID = kFallbackPresetID;
        if (s.watchPresetID == key)
            s.watchPresetID = kFallbackPresetID;
    });
    m_persistence.setSavedPresets(presets);
    m_jobs.requestSave();
    m_feed.log(QStringLiteral("Deleted preset ") + name);
}

// Folders

void EditingBindings::chooseOutputFolder()
{
    chooseDirectory(m_desktop, this, QStringLiteral("Output Folder"),
                    QStringLiteral("Encoded files are written here."), [this](const QString& path) {
                        // The selection may have changed while the chooser was open.
                        if (!m_jobs.primaryJob()) {
                            m_persistence.updateSettings(
                                [&path](AppSettings& s) { s.defaultOutputDirectory = path; });
                            return;
                        }
                        mutateEditable(
                            [&path](EncodingJob& job) { job.settings.outputDirectory = path; });
                    });
}

void EditingBindings::useOutputAsDefault()
{
    const auto primary = m_jobs.primaryJob();
    if (!primary)
        return;
    const QString folder = primary->settings.outputDirectory;
    m_persistence.updateSettings([&folder](AppSettings& s) { s.defaultOutputDirectory = folder; });
    m_feed.log(QStringLiteral("Default output is ") + folder);
}

// Export

void EditingBindings::exportJobFile()
{
    const QList<EncodingJob> jobs = m_jobs.selectedJobsOrAll();
    if (jobs.isEmpty()) {
        m_feed.setBanner(QStringLiteral("Nothing to export."));
        return;
    }
    SavePanelRequest request;
    request.title = QStringLiteral("Export Job File");
    request.suggestedName = QStringLiteral("Queue.corveljob");
    request.canCreateDirectories = true;
    request.nameFilters = {QStringLiteral("Job files (%1)").arg(CorvelIdentity::jobFilePatterns)};
    QPointer<EditingBindings> self(this);
    m_desktop.savePanel(request, [self, jobs](const QString& path) {
        if (self && !path.isEmpty())
            self->writeJobFile(jobs, path);
    });
}

void EditingBindings::writeJobFile(const QList<EncodingJob>& jobs, const QString& path)
{
    const auto written =
        corvel::writeJobFile(withImportablePresetNames(jobs, m_persistence.savedPresets()), path);
    if (!written) {
        m_feed.setBanner(written.error().description());
        return;
    }
    m_feed.log(QStringLiteral("Wrote ") + QFileInfo(path).fileName());
    m_desktop.revealFiles({path});
}

// Texts

QString EditingBindings::presetLabel(const EncodingJob& job) const
{
    return corvel::presetLabel(job, m_persistence.savedPresets());
}

} // namespace corvel
