#include "CorvelEncoder/AppModel.h"

#include "CorvelEncoder/DesktopServices.h"
#include "CorvelEncoder/JobTexts.h"
#include "CorvelEncoder/WatchRules.h"
#include "CorvelEncoderCore/FrameMath.h"
#include "CorvelEncoderCore/JobFileWriter.h"
#include "CorvelEncoderCore/Presets.h"

#include <QFileInfo>
#include <QPointer>

#include <algorithm>
#include <cmath>

namespace corvel {

namespace {

const QString kInlinePreset = QStringLiteral("inline");
const QString kFallbackPreset = QStringLiteral("prores-422-hq");
constexpr double kMinBitrateMbps = 0.5;
constexpr double kMaxBitrateMbps = 200.0;

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

bool isLockedStatus(JobStatus status)
{
    return status == JobStatus::encoding || status == JobStatus::paused;
}

} // namespace

// Which jobs an edit reaches

QList<QUuid> AppModel::editableIDs() const
{
    QList<QUuid> ids;
    if (m_selection.isEmpty())
        return ids;
    for (const EncodingJob& job : m_jobs) {
        if (m_selection.contains(job.id) && !isLockedStatus(job.status))
            ids.append(job.id);
    }
    return ids;
}

bool AppModel::inspectorLocked() const
{
    const auto primary = primaryJob();
    return primary && isLockedStatus(primary->status);
}

void AppModel::mutateEditable(const std::function<void(EncodingJob&)>& change)
{
    const QList<QUuid> ids = editableIDs();
    for (const QUuid& id : ids)
        update(id, change);
    if (!ids.isEmpty())
        scheduleSave();
}

void AppModel::editBody(const std::function<void(PresetBody&)>& change)
{
    mutateEditable([&change](EncodingJob& job) {
        change(job.settings.body);
        followQuality(job);
    });
}

// Bindings

QString AppModel::presetSelection() const
{
    if (const auto primary = primaryJob()) {
        const JobSettings& settings = primary->settings;
        const auto body = presetBody(settings.presetID, m_savedPresets);
        if (body && samePresetChoices(settings.body, *body))
            return settings.presetID;
        return kInlinePreset;
    }
    // New jobs fall back to ProRes 422 HQ when the stored default names no preset any more,
    // so the defaults menu shows that rather than nothing.
    if (presetBody(m_settings.lastPresetID, m_savedPresets))
        return m_settings.lastPresetID;
    return kFallbackPreset;
}

void AppModel::setPresetSelection(const QString& id)
{
    if (primaryJob())
        applyPreset(id);
    else
        setDefaultPreset(id);
}

QString AppModel::watchPresetSelection() const
{
    // Watch jobs fall back to ProRes 422 HQ likewise.
    if (presetBody(m_settings.watchPresetID, m_savedPresets))
        return m_settings.watchPresetID;
    return kFallbackPreset;
}

void AppModel::setWatchPresetSelection(const QString& id)
{
    setWatchPreset(id);
}

namespace {

PresetBody shownBody(const std::optional<EncodingJob>& primary)
{
    return primary ? primary->settings.body : PresetBody::standard();
}

} // namespace

ResolutionMode AppModel::resolution() const
{
    return shownBody(primaryJob()).resolution;
}

void AppModel::setResolution(ResolutionMode mode)
{
    editBody([mode](PresetBody& body) { body.resolution = mode; });
}

int64_t AppModel::customWidth() const
{
    return shownBody(primaryJob()).customWidth;
}

void AppModel::setCustomWidth(int64_t width)
{
    editBody([width](PresetBody& body) { body.customWidth = width; });
}

int64_t AppModel::customHeight() const
{
    return shownBody(primaryJob()).customHeight;
}

void AppModel::setCustomHeight(int64_t height)
{
    editBody([height](PresetBody& body) { body.customHeight = height; });
}

QString AppModel::frameRateSelection() const
{
    return frameRateOptionID(shownBody(primaryJob()).frameRate);
}

void AppModel::setFrameRateSelection(const QString& id)
{
    // "custom" is on the menu only while the primary job has a rate off the standard list.
    const QList<FrameRateOption> menu = frameRateMenu(shownBody(primaryJob()).frameRate);
    const auto option = std::find_if(menu.cbegin(), menu.cend(),
                                     [&id](const FrameRateOption& o) { return o.id == id; });
    if (option == menu.cend())
        return;
    const FrameRateMode mode = option->mode;
    editBody([mode](PresetBody& body) { body.frameRate = mode; });
}

AudioMode AppModel::audio() const
{
    return shownBody(primaryJob()).audio;
}

void AppModel::setAudio(AudioMode mode)
{
    editBody([mode](PresetBody& body) { body.audio = mode; });
}

QualityTier AppModel::quality() const
{
    return shownBody(primaryJob()).quality;
}

void AppModel::setQuality(QualityTier tier)
{
    editBody([tier](PresetBody& body) {
        body.quality = tier;
        body.bitrateFollowsQuality = true;
    });
}

double AppModel::bitrate() const
{
    return shownBody(primaryJob()).bitrateMbps;
}

void AppModel::setBitrate(double mbps)
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

QString AppModel::naming() const
{
    return shownBody(primaryJob()).namingPattern;
}

void AppModel::setNaming(const QString& pattern)
{
    editBody([&pattern](PresetBody& body) { body.namingPattern = pattern; });
}

bool AppModel::reveal() const
{
    if (const auto primary = primaryJob())
        return primary->settings.revealWhenDone;
    return m_settings.revealWhenDone;
}

void AppModel::setReveal(bool on)
{
    if (!primaryJob()) {
        updateSettings([on](AppSettings& s) { s.revealWhenDone = on; });
        return;
    }
    mutateEditable([on](EncodingJob& job) { job.settings.revealWhenDone = on; });
}

int AppModel::parallel() const
{
    return m_settings.maxParallel;
}

void AppModel::setParallel(int count)
{
    setMaxParallel(AppSettings::clampParallel(count));
}

bool AppModel::watchEnabled() const
{
    return m_settings.watchEnabled;
}

void AppModel::setWatchEnabled(bool on)
{
    if (on && m_settings.watchFolder.isEmpty()) {
        // Without a folder there is nothing to watch: ask for one, and turn on only then.
        chooseDirectory(QStringLiteral("Watch Folder"),
                        QStringLiteral("Files copied here are encoded when they finish writing."),
                        [this](const QString& path) {
                            updateSettings([&path](AppSettings& s) {
                                s.watchFolder = path;
                                s.watchEnabled = true;
                            });
                            refreshWatch();
                        });
        return;
    }
    // A refresh forgets every sighting, so a repeated value must not restart the watch.
    if (on == m_settings.watchEnabled)
        return;
    updateSettings([on](AppSettings& s) { s.watchEnabled = on; });
    refreshWatch();
}

bool AppModel::watchProcessExisting() const
{
    return m_settings.watchProcessExisting;
}

void AppModel::setWatchProcessExisting(bool on)
{
    if (on == m_settings.watchProcessExisting)
        return;
    updateSettings([on](AppSettings& s) {
        s.watchProcessExisting = on;
        // Files already handled in the folder are taken again.
        if (on && !s.watchFolder.isEmpty())
            forgetWatchFolder(s.seenWatchKeys, s.watchFolder);
    });
    refreshWatch();
}

bool AppModel::dockBounce() const
{
    return m_settings.dockBounceWhenIdle;
}

void AppModel::setDockBounce(bool on)
{
    updateSettings([on](AppSettings& s) { s.dockBounceWhenIdle = on; });
}

// Presets

void AppModel::applyPreset(const QString& id)
{
    if (id == kInlinePreset)
        return;
    const auto body = presetBody(id, m_savedPresets);
    if (!body)
        return;
    const QString name = presetDisplayName(id, m_savedPresets).value_or(QStringLiteral("Preset"));
    mutateEditable([&](EncodingJob& job) {
        job.settings.presetID = id;
        job.settings.presetName = name;
        job.settings.body = *body;
        followQuality(job);
    });
    updateSettings([&id](AppSettings& s) { s.lastPresetID = id; });
}

void AppModel::setDefaultPreset(const QString& id)
{
    if (id == kInlinePreset || !presetBody(id, m_savedPresets))
        return;
    updateSettings([&id](AppSettings& s) { s.lastPresetID = id; });
}

void AppModel::setWatchPreset(const QString& id)
{
    if (id == kInlinePreset || !presetBody(id, m_savedPresets))
        return;
    // The next watch job reads the preset; the watch itself need not restart.
    updateSettings([&id](AppSettings& s) { s.watchPresetID = id; });
}

void AppModel::beginSavePreset()
{
    const auto primary = primaryJob();
    if (!primary)
        return;
    const QString& current = primary->settings.presetName;
    m_suggestedName = current == u"Custom" ? QStringLiteral("Preset") : current;
    setShowSavePreset(true);
}

void AppModel::setShowSavePreset(bool shown)
{
    if (shown == m_showSavePreset)
        return;
    m_showSavePreset = shown;
    emit showSavePresetChanged(shown);
}

void AppModel::savePreset(const QString& name)
{
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty())
        return;
    const auto primary = primaryJob();
    if (!primary)
        return;

