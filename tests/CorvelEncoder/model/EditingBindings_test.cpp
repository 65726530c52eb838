#include "ModelTestSupport.h"

#include "CorvelEncoderCore/JobFile.h"
#include "CorvelEncoderCore/Presets.h"
#include "CorvelEncoderCore/SettingsMerging.h"
#include "CorvelEncoderCore/StateFiles.h"

#include <QSignalSpy>

#include <cmath>

namespace corvel::testing {
namespace {

class EditingTest : public ModelFixture
{
protected:
    EditingBindings& editing() { return model->editing(); }

    // A job made from a built-in preset, as intake would make it.
    EncodingJob presetJob(const QString& name, JobStatus status = JobStatus::queued,
                          const QString& preset = u"prores-422-hq"_s) const
    {
        EncodingJob job = queuedJob(name, status);
        job.settings.presetID = preset;
        job.settings.presetName = presetDisplayName(preset, {}).value();
        job.settings.body = presetBody(preset, {}).value();
        return job;
    }
};

TEST_F(EditingTest, EditsSkipRunningAndPausedJobsAndLockTheInspector)
{
    QList<EncodingJob> jobs = {presetJob(u"running.mov"_s, JobStatus::encoding),
                               presetJob(u"queued.mov"_s, JobStatus::queued),
                               presetJob(u"held.mov"_s, JobStatus::paused),
                               presetJob(u"failed.mov"_s, JobStatus::failed),
                               presetJob(u"unselected.mov"_s, JobStatus::queued)};
    jobs[1].sourceInfo = SourceInfo{3840, 2160, 50, 10, true, false, u"H.264"_s};
    jobs[1].settings.revealWhenDone = true;
    model->store().addJobs(jobs);
    select({jobs[3], jobs[0], jobs[2], jobs[1]});
    clock.advance(1000); // lets the delayed queue save happen
    const int savesBefore = store->writeCount(kQueueFileName);

    EXPECT_EQ(model->store().editableIDs(), (QList<QUuid>{jobs[1].id, jobs[3].id}));
    EXPECT_TRUE(editing().inspectorLocked());
    // The locked primary job is what the inspector shows.
    EXPECT_EQ(editing().presetSelection(), u"prores-422-hq"_s);

    editing().applyPreset(u"h264"_s);
    const Codec codecs[] = {Codec::proRes422HQ, Codec::h264, Codec::proRes422HQ, Codec::h264,
                            Codec::proRes422HQ};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(current(jobs[i]).settings.body.codec, codecs[i]) << i;
    // The preset keeps the job's folder and reveal, and sizes the bitrate to its source.
    const EncodingJob edited = current(jobs[1]);
    EXPECT_EQ(edited.settings.presetName, u"H.264"_s);
    EXPECT_TRUE(edited.settings.revealWhenDone);
    EXPECT_EQ(edited.settings.outputDirectory, jobs[1].settings.outputDirectory);
    EXPECT_EQ(edited.settings.body.bitrateMbps,
              automaticBitrateMbps(edited.settings.body, PixelSize{3840, 2160}, 50.0).value());
    clock.advance(1000);
    EXPECT_EQ(store->writeCount(kQueueFileName), savesBefore + 1);

    // Only locked jobs selected: nothing changes and nothing is saved.
    select({jobs[0], jobs[2]});
    editing().setAudio(AudioMode::aac);
    editing().setReveal(true);
    clock.advance(1000);
    EXPECT_EQ(current(jobs[0]).settings, jobs[0].settings);
    EXPECT_EQ(current(jobs[2]).settings, jobs[2].settings);
    EXPECT_EQ(store->writeCount(kQueueFileName), savesBefore + 1);

    model->store().setSelection({jobs[1].id});
    EXPECT_FALSE(editing().inspectorLocked());
    model->store().setSelection({});
    EXPECT_FALSE(editing().inspectorLocked());
}

TEST_F(EditingTest, PresetWithNothingSelectedChangesOnlyTheDefault)
{
    const QList<EncodingJob> jobs = addQueued(2);
    editing().setPresetSelection(u"hevc"_s);
    EXPECT_EQ(storedSettings().lastPresetID, u"hevc"_s);
    EXPECT_EQ(editing().presetSelection(), u"hevc"_s);
    for (const EncodingJob& job : jobs)
        EXPECT_EQ(current(job).settings, job.settings);

    const int settingsWrites = store->writeCount(kSettingsFileName);
    for (const char* id : {"inline", "nonsense", "custom:00000000-0000-0000-0000-000000000001"}) {
        SCOPED_TRACE(id);
        editing().setPresetSelection(QString::fromLatin1(id));
        model->watch().setPreset(QString::fromLatin1(id));
        model->store().setSelection({jobs[0].id});
        editing().setPresetSelection(QString::fromLatin1(id));
        model->store().setSelection({});
    }
    EXPECT_EQ(store->writeCount(kSettingsFileName), settingsWrites);
    EXPECT_EQ(settings().lastPresetID, u"hevc"_s);
    EXPECT_EQ(settings().watchPresetID, u"prores-422-hq"_s);
    EXPECT_EQ(current(jobs[0]).settings, jobs[0].settings);

    model->watch().setPreset(u"prores-4444"_s);
    EXPECT_EQ(model->watch().presetSelection(), u"prores-4444"_s);
    EXPECT_EQ(storedSettings().watchPresetID, u"prores-4444"_s);
}

TEST_F(EditingTest, BitrateIsClampedAndStopsFollowingQualityUntilATierIsChosen)
{
    const EncodingJob job = presetJob(u"a.mov"_s, JobStatus::queued, u"h264"_s);
    model->store().addJobs({job});
    model->store().setSelection({job.id});

    const std::pair<double, double> rows[] = {{500, 200}, {0.1, 0.5}, {-3, 0.5}, {42.5, 42.5}};
    for (const auto& [typed, stored] : rows) {
        SCOPED_TRACE(typed);
        editing().setBitrate(typed);
        EXPECT_EQ(editing().bitrate(), stored);
        EXPECT_FALSE(current(job).settings.body.bitrateFollowsQuality);
    }
    editing().setBitrate(std::nan(""));
    EXPECT_EQ(editing().bitrate(), 42.5);

    // A fixed rate survives changes that would move an automatic one.
    editing().setResolution(ResolutionMode::uhd4k);
    editing().setFrameRateSelection(u"60"_s);
    EXPECT_EQ(editing().bitrate(), 42.5);
    EXPECT_EQ(editing().presetSelection(), u"inline"_s);

    editing().setQuality(QualityTier::medium);
    const PresetBody body = current(job).settings.body;
    EXPECT_TRUE(body.bitrateFollowsQuality);
    EXPECT_EQ(body.bitrateMbps, automaticBitrateMbps(body, std::nullopt, std::nullopt).value());
    EXPECT_NE(body.bitrateMbps, 42.5);
}

TEST_F(EditingTest, FrameRateMenuIdsMapToTheirRates)
{
    EXPECT_EQ(editing().frameRateSelection(), u"source"_s);
    EncodingJob odd = queuedJob(u"odd.mov"_s);
    odd.settings.body.frameRate = FrameRateMode::exact(33);
    EncodingJob other = queuedJob(u"other.mov"_s);
    model->store().addJobs({odd, other});
    select({odd, other});
    EXPECT_EQ(editing().frameRateSelection(), u"custom"_s);

    // "custom" stands for the primary job's own rate, so choosing it copies that rate.
    editing().setFrameRateSelection(u"custom"_s);
    EXPECT_EQ(current(other).settings.body.frameRate, FrameRateMode::exact(33));
    editing().setFrameRateSelection(u"bogus"_s);
    EXPECT_EQ(current(other).settings.body.frameRate, FrameRateMode::exact(33));
    editing().setFrameRateSelection(u"29.97"_s);
    EXPECT_EQ(current(odd).settings.body.frameRate, FrameRateMode::exact(29.97));
    EXPECT_EQ(editing().frameRateSelection(), u"29.97"_s);
}

TEST_F(EditingTest, SavingAPresetNamesTheJobAndPersists)
{
    QSignalSpy shown(&model->sheets(), &Sheets::showSavePresetChanged);
    editing().beginSavePreset();
    EXPECT_FALSE(model->sheets().showSavePreset()) << "nothing selected";

    EncodingJob custom = queuedJob(u"a.mov"_s);
    custom.settings.presetID = u"inline"_s;
    custom.settings.presetName = u"Custom"_s;
    custom.settings.body.codec = Codec::hevc;
    custom.settings.body.namingPattern = u"{name}_look"_s;
    EncodingJob named = queuedJob(u"b.mov"_s);
    model->store().addJobs({custom, named});

    model->store().setSelection({named.id});
    editing().beginSavePreset();
    // A built-in preset's own name is refused, so the suggestion is another.
    EXPECT_EQ(model->sheets().suggestedName(), u"My ProRes 422 HQ"_s);
    model->store().setSelection({custom.id});
    editing().beginSavePreset();
    EXPECT_EQ(model->sheets().suggestedName(), u"Preset"_s);
    EXPECT_TRUE(model->sheets().showSavePreset());
    EXPECT_EQ(shown.count(), 1);

    for (const char* refused : {" \n ", "H.264", " custom", "avc"})
        editing().savePreset(QString::fromUtf8(refused));
    EXPECT_TRUE(model->persistence().savedPresets().isEmpty());
    EXPECT_TRUE(model->sheets().showSavePreset());

    editing().savePreset(u"  Grade Look\n"_s);
    ASSERT_EQ(model->persistence().savedPresets().size(), 1);
    const SavedPreset saved = model->persistence().savedPresets().first();
    EXPECT_EQ(saved.name, u"Grade Look"_s);
    EXPECT_EQ(saved.body, custom.settings.body);
    EXPECT_EQ(current(custom).settings.presetID,
              u"custom:"_s + saved.id.toString(QUuid::WithoutBraces).toUpper());
    EXPECT_EQ(editing().presetLabel(current(custom)), u"Grade Look"_s);
    EXPECT_FALSE(model->sheets().showSavePreset());

    clock.advance(1000);
    makeModel();
    EXPECT_EQ(model->persistence().savedPresets(), (QList<SavedPreset>{saved}));
    EXPECT_EQ(editing().presetLabel(current(custom)), u"Grade Look"_s);
}

TEST_F(EditingTest, DeletingAUsedPresetRelabelsJobsWithoutChangingHowTheyEncode)
{
    EncodingJob source = presetJob(u"a.mov"_s, JobStatus::queued, u"h264"_s);
    source.settings.body.audio = AudioMode::pcm;
    EncodingJob second = queuedJob(u"b.mov"_s);
    EncodingJob running = presetJob(u"c.mov"_s, JobStatus::encoding);
    model->store().addJobs({source, second, running});
    model->store().setSelection({source.id});
    editing().savePreset(u"Web PCM"_s);
    const SavedPreset saved = model->persistence().savedPresets().first();
    const QString key = savedPresetID(saved);
    select({second, running});
    editing().setPresetSelection(key); // the running job is not edited
    model->watch().setPreset(key);
    EXPECT_EQ(settings().lastPresetID, key);

    model->store().setSelection({running.id, second.id});
    editing().setNaming(u"{name}"_s);
    EXPECT_EQ(editing().presetLabel(current(second)), u"Web PCM \u00B7 Edited"_s);
    EXPECT_EQ(editing().presetSelection(), u"inline"_s);
    const EncodingJob before = current(second);

    editing().deletePreset(saved.id);
    EXPECT_TRUE(model->persistence().savedPresets().isEmpty());
    EXPECT_TRUE(
        decodePresetFile(store->files.read(kPresetsFileName).value()).value().presets.isEmpty());
    for (const EncodingJob& job : {source, second}) {
        const EncodingJob now = current(job);
        EXPECT_EQ(now.settings.presetID, u"inline"_s);
        EXPECT_EQ(editing().presetLabel(now), u"Custom"_s);
    }
    EXPECT_EQ(current(second).settings.body, before.settings.body);
    EXPECT_EQ(current(running).settings, running.settings);
    EXPECT_EQ(storedSettings().lastPresetID, u"prores-422-hq"_s);
    EXPECT_EQ(storedSettings().watchPresetID, u"prores-422-hq"_s);

    const qsizetype lines = model->feed().logLines().size();
    editing().deletePreset(saved.id);
    EXPECT_EQ(model->feed().logLines().size(), lines)
        << "a preset that is gone is not deleted twice";
}

TEST_F(EditingTest, OutputFolderChooserTargetsJobsOrTheDefault)
{
    const QList<EncodingJob> jobs = addQueued(2);
    const QString before = settings().defaultOutputDirectory;
    editing().chooseOutputFolder();
    ASSERT_EQ(desktop.openRequests.size(), 1);
    const OpenPanelRequest request = desktop.openRequests.first();
    EXPECT_FALSE(request.canChooseFiles || request.allowsMultipleSelection);
    EXPECT_TRUE(request.canChooseDirectories && request.canCreateDirectories);
    EXPECT_EQ(settings().defaultOutputDirectory, before) << "cancelled";

    desktop.nextChoice = {path(u"renders"_s)};
    editing().chooseOutputFolder();
    EXPECT_EQ(storedSettings().defaultOutputDirectory, path(u"renders"_s));

    desktop.nextChoice = {path(u"dailies"_s)};
    model->store().setSelection({jobs[0].id});
    editing().chooseOutputFolder();
    EXPECT_EQ(current(jobs[0]).settings.outputDirectory, path(u"dailies"_s));
    EXPECT_EQ(current(jobs[1]).settings.outputDirectory, jobs[1].settings.outputDirectory);
    EXPECT_EQ(settings().defaultOutputDirectory, path(u"renders"_s));

    editing().useOutputAsDefault();
    EXPECT_EQ(storedSettings().defaultOutputDirectory, path(u"dailies"_s));
}

// What is exported reads back into the settings the jobs had, through the same import; a job
// labelled "Custom" after its saved preset went away is written under a preset of its codec.
TEST_F(EditingTest, ExportWritesTheSelectionOrEveryJobAndReadsBackTheSameSettings)
{
    editing().exportJobFile();
    EXPECT_TRUE(model->feed().banner().has_value()) << "nothing to export";
    EXPECT_TRUE(desktop.saveRequests.isEmpty());

    EncodingJob fixed = presetJob(u"fixed.mov"_s, JobStatus::queued, u"h264"_s);
    fixed.settings.body.bitrateMbps = 12.5;
    fixed.settings.body.bitrateFollowsQuality = false;
    fixed.settings.body.frameRate = FrameRateMode::exact(25);
    fixed.settings.revealWhenDone = true;
    EncodingJob orphan = fixed;
    orphan.id = QUuid::createUuid();
    orphan.sourcePath = path(u"orphan.mov"_s);
    orphan.settings.presetID = u"inline"_s;
    orphan.settings.presetName = u"Custom"_s;
    orphan.settings.body.audio = AudioMode::pcm;
    const QList<EncodingJob> jobs = {fixed, presetJob(u"hq.mov"_s), orphan};
    model->store().addJobs(jobs);

    // Defaults unlike every exported job, so each value must come from the file.
    JobSettings defaults;
    defaults.body = presetBody(u"prores-proxy", {}).value();
    defaults.body.namingPattern = u"{name}_defaults"_s;
    defaults.outputDirectory = path(u"elsewhere"_s);
    // name, the jobs selected, the jobs written
    const std::tuple<const char*, QList<EncodingJob>, QList<EncodingJob>> rows[] = {
        {"nothing selected", {}, jobs}, {"two selected", {orphan, fixed}, {fixed, orphan}}};
    for (const auto& [name, selected, written] : rows) {
        SCOPED_TRACE(name);
        const QString file = path(u"%1.corveljob"_s.arg(selected.size()));
        desktop.nextChoice = {file};
        select(selected);
        editing().exportJobFile();
        EXPECT_EQ(desktop.saveRequests.last().suggestedName, u"Queue.corveljob"_s);
        EXPECT_EQ(desktop.reveals.last(), QStringList{file});

        const JobFileResult parsed = parseJobFile(file);
        ASSERT_TRUE(parsed.has_value());
        EXPECT_FALSE(parsed->start);
        ASSERT_EQ(parsed->jobs.size(), written.size());
        for (qsizetype i = 0; i < written.size(); ++i) {
            const JobSettings& settings = written[i].settings;
            EXPECT_EQ(parsed->jobs[i].sourcePath, written[i].sourcePath);
            const auto merged =
                settingsByMerging(parsed->jobs[i], defaults, model->persistence().savedPresets());
            ASSERT_TRUE(merged.has_value()) << merged.error().description().toStdString();
            EXPECT_EQ(merged->body, settings.body);
            EXPECT_EQ(merged->outputDirectory, settings.outputDirectory);
            EXPECT_EQ(merged->revealWhenDone, settings.revealWhenDone);
            if (settings.presetName != u"Custom") {
                EXPECT_EQ(merged->presetName, settings.presetName);
            }
        }
    }

    const qsizetype lines = model->feed().logLines().size();
    editing().writeJobFile(jobs, path(u"missing/folder/x.corveljob"_s));
    ASSERT_TRUE(model->feed().banner().has_value());
    EXPECT_TRUE(model->feed().banner()->contains(u"x.corveljob"_s));
    EXPECT_EQ(model->feed().logLines().size(), lines);
}

} // namespace
} // namespace corvel::testing
