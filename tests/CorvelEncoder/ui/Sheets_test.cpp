#include "UiTesting.h"

#include "CorvelEncoder/ui/AboutSheet.h"
#include "CorvelEncoder/ui/HelpSheet.h"
#include "CorvelEncoder/ui/IntroSheet.h"
#include "CorvelEncoder/ui/PanelKit.h"
#include "CorvelEncoder/ui/SavePresetSheet.h"
#include "CorvelEncoder/ui/SheetPresenter.h"
#include "CorvelEncoder/ui/WatchSettingsPopover.h"

namespace corvel::testing {
namespace {

class SheetsTest : public UiFixture
{
protected:
    void SetUp() override
    {
        UiFixture::SetUp();
        window = std::make_unique<QMainWindow>();
        window->setCentralWidget(new QWidget);
        window->resize(1000, 700);
        presenter = new SheetPresenter(*model, window.get());
        window->show();
    }
    std::unique_ptr<QMainWindow> window;
    SheetPresenter* presenter = nullptr; // owned by the window
};

TEST_F(SheetsTest, ReturnSavesThePresetAndCancelOrEscapeSavesNothing)
{
    select(addQueued(1));
    model->editing().beginSavePreset();
    SavePresetSheet* sheet = presenter->savePresetSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->nameField()->text(), u"My ProRes 422 HQ"_s);
    // An empty name or a built-in preset's saves nothing and leaves the dialog up.
    for (const QString& refused : {QString(), u"H.264"_s}) {
        sheet->nameField()->setText(refused);
        QTest::keyClick(sheet->nameField(), Qt::Key_Return);
        EXPECT_EQ(presenter->savePresetSheet(), sheet);
    }
    sheet->nameField()->clear();
    QTest::keyClicks(sheet->nameField(), u"  Grade  "_s);
    QTest::keyClick(sheet->nameField(), Qt::Key_Return);
    ASSERT_EQ(model->persistence().savedPresets().size(), 1);
    EXPECT_EQ(model->persistence().savedPresets().first().name, u"Grade"_s);
    EXPECT_EQ(presenter->savePresetSheet(), nullptr);

