#pragma once

#include <QFrame>

class QCheckBox;
class QComboBox;

namespace corvel {

class AppModel;

namespace panelkit {
class FolderButton;
}

// The watch-folder settings, floating over the main window. Every control shows a model
// binding and writes through it; the panel refreshes when the settings or presets change.
// Escape clears the model's showWatchSettings; SheetPresenter also closes it on a click
// elsewhere in the window. The model must outlive it.
class WatchSettingsPopover final : public QFrame
{
    Q_OBJECT

public:
    WatchSettingsPopover(AppModel& model, QWidget* parent);

    panelkit::FolderButton* folderButton() const { return m_folder; }
    panelkit::FolderButton* outputButton() const { return m_output; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void refresh();

    AppModel& m_model;
    QCheckBox* m_enabled = nullptr;
    panelkit::FolderButton* m_folder = nullptr;
    panelkit::FolderButton* m_output = nullptr;
    QComboBox* m_preset = nullptr;
    QCheckBox* m_processExisting = nullptr;
};

} // namespace corvel
