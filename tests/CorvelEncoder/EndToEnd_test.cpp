// The model with the real engine: movies in, encoded files out.

#include "FakeProber.h"
#include "ModelTestSupport.h"

#include "CorvelEncoder/MediaProber.h"
#include "CorvelEncoder/engine/FFmpegEncodeSession.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace corvel::testing {
namespace {

QString run(const QString& program, const QStringList& args)
{
    QProcess process;
    process.start(program, args);
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return {};
    return QString::fromUtf8(process.readAllStandardOutput());
}

// A one-second 160x120 movie with sound.
bool makeMovie(const QString& path)
{
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 {"-v", "error", "-y", "-f", "lavfi", "-i",
                  "testsrc=size=160x120:rate=25:duration=1", "-f", "lavfi", "-i",
                  "sine=frequency=440:duration=1", "-c:v", "libx264", "-pix_fmt", "yuv420p", "-c:a",
                  "aac", "-shortest", path});
    return ffmpeg.waitForFinished(60000) && ffmpeg.exitCode() == 0;
}

QJsonObject probeStreams(const QString& path)
{
    const QString json =
        run(QStringLiteral("ffprobe"), {"-v", "error", "-show_streams", "-of", "json", path});
    return QJsonDocument::fromJson(json.toUtf8()).object();
}

class EndToEndTest : public ::testing::Test
{
protected:
    AppModel& makeModel()
    {
        store = std::make_unique<AppFilesStore>(temp.filePath("support"));
        model = std::make_unique<AppModel>(*store, temp.filePath("Videos"), factory, desktop);
        return *model;
    }

    QTemporaryDir temp;
    FFmpegEncodeSessionFactory factory;
    RecordingDesktop desktop;
    std::unique_ptr<AppFilesStore> store;
    std::unique_ptr<AppModel> model;
};

TEST_F(EndToEndTest, DroppedMovieIsProbedAndEncoded)
{
    const QString source = temp.filePath("shot.mp4");
    ASSERT_TRUE(makeMovie(source));
    AppModel& m = makeModel();
    m.updateSettings([&](AppSettings& s) {
        s.lastPresetID = QStringLiteral("h264");
        s.defaultOutputDirectory = temp.filePath("out");
    });
    m.handleDrop({QUrl::fromLocalFile(source)});
    const QUuid id = m.jobs().first().id;
    ASSERT_TRUE(waitUntil([&] { return !m.job(id)->probing; }, 20000));
    ASSERT_TRUE(m.job(id)->sourceInfo);
    EXPECT_EQ(m.job(id)->sourceInfo->width, 160);
    EXPECT_TRUE(m.job(id)->sourceInfo->hasAudio);

    m.startQueue();
    ASSERT_TRUE(waitUntil([&] { return m.job(id)->status == JobStatus::completed; }, 60000))
        << m.job(id)->errorMessage.value_or(QString()).toStdString();
    const EncodingJob done = *m.job(id);
    ASSERT_TRUE(done.outputPath);
    EXPECT_EQ(*done.outputPath, temp.filePath("out/shot_H264.mp4"));
    EXPECT_EQ(done.hardwareEncoder, false); // no hardware encoder on this machine
    EXPECT_EQ(done.progress, 1.0);
    const QJsonObject streams = probeStreams(*done.outputPath);
    ASSERT_FALSE(streams.isEmpty());
    EXPECT_EQ(streams["streams"][0]["codec_name"].toString(), u"h264");
}

TEST_F(EndToEndTest, MovieCopiedIntoTheWatchFolderIsEncodedIntoItsOutputFolder)
{
    const QString source = temp.filePath("incoming.mov");
    ASSERT_TRUE(makeMovie(source));
    const QString watch = temp.filePath("Watch");
    QDir().mkpath(watch);
    AppModel& m = makeModel();
    m.updateSettings([&](AppSettings& s) {
        s.watchEnabled = true;
        s.watchFolder = watch;
        s.watchPresetID = QStringLiteral("prores-proxy");
        s.watchProcessExisting = true;
    });
    m.refreshWatch();
    ASSERT_TRUE(QFile::copy(source, watch + "/incoming.mov"));

    ASSERT_TRUE(waitUntil(
        [&] { return !m.jobs().isEmpty() && m.jobs().first().status == JobStatus::completed; },
        60000));
    const EncodingJob done = m.jobs().first();
    ASSERT_TRUE(done.outputPath);
    EXPECT_EQ(QFileInfo(*done.outputPath).absolutePath(),
              QFileInfo(watch).canonicalFilePath() + "/Corvel Output");
    EXPECT_EQ(QFileInfo(*done.outputPath).fileName(), u"incoming_ProResProxy.mov");
    const QJsonObject streams = probeStreams(*done.outputPath);
    EXPECT_EQ(streams["streams"][0]["codec_tag_string"].toString(), u"apco");
    // Its own output is never taken as new work.
    spin(3000);
    EXPECT_EQ(m.jobs().size(), 1);
}

} // namespace
} // namespace corvel::testing
