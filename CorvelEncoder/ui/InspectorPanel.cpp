#include "CorvelEncoder/ui/InspectorPanel.h"

#include "CorvelEncoder/engine/EncoderChoice.h"
#include "CorvelEncoder/model/AppModel.h"
#include "CorvelEncoder/ui/BitrateScale.h"
#include "CorvelEncoder/ui/PanelKit.h"
#include "CorvelEncoder/ui/Theme.h"
#include "CorvelEncoder/ui/WheelGuard.h"
#include "CorvelEncoderCore/FrameMath.h"
#include "CorvelEncoderCore/PresetConstants.h"
#include "CorvelEncoderCore/Presets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace corvel {

using namespace panelkit;

namespace {

constexpr int kMargin = 16;
constexpr int kBlockSpacing = 18;
constexpr int kRowSpacing = 6;

QWidget* block(QWidget* parent, const QString& title, QVBoxLayout** column)
{
    auto* widget = new QWidget(parent);
    auto* layout = new QVBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(kRowSpacing);
    if (!title.isEmpty())
        layout->addWidget(sectionLabel(title, widget));
    *column = layout;
    return widget;
}

QComboBox* picker(const QString& name, QWidget* parent)
{
    // The label stays hidden; the block heading says what the menu is for.
    auto* combo = new QComboBox(parent);
    combo->setAccessibleName(name);
    combo->setToolTip(name);
    combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    combo->setMinimumContentsLength(8);
    return combo;
}

// The visible name of a picker whose entries alone do not say what it sets ("Source").
QLabel* fieldLabel(const QString& text, QWidget* field, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setBuddy(field);
    label->setStyleSheet(QStringLiteral("color: %1;").arg(css(Theme::dim())));
    return label;
}

} // namespace

InspectorPanel::InspectorPanel(AppModel& model, QWidget* parent) : QWidget(parent), m_model(model)
{
    setObjectName(QStringLiteral("inspector"));
    setMinimumWidth(280);

    m_scroll = new QScrollArea(this);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The fields inside are the Tab stops; the area itself would be one with no visible focus.
    // It still scrolls a field that takes focus into view.
    m_scroll->setFocusPolicy(Qt::NoFocus);
    m_scroll->viewport()->setAutoFillBackground(false);

    auto* content = new QWidget;
    content->setAutoFillBackground(false);
    content->setStyleSheet(fieldChromeStyle());
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
    column->setSpacing(kBlockSpacing);
    m_defaults = buildDefaults();
    m_job = buildJob();
    column->addWidget(m_defaults);
    column->addWidget(m_job);
    column->addWidget(caption(
        QStringLiteral("Corvel Brisk sends work as a .corveljob file or a corvelencoder:// link."),
        content));
    column->addStretch(1);
    m_scroll->setWidget(content);
    guardWheel(content);
    // Pickers, the folder fields and the Naming menu stand as tall as the text fields.
    content->ensurePolished();
    m_naming->ensurePolished();
    const int fieldHeight = m_naming->sizeHint().height();
    for (QComboBox* picker : content->findChildren<QComboBox*>())
        picker->setFixedHeight(fieldHeight);
    for (FolderButton* folder : content->findChildren<FolderButton*>())
        folder->setFixedHeight(fieldHeight);
    m_namingMenu->setFixedHeight(fieldHeight);

    auto* outer = new QVBoxLayout(this);
    // One pixel on the queue side for the edge line.
    outer->setContentsMargins(1, 0, 0, 0);
    outer->setSpacing(0);
    outer->addWidget(m_scroll);

    connectModel();
    refresh();
}

InspectorPanel::~InspectorPanel() = default;

void InspectorPanel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Theme::panel());
    painter.fillRect(QRect(0, 0, 1, height()), Theme::line());
}

// Building

