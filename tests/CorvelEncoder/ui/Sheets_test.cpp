#include "FakeProber.h"
#include "ModelTestSupport.h"

#include "CorvelEncoder/ui/AboutSheet.h"
#include "CorvelEncoder/ui/HelpSheet.h"
#include "CorvelEncoder/ui/IntroSheet.h"
#include "CorvelEncoder/ui/PanelKit.h"
#include "CorvelEncoder/ui/SavePresetSheet.h"
#include "CorvelEncoder/ui/SheetPresenter.h"
#include "CorvelEncoder/ui/WatchSettingsPopover.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

namespace corvel::testing {
namespace {

class SheetsTest : public ModelFixture
{
protected:
    void SetUp() override
    {
        makeModel();
        model->setProber(prober);
        window = std::make_unique<QMainWindow>();
        window->setCentralWidget(new QWidget);
        window->resize(1000, 700);
        presenter = new SheetPresenter(*model, window.get());
        window->show();
    }
    void TearDown() override
    {
        window.reset();
        model.reset();
    }

    static QStringList labelTexts(const QWidget* root)
    {
        QStringList texts;
        for (const QLabel* label : root->findChildren<QLabel*>())
            texts.append(label->text());
        return texts;
    }

    static QPushButton* button(const QWidget* root, const QString& text)
    {
        for (QPushButton* b : root->findChildren<QPushButton*>()) {
            if (b->text() == text)
                return b;
        }
        ADD_FAILURE() << "no button " << qPrintable(text);
        return nullptr;
    }

    FakeProber prober;
    std::unique_ptr<QMainWindow> window;
    SheetPresenter* presenter = nullptr; // owned by the window
};

TEST_F(SheetsTest, ReturnSavesThePresetAndCancelSavesNothing)
{
    const QList<EncodingJob> jobs = addQueued(1);
    model->setSelection({jobs[0].id});

    model->beginSavePreset();
    SavePresetSheet* sheet = presenter->savePresetSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_TRUE(labelTexts(sheet).contains(QStringLiteral("Save Preset")));
    EXPECT_EQ(sheet->nameField()->text(), QStringLiteral("ProRes 422 HQ"));
    EXPECT_EQ(sheet->nameField()->placeholderText(), QStringLiteral("Preset name"));

    // An empty name saves nothing and leaves the dialog up.
    sheet->nameField()->clear();
    QTest::keyClick(sheet->nameField(), Qt::Key_Return);
    EXPECT_TRUE(model->savedPresets().isEmpty());
    EXPECT_EQ(presenter->savePresetSheet(), sheet);

    QTest::keyClicks(sheet->nameField(), QStringLiteral("  Grade  "));
    QTest::keyClick(sheet->nameField(), Qt::Key_Return);
    ASSERT_EQ(model->savedPresets().size(), 1);
    EXPECT_EQ(model->savedPresets().first().name, QStringLiteral("Grade"));
    EXPECT_FALSE(model->showSavePreset());
    EXPECT_EQ(presenter->savePresetSheet(), nullptr);

    // Each opening starts from the model's suggestion, not from the last dialog's text.
    model->beginSavePreset();
    sheet = presenter->savePresetSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->nameField()->text(), QStringLiteral("Grade"));
    sheet->nameField()->setText(QStringLiteral("Other"));
    button(sheet, QStringLiteral("Cancel"))->click();
    EXPECT_EQ(model->savedPresets().size(), 1);
    EXPECT_FALSE(model->showSavePreset());
    EXPECT_EQ(presenter->savePresetSheet(), nullptr);

