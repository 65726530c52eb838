#pragma once

#include <QObject>
#include <QString>

namespace corvel {

// Which sheets the window shows. The window shows the about panel, the job-file help, the watch
// settings and the save-preset dialog while their flag is true, and clears the flag when the
// user closes one.
class Sheets final : public QObject
{
    Q_OBJECT

public:
    explicit Sheets(QObject* parent = nullptr) : QObject(parent) {}
    Q_DISABLE_COPY_MOVE(Sheets)

    bool showAbout() const { return m_showAbout; }
    void setShowAbout(bool shown);
    bool showHelp() const { return m_showHelp; }
    void setShowHelp(bool shown);
    bool showWatchSettings() const { return m_showWatchSettings; }
    void setShowWatchSettings(bool shown);
    // The save-preset dialog, with the name it suggests.
    bool showSavePreset() const { return m_showSavePreset; }
    void setShowSavePreset(bool shown);
    const QString& suggestedName() const { return m_suggestedName; }
    void openSavePreset(const QString& suggestedName);

signals:
    void showAboutChanged(bool shown);
    void showHelpChanged(bool shown);
    void showWatchSettingsChanged(bool shown);
    void showSavePresetChanged(bool shown);

private:
    bool m_showAbout = false;
    bool m_showHelp = false;
    bool m_showWatchSettings = false;
    bool m_showSavePreset = false;
    QString m_suggestedName = QStringLiteral("Preset");
};

} // namespace corvel
