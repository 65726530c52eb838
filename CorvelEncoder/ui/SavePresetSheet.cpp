#include "CorvelEncoder/ui/SavePresetSheet.h"

#include "CorvelEncoder/model/AppModel.h"
#include "CorvelEncoder/ui/PanelKit.h"
#include "CorvelEncoder/ui/Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace corvel {

using namespace panelkit;

SavePresetSheet::SavePresetSheet(AppModel& model, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("savePresetSheet"));
    setWindowTitle(QStringLiteral("Save Preset"));
    setMinimumWidth(380);
    setStyleSheet(fieldChromeStyle());

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 18, 20, 16);
    column->setSpacing(10);

    auto* title = new QLabel(QStringLiteral("Save Preset"), this);
    QFont titleFont = title->font();
    titleFont.setPixelSize(15);
    titleFont.setWeight(QFont::DemiBold);
    title->setFont(titleFont);
    column->addWidget(title);

    QLabel* note = caption(QStringLiteral("The current codec, size, frame rate, audio, and name "
                                          "pattern are stored. The output folder stays with the "
                                          "job."),
                           this);
    column->addWidget(note);

    m_name = new QLineEdit(model.sheets().suggestedName(), this);
    m_name->setObjectName(QStringLiteral("presetName"));
    m_name->setPlaceholderText(QStringLiteral("Preset name"));
    m_name->selectAll();
    column->addWidget(m_name);
    QLabel* problem = caption(QString(), this);
    problem->setObjectName(QStringLiteral("presetNameProblem"));
    problem->setStyleSheet(QStringLiteral("color: %1;").arg(css(Theme::badText())));
    column->addWidget(problem);

    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setAutoDefault(false);
    connect(cancel, &QPushButton::clicked, this,
            [&model] { model.sheets().setShowSavePreset(false); });
    auto* save = new QPushButton(QStringLiteral("Save"), this);
    save->setObjectName(QStringLiteral("saveButton"));
    save->setDefault(true);
    connect(save, &QPushButton::clicked, this,
            [this, &model] { model.editing().savePreset(m_name->text()); });

    // Save stays off while the name is refused, and the reason shows under the field.
    auto check = [this, &model, problem, save] {
        const std::optional<QString> why = model.editing().presetNameProblem(m_name->text());
        save->setEnabled(!why);
        problem->setText(why.value_or(QString()));
        problem->setVisible(why.has_value());
    };
    connect(m_name, &QLineEdit::textChanged, this, check);
    check();

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cancel);
    buttons->addWidget(save);
    column->addLayout(buttons);
    m_name->setFocus();
}

} // namespace corvel