    // Each opening starts from the model's suggestion, not from the last dialog's text.
    for (const bool cancel : {true, false}) {
        model->editing().beginSavePreset();
        sheet = presenter->savePresetSheet();
        ASSERT_NE(sheet, nullptr);
        EXPECT_EQ(sheet->nameField()->text(), u"Grade"_s);
        sheet->nameField()->setText(u"Other"_s);
        if (cancel) {
            for (QPushButton* button : sheet->findChildren<QPushButton*>())
                if (button->text() == u"Cancel")
                    button->click();
        } else {
            QTest::keyClick(sheet, Qt::Key_Escape);
        }
        EXPECT_FALSE(model->sheets().showSavePreset());
        EXPECT_EQ(presenter->savePresetSheet(), nullptr);
        EXPECT_EQ(model->persistence().savedPresets().size(), 1);
    }
}

TEST_F(SheetsTest, IntroductionHoldsTheFocusAndStaysUntilContinueEvenAfterADrop)
{
    auto* behind = new QPushButton(u"Behind"_s, window->centralWidget());
    behind->show();
    ASSERT_TRUE(activate(window.get()));
    IntroSheet* intro = presenter->intro();
    ASSERT_NE(intro, nullptr);
    // It lies over the content, below the menus.
    EXPECT_TRUE(intro->geometry().contains(window->centralWidget()->geometry()));
    // Neither Tab nor a stray focus change reaches what it covers.
    for (int i = 0; i < 3; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_TRUE(intro->isAncestorOf(QApplication::focusWidget()));
    }
    behind->setFocus();
    EXPECT_TRUE(intro->isAncestorOf(QApplication::focusWidget()));

    const QList<QUrl> shot = {QUrl::fromLocalFile(path(u"shot.mov"_s))};
    EXPECT_TRUE(sendDrag(intro, shot, QEvent::DragEnter));
    EXPECT_TRUE(sendDrag(intro, shot, QEvent::Drop));
    ASSERT_EQ(model->store().jobs().size(), 1);
    // Importing marked the introduction seen, but it stays on screen, above later content.
    EXPECT_FALSE(model->intake().showIntro());
    EXPECT_EQ(presenter->intro(), intro);
    (new QWidget(window.get()))->show();
    EXPECT_EQ(window->children().last(), intro);

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(presenter->intro(), nullptr);
    EXPECT_TRUE(settings().hasSeenIntro);
    // A model that has seen it shows none.
    QWidget other;
    EXPECT_EQ(SheetPresenter(*model, &other).intro(), nullptr);
}

// Closing them from the keyboard takes the path the save-preset dialog's Escape checks.
TEST_F(SheetsTest, HelpAndAboutSpeakForThisSystem)
{
    // The job-file help names this program and its own link scheme, not another platform's.
    const QString& text = jobFileHelpText();
    EXPECT_TRUE(
        text.contains(u"\n  corvel-encoder cut.corveljob\n  xdg-open \"corvelencoder://"_s));
    EXPECT_FALSE(text.contains(u"open -a"_s) || text.contains(u"BRISK-ID"_s) ||
                 text.contains(u"SCHEME"_s));
    model->sheets().setShowHelp(true);
    ASSERT_NE(presenter->helpSheet(), nullptr);
    auto* body = presenter->helpSheet()->findChild<QPlainTextEdit*>();
    EXPECT_EQ(body->toPlainText(), text);
    EXPECT_TRUE(body->isReadOnly() && QFontInfo(body->font()).fixedPitch());

    const QString saved = QCoreApplication::applicationVersion();
    QCoreApplication::setApplicationVersion(u"2.4.1"_s);
    model->sheets().setShowAbout(true);
    QCoreApplication::setApplicationVersion(saved);
    ASSERT_NE(presenter->aboutSheet(), nullptr);
    EXPECT_TRUE(labelTexts(presenter->aboutSheet()).contains(u"Version 2.4.1"_s));
}

TEST_F(SheetsTest, WatchSettingsShowChoicesAndFollowTheModel)
{
    presenter->intro()->continueButton()->click();
    model->sheets().setShowWatchSettings(true);
    WatchSettingsPopover* popover = presenter->watchSettings();
    ASSERT_NE(popover, nullptr);
    EXPECT_TRUE(popover->isVisible());
    EXPECT_EQ(popover->outputButton()->text(), model->watch().resolvedOutput());

    // Turning the watch on without a folder asks for one; cancelled, the box stays off.
    auto* enabled = find<QCheckBox>(popover, "watchEnabled");
    enabled->click();
    ASSERT_FALSE(desktop.openRequests.isEmpty());
    EXPECT_EQ(desktop.openRequests.last().title, u"Watch Folder"_s);
    EXPECT_FALSE(enabled->isChecked());
    const QString folder = path(u"Watch"_s);
    ASSERT_TRUE(QDir().mkpath(folder));
    desktop.nextChoice = {folder};
    popover->folderButton()->click();
    EXPECT_EQ(popover->folderButton()->text(), folder);
    EXPECT_EQ(popover->outputButton()->text(), folder + u"/Corvel Output"_s);
    find<QCheckBox>(popover, "watchProcessExisting")->click();
    EXPECT_TRUE(model->watch().processExisting());

    // A click inside keeps it; a click elsewhere in the window closes it, as Escape does.
    QTest::mouseClick(popover, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(model->sheets().showWatchSettings());
    QTest::mouseClick(window->centralWidget(), Qt::LeftButton, {}, QPoint(900, 20));
    EXPECT_FALSE(model->sheets().showWatchSettings());
    EXPECT_EQ(presenter->watchSettings(), nullptr);
    model->sheets().setShowWatchSettings(true);
    QTest::keyClick(presenter->watchSettings(), Qt::Key_Escape);
    EXPECT_FALSE(model->sheets().showWatchSettings());
}

} // namespace
} // namespace corvel::testing
