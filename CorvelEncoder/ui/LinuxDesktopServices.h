#pragma once

#include "CorvelEncoder/model/DesktopServices.h"
#include "CorvelEncoder/platform/SleepInhibitor.h"

#include <QPointer>
#include <QUrl>
#include <QWidget>

#include <functional>

namespace corvel {

// The desktop operations on a Linux session: Qt file dialogs, the freedesktop file manager
// interface on the session bus, taskbar attention, and a logind sleep inhibitor while encodes
// run. Main thread only. When no file manager takes a reveal, it opens the folder instead and
// reports when that fails too; without a session bus the inhibitor is skipped.
class LinuxDesktopServices final : public DesktopServices
{
public:
    LinuxDesktopServices();
    ~LinuxDesktopServices() override;
    Q_DISABLE_COPY_MOVE(LinuxDesktopServices)

    // The window dialogs belong to and attention is asked for; may change or vanish.
    void setWindow(QWidget* window) { m_window = window; }
    // Where a reveal that reached nothing is reported (the activity log).
    void setFailureReporter(std::function<void(const QString& message)> report)
    {
        m_report = std::move(report);
    }
    // Opens a folder when no file manager takes the reveal; QDesktopServices unless replaced.
    void setFolderOpener(std::function<bool(const QUrl& folder)> open)
    {
        m_openFolder = std::move(open);
    }

    void openPanel(const OpenPanelRequest& request,
                   std::function<void(const QStringList& paths)> chosen) override;
    void savePanel(const SavePanelRequest& request,
                   std::function<void(const QString& path)> chosen) override;
    void revealFiles(const QStringList& paths) override;
    bool isApplicationActive() const override;
    void requestAttention() override;
    void activateApplication() override;
    void disableAutomaticTermination(const QString& reason) override;
    void enableAutomaticTermination(const QString& reason) override;

    // Whether a sleep inhibitor is held now.
    bool holdsInhibitor() const { return m_sleep.isHeld(); }

    // The folders to open when no file manager takes the reveal request: each distinct parent,
    // in first-seen order.
    static QStringList containingFolders(const QStringList& paths);

private:
    QPointer<QWidget> m_window;
    std::function<void(const QString&)> m_report;
    std::function<bool(const QUrl&)> m_openFolder;
    SleepInhibitor m_sleep;
};

} // namespace corvel
