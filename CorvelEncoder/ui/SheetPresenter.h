#pragma once

#include <QObject>
#include <QPointer>

class QDialog;

namespace corvel {

class AboutSheet;
class AppModel;
class HelpSheet;
class IntroSheet;
class SavePresetSheet;
class WatchSettingsPopover;

// Shows and hides the panels over the main window as the model's flags say: About, Help and
// Save Preset as window-modal dialogs, the watch settings as a panel floating over the window,
// and the first-run introduction laid over the window's content. A panel closed by the user
// clears its flag, so the model always says what is on screen. The introduction is the one
// exception: once shown it stays until "Continue", even when an import already marked it seen.
//
// Lives on the main thread; the model and the window must outlive it.
class SheetPresenter final : public QObject
{
    Q_OBJECT

public:
    SheetPresenter(AppModel& model, QWidget* window);
    ~SheetPresenter() override;
    Q_DISABLE_COPY_MOVE(SheetPresenter)

    // The control the watch settings open from; without one they open at the window's lower
    // left corner. Clicks on it are left to it rather than closing the panel.
    void setWatchAnchor(QWidget* anchor);

    // The panels on screen, or null.
    AboutSheet* aboutSheet() const;
    HelpSheet* helpSheet() const;
    SavePresetSheet* savePresetSheet() const;
    WatchSettingsPopover* watchSettings() const;
    IntroSheet* intro() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setAboutShown(bool shown);
    void setHelpShown(bool shown);
    void setSavePresetShown(bool shown);
    void setWatchShown(bool shown);
    void showIntro();
    void closeIntro();
    void presentDialog(QDialog* dialog, const std::function<void()>& closed);
    void placeWatch();
    void placeIntro();

    AppModel& m_model;
    QPointer<QWidget> m_window;
    QPointer<QWidget> m_anchor;
    QPointer<AboutSheet> m_about;
    QPointer<HelpSheet> m_help;
    QPointer<SavePresetSheet> m_savePreset;
    QPointer<WatchSettingsPopover> m_watch;
    QPointer<IntroSheet> m_intro;
};

} // namespace corvel
