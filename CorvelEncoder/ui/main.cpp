#include "CorvelEncoder/AppFiles.h"
#include "CorvelEncoder/AppModel.h"
#include "CorvelEncoder/IncomingOpener.h"
#include "CorvelEncoder/IntakeFiles.h"
#include "CorvelEncoder/SingleInstance.h"
#include "CorvelEncoder/StateFiles.h"
#include "CorvelEncoder/engine/EncodePlan.h"
#include "CorvelEncoder/engine/FFmpegEncodeSession.h"
#include "CorvelEncoder/engine/FFmpegSetup.h"
#include "CorvelEncoder/engine/OutputJournal.h"
#include "CorvelEncoder/ui/DarkPalette.h"
#include "CorvelEncoder/ui/LinuxDesktopServices.h"
#include "CorvelEncoder/ui/MainWindow.h"
#include "CorvelEncoder/ui/QuitSignals.h"
#include "CorvelEncoderCore/CorvelIdentity.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QMessageBox>

#include <csignal>
#include <cstdio>

using namespace corvel;

namespace {

// The running instance is stopped or too busy to answer: this launch neither runs beside it
// nor pretends its files were added.
void reportRefusedLaunch(const QList<QUrl>& urls)
{
    const QString text =
        urls.isEmpty()
            ? QStringLiteral("Corvel Encoder is already running but does not respond.")
            : QStringLiteral("Corvel Encoder is already running but does not respond, so the "
                             "files were not added. Try again once it responds.");
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    // Where nothing can be shown (offscreen, no display) the terminal line has to do.
    if (QGuiApplication::platformName() != u"offscreen" &&
        QGuiApplication::platformName() != u"minimal")
        QMessageBox::critical(nullptr, QString(CorvelIdentity::appName), text);
}

} // namespace

int main(int argc, char** argv)
{
    // Past a file-size limit write() must fail with EFBIG, so the encode reports it and removes
    // its partial file and a state file keeps its last whole copy; the signal's default action
    // would kill the process mid-file.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication app(argc, argv);
    setUpFFmpeg();
    QApplication::setApplicationName(QString(CorvelIdentity::appName));
    QApplication::setApplicationDisplayName(QString(CorvelIdentity::appName));
    QApplication::setApplicationVersion(QString(CorvelIdentity::version));
    QApplication::setOrganizationDomain(QStringLiteral("corvel.studio"));
    QApplication::setDesktopFileName(QString(CorvelIdentity::bundleID));
    QApplication::setWindowIcon(QIcon::fromTheme(QString(CorvelIdentity::bundleID)));

    const QList<QUrl> launchURLs = commandLineURLs(QApplication::arguments(), QDir::currentPath());

    // Claimed before any window exists: a second launch only hands over its files. One
    // instance per state folder, whatever the socket says.
    const QString stateFolder = AppFiles::supportDirectory();
    SingleInstance instance(SingleInstance::defaultSocketPath(stateFolder),
                            SingleInstance::defaultLockPath(stateFolder));
    switch (instance.claim(launchURLs)) {
    case SingleInstance::Role::forwarded:
        return 0;
    case SingleInstance::Role::refused:
        reportRefusedLaunch(launchURLs);
        return 1;
    case SingleInstance::Role::primary:
    case SingleInstance::Role::unavailable:
        break;
    }

    applyDarkTheme(app);

    LinuxDesktopServices desktop;
    AppFilesStore store(stateFolder);
    OutputJournal journal(QDir(stateFolder).filePath(kOutputJournalFileName));
    FFmpegEncodeSessionFactory sessions;
    AppModel model(store, AppFiles::defaultOutputDirectory(), sessions, desktop);
    // A later launch is told its files were taken only once they are in the saved queue.
    QObject::connect(&instance, &SingleInstance::urlsReceived, &model,
                     [&model](const QList<QUrl>& urls) {
                         model.handleIncoming(urls);
                         model.writeQueue();
                     });
    // Before any encode starts: what a killed run left half-written goes first.
    model.removeUnfinishedOutputs(journal);
    OutputNames::shared().setJournal(&journal);

    MainWindow window(model, desktop);
    desktop.setWindow(&window);

    // Files opened from outside bring the window forward.
    QObject::connect(&instance, &SingleInstance::urlsReceived, &window,
                     [&desktop] { desktop.activateApplication(); });

    // Logout, Ctrl+C and a hang-up end the session like closing the window does.
    QuitSignals quitSignals;
    QObject::connect(&quitSignals, &QuitSignals::quitRequested, &app, [] { QApplication::quit(); });
    QObject::connect(&app, &QApplication::aboutToQuit, &model,
                     [&model] { model.prepareForQuit(); });

    window.show();
    model.beginIntake(IncomingOpener::shared(), launchURLs);
    const int status = app.exec();
    OutputNames::shared().setJournal(nullptr);
    return status;
}
