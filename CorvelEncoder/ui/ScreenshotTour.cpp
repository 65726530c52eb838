// Opens the window over a prepared queue and saves pictures of each view and panel, so the
// look can be checked without clicking through by hand. Usage: corvel-screenshots OUTPUT_DIR

#include "CorvelEncoder/engine/FFmpegEncodeSession.h"
#include "CorvelEncoder/model/AppModel.h"
#include "CorvelEncoder/platform/AppFiles.h"
#include "CorvelEncoder/ui/Appearance.h"
#include "CorvelEncoder/ui/FileAndFolderChooser.h"
#include "CorvelEncoder/ui/LinuxDesktopServices.h"
#include "CorvelEncoder/ui/MainWindow.h"
#include "CorvelEncoderCore/Presets.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <cstdio>

using namespace corvel;

namespace {

void settle(int msecs = 300)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < msecs) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
}

// The whole screen when there is one (panels may be windows of their own), else the window.
bool save(QWidget& window, const QString& folder, const QString& name)
{
    settle();
    QPixmap picture;
    if (QScreen* screen = QApplication::primaryScreen())
        picture = screen->grabWindow(0, window.x(), window.y(), window.frameGeometry().width(),
                                     window.frameGeometry().height());
    if (picture.isNull() || picture.toImage().allGray())
        picture = window.grab();
    const QString path = QDir(folder).filePath(name + QStringLiteral(".png"));
    const bool saved = picture.save(path);
    std::fprintf(saved ? stdout : stderr, "%s %s\n", saved ? "wrote" : "could not write",
                 qPrintable(path));
    return saved;
}

EncodingJob sampleJob(const QString& name, JobStatus status, const char* presetID)
{
    const BuiltinPreset preset = *BuiltinPreset::matching(QString::fromLatin1(presetID));
    EncodingJob job;
    job.id = QUuid::createUuid();
    job.sourcePath = QStringLiteral("/home/editor/Videos/Rushes/") + name;
    job.sourceInfo = SourceInfo{
        3840, 2160, 23.976, 754.2, true, status == JobStatus::failed, QStringLiteral("H.264")};
    job.settings = {preset.id, preset.name, preset.body,
                    QStringLiteral("/home/editor/Videos/Corvel Encoder"), true};
    job.status = status;
    job.addedAt = QDateTime::currentDateTimeUtc();
    switch (status) {
    case JobStatus::encoding:
        job.progress = 0.42;
        job.etaSeconds = 125;
        job.hardwareEncoder = false;
        break;
    case JobStatus::paused:
        job.progress = 0.67;
        break;
    case JobStatus::completed:
        job.progress = 1;
        job.outputPath = job.settings.outputDirectory + QStringLiteral("/") + name;
        break;
    case JobStatus::failed:
        job.errorMessage = QStringLiteral(
            "This file could not be read: the container ends before its index, so the "
            "encoder stopped while processing input.");
        break;
    default:
        break;
    }
    return job;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: corvel-screenshots OUTPUT_DIR\n");
        return 2;
    }
    const QString output = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(output);
    applyAppearance(app, ColorScheme::dark);

    QTemporaryDir state;
    AppFilesStore store(state.filePath(QStringLiteral("Corvel Encoder")));
    LinuxDesktopServices desktop;
    FFmpegEncodeSessionFactory sessions;
    AppModel model(store, state.filePath(QStringLiteral("Videos")), sessions, desktop);
    MainWindow window(model, desktop);
    desktop.setWindow(&window);
    window.move(0, 0);
    window.show();

    bool ok = save(window, output, QStringLiteral("introduction"));
    // The introduction stays until its button is pressed.
    for (QPushButton* button : window.findChildren<QPushButton*>()) {
        if (button->text() == u"Continue" && button->isVisible())
            button->click();
    }

    const QList<EncodingJob> jobs{
        sampleJob(QStringLiteral("A001_C003_interview.mov"), JobStatus::encoding, "prores-422-hq"),
        sampleJob(QStringLiteral("A001_C004_broll.mov"), JobStatus::paused, "h264"),
        sampleJob(QStringLiteral("A002_C001_wide.mov"), JobStatus::queued, "hevc"),
        sampleJob(QStringLiteral("A002_C002_titles.mov"), JobStatus::completed, "prores-4444"),
        sampleJob(QStringLiteral("A003_C007_drone.mp4"), JobStatus::failed, "prores-proxy"),
        sampleJob(QStringLiteral("A003_C008_closeup.mov"), JobStatus::cancelled, "prores-lt"),
    };
    model.store().addJobs(jobs);
    model.feed().log(QStringLiteral("Added 6 files from Corvel Brisk"));
    model.feed().log(
        QStringLiteral("Could not read A003_C007_drone.mp4: This file could not be opened "
                       "as a movie."),
        true);
    model.feed().setBanner(QStringLiteral("Unknown preset \"x265\"."));
    model.feed().setLogOpen(true);
    ok = save(window, output, QStringLiteral("main-window")) && ok;

    model.store().setSelection({jobs[2].id});
    ok = save(window, output, QStringLiteral("inspector-job")) && ok;
    model.store().setSelection({jobs[0].id});
    ok = save(window, output, QStringLiteral("inspector-locked")) && ok;

    model.store().setSelection({});
    model.feed().setLogOpen(false);
    model.feed().setBanner(std::nullopt);
    ok = save(window, output, QStringLiteral("inspector-defaults")) && ok;

    model.sheets().setShowAbout(true);
    ok = save(window, output, QStringLiteral("about")) && ok;
    model.sheets().setShowAbout(false);
    model.sheets().setShowHelp(true);
    ok = save(window, output, QStringLiteral("help")) && ok;
    model.sheets().setShowHelp(false);
    model.store().setSelection({jobs[2].id});
    model.editing().beginSavePreset();
    ok = save(window, output, QStringLiteral("save-preset")) && ok;
    model.sheets().setShowSavePreset(false);
    model.sheets().setShowWatchSettings(true);
    ok = save(window, output, QStringLiteral("watch-settings")) && ok;
    model.sheets().setShowWatchSettings(false);
    settle();

    // The Add chooser, shown without waiting for a choice.
    {
        FileAndFolderChooser chooser(QStringLiteral("Add to Queue"),
                                     QStringLiteral("Choose footage, a folder, or a job file "
                                                    "from Corvel Brisk."),
                                     {QStringLiteral("Movies and job files (*.mov *.mp4)")},
                                     &window);
        const QString rushes = state.filePath(QStringLiteral("Rushes"));
        QDir().mkpath(rushes + QStringLiteral("/Day 2"));
        for (const QString& name :
             {QStringLiteral("A004_C001.mov"), QStringLiteral("cut.corveljob")})
            QFile(rushes + u'/' + name).open(QIODevice::WriteOnly);
        chooser.fileDialog()->setDirectory(rushes);
        chooser.show();
        ok = save(chooser, output, QStringLiteral("add-chooser")) && ok;
    }

    // The light scheme: the window reads its colours when built, so build another.
    model.store().setSelection({jobs[4].id});
    window.hide();
    applyAppearance(app, ColorScheme::light);
    {
        MainWindow light(model, desktop);
        light.move(0, 0);
        light.show();
        ok = save(light, output, QStringLiteral("light-main-window")) && ok;
        model.store().setSelection({jobs[0].id});
        ok = save(light, output, QStringLiteral("light-inspector-locked")) && ok;
        model.store().setSelection({});
        ok = save(light, output, QStringLiteral("light-inspector-defaults")) && ok;
    }

    // Nothing was encoding for real: leave without touching the user's files.
    return ok ? 0 : 1;
}
