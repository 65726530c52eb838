#include "UiTesting.h"

#include "CorvelEncoder/engine/EncoderChoice.h"
#include "CorvelEncoder/ui/BitrateScale.h"
#include "CorvelEncoder/ui/InspectorPanel.h"
#include "CorvelEncoder/ui/PanelKit.h"
#include "CorvelEncoderCore/Presets.h"

namespace corvel::testing {
namespace {

class InspectorTest : public UiFixture
{
protected:
    void SetUp() override
    {
        UiFixture::SetUp();
        panel = std::make_unique<InspectorPanel>(*model);
        panel->resize(360, 1400);
        panel->show();
        root = panel.get();
    }

    bool shown(const char* name) const { return child(name)->isVisibleTo(panel.get()); }
    bool showsText(const QString& text) const { return labelTexts(panel.get()).contains(text); }
    QScrollBar* scrollBar() const { return panel->findChild<QScrollArea*>()->verticalScrollBar(); }
    const EncodingJob jobAt(int row) const { return model->store().jobs().at(row); }

    std::unique_ptr<InspectorPanel> panel;
};

TEST_F(InspectorTest, WithNothingSelectedEditsTheDefaultsOfNewJobsOnly)
{
    const QList<EncodingJob> jobs = addQueued(2);
    EXPECT_TRUE(shown("defaultsView"));
    EXPECT_FALSE(shown("jobView"));

    auto* picker = child<QComboBox>("defaultPresetPicker");
    EXPECT_EQ(picker->findData(u"inline"_s), -1) << "no Custom entry for defaults";
    EXPECT_EQ(picker->currentData().toString(), u"prores-422-hq"_s);
    choose(picker, u"h264"_s);
    EXPECT_EQ(settings().lastPresetID, u"h264"_s);

    auto* folder = child<panelkit::FolderButton>("defaultFolder");
    EXPECT_EQ(folder->text(), settings().defaultOutputDirectory);
    desktop.nextChoice = {path(u"Renders"_s)};
    folder->click();
    EXPECT_EQ(settings().defaultOutputDirectory, path(u"Renders"_s));
    EXPECT_EQ(folder->text(), path(u"Renders"_s));

    const QList<QCheckBox*> boxes = child("defaultsView")->findChildren<QCheckBox*>();
    ASSERT_EQ(boxes.size(), 2);
    for (QCheckBox* box : boxes) {
        EXPECT_TRUE(box->isChecked());
        box->click();
    }
    EXPECT_FALSE(settings().revealWhenDone);
    EXPECT_FALSE(settings().dockBounceWhenIdle);
    for (int row = 0; row < 2; ++row)
        EXPECT_EQ(jobAt(row).settings, jobs[row].settings);
}

// The header names the first selected job in queue order; here it is running.
TEST_F(InspectorTest, HeaderCountsTheSelectionAndARunningJobIsShownLocked)
{
    const QList<EncodingJob> jobs = addQueued(3);
    model->store().update(jobs[1].id, [](EncodingJob& job) { job.status = JobStatus::encoding; });
    select({jobs[2], jobs[1]});
    EXPECT_EQ(child<QLabel>("jobCount")->text(), u"2 JOBS"_s);
    EXPECT_EQ(child<QLabel>("jobName")->text(), u"clip1.mov"_s);
    const QString multi = u"Changes apply to every selected job that is not encoding."_s;
    EXPECT_TRUE(showsText(multi));
    const QString warning = u"This encode is running. Select a queued job to change settings."_s;
    EXPECT_TRUE(showsText(warning));
    auto* controls = child("jobControls");
    EXPECT_FALSE(child("namingField")->isEnabled());
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(controls->graphicsEffect());
    ASSERT_NE(effect, nullptr);
    EXPECT_DOUBLE_EQ(effect->opacity(), 0.55);
    // A progress report on the shown job keeps it locked.
    model->store().update(jobs[1].id, [](EncodingJob& job) { job.progress = 0.5; });
    EXPECT_FALSE(controls->isEnabled());

    // Another selection starts at the top, with its title in sight.
    panel->resize(360, 300);
    scrollBar()->setValue(scrollBar()->maximum());
    ASSERT_GT(scrollBar()->value(), 0);
    select({jobs[2]});
    EXPECT_EQ(scrollBar()->value(), 0);
    EXPECT_EQ(child<QLabel>("jobCount")->text(), u"JOB"_s);
    EXPECT_FALSE(showsText(multi));
    EXPECT_FALSE(showsText(warning));
    EXPECT_TRUE(child("namingField")->isEnabled());
    const auto* after = qobject_cast<QGraphicsOpacityEffect*>(controls->graphicsEffect());
    EXPECT_TRUE(!after || after->opacity() == 1.0);
    // Finishing the encode unlocks the job it showed.
    select({jobs[1]});
    model->store().update(jobs[1].id, [](EncodingJob& job) { job.status = JobStatus::completed; });
    EXPECT_TRUE(controls->isEnabled());
}

TEST_F(InspectorTest, CodecDecidesBetweenBitrateBlockAndItsCaptions)
{
    select(addQueued(1));
    const QString proRes = u"ProRes uses the profile. There is no target bitrate."_s;
    EXPECT_TRUE(showsText(proRes));
    EXPECT_FALSE(shown("bitrateBlock"));

    auto* picker = child<QComboBox>("presetPicker");
    EXPECT_EQ(picker->itemData(0).toString(), u"inline"_s);
    choose(picker, u"h264"_s);
    EXPECT_EQ(jobAt(0).settings.body.codec, Codec::h264);
    EXPECT_TRUE(shown("bitrateBlock"));
    EXPECT_FALSE(showsText(proRes));
    const double rate = jobAt(0).settings.body.bitrateMbps;
    EXPECT_DOUBLE_EQ(child<QDoubleSpinBox>("bitrateField")->value(), std::round(rate * 10) / 10);
    EXPECT_EQ(child<QSlider>("bitrateSlider")->value(), BitrateScale::positionOf(rate));
    EXPECT_TRUE(child<QLabel>("summary")->text().contains(u"Mbps"));

    choose(picker, u"hevc-alpha"_s);
    EXPECT_EQ(shown("alphaMissing"), !hevcAlphaEncoderAvailable());
    // A probed source with alpha gets the model's note as well.
    model->store().update(jobAt(0).id, [](EncodingJob& job) {
        job.sourceInfo = FakeProber::hd();
        job.sourceInfo->hasAlpha = true;
    });
    EXPECT_EQ(child<QLabel>("alphaNote")->text(), u"Alpha will be kept."_s);

    choose(picker, u"prores-422"_s);
    EXPECT_FALSE(shown("bitrateBlock"));
    EXPECT_FALSE(shown("alphaMissing"));
    EXPECT_TRUE(showsText(proRes));
    EXPECT_FALSE(child<QLabel>("summary")->text().contains(u"Mbps"));
}

TEST_F(InspectorTest, TypedValuesReachTheJobWholeAndSavedPresetsCanGo)
{
    select(addQueued(1));
    EXPECT_FALSE(shown("customSize"));
    auto* resolution = child<QComboBox>("resolutionPicker");
    choose(resolution, u"custom"_s);
    EXPECT_EQ(jobAt(0).settings.body.resolution, ResolutionMode::custom);
    ASSERT_TRUE(shown("customSize"));
    EXPECT_EQ(child<QSpinBox>("widthField")->value(), 1920);
    typeInto(child<QSpinBox>("widthField"), u"1000"_s);
    typeInto(child<QSpinBox>("heightField"), u"1000"_s);
    EXPECT_EQ(jobAt(0).settings.body.customWidth, 1000);
    EXPECT_EQ(jobAt(0).settings.body.customHeight, 1000);
    EXPECT_TRUE(child<QLabel>("summary")->text().startsWith(u"1000×562"_s));
    choose(resolution, u"hd720"_s);
    EXPECT_FALSE(shown("customSize"));

    // Pickers stand as tall as the fields; the two that read "Source" are named on screen.
    EXPECT_EQ(resolution->height(), child("namingField")->height());
    EXPECT_TRUE(showsText(u"Resolution"_s) && showsText(u"Frame rate"_s));

    auto* picker = child<QComboBox>("presetPicker");
    choose(picker, u"h264"_s);
    // Every keystroke is written to the job; the field must keep the cursor and the text.
    auto* naming = child<QLineEdit>("namingField");
    typeInto(naming, u"{name}_v2_{date}"_s);
    EXPECT_EQ(jobAt(0).settings.body.namingPattern, u"{name}_v2_{date}"_s);
    EXPECT_EQ(naming->text(), u"{name}_v2_{date}"_s);
    EXPECT_TRUE(child<QLabel>("previewName")->text().startsWith(u"clip0_v2_"_s));

    typeInto(child("bitrateField"), u"33.5"_s);
    EXPECT_DOUBLE_EQ(jobAt(0).settings.body.bitrateMbps, 33.5);
    EXPECT_FALSE(jobAt(0).settings.body.bitrateFollowsQuality);
    // The slider's scale is logarithmic: 33.5 Mbps sits past its middle (12 Mbps).
    EXPECT_EQ(child<QSlider>("bitrateSlider")->value(), 701);
    EXPECT_EQ(picker->currentData().toString(), u"inline"_s);
    choose(child<QComboBox>("qualityPicker"), u"low"_s);
    EXPECT_TRUE(jobAt(0).settings.body.bitrateFollowsQuality);

    EXPECT_FALSE(shown("deletePreset"));
    model->editing().savePreset(u"Grade"_s);
    EXPECT_EQ(picker->currentText(), u"Grade"_s);
    EXPECT_FALSE(shown("presetDetail"));
    ASSERT_TRUE(shown("deletePreset"));
    child<QPushButton>("deletePreset")->click();
    EXPECT_TRUE(model->persistence().savedPresets().isEmpty());
    EXPECT_EQ(picker->findText(u"Grade"_s), -1);
    EXPECT_FALSE(shown("deletePreset"));
}

TEST_F(InspectorTest, WheelOverAnUnfocusedControlScrollsThePanelAndEditsNothing)
{
    select(addQueued(1));
    choose(child<QComboBox>("presetPicker"), u"h264"_s);
    panel->resize(360, 300);
    const JobSettings before = jobAt(0).settings;
    for (const char* name : {"presetPicker", "resolutionPicker", "frameRatePicker", "qualityPicker",
                             "bitrateSlider", "bitrateField", "audioPicker"}) {
        SCOPED_TRACE(name);
        scrollBar()->setValue(0);
        wheelOver(child(name));
        EXPECT_GT(scrollBar()->value(), 0);
        EXPECT_EQ(jobAt(0).settings, before);
    }
    // With keyboard focus the wheel is the control's again.
    ASSERT_TRUE(activate(panel.get()));
    child("resolutionPicker")->setFocus();
    wheelOver(child("resolutionPicker"));
    EXPECT_NE(jobAt(0).settings.body.resolution, before.body.resolution);
}

} // namespace
} // namespace corvel::testing
