#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace corvel {

struct OpenPanelRequest
{
    QString title;
    QString message;
    bool canChooseFiles = true;
    bool canChooseDirectories = false;
    bool canCreateDirectories = false;
    bool allowsMultipleSelection = false;
    QStringList nameFilters; // file-dialog filters, e.g. "Movies (*.mov *.mp4)"
};

struct SavePanelRequest
{
    QString title;
    QString suggestedName;
    bool canCreateDirectories = true;
    QStringList nameFilters;
};

// The desktop operations the model needs. Called on the main thread only; completions are
// delivered on the main thread. The desktop build supplies the Linux implementation; tests
// supply a recording fake.
class DesktopServices
{
public:
    virtual ~DesktopServices() = default;

    // `chosen` is called only when the user confirms, with the chosen paths.
    virtual void openPanel(const OpenPanelRequest& request,
                           std::function<void(const QStringList& paths)> chosen) = 0;
    virtual void savePanel(const SavePanelRequest& request,
                           std::function<void(const QString& path)> chosen) = 0;
    // Brings the file manager forward with these files selected, in one request.
    virtual void revealFiles(const QStringList& paths) = 0;
    virtual bool isApplicationActive() const = 0;
    // One informational attention request (taskbar flash).
    virtual void requestAttention() = 0;
    virtual void activateApplication() = 0;
    // Paired calls: the system must not end an idle session while the block is held.
    virtual void disableAutomaticTermination(const QString& reason) = 0;
    virtual void enableAutomaticTermination(const QString& reason) = 0;
};

} // namespace corvel
