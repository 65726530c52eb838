#pragma once

#include <QWidget>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QSlider;
class QSpinBox;

namespace corvel {

class AppModel;
struct EncodingJob;

namespace panelkit {
class FolderButton;
}

// The panel beside the queue: the settings of the selected jobs, or with nothing selected the
// defaults of new jobs. It keeps nothing of its own: every control shows a model binding and
// writes back through it, and the panel refreshes whenever the model reports a change that
// concerns it. Lives on the main thread; the model must outlive it.
class InspectorPanel final : public QWidget
{
    Q_OBJECT

public:
    explicit InspectorPanel(AppModel& model, QWidget* parent = nullptr);
    ~InspectorPanel() override;
    Q_DISABLE_COPY_MOVE(InspectorPanel)

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QWidget* buildDefaults();
    QWidget* buildJob();
    QWidget* buildPresetBlock();
    QWidget* buildOutputBlock();
    QWidget* buildImageBlock();
    QWidget* buildBitrateBlock();
    QWidget* buildAudioBlock();
    void connectModel();

    void refresh();
    void refreshDefaults();
    void refreshJob(const EncodingJob& job);
    void onJobChanged(int row);

    AppModel& m_model;

    QScrollArea* m_scroll = nullptr;
    QWidget* m_defaults = nullptr;
    QWidget* m_job = nullptr;

    // Defaults view.
    QComboBox* m_defaultPreset = nullptr;
    panelkit::FolderButton* m_defaultFolder = nullptr;
    QCheckBox* m_defaultReveal = nullptr;
    QCheckBox* m_dockBounce = nullptr;

    // Job view.
    QLabel* m_countLabel = nullptr;
    QLabel* m_sourceName = nullptr;
    QLabel* m_multiCaption = nullptr;
    QLabel* m_lockWarning = nullptr;
    QWidget* m_controls = nullptr;

    QComboBox* m_preset = nullptr;
    QLabel* m_presetDetail = nullptr;
    QPushButton* m_savePreset = nullptr;
    QPushButton* m_deletePreset = nullptr;

    panelkit::FolderButton* m_outputFolder = nullptr;
    QLineEdit* m_naming = nullptr;
    QPushButton* m_namingMenu = nullptr;
    QLabel* m_preview = nullptr;
    QCheckBox* m_reveal = nullptr;

    QLabel* m_sourceLine = nullptr;
    QComboBox* m_resolution = nullptr;
    QWidget* m_customSize = nullptr;
    QSpinBox* m_width = nullptr;
    QSpinBox* m_height = nullptr;
    QComboBox* m_frameRate = nullptr;

    QWidget* m_bitrateBlock = nullptr;
    QLabel* m_proResCaption = nullptr;
    QComboBox* m_quality = nullptr;
    QSlider* m_bitrateSlider = nullptr;
    QDoubleSpinBox* m_bitrateField = nullptr;

    QComboBox* m_audio = nullptr;
    QLabel* m_alphaNote = nullptr;
    QLabel* m_alphaMissing = nullptr;
    QLabel* m_summary = nullptr;
};

} // namespace corvel