    SavedPreset preset{QUuid::createUuid(), trimmed, primary->settings.body};
    QList<SavedPreset> presets = m_savedPresets;
    presets.append(preset);
    setSavedPresets(presets);

    const QString id = savedPresetID(preset);
    update(primary->id, [&](EncodingJob& job) {
        job.settings.presetID = id;
        job.settings.presetName = trimmed;
    });
    scheduleSave();
    log(QStringLiteral("Saved preset ") + trimmed);
    setShowSavePreset(false);
}

void AppModel::deletePreset(const QUuid& id)
{
    const auto found = std::find_if(m_savedPresets.cbegin(), m_savedPresets.cend(),
                                    [&id](const SavedPreset& p) { return p.id == id; });
    // Nothing to delete: leave jobs, settings and the log alone.
    if (found == m_savedPresets.cend())
        return;
    const QString name = found->name;
    const QString key = savedPresetID(*found);

    QList<SavedPreset> presets = m_savedPresets;
    presets.removeIf([&id](const SavedPreset& p) { return p.id == id; });

    // Only the label changes, so running jobs are relabelled too; nothing re-encodes.
    for (qsizetype row = 0; row < m_jobs.size(); ++row) {
        if (m_jobs.at(row).settings.presetID != key)
            continue;
        changeRow(row, [](EncodingJob& job) {
            job.settings.presetID = kInlinePreset;
            job.settings.presetName = QStringLiteral("Custom");
        });
    }
    updateSettings([&key](AppSettings& s) {
        if (s.lastPresetID == key)
            s.lastPresetID = kFallbackPreset;
        if (s.watchPresetID == key)
            s.watchPresetID = kFallbackPreset;
    });
    setSavedPresets(presets);
    scheduleSave();
    log(QStringLiteral("Deleted preset ") + name);
}

