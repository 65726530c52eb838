#include "CorvelEncoder/engine/EncodePlan.h"
#include "CorvelEncoder/engine/FFmpegEncodeSession.h"
#include "CorvelEncoder/engine/FFmpegSetup.h"
#include "CorvelEncoder/engine/OutputJournal.h"
#include "CorvelEncoder/model/AppModel.h"
#include "CorvelEncoder/model/IntakeFiles.h"
#include "CorvelEncoder/platform/AppFiles.h"
#include "CorvelEncoder/platform/IncomingOpener.h"
#include "CorvelEncoder/platform/QuitSignals.h"
#include "CorvelEncoder/ui/Appearance.h"
#include "CorvelEncoder/ui/DesktopNotifications.h"
#include "CorvelEncoder/ui/LinuxDesktopServices.h"
#include "CorvelEncoder/ui/MainWindow.h"
#include "CorvelEncoder/ui/QueueFinishedNotifier.h"
#include "CorvelEncoder/ui/SingleInstance.h"
#include "CorvelEncoderCore/CorvelIdentity.h"
#include "CorvelEncoderCore/StateFiles.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QIcon>
#include <QMessageBox>

#include <csignal>
#include <cstdio>
#include <optional>

using namespace corvel;

namespace {

// The desktop application's command line: files and links to queue, --help and --version.
// Parsed once before the application object exists, so --help and --version print without a
// display, and once after it has taken its own options (-platform, ...) out.
struct DesktopCommandLine
{
    QStringList inputs;
    std::optional<int> exitNow;
};

DesktopCommandLine readCommandLine(const QStringList& arguments, bool final)
{
    QCommandLineParser parser;
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QString());
    const QCommandLineOption version(QStringLiteral("version"), QString());
    parser.addOptions({help, version});
    const bool parsed = parser.parse(arguments);
    if (parser.isSet(help)) {
        std::fputs("Usage: corvel-encoder [--] [FILE or LINK...]\n\n"
                   "Opens the Corvel Encoder window and queues the movies, folders, .corveljob\n"
                   "files and corvelencoder:// links given; a running window takes them instead.\n"
                   "corvel-encode encodes without a window.\n\n"
                   "  -h, --help     show this text\n"
                   "      --version  show the version\n",
                   stdout);
        return {{}, 0};
    }
    if (parser.isSet(version)) {
        std::printf("%s %s\n", qPrintable(QString(CorvelIdentity::appName)),
                    qPrintable(QString(CorvelIdentity::version)));
        return {{}, 0};
    }
    if (!parsed && final) {
        std::fprintf(stderr, "corvel-encoder: %s\n", qPrintable(parser.errorText()));
        return {{}, 2};
    }
    // A path in front keeps a file whose name begins with a dash a file.
    QStringList inputs{arguments.value(0)};
    for (const QString& input : parser.positionalArguments())
        inputs << (input.startsWith(u'-') ? QDir::current().absoluteFilePath(input) : input);
    return {inputs, std::nullopt};
}

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
    {
        QStringList raw;
        for (int i = 0; i < argc; ++i)
            raw << QString::fromLocal8Bit(argv[i]);
        if (const auto early = readCommandLine(raw, false).exitNow)
            return *early;
    }
    QApplication app(argc, argv);
    const DesktopCommandLine commandLine = readCommandLine(QApplication::arguments(), true);
    if (commandLine.exitNow)
        return *commandLine.exitNow;
    setUpFFmpeg();
    QApplication::setApplicationName(QString(CorvelIdentity::appName));
    QApplication::setApplicationDisplayName(QString(CorvelIdentity::appName));
    QApplication::setApplicationVersion(QString(CorvelIdentity::version));
    QApplication::setOrganizationDomain(QStringLiteral("corvel.studio"));
    QApplication::setDesktopFileName(QString(CorvelIdentity::bundleID));
    QApplication::setWindowIcon(QIcon::fromTheme(QString(CorvelIdentity::bundleID)));

    const QList<QUrl> launchURLs = commandLineURLs(commandLine.inputs, QDir::currentPath());

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

    applyAppearance(app, desktopColorScheme());

    LinuxDesktopServices desktop;
    AppFilesStore store(stateFolder);
    OutputJournal journal(QDir(stateFolder).filePath(kOutputJournalFileName));
    FFmpegEncodeSessionFactory sessions;
    AppModel model(store, AppFiles::defaultOutputDirectory(), sessions, desktop);
    // A later launch is told its files were taken only once they are in the saved queue.
    QObject::connect(&instance, &SingleInstance::urlsReceived, &model,
                     [&model](const QList<QUrl>& urls) {
                         model.intake().handleIncoming(urls);
                         model.persistence().writeQueue();
                     });
    // Before any encode starts: what a killed run left half-written goes first.
    model.removeUnfinishedOutputs(journal);
    OutputNames::shared().setJournal(&journal);

    MainWindow window(model, desktop);
    desktop.setWindow(&window);
    desktop.setFailureReporter(
        [&model](const QString& message) { model.feed().log(message, true); });
    DesktopNotifications notices;
    QueueFinishedNotifier finished(model, desktop, [&notices](const QString& text, auto show) {
        notices.send(text, QStringLiteral("Show Output Folder"), std::move(show));
    });

    // Files opened from outside bring the window forward.
    QObject::connect(&instance, &SingleInstance::urlsReceived, &window,
                     [&desktop] { desktop.activateApplication(); });

    // Logout, Ctrl+C and a hang-up end the session like closing the window does.
    QuitSignals quitSignals;
    QObject::connect(&quitSignals, &QuitSignals::quitRequested, &app, [&window] {
        window.quitWithoutAsking();
        QApplication::quit();
    });
    QObject::connect(&app, &QApplication::aboutToQuit, &model,
                     [&model] { model.prepareForQuit(); });

    window.restoreLayout(QDir(stateFolder).filePath(QStringLiteral("window.ini")));
    window.show();
    model.beginIntake(IncomingOpener::shared(), launchURLs);
    const int status = app.exec();
    OutputNames::shared().setJournal(nullptr);
    return status;
}
