#include "CorvelEncoder/ui/WatchSettingsPopover.h"

#include "CorvelEncoder/model/AppModel.h"
#include "CorvelEncoder/ui/PanelKit.h"
#include "CorvelEncoder/ui/Theme.h"
#include "CorvelEncoder/ui/WheelGuard.h"
#include "CorvelEncoderCore/Presets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace corvel {

using namespace panelkit;

WatchSettingsPopover::WatchSettingsPopover(AppModel& model, QWidget* parent)
    : QFrame(parent), m_model(model)
{
    setObjectName(QStringLiteral("watchSettings"));
    setFixedWidth(340);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_StyledBackground, false);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(16, 14, 16, 14);
    column->setSpacing(8);
    column->addWidget(sectionLabel(QStringLiteral("WATCH FOLDER"), this));

    QLabel* explanation =
        caption(QStringLiteral("Files that finish copying into this folder are encoded on their "
                               "own. Output goes to a Corvel Output folder so the watch does not "
                               "pick up its own results."),
                this);
    column->addWidget(explanation);

    m_enabled = new QCheckBox(QStringLiteral("Watch for new files"), this);
    m_enabled->setObjectName(QStringLiteral("watchEnabled"));
    connect(m_enabled, &QCheckBox::toggled, this, [this](bool on) {
        m_model.watch().setEnabled(on);
        // Turning on without a folder only asks for one; show the real state meanwhile.
        refresh();
    });
    column->addWidget(m_enabled);

    m_folder = new FolderButton(false, this);
    m_folder->setObjectName(QStringLiteral("watchFolderButton"));
    connect(m_folder, &QAbstractButton::clicked, this, [this] { m_model.watch().chooseFolder(); });
    column->addWidget(m_folder);

    column->addWidget(caption(QStringLiteral("Output"), this));
    m_output = new FolderButton(false, this);
    m_output->setObjectName(QStringLiteral("watchOutputButton"));
    connect(m_output, &QAbstractButton::clicked, this, [this] { m_model.watch().chooseOutput(); });
    column->addWidget(m_output);

    column->addWidget(caption(QStringLiteral("Preset"), this));
    m_preset = new QComboBox(this);
    m_preset->setObjectName(QStringLiteral("watchPresetPicker"));
    m_preset->setAccessibleName(QStringLiteral("Watch preset"));
    m_preset->setToolTip(QStringLiteral("Watch preset"));
    connect(m_preset, &QComboBox::activated, this, [this](int index) {
        m_model.watch().setPreset(choiceID(m_preset, index));
        refresh();
    });
    guardWheel(m_preset);
    column->addWidget(m_preset);

    m_processExisting =
        new QCheckBox(QStringLiteral("Also encode files already in the folder"), this);
    m_processExisting->setObjectName(QStringLiteral("watchProcessExisting"));
    connect(m_processExisting, &QCheckBox::toggled, this,
            [this](bool on) { m_model.watch().setProcessExisting(on); });
    column->addWidget(m_processExisting);

    connect(&m_model.persistence(), &Persistence::settingsChanged, this,
            &WatchSettingsPopover::refresh);
    connect(&m_model.persistence(), &Persistence::savedPresetsChanged, this,
            &WatchSettingsPopover::refresh);
    refresh();
    adjustSize();
}

void WatchSettingsPopover::refresh()
{
    const AppSettings& settings = m_model.persistence().settings();
    {
        const QSignalBlocker block(m_enabled);
        m_enabled->setChecked(m_model.watch().enabled());
    }
    m_folder->setText(settings.watchFolder.isEmpty() ? QStringLiteral("Choose folder")
                                                     : settings.watchFolder);
    m_output->setText(m_model.watch().resolvedOutput());

    QList<std::pair<QString, QString>> presets;
    for (const BuiltinPreset& preset : BuiltinPreset::all())
        presets.append({preset.name, preset.id});
    for (const SavedPreset& preset : m_model.persistence().savedPresets())
        presets.append({preset.name, savedPresetID(preset)});
    {
        const QSignalBlocker block(m_preset);
        setChoices(m_preset, presets, m_model.watch().presetSelection());
    }
    {
        const QSignalBlocker block(m_processExisting);
        m_processExisting->setChecked(m_model.watch().processExisting());
    }
    update();
}

void WatchSettingsPopover::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        m_model.sheets().setShowWatchSettings(false);
        return;
    }
    QFrame::keyPressEvent(event);
}

void WatchSettingsPopover::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
    painter.fillPath(shape, Theme::raised());
    painter.setPen(QPen(Theme::lineStrong(), 1));
    painter.drawPath(shape);
}

} // namespace corvel
