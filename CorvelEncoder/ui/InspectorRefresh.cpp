// The inspector's refresh: every control set from the model's bindings, without signalling the
// edits a user makes.
#include "CorvelEncoder/ui/InspectorPanel.h"

#include "CorvelEncoder/engine/EncoderChoice.h"
#include "CorvelEncoder/model/AppModel.h"
#include "CorvelEncoder/ui/BitrateScale.h"
#include "CorvelEncoder/ui/JobRowTexts.h"
#include "CorvelEncoder/ui/PanelKit.h"
#include "CorvelEncoderCore/FrameMath.h"
#include "CorvelEncoderCore/JobTexts.h"
#include "CorvelEncoderCore/PresetConstants.h"
#include "CorvelEncoderCore/Presets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QStandardItemModel>

#include <algorithm>
#include <cmath>

namespace corvel {

using namespace panelkit;

namespace {

constexpr double kLockedOpacity = 0.55;

QList<std::pair<QString, QString>> presetChoices(const QList<SavedPreset>& saved, bool custom)
{
    QList<std::pair<QString, QString>> choices;
    if (custom)
        choices.append({kCustomPresetName, kInlinePresetID});
    for (const BuiltinPreset& preset : BuiltinPreset::all())
        choices.append({preset.name, preset.id});
    for (const SavedPreset& preset : saved)
        choices.append({preset.name, savedPresetID(preset)});
    return choices;
}

template <class E>
QList<std::pair<QString, QString>> enumChoices(const QList<E>& cases)
{
    QList<std::pair<QString, QString>> choices;
    for (const E value : cases)
        choices.append({label(value), rawValue(value)});
    return choices;
}

bool hevcAlphaAvailable()
{
    // The encoders compiled into FFmpeg do not change while the process runs.
    static const bool available = hevcAlphaEncoderAvailable();
    return available;
}

} // namespace

void InspectorPanel::onJobChanged(int row)
{
    // Progress reports and probes change rows many times a second; only the shown job's
    // changes show here (the other selected jobs only count).
    const QList<EncodingJob>& jobs = m_model.store().jobs();
    if (row < 0 || row >= jobs.size() || !m_model.store().selection().contains(jobs.at(row).id))
        return;
    const std::optional<EncodingJob> primary = m_model.store().primaryJob();
    if (primary && primary->id == jobs.at(row).id)
        refreshJob(*primary);
}

void InspectorPanel::refresh()
{
    const std::optional<EncodingJob> primary = m_model.store().primaryJob();
    setShown(m_defaults, !primary);
    setShown(m_job, primary.has_value());
    if (primary)
        refreshJob(*primary);
    else
        refreshDefaults();
}

void InspectorPanel::refreshDefaults()
{
    const AppSettings& settings = m_model.persistence().settings();
    {
        const QSignalBlocker block(m_defaultPreset);
        setChoices(m_defaultPreset, presetChoices(m_model.persistence().savedPresets(), false),
                   m_model.editing().presetSelection());
    }
    if (m_defaultFolder->text() != settings.defaultOutputDirectory) {
        m_defaultFolder->setText(settings.defaultOutputDirectory);
        m_defaultFolder->updateGeometry();
    }
    {
        const QSignalBlocker block(m_defaultReveal);
        m_defaultReveal->setChecked(m_model.editing().reveal());
    }
    {
        const QSignalBlocker block(m_dockBounce);
        m_dockBounce->setChecked(m_model.editing().dockBounce());
    }
}

void InspectorPanel::refreshJob(const EncodingJob& job)
{
    const PresetBody& body = job.settings.body;
    const qsizetype count = m_model.store().selectedIDs().size();
    setText(m_countLabel,
            count > 1 ? QString::number(count) + QStringLiteral(" JOBS") : QStringLiteral("JOB"));
    setText(m_sourceName, job.sourceName());
    setShown(m_multiCaption, count > 1);

    const bool locked = m_model.editing().inspectorLocked();
    setShown(m_lockWarning, locked);
    m_controls->setEnabled(!locked);
    if (locked) {
        auto* effect = qobject_cast<QGraphicsOpacityEffect*>(m_controls->graphicsEffect());
        if (!effect) {
            effect = new QGraphicsOpacityEffect(m_controls);
            m_controls->setGraphicsEffect(effect);
        }
        effect->setOpacity(kLockedOpacity);
    } else if (m_controls->graphicsEffect()) {
        // Drawing through an effect costs a pixmap per frame; drop it when fully opaque.
        m_controls->setGraphicsEffect(nullptr);
    }

    // Preset.
    const QString selection = m_model.editing().presetSelection();
    {
        const QSignalBlocker block(m_preset);
        // "Custom" is what edited settings are, not a preset to pick: listed only while it
        // is the state, and never offered as a choice.
        const bool custom = selection == kInlinePresetID;
        setChoices(m_preset, presetChoices(m_model.persistence().savedPresets(), custom),
                   selection);
        if (auto* entries = qobject_cast<QStandardItemModel*>(m_preset->model()); entries && custom)
            entries->item(0)->setEnabled(false);
    }
    const auto builtin = BuiltinPreset::matching(selection);
    setText(m_presetDetail, builtin ? builtin->detail : QString());
    setShown(m_presetDetail, builtin.has_value());
    setShown(m_deletePreset, selection.startsWith(kCustomPresetPrefix));

    // Output.
    if (m_outputFolder->text() != job.settings.outputDirectory) {
        m_outputFolder->setText(job.settings.outputDirectory);
        m_outputFolder->updateGeometry();
    }
    if (m_naming->text() != body.namingPattern) {
        const QSignalBlocker block(m_naming);
        m_naming->setText(body.namingPattern);
    }
    setText(m_preview, JobRowTexts::outputName(job));
    {
        const QSignalBlocker block(m_reveal);
        m_reveal->setChecked(job.settings.revealWhenDone);
    }

    // Image.
    setText(m_sourceLine, sourceLine(job));
    {
        const QSignalBlocker block(m_resolution);
        setChoices(m_resolution, enumChoices(allResolutionModes()), rawValue(body.resolution));
    }
    setShown(m_customSize, body.resolution == ResolutionMode::custom);
    for (const auto& [field, value] :
         {std::pair{m_width, body.customWidth}, std::pair{m_height, body.customHeight}}) {
        // Setting an equal value would still reset what the user is typing.
        const int shown = int(std::clamp(value, kMinCustomBox, kMaxDimension));
        if (field->value() != shown) {
            const QSignalBlocker block(field);
            field->setValue(shown);
        }
    }
    {
        QList<std::pair<QString, QString>> rates;
        for (const FrameRateOption& option : frameRateMenu(body.frameRate))
            rates.append({option.label, option.id});
        const QSignalBlocker block(m_frameRate);
        setChoices(m_frameRate, rates, frameRateOptionID(body.frameRate));
    }

    // Bitrate, or why there is none.
    const bool bitrate = usesBitrate(body.codec);
    setShown(m_bitrateBlock, bitrate);
    setShown(m_proResCaption, !bitrate);
    if (bitrate) {
        {
            const QSignalBlocker block(m_quality);
            setChoices(m_quality, enumChoices(allQualityTiers()), rawValue(body.quality));
        }
        {
            const QSignalBlocker block(m_bitrateSlider);
            m_bitrateSlider->setValue(BitrateScale::positionOf(body.bitrateMbps));
        }
        // The field shows one decimal; setting an equal value again would reset what the
        // user is typing.
        const double shown = std::round(body.bitrateMbps * 10.0) / 10.0;
        if (m_bitrateField->value() != shown) {
            const QSignalBlocker block(m_bitrateField);
            m_bitrateField->setValue(shown);
        }
    }

    // Audio.
    {
        const QSignalBlocker block(m_audio);
        setChoices(m_audio, enumChoices(allAudioModes()), rawValue(body.audio));
    }

    // Notes.
    QStringList notes;
    for (const std::optional<QString>& note : {alphaNote(job), dynamicRangeNote(job)}) {
        if (note)
            notes << *note;
    }
    setText(m_alphaNote, notes.join(u' '));
    setShown(m_alphaNote, !notes.isEmpty());
    setShown(m_alphaMissing, body.codec == Codec::hevcWithAlpha && !hevcAlphaAvailable());
    setText(m_summary, summaryLine(job));
}

} // namespace corvel
