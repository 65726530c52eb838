#include "FakeProber.h"
#include "ModelTestSupport.h"

#include "CorvelEncoder/engine/EncoderChoice.h"
#include "CorvelEncoder/ui/InspectorPanel.h"
#include "CorvelEncoder/ui/PanelKit.h"
#include "CorvelEncoderCore/Presets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTest>

namespace corvel::testing {
namespace {

class InspectorTest : public ModelFixture
{
protected:
    void SetUp() override
    {
        makeModel();
        model->setProber(prober);
        panel = std::make_unique<InspectorPanel>(*model);
        panel->resize(360, 1400);
        panel->show();
    }
    void TearDown() override { panel.reset(); }

    template <class T>
    T* find(const char* name) const
    {
        T* widget = panel->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    bool shown(const char* name) const { return find<QWidget>(name)->isVisibleTo(panel.get()); }

    // Whether a label with exactly this text is on screen.
    bool showsText(const QString& text) const
    {
        for (const QLabel* label : panel->findChildren<QLabel*>()) {
            if (label->text() == text && label->isVisibleTo(panel.get()))
                return true;
        }
        return false;
    }

    // What a user's pick in a menu does: the entry becomes current and the menu reports it.
    static void choose(QComboBox* picker, const QString& id)
    {
        const int index = picker->findData(id);
        ASSERT_GE(index, 0) << qPrintable(id);
        picker->setCurrentIndex(index);
        emit picker->activated(index);
    }

    static void typeInto(QWidget* field, const QString& text)
    {
        field->setFocus();
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(field, Qt::Key_Backspace);
        QTest::keyClicks(field, text);
        QTest::keyClick(field, Qt::Key_Return);
    }

    void select(const QList<EncodingJob>& jobs)
    {
        QSet<QUuid> ids;
        for (const EncodingJob& job : jobs)
            ids.insert(job.id);
        model->setSelection(ids);
    }

    const EncodingJob jobAt(int row) const { return model->jobs().at(row); }

    FakeProber prober;
    std::unique_ptr<InspectorPanel> panel;
};

TEST_F(InspectorTest, WithNothingSelectedEditsTheDefaultsOfNewJobsOnly)
{
    const QList<EncodingJob> jobs = addQueued(2);
    EXPECT_TRUE(shown("defaultsView"));
    EXPECT_FALSE(shown("jobView"));
    EXPECT_TRUE(showsText(QStringLiteral("NEW JOBS")));
    EXPECT_TRUE(showsText(QStringLiteral(
        "Nothing is selected. These settings are used the next time you add a file.")));
    EXPECT_TRUE(showsText(QStringLiteral(
        "Corvel Brisk sends work as a .corveljob file or a corvelencoder:// link.")));

    auto* picker = find<QComboBox>("defaultPresetPicker");
    EXPECT_EQ(picker->findData(QStringLiteral("inline")), -1) << "no Custom entry for defaults";
    EXPECT_EQ(picker->currentData().toString(), QStringLiteral("prores-422-hq"));
    choose(picker, QStringLiteral("h264"));
    EXPECT_EQ(model->settings().lastPresetID, QStringLiteral("h264"));
    for (int row = 0; row < 2; ++row)
        EXPECT_EQ(jobAt(row).settings, jobs[row].settings);

    // The folder field shows the default folder and a chosen folder replaces it.
    auto* folder = find<panelkit::FolderButton>("defaultFolder");
    EXPECT_EQ(folder->text(), model->settings().defaultOutputDirectory);
    desktop.nextChoice = {path(QStringLiteral("Renders"))};
    folder->click();
    EXPECT_EQ(model->settings().defaultOutputDirectory, path(QStringLiteral("Renders")));
    EXPECT_EQ(folder->text(), path(QStringLiteral("Renders")));
    EXPECT_EQ(jobAt(0).settings.outputDirectory, jobs[0].settings.outputDirectory);

    QCheckBox* reveal = nullptr;
    QCheckBox* flash = nullptr;
    for (QCheckBox* box : panel->findChildren<QCheckBox*>()) {
        if (box->text() == u"Show in File Manager when a manual job finishes")
            reveal = box;
        if (box->text() == u"Flash the taskbar when the queue finishes")
            flash = box;
    }
    ASSERT_TRUE(reveal && flash);
    EXPECT_TRUE(reveal->isChecked());
    EXPECT_TRUE(flash->isChecked());
    reveal->click();
    flash->click();
    EXPECT_FALSE(model->settings().revealWhenDone);
    EXPECT_FALSE(model->settings().dockBounceWhenIdle);
    EXPECT_EQ(jobAt(0).settings.revealWhenDone, jobs[0].settings.revealWhenDone);
}

TEST_F(InspectorTest, HeaderNamesOneJobOrCountsSeveral)
{
    const QList<EncodingJob> jobs = addQueued(4);
    select({jobs[1]});
    EXPECT_TRUE(shown("jobView"));
    EXPECT_FALSE(shown("defaultsView"));
    EXPECT_EQ(find<QLabel>("jobCount")->text(), QStringLiteral("JOB"));
    EXPECT_EQ(find<QLabel>("jobName")->text(), QStringLiteral("clip1.mov"));
    const QString multi =
        QStringLiteral("Changes apply to every selected job that is not encoding.");
    EXPECT_FALSE(showsText(multi));

    // The first selected job in queue order is the one shown.
    select({jobs[3], jobs[0], jobs[2]});
    EXPECT_EQ(find<QLabel>("jobCount")->text(), QStringLiteral("3 JOBS"));
    EXPECT_EQ(find<QLabel>("jobName")->text(), QStringLiteral("clip0.mov"));
    EXPECT_TRUE(showsText(multi));

    // Removing the shown job moves the header to the next selected one.
    model->remove({jobs[0].id});
    EXPECT_EQ(find<QLabel>("jobName")->text(), QStringLiteral("clip2.mov"));

    model->setSelection({});
    EXPECT_TRUE(shown("defaultsView"));
}

TEST_F(InspectorTest, RunningJobIsShownLockedAndDimmed)
{
    const QList<EncodingJob> jobs = addQueued(2);
    model->update(jobs[0].id, [](EncodingJob& job) { job.status = JobStatus::encoding; });
    select({jobs[0], jobs[1]});

    const QString warning =
        QStringLiteral("This encode is running. Select a queued job to change settings.");
    EXPECT_TRUE(showsText(warning));
    auto* controls = find<QWidget>("jobControls");
    EXPECT_FALSE(controls->isEnabled());
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(controls->graphicsEffect());
    ASSERT_NE(effect, nullptr);
    EXPECT_DOUBLE_EQ(effect->opacity(), 0.55);

    // A progress report on the shown job keeps it locked.
    model->update(jobs[0].id, [](EncodingJob& job) { job.progress = 0.5; });
    emit model->jobChanged(0);
    EXPECT_FALSE(controls->isEnabled());

    select({jobs[1]});
    EXPECT_FALSE(showsText(warning));
    EXPECT_TRUE(controls->isEnabled());
    const auto* after = qobject_cast<QGraphicsOpacityEffect*>(controls->graphicsEffect());
    EXPECT_TRUE(!after || after->opacity() == 1.0);

    // Finishing the encode unlocks the job it showed.
    select({jobs[0]});
    model->update(jobs[0].id, [](EncodingJob& job) { job.status = JobStatus::completed; });
    emit model->jobChanged(0);
    EXPECT_TRUE(controls->isEnabled());
    EXPECT_FALSE(showsText(warning));
}

TEST_F(InspectorTest, ProResCaptionTakesThePlaceOfTheBitrateBlock)
{
    const QList<EncodingJob> jobs = addQueued(1);
    select(jobs);
    const QString proRes = QStringLiteral("ProRes uses the profile. There is no target bitrate.");
    EXPECT_TRUE(showsText(proRes));
    EXPECT_FALSE(shown("bitrateBlock"));

    auto* picker = find<QComboBox>("presetPicker");
    EXPECT_EQ(picker->itemData(0).toString(), QStringLiteral("inline"));
    EXPECT_EQ(picker->itemText(0), QStringLiteral("Custom"));
    choose(picker, QStringLiteral("h264"));
    EXPECT_EQ(jobAt(0).settings.body.codec, Codec::h264);
    EXPECT_TRUE(shown("bitrateBlock"));
    EXPECT_FALSE(showsText(proRes));
    EXPECT_EQ(find<QLabel>("presetDetail")->text(),
              QStringLiteral("Delivery, hardware encoder when the machine allows it"));
    const double rate = jobAt(0).settings.body.bitrateMbps;
    EXPECT_DOUBLE_EQ(find<QDoubleSpinBox>("bitrateField")->value(), std::round(rate * 10) / 10);
    EXPECT_EQ(find<QSlider>("bitrateSlider")->value(), int(std::lround(rate * 2)));
    EXPECT_TRUE(find<QLabel>("summary")->text().contains(u"Mbps"));

    choose(picker, QStringLiteral("prores-422"));
    EXPECT_FALSE(shown("bitrateBlock"));
    EXPECT_TRUE(showsText(proRes));
    EXPECT_FALSE(find<QLabel>("summary")->text().contains(u"Mbps"));
}

TEST_F(InspectorTest, CustomResolutionRevealsWidthAndHeight)
{
    const QList<EncodingJob> jobs = addQueued(1);
    select(jobs);
    EXPECT_FALSE(shown("customSize"));

    auto* resolution = find<QComboBox>("resolutionPicker");
    choose(resolution, QStringLiteral("custom"));
    EXPECT_EQ(jobAt(0).settings.body.resolution, ResolutionMode::custom);
    ASSERT_TRUE(shown("customSize"));
    EXPECT_EQ(find<QSpinBox>("widthField")->value(), 1920);

    typeInto(find<QSpinBox>("widthField"), QStringLiteral("1000"));
    typeInto(find<QSpinBox>("heightField"), QStringLiteral("1000"));
    EXPECT_EQ(jobAt(0).settings.body.customWidth, 1000);
    EXPECT_EQ(jobAt(0).settings.body.customHeight, 1000);
    EXPECT_TRUE(find<QLabel>("summary")->text().startsWith(QStringLiteral("1000×562")));

    choose(resolution, QStringLiteral("hd720"));
    EXPECT_FALSE(shown("customSize"));
}

TEST_F(InspectorTest, TypedNamesAndRatesReachTheJobWhole)
{
    const QList<EncodingJob> jobs = addQueued(1);
    select(jobs);
    choose(find<QComboBox>("presetPicker"), QStringLiteral("h264"));

    // Every keystroke is written to the job; the field must keep the cursor and the text.
    auto* naming = find<QLineEdit>("namingField");
    typeInto(naming, QStringLiteral("{name}_v2_{date}"));
    EXPECT_EQ(jobAt(0).settings.body.namingPattern, QStringLiteral("{name}_v2_{date}"));
    EXPECT_EQ(naming->text(), QStringLiteral("{name}_v2_{date}"));
    EXPECT_TRUE(find<QLabel>("previewName")->text().startsWith(QStringLiteral("clip0_v2_")));

    typeInto(find<QDoubleSpinBox>("bitrateField"), QStringLiteral("33.5"));
    EXPECT_DOUBLE_EQ(jobAt(0).settings.body.bitrateMbps, 33.5);
    EXPECT_FALSE(jobAt(0).settings.body.bitrateFollowsQuality);
    EXPECT_EQ(find<QSlider>("bitrateSlider")->value(), 67);
    EXPECT_EQ(model->presetLabel(jobAt(0)), QStringLiteral("H.264 · Edited"));
    EXPECT_EQ(find<QComboBox>("presetPicker")->currentData().toString(), QStringLiteral("inline"));

    // Choosing a tier again makes the rate follow it.
    choose(find<QComboBox>("qualityPicker"), QStringLiteral("low"));
    EXPECT_TRUE(jobAt(0).settings.body.bitrateFollowsQuality);
    EXPECT_LT(jobAt(0).settings.body.bitrateMbps, 33.5);
    EXPECT_DOUBLE_EQ(find<QDoubleSpinBox>("bitrateField")->value(),
                     std::round(jobAt(0).settings.body.bitrateMbps * 10) / 10);
}

TEST_F(InspectorTest, SavedPresetCanBeDeletedFromItsJob)
{
    const QList<EncodingJob> jobs = addQueued(1);
    select(jobs);
    EXPECT_FALSE(shown("deletePreset"));
    model->savePreset(QStringLiteral("Grade"));
    ASSERT_EQ(model->savedPresets().size(), 1);

    auto* picker = find<QComboBox>("presetPicker");
    EXPECT_EQ(picker->currentText(), QStringLiteral("Grade"));
    EXPECT_FALSE(shown("presetDetail"));
    ASSERT_TRUE(shown("deletePreset"));
    find<QPushButton>("deletePreset")->click();
    EXPECT_TRUE(model->savedPresets().isEmpty());
    EXPECT_EQ(picker->findText(QStringLiteral("Grade")), -1);
    EXPECT_EQ(picker->currentData().toString(), QStringLiteral("inline"));
    EXPECT_FALSE(shown("deletePreset"));
}

TEST_F(InspectorTest, HevcWithAlphaSaysWhenNoEncoderKeepsAlpha)
{
    const QList<EncodingJob> jobs = addQueued(1);
    select(jobs);
    EXPECT_FALSE(shown("alphaMissing"));
    choose(find<QComboBox>("presetPicker"), QStringLiteral("hevc-alpha"));
    EXPECT_EQ(shown("alphaMissing"), !hevcAlphaEncoderAvailable());
    EXPECT_EQ(find<QLabel>("alphaMissing")->text(), hevcAlphaMissingText());

    // A probed source with alpha gets the model's note as well.
    SourceInfo info = FakeProber::hd();
    info.hasAlpha = true;
    model->update(jobs[0].id, [&info](EncodingJob& job) { job.sourceInfo = info; });
    emit model->jobChanged(0);
    EXPECT_TRUE(shown("alphaNote"));
    EXPECT_EQ(find<QLabel>("alphaNote")->text(), QStringLiteral("Alpha will be kept."));
}

} // namespace
} // namespace corvel::testing