QWidget* InspectorPanel::buildDefaults()
{
    QVBoxLayout* column = nullptr;
    QWidget* page = block(this, QStringLiteral("NEW JOBS"), &column);
    page->setObjectName(QStringLiteral("defaultsView"));
    column->addWidget(
        caption(QStringLiteral(
                    "Nothing is selected. These settings are used the next time you add a file."),
                page));

    m_defaultPreset = picker(QStringLiteral("Preset"), page);
    m_defaultPreset->setObjectName(QStringLiteral("defaultPresetPicker"));
    connect(m_defaultPreset, &QComboBox::activated, this, [this](int index) {
        m_model.editing().setPresetSelection(choiceID(m_defaultPreset, index));
        refresh();
    });
    column->addWidget(m_defaultPreset);

    m_defaultFolder = new FolderButton(true, page);
    m_defaultFolder->setObjectName(QStringLiteral("defaultFolder"));
    m_defaultFolder->setToolTip(QStringLiteral("Output Folder"));
    connect(m_defaultFolder, &QAbstractButton::clicked, this,
            [this] { m_model.editing().chooseOutputFolder(); });
    column->addWidget(m_defaultFolder);

    m_defaultReveal =
        new QCheckBox(QStringLiteral("Show in File Manager when a manual job finishes"), page);
    connect(m_defaultReveal, &QCheckBox::toggled, this,
            [this](bool on) { m_model.editing().setReveal(on); });
    column->addWidget(m_defaultReveal);

    m_dockBounce = new QCheckBox(QStringLiteral("Flash the taskbar when the queue finishes"), page);
    connect(m_dockBounce, &QCheckBox::toggled, this,
            [this](bool on) { m_model.editing().setDockBounce(on); });
    column->addWidget(m_dockBounce);
    // A long check box label must not widen the column past the panel: the other fields
    // would lose their margin. At narrow widths the label is cut instead.
    for (QCheckBox* box : {m_defaultReveal, m_dockBounce})
        box->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    return page;
}

QWidget* InspectorPanel::buildJob()
{
    auto* page = new QWidget(this);
    page->setObjectName(QStringLiteral("jobView"));
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(kBlockSpacing);

    auto* header = new QWidget(page);
    auto* headerColumn = new QVBoxLayout(header);
    headerColumn->setContentsMargins(0, 0, 0, 0);
    headerColumn->setSpacing(4);
    m_countLabel = sectionLabel(QStringLiteral("JOB"), header);
    m_countLabel->setObjectName(QStringLiteral("jobCount"));
    m_sourceName = new QLabel(header);
    m_sourceName->setObjectName(QStringLiteral("jobName"));
    QFont nameFont = m_sourceName->font();
    nameFont.setPixelSize(14);
    nameFont.setWeight(QFont::DemiBold);
    m_sourceName->setFont(nameFont);
    m_sourceName->setWordWrap(true);
    m_multiCaption = caption(
        QStringLiteral("Changes apply to every selected job that is not encoding."), header);
    headerColumn->addWidget(m_countLabel);
    headerColumn->addWidget(m_sourceName);
    headerColumn->addWidget(m_multiCaption);
    column->addWidget(header);

    m_lockWarning = new QLabel(
        QStringLiteral("This encode is running. Select a queued job to change settings."), page);
    m_lockWarning->setObjectName(QStringLiteral("lockWarning"));
    QFont warnFont = m_lockWarning->font();
    warnFont.setPixelSize(12);
    m_lockWarning->setFont(warnFont);
    m_lockWarning->setWordWrap(true);
    m_lockWarning->setStyleSheet(QStringLiteral("color: %1;").arg(css(Theme::warn())));
    column->addWidget(m_lockWarning);

    m_controls = new QWidget(page);
    m_controls->setObjectName(QStringLiteral("jobControls"));
    auto* controls = new QVBoxLayout(m_controls);
    controls->setContentsMargins(0, 0, 0, 0);
    controls->setSpacing(kBlockSpacing);
    controls->addWidget(buildPresetBlock());
    controls->addWidget(buildOutputBlock());
    controls->addWidget(buildImageBlock());
    controls->addWidget(buildBitrateBlock());
    m_proResCaption =
        caption(QStringLiteral("ProRes uses the profile. There is no target bitrate."), m_controls);
    controls->addWidget(m_proResCaption);
    controls->addWidget(buildAudioBlock());
    m_alphaNote = caption(QString(), m_controls);
    m_alphaNote->setObjectName(QStringLiteral("alphaNote"));
    controls->addWidget(m_alphaNote);
    m_alphaMissing = caption(hevcAlphaMissingText(), m_controls);
    m_alphaMissing->setObjectName(QStringLiteral("alphaMissing"));
    controls->addWidget(m_alphaMissing);
    m_summary = caption(QString(), m_controls);
    m_summary->setObjectName(QStringLiteral("summary"));
    makeSelectable(m_summary);
    controls->addWidget(m_summary);
    column->addWidget(m_controls);
    return page;
}