// Folders

void AppModel::chooseDirectory(const QString& title, const QString& message,
                               std::function<void(const QString& path)> chosen)
{
    OpenPanelRequest request;
    request.title = title;
    request.message = message;
    request.canChooseFiles = false;
    request.canChooseDirectories = true;
    request.canCreateDirectories = true;
    request.allowsMultipleSelection = false;
    // The completions reach into the model, which may be gone by the time the user answers.
    QPointer<AppModel> self(this);
    m_desktop.openPanel(request, [self, chosen = std::move(chosen)](const QStringList& paths) {
        if (self && !paths.isEmpty() && !paths.first().isEmpty())
            chosen(paths.first());
    });
}

void AppModel::chooseOutputFolder()
{
    chooseDirectory(
        QStringLiteral("Output Folder"), QStringLiteral("Encoded files are written here."),
        [this](const QString& path) {
            // The selection may have changed while the chooser was open.
            if (!primaryJob()) {
                updateSettings([&path](AppSettings& s) { s.defaultOutputDirectory = path; });
                return;
            }
            mutateEditable([&path](EncodingJob& job) { job.settings.outputDirectory = path; });
        });
}

void AppModel::useOutputAsDefault()
{
    const auto primary = primaryJob();
    if (!primary)
        return;
    const QString folder = primary->settings.outputDirectory;
    updateSettings([&folder](AppSettings& s) { s.defaultOutputDirectory = folder; });
    log(QStringLiteral("Default output is ") + folder);
}