    // Escape closes it the same way.
    model->beginSavePreset();
    ASSERT_NE(presenter->savePresetSheet(), nullptr);
    QTest::keyClick(presenter->savePresetSheet(), Qt::Key_Escape);
    EXPECT_FALSE(model->showSavePreset());
    EXPECT_EQ(model->savedPresets().size(), 1);
}

TEST_F(SheetsTest, IntroductionStaysUntilContinueEvenAfterADrop)
{
    IntroSheet* intro = presenter->intro();
    ASSERT_NE(intro, nullptr);
    EXPECT_TRUE(intro->isVisible());
    // It lies over the content, below the menus.
    EXPECT_TRUE(intro->geometry().contains(window->centralWidget()->geometry()));
    EXPECT_TRUE(labelTexts(intro).contains(
        QStringLiteral("Drop a movie, a folder, or a .corveljob from Corvel Brisk. The queue "
                       "writes ProRes, H.264, and HEVC.")));

    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path(QStringLiteral("shot.mov")))});
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(intro, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(intro, &drop);
    ASSERT_EQ(model->jobs().size(), 1);
    EXPECT_EQ(model->jobs().first().sourcePath, path(QStringLiteral("shot.mov")));

    // Importing marked the introduction seen, but it stays on screen.
    EXPECT_FALSE(model->showIntro());
    EXPECT_EQ(presenter->intro(), intro);
    EXPECT_TRUE(intro->isVisible());

    // Content added to the window later does not cover it.
    auto* late = new QWidget(window.get());
    late->show();
    EXPECT_EQ(window->children().last(), intro);

    intro->continueButton()->click();
    EXPECT_EQ(presenter->intro(), nullptr);
    EXPECT_TRUE(model->settings().hasSeenIntro);
}

TEST_F(SheetsTest, IntroductionContinuesOnReturnAndNeverComesBack)
{
    ASSERT_NE(presenter->intro(), nullptr);
    QTest::keyClick(presenter->intro(), Qt::Key_Return);
    EXPECT_EQ(presenter->intro(), nullptr);
    EXPECT_TRUE(model->settings().hasSeenIntro);

    // A model that has seen it shows none.
    QWidget other;
    SheetPresenter again(*model, &other);
    EXPECT_EQ(again.intro(), nullptr);
}

TEST_F(SheetsTest, HelpTextUsesThisSystemsWords)
{
    const QString& text = jobFileHelpText();
    EXPECT_EQ(text.count(QStringLiteral("corvelencoder")), 2);
    EXPECT_EQ(text.count(QStringLiteral("studio.corvel.brisk")), 3);
    EXPECT_TRUE(text.contains(QStringLiteral("\n  corvel-encoder cut.corveljob\n")));
    EXPECT_TRUE(text.contains(
        QStringLiteral("\n  xdg-open \"corvelencoder://enqueue?path=/absolute/cut.corveljob\"\n")));
    EXPECT_TRUE(text.contains(
        QStringLiteral("\n  corvelencoder://enqueue?source=/clip.mov&preset=H.264&output=/Renders"
                       "&start=1&sender=studio.corvel.brisk\n")));
    EXPECT_FALSE(text.contains(QStringLiteral("open -a")));
    EXPECT_FALSE(text.contains(QStringLiteral("BRISK-ID")));
    EXPECT_FALSE(text.contains(QStringLiteral("SCHEME")));
    EXPECT_TRUE(text.startsWith(QStringLiteral("Corvel Encoder reads a JSON job file")));
    EXPECT_TRUE(
        text.endsWith(QStringLiteral("Name tokens: {name} {preset} {codec} {resolution} {date}")));

    model->setShowHelp(true);
    HelpSheet* sheet = presenter->helpSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(labelTexts(sheet).contains(QStringLiteral("Job files")));
    auto* body = sheet->findChild<QPlainTextEdit*>();
    ASSERT_NE(body, nullptr);
    EXPECT_EQ(body->toPlainText(), text);
    EXPECT_TRUE(body->isReadOnly());
    EXPECT_TRUE(body->font().fixedPitch() || QFontInfo(body->font()).fixedPitch());

    QTest::keyClick(sheet, Qt::Key_Escape);
    EXPECT_FALSE(model->showHelp());
    EXPECT_EQ(presenter->helpSheet(), nullptr);
}