QWidget* InspectorPanel::buildPresetBlock()
{
    QVBoxLayout* column = nullptr;
    QWidget* widget = block(m_controls, QStringLiteral("PRESET"), &column);

    m_preset = picker(QStringLiteral("Preset"), widget);
    m_preset->setObjectName(QStringLiteral("presetPicker"));
    connect(m_preset, &QComboBox::activated, this, [this](int index) {
        m_model.editing().setPresetSelection(choiceID(m_preset, index));
        // "Custom" is never applied: show the job's real choice again.
        refresh();
    });
    column->addWidget(m_preset);

    m_presetDetail = caption(QString(), widget);
    m_presetDetail->setObjectName(QStringLiteral("presetDetail"));
    column->addWidget(m_presetDetail);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    m_savePreset = new QPushButton(QStringLiteral("Save Preset…"), widget);
    m_savePreset->setObjectName(QStringLiteral("savePreset"));
    connect(m_savePreset, &QPushButton::clicked, this,
            [this] { m_model.editing().beginSavePreset(); });
    m_deletePreset = new QPushButton(QStringLiteral("Delete Preset"), widget);
    m_deletePreset->setObjectName(QStringLiteral("deletePreset"));
    connect(m_deletePreset, &QPushButton::clicked, this, [this] {
        const QString id = m_model.editing().presetSelection();
        if (id.startsWith(kCustomPresetPrefix))
            m_model.editing().deletePreset(QUuid::fromString(id.mid(kCustomPresetPrefix.size())));
    });
    buttons->addWidget(m_savePreset);
    buttons->addWidget(m_deletePreset);
    buttons->addStretch(1);
    column->addLayout(buttons);
    return widget;
}

QWidget* InspectorPanel::buildOutputBlock()
{
    QVBoxLayout* column = nullptr;
    QWidget* widget = block(m_controls, QStringLiteral("OUTPUT"), &column);

    m_outputFolder = new FolderButton(true, widget);
    m_outputFolder->setObjectName(QStringLiteral("outputFolder"));
    m_outputFolder->setToolTip(QStringLiteral("Output Folder"));
    connect(m_outputFolder, &QAbstractButton::clicked, this,
            [this] { m_model.editing().chooseOutputFolder(); });
    column->addWidget(m_outputFolder);

    auto* useDefault = new QPushButton(QStringLiteral("Use as default folder"), widget);
    connect(useDefault, &QPushButton::clicked, this,
            [this] { m_model.editing().useOutputAsDefault(); });
    auto* useRow = new QHBoxLayout;
    useRow->addWidget(useDefault);
    useRow->addStretch(1);
    column->addLayout(useRow);

    m_naming = new QLineEdit(widget);
    m_naming->setObjectName(QStringLiteral("namingField"));
    m_naming->setPlaceholderText(QStringLiteral("Name"));
    connect(m_naming, &QLineEdit::textEdited, this,
            [this](const QString& text) { m_model.editing().setNaming(text); });
    m_namingMenu = new QPushButton(QStringLiteral("Naming"), widget);
    m_namingMenu->setObjectName(QStringLiteral("namingMenu"));
    auto* menu = new QMenu(m_namingMenu);
    for (const QString& pattern : namingPatterns()) {
        menu->addAction(pattern, this, [this, pattern] {
            m_model.editing().setNaming(pattern);
            refresh();
        });
    }
    m_namingMenu->setMenu(menu);
    // The button gets no leave event while its menu is open, so it would stay lit after the
    // menu closes; it looks again where the pointer is.
    m_namingMenu->setFocusPolicy(Qt::TabFocus);
    connect(menu, &QMenu::aboutToHide, m_namingMenu, [button = m_namingMenu] {
        QTimer::singleShot(0, button, [button] {
            button->setAttribute(Qt::WA_UnderMouse,
                                 button->rect().contains(button->mapFromGlobal(QCursor::pos())));
            button->update();
        });
    });
    auto* namingRow = new QHBoxLayout;
    namingRow->setSpacing(8);
    namingRow->addWidget(m_naming, 1);
    namingRow->addWidget(m_namingMenu);
    column->addLayout(namingRow);

    m_preview = new QLabel(widget);
    m_preview->setObjectName(QStringLiteral("previewName"));
    m_preview->setWordWrap(true);
    makeSelectable(m_preview);
    column->addWidget(m_preview);

    m_reveal = new QCheckBox(QStringLiteral("Show in File Manager when finished"), widget);
    m_reveal->setObjectName(QStringLiteral("revealCheck"));
    connect(m_reveal, &QCheckBox::toggled, this,
            [this](bool on) { m_model.editing().setReveal(on); });
    column->addWidget(m_reveal);
    return widget;
}

