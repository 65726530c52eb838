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
#include "CorvelEncoder/ui/Appearance.h"
#include "CorvelEncoder/ui/DesktopNotifications.h"
#include "CorvelEncoder/ui/LinuxDesktopServices.h"
#include "CorvelEncoder/ui/MainWindow.h"
#include "CorvelEncoder/ui/QueueFinishedNotifier.h"
#include "CorvelEncoder/ui/QuitSignals.h"
#include "CorvelEncoderCore/CorvelIdentity.h"

#include <QApplication>
#include <QDir>
#include <QIcon>

#include <csignal>

using namespace corvel;

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

    // Claimed before any window exists: a second launch only hands over its files.
    SingleInstance instance(SingleInstance::defaultSocketPath());
    if (instance.claim(launchURLs) == SingleInstance::Role::forwarded)
        return 0;
    QObject::connect(&instance, &SingleInstance::urlsReceived, &app,
                     [](const QList<QUrl>& urls) { IncomingOpener::shared().receive(urls); });

    applyAppearance(app, desktopColorScheme());

    LinuxDesktopServices desktop;
    AppFilesStore store(AppFiles::supportDirectory());
    OutputJournal journal(QDir(AppFiles::supportDirectory()).filePath(kOutputJournalFileName));
    FFmpegEncodeSessionFactory sessions;
    AppModel model(store, AppFiles::defaultOutputDirectory(), sessions, desktop);
    // Before any encode starts: what a killed run left half-written goes first.
    model.removeUnfinishedOutputs(journal);
    OutputNames::shared().setJournal(&journal);

    MainWindow window(model, desktop);
    desktop.setWindow(&window);
    desktop.setFailureReporter([&model](const QString& message) { model.log(message, true); });
    DesktopNotifications notices;
    QueueFinishedNotifier finished(model, desktop, [&notices](const QString& text, auto show) {
        notices.send(text, QStringLiteral("Show Output Folder"), std::move(show));
    });

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
