#include "CorvelEncoder/model/DirectoryChooser.h"

#include "CorvelEncoder/model/DesktopServices.h"

#include <QPointer>

namespace corvel {

void chooseDirectory(DesktopServices& desktop, QObject* context, const QString& title,
                     const QString& message, std::function<void(const QString& path)> chosen)
{
    OpenPanelRequest request;
    request.title = title;
    request.message = message;
    request.canChooseFiles = false;
    request.canChooseDirectories = true;
    request.canCreateDirectories = true;
    request.allowsMultipleSelection = false;
    // The completion reaches into the model, which may be gone by the time the user answers.
    QPointer<QObject> alive(context);
    desktop.openPanel(request, [alive, chosen = std::move(chosen)](const QStringList& paths) {
        if (alive && !paths.isEmpty() && !paths.first().isEmpty())
            chosen(paths.first());
    });
}

} // namespace corvel