QWidget* InspectorPanel::buildImageBlock()
{
    QVBoxLayout* column = nullptr;
    QWidget* widget = block(m_controls, QStringLiteral("IMAGE"), &column);

    m_sourceLine = caption(QString(), widget);
    m_sourceLine->setObjectName(QStringLiteral("sourceLine"));
    column->addWidget(m_sourceLine);

    m_resolution = picker(QStringLiteral("Resolution"), widget);
    m_resolution->setObjectName(QStringLiteral("resolutionPicker"));
    connect(m_resolution, &QComboBox::activated, this, [this](int index) {
        if (const auto mode = fromRawValue<ResolutionMode>(choiceID(m_resolution, index)))
            m_model.editing().setResolution(*mode);
        refresh();
    });
    column->addWidget(fieldLabel(QStringLiteral("Resolution"), m_resolution, widget));
    column->addWidget(m_resolution);

    m_customSize = new QWidget(widget);
    m_customSize->setObjectName(QStringLiteral("customSize"));
    auto* sizeRow = new QHBoxLayout(m_customSize);
    sizeRow->setContentsMargins(0, 0, 0, 0);
    sizeRow->setSpacing(6);
    const auto sizeField = [this](const QString& name) {
        auto* field = new QSpinBox(m_customSize);
        field->setObjectName(name.toLower() + QStringLiteral("Field"));
        field->setAccessibleName(name);
        field->setRange(int(kMinCustomBox), int(kMaxDimension));
        field->setButtonSymbols(QAbstractSpinBox::NoButtons);
        // Only a finished number reaches the jobs, not every keystroke.
        field->setKeyboardTracking(false);
        return field;
    };
    m_width = sizeField(QStringLiteral("Width"));
    m_height = sizeField(QStringLiteral("Height"));
    connect(m_width, &QSpinBox::valueChanged, this,
            [this](int value) { m_model.editing().setCustomWidth(value); });
    connect(m_height, &QSpinBox::valueChanged, this,
            [this](int value) { m_model.editing().setCustomHeight(value); });
    sizeRow->addWidget(new QLabel(QStringLiteral("Width"), m_customSize));
    sizeRow->addWidget(m_width, 1);
    sizeRow->addWidget(new QLabel(QStringLiteral("Height"), m_customSize));
    sizeRow->addWidget(m_height, 1);
    column->addWidget(m_customSize);

    m_frameRate = picker(QStringLiteral("Frame rate"), widget);
    m_frameRate->setObjectName(QStringLiteral("frameRatePicker"));
    connect(m_frameRate, &QComboBox::activated, this, [this](int index) {
        m_model.editing().setFrameRateSelection(choiceID(m_frameRate, index));
        refresh();
    });
    column->addWidget(fieldLabel(QStringLiteral("Frame rate"), m_frameRate, widget));
    column->addWidget(m_frameRate);

    column->addWidget(caption(QStringLiteral("Resolution fits inside the target and keeps the "
                                             "source shape. Dimensions stay even."),
                              widget));
    return widget;
}

