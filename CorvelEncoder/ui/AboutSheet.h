#pragma once

#include <QDialog>

class QLabel;

namespace corvel {

class AppModel;

// The about panel: lockup, version, what the application is for and its identifiers. "Close"
// (the default button) clears the model's showAbout. The model must outlive it.
class AboutSheet final : public QDialog
{
    Q_OBJECT

public:
    explicit AboutSheet(AppModel& model, QWidget* parent = nullptr);

    // "Version " and the application's version, or the fixed one when it has none.
    static QString versionText();
};

} // namespace corvel