void AppModel::chooseWatchFolder()
{
    chooseDirectory(QStringLiteral("Watch Folder"),
                    QStringLiteral("Files copied here are encoded when they finish writing."),
                    [this](const QString& path) {
                        updateSettings([&path](AppSettings& s) { s.watchFolder = path; });
                        refreshWatch();
                    });
}

void AppModel::chooseWatchOutput()
{
    chooseDirectory(
        QStringLiteral("Watch Output"),
        QStringLiteral("Leave this unset to write into Corvel Output inside the watch folder."),
        [this](const QString& path) {
            updateSettings([&path](AppSettings& s) { s.watchOutputDirectory = path; });
            refreshWatch();
        });
}

// Export

QList<EncodingJob> AppModel::selectedJobsOrAll() const
{
    if (m_selection.isEmpty())
        return m_jobs;
    QList<EncodingJob> jobs;
    for (const EncodingJob& job : m_jobs) {
        if (m_selection.contains(job.id))
            jobs.append(job);
    }
    // A selection of ids that are all gone counts as none.
    return jobs.isEmpty() ? m_jobs : jobs;
}

void AppModel::exportJobFile()
{
    const QList<EncodingJob> jobs = selectedJobsOrAll();
    if (jobs.isEmpty()) {
        setBanner(QStringLiteral("Nothing to export."));
        return;
    }
    SavePanelRequest request;
    request.title = QStringLiteral("Export Job File");
    request.suggestedName = QStringLiteral("Queue.corveljob");
    request.canCreateDirectories = true;
    request.nameFilters = {QStringLiteral("Job files (*.corveljob *.corvelenc *.json)")};
    QPointer<AppModel> self(this);
    m_desktop.savePanel(request, [self, jobs](const QString& path) {
        if (self && !path.isEmpty())
            self->writeJobFile(jobs, path);
    });
}

void AppModel::writeJobFile(const QList<EncodingJob>& jobs, const QString& path)
{
    const auto written =
        corvel::writeJobFile(withImportablePresetNames(jobs, m_savedPresets), path);
    if (!written) {
        setBanner(written.error().description());
        return;
    }
    log(QStringLiteral("Wrote ") + QFileInfo(path).fileName());
    m_desktop.revealFiles({path});
}

// Texts

QString AppModel::presetLabel(const EncodingJob& job) const
{
    return corvel::presetLabel(job, m_savedPresets);
}

QString AppModel::previewFilename(const EncodingJob& job) const
{
    return corvel::previewFilename(job);
}

QString AppModel::summaryLine(const EncodingJob& job) const
{
    return corvel::summaryLine(job);
}

std::optional<QString> AppModel::alphaNote(const EncodingJob& job) const
{
    return corvel::alphaNote(job);
}

QString AppModel::sourceLine(const EncodingJob& job) const
{
    return corvel::sourceLine(job);
}

} // namespace corvel