QWidget* InspectorPanel::buildBitrateBlock()
{
    QVBoxLayout* column = nullptr;
    m_bitrateBlock = block(m_controls, QStringLiteral("BITRATE"), &column);
    m_bitrateBlock->setObjectName(QStringLiteral("bitrateBlock"));

    m_quality = picker(QStringLiteral("Quality"), m_bitrateBlock);
    m_quality->setObjectName(QStringLiteral("qualityPicker"));
    connect(m_quality, &QComboBox::activated, this, [this](int index) {
        if (const auto tier = fromRawValue<QualityTier>(choiceID(m_quality, index)))
            m_model.editing().setQuality(*tier);
        refresh();
    });
    column->addWidget(m_quality);

    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    m_bitrateSlider = new QSlider(Qt::Horizontal, m_bitrateBlock);
    m_bitrateSlider->setObjectName(QStringLiteral("bitrateSlider"));
    m_bitrateSlider->setRange(0, BitrateScale::kPositions);
    m_bitrateSlider->setSingleStep(1);
    m_bitrateSlider->setPageStep(BitrateScale::kPositions / 20);
    connect(m_bitrateSlider, &QSlider::valueChanged, this,
            [this](int value) { m_model.editing().setBitrate(BitrateScale::mbpsAt(value)); });
    m_bitrateField = new QDoubleSpinBox(m_bitrateBlock);
    m_bitrateField->setObjectName(QStringLiteral("bitrateField"));
    m_bitrateField->setAccessibleName(QStringLiteral("Bitrate"));
    m_bitrateField->setDecimals(1);
    m_bitrateField->setRange(kMinBitrateMbps, kMaxBitrateMbps);
    m_bitrateField->setSingleStep(0.5);
    m_bitrateField->setButtonSymbols(QAbstractSpinBox::NoButtons);
    m_bitrateField->setKeyboardTracking(false);
    m_bitrateField->setFixedWidth(72);
    connect(m_bitrateField, &QDoubleSpinBox::valueChanged, this,
            [this](double value) { m_model.editing().setBitrate(value); });
    row->addWidget(m_bitrateSlider, 1);
    row->addWidget(m_bitrateField);
    row->addWidget(new QLabel(QStringLiteral("Mbps"), m_bitrateBlock));
    column->addLayout(row);

    column->addWidget(caption(QStringLiteral("Quality fills in a bitrate from the frame size. "
                                             "Typing a number keeps that exact rate."),
                              m_bitrateBlock));
    return m_bitrateBlock;
}

QWidget* InspectorPanel::buildAudioBlock()
{
    QVBoxLayout* column = nullptr;
    QWidget* widget = block(m_controls, QStringLiteral("AUDIO"), &column);
    m_audio = picker(QStringLiteral("Audio"), widget);
    m_audio->setObjectName(QStringLiteral("audioPicker"));
    connect(m_audio, &QComboBox::activated, this, [this](int index) {
        if (const auto mode = fromRawValue<AudioMode>(choiceID(m_audio, index)))
            m_model.editing().setAudio(*mode);
        refresh();
    });
    column->addWidget(m_audio);
    column->addWidget(caption(QStringLiteral("AAC is written into MP4 for H.264 and HEVC. PCM, "
                                             "or HEVC with alpha, is written as MOV."),
                              widget));
    return widget;
}

void InspectorPanel::connectModel()
{
    const auto all = [this] {
        refresh();
    };
    connect(&m_model.store(), &JobStore::selectionChanged, this, [this] {
        refresh();
        // Another job: start from its title, not where the last one was scrolled to.
        m_scroll->verticalScrollBar()->setValue(0);
    });
    connect(&m_model.persistence(), &Persistence::settingsChanged, this, all);
    connect(&m_model.persistence(), &Persistence::savedPresetsChanged, this, all);
    // Rows coming or going can change which selected job comes first.
    connect(&m_model.store(), &JobStore::jobsInserted, this, all);
    connect(&m_model.store(), &JobStore::jobsRemoved, this, all);
    connect(&m_model.store(), &JobStore::jobChanged, this, &InspectorPanel::onJobChanged);
}

} // namespace corvel
