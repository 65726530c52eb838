#pragma once

#include <QDialog>

namespace corvel {

class AppModel;

// The job-file format, with the sibling's bundle identifier and the link scheme filled in.
// Built once per process.
const QString& jobFileHelpText();

// "Job files": the help text, monospaced, selectable. "Done" clears the model's showHelp.
class HelpSheet final : public QDialog
{
    Q_OBJECT

public:
    explicit HelpSheet(AppModel& model, QWidget* parent = nullptr);
};

} // namespace corvel