TEST_F(SheetsTest, AboutFallsBackToTheFixedVersion)
{
    const QString saved = QCoreApplication::applicationVersion();
    QCoreApplication::setApplicationVersion(QString());
    model->setShowAbout(true);
    AboutSheet* sheet = presenter->aboutSheet();
    ASSERT_NE(sheet, nullptr);
    const QStringList texts = labelTexts(sheet);
    EXPECT_TRUE(texts.contains(QStringLiteral("Version 1.0.0")));
    EXPECT_TRUE(texts.contains(
        QStringLiteral("Queue and encode for the Corvel Studio suite. Corvel Brisk sends finished "
                       "cuts here.")));
    EXPECT_TRUE(texts.contains(QStringLiteral("studio.corvel.encoder")));
    EXPECT_TRUE(texts.contains(QStringLiteral("Corvel Brisk  studio.corvel.brisk")));
    EXPECT_TRUE(texts.contains(QStringLiteral("corvelencoder://")));

    QCoreApplication::setApplicationVersion(QStringLiteral("2.4.1"));
    EXPECT_EQ(AboutSheet::versionText(), QStringLiteral("Version 2.4.1"));
    QCoreApplication::setApplicationVersion(saved);

    // "Close" is the default button: Return closes it.
    QTest::keyClick(sheet, Qt::Key_Return);
    EXPECT_FALSE(model->showAbout());
    EXPECT_EQ(presenter->aboutSheet(), nullptr);

    // The flag cleared elsewhere takes the sheet away too.
    model->setShowAbout(true);
    ASSERT_NE(presenter->aboutSheet(), nullptr);
    model->setShowAbout(false);
    EXPECT_EQ(presenter->aboutSheet(), nullptr);
}

TEST_F(SheetsTest, WatchSettingsShowChoicesAndFollowTheModel)
{
    presenter->intro()->continueButton()->click();
    model->setShowWatchSettings(true);
    WatchSettingsPopover* popover = presenter->watchSettings();
    ASSERT_NE(popover, nullptr);
    EXPECT_TRUE(popover->isVisible());
    const QStringList texts = labelTexts(popover);
    EXPECT_EQ(texts.value(0), QStringLiteral("WATCH FOLDER"));
    EXPECT_TRUE(texts.value(1).startsWith(QStringLiteral("Files that finish copying")));

    EXPECT_EQ(popover->folderButton()->text(), QStringLiteral("Choose folder"));
    EXPECT_EQ(popover->outputButton()->text(), model->resolvedWatchOutput());
    EXPECT_FALSE(popover->outputButton()->text().isEmpty());

    // Turning the watch on without a folder asks for one; cancelled, the box stays off.
    auto* enabled = popover->findChild<QCheckBox*>(QStringLiteral("watchEnabled"));
    ASSERT_NE(enabled, nullptr);
    enabled->click();
    ASSERT_FALSE(desktop.openRequests.isEmpty());
    EXPECT_EQ(desktop.openRequests.last().title, QStringLiteral("Watch Folder"));
    EXPECT_FALSE(model->watchEnabled());
    EXPECT_FALSE(enabled->isChecked());

    const QString folder = path(QStringLiteral("Watch"));
    ASSERT_TRUE(QDir().mkpath(folder));
    desktop.nextChoice = {folder};
    popover->folderButton()->click();
    EXPECT_EQ(popover->folderButton()->text(), folder);
    EXPECT_EQ(popover->outputButton()->text(), folder + QStringLiteral("/Corvel Output"));

    auto* existing = popover->findChild<QCheckBox*>(QStringLiteral("watchProcessExisting"));
    ASSERT_NE(existing, nullptr);
    existing->click();
    EXPECT_TRUE(model->watchProcessExisting());

    // A click inside keeps it; a click elsewhere in the window closes it.
    QTest::mouseClick(popover, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(model->showWatchSettings());
    QTest::mouseClick(window->centralWidget(), Qt::LeftButton, {}, QPoint(900, 20));
    EXPECT_FALSE(model->showWatchSettings());
    EXPECT_EQ(presenter->watchSettings(), nullptr);

    model->setShowWatchSettings(true);
    ASSERT_NE(presenter->watchSettings(), nullptr);
    QTest::keyClick(presenter->watchSettings(), Qt::Key_Escape);
    EXPECT_FALSE(model->showWatchSettings());
}

} // namespace
} // namespace corvel::testing
