#pragma once

#include <QDialog>

class QLineEdit;

namespace corvel {

class AppModel;

// "Save Preset": a name field that starts with the model's suggested name. "Save" (the default
// button, so Return) hands the name to the model, which closes the dialog once it has saved;
// "Cancel" clears showSavePreset. The name field is the dialog's only state.
class SavePresetSheet final : public QDialog
{
    Q_OBJECT

public:
    explicit SavePresetSheet(AppModel& model, QWidget* parent = nullptr);

    QLineEdit* nameField() const { return m_name; }

private:
    QLineEdit* m_name = nullptr;
};

} // namespace corvel
