#include "CorvelEncoder/model/Sheets.h"

namespace corvel {

void Sheets::setShowAbout(bool shown)
{
    if (shown == m_showAbout)
        return;
    m_showAbout = shown;
    emit showAboutChanged(shown);
}

void Sheets::setShowHelp(bool shown)
{
    if (shown == m_showHelp)
        return;
    m_showHelp = shown;
    emit showHelpChanged(shown);
}

void Sheets::setShowWatchSettings(bool shown)
{
    if (shown == m_showWatchSettings)
        return;
    m_showWatchSettings = shown;
    emit showWatchSettingsChanged(shown);
}

void Sheets::setShowSavePreset(bool shown)
{
    if (shown == m_showSavePreset)
        return;
    m_showSavePreset = shown;
    emit showSavePresetChanged(shown);
}

void Sheets::openSavePreset(const QString& suggestedName)
{
    m_suggestedName = suggestedName;
    setShowSavePreset(true);
}

} // namespace corvel
