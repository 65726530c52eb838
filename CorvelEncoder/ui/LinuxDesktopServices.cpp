#include "CorvelEncoder/ui/LinuxDesktopServices.h"

#include "CorvelEncoder/ui/FileAndFolderChooser.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QUrl>

namespace corvel {

namespace {

constexpr int kBusTimeoutMs = 2000;

// The dialog's caption: the request's title, and its message when there is one, since the
// Qt dialog has no separate message line.
QString caption(const QString& title, const QString& message)
{
    if (message.isEmpty())
        return title;
    if (title.isEmpty())
        return message;
    return title + QStringLiteral(" — ") + message;
}

} // namespace

LinuxDesktopServices::LinuxDesktopServices() = default;

LinuxDesktopServices::~LinuxDesktopServices() = default;

void LinuxDesktopServices::openPanel(const OpenPanelRequest& request,
                                     std::function<void(const QStringList& paths)> chosen)
{
    QStringList paths;
    const QString title = caption(request.title, request.message);
    if (!request.canChooseFiles && request.canChooseDirectories) {
        const QString folder = QFileDialog::getExistingDirectory(m_window, title, QDir::homePath());
        if (!folder.isEmpty())
            paths.append(folder);
    } else if (request.canChooseDirectories) {
        FileAndFolderChooser chooser(request.title, request.message, request.nameFilters, m_window);
        if (chooser.exec() == QDialog::Accepted)
            paths = chooser.chosenPaths();
    } else {
        QFileDialog dialog(m_window, title, QDir::homePath());
        dialog.setFileMode(request.allowsMultipleSelection ? QFileDialog::ExistingFiles
                                                           : QFileDialog::ExistingFile);
        if (!request.nameFilters.isEmpty())
            dialog.setNameFilters(request.nameFilters);
        if (dialog.exec() == QDialog::Accepted)
            paths = dialog.selectedFiles();
    }
    if (!paths.isEmpty() && chosen)
        chosen(paths);
}

void LinuxDesktopServices::savePanel(const SavePanelRequest& request,
                                     std::function<void(const QString& path)> chosen)
{
    const QString start = QDir::home().filePath(request.suggestedName);
    const QString path = QFileDialog::getSaveFileName(
        m_window, request.title, start, request.nameFilters.join(QStringLiteral(";;")));
    if (!path.isEmpty() && chosen)
        chosen(path);
}

QStringList LinuxDesktopServices::containingFolders(const QStringList& paths)
{
    QStringList folders;
    for (const QString& path : paths) {
        const QString folder = QFileInfo(path).absolutePath();
        if (!folders.contains(folder))
            folders.append(folder);
    }
    return folders;
}

void LinuxDesktopServices::revealFiles(const QStringList& paths)
{
    if (paths.isEmpty())
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        QStringList uris;
        for (const QString& path : paths)
            uris.append(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString());
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.FileManager1"),
            QStringLiteral("/org/freedesktop/FileManager1"),
            QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
        call << uris << QString();
        const QDBusMessage reply = bus.call(call, QDBus::Block, kBusTimeoutMs);
        if (reply.type() == QDBusMessage::ReplyMessage)
            return;
    }
    for (const QString& folder : containingFolders(paths)) {
        const QUrl url = QUrl::fromLocalFile(folder);
        const bool opened = m_openFolder ? m_openFolder(url) : QDesktopServices::openUrl(url);
        if (!opened && m_report)
            m_report(QStringLiteral("Could not show %1: no file manager answered and the folder "
                                    "could not be opened.")
                         .arg(QDir::toNativeSeparators(folder)));
    }
}

bool LinuxDesktopServices::isApplicationActive() const
{
    return QApplication::applicationState() == Qt::ApplicationActive;
}

void LinuxDesktopServices::requestAttention()
{
    if (m_window && !isApplicationActive())
        QApplication::alert(m_window);
}

void LinuxDesktopServices::activateApplication()
{
    if (!m_window)
        return;
    if (m_window->isMinimized())
        m_window->showNormal();
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void LinuxDesktopServices::disableAutomaticTermination(const QString& reason)
{
    m_sleep.hold(QApplication::applicationDisplayName(), reason);
}

void LinuxDesktopServices::enableAutomaticTermination(const QString&)
{
    m_sleep.release();
}

} // namespace corvel
