#include "CorvelEncoder/AppModel.h"

namespace corvel {

void AppModel::setShowAbout(bool shown)
{
    if (shown == m_showAbout)
        return;
    m_showAbout = shown;
    emit showAboutChanged(shown);
}

void AppModel::setShowHelp(bool shown)
{
    if (shown == m_showHelp)
        return;
    m_showHelp = shown;
    emit showHelpChanged(shown);
}

void AppModel::setShowWatchSettings(bool shown)
{
    if (shown == m_showWatchSettings)
        return;
    m_showWatchSettings = shown;
    emit showWatchSettingsChanged(shown);
}

} // namespace corvel
