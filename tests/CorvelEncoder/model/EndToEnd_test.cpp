// The model with the real engine: movies in, encoded files out.

#include "FakeProber.h"
#include "ModelTestSupport.h"

#include "CorvelEncoder/model/MediaProber.h"
#include "CorvelEncoder/engine/FFmpegEncodeSession.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

namespace corvel::testing {
namespace {

QJsonObject probeStreams(const QString& path)
{
    return QJsonDocument::fromJson(runProgram(QStringLiteral("ffprobe"),
                                              {"-v", "error", "-show_streams", "-of", "json", path})
                                       .toUtf8())
        .object();
}

class EndToEndTest : public ::testing::Test
{
protected:
    AppModel& makeModel()
    {
        store = std::make_unique<AppFilesStore>(temp.filePath("support"));
        model = std::make_unique<AppModel>(*store, temp.filePath("Videos"), factory, desktop);
        model->setClock(clock);
        return *model;
    }

    QTemporaryDir temp;
    FakeClock clock;
    FFmpegEncodeSessionFactory factory;
    RecordingDesktop desktop;
    std::unique_ptr<AppFilesStore> store;
    std::unique_ptr<AppModel> model;
};

TEST_F(EndToEndTest, DroppedMovieIsProbedAndEncoded)
{
    const QString source = temp.filePath("shot.mp4");
    ASSERT_TRUE(makeMovie(source, 1, "160x120"));
    AppModel& m = makeModel();
    m.persistence().updateSettings([&](AppSettings& s) {
        s.lastPresetID = QStringLiteral("h264");
        s.defaultOutputDirectory = temp.filePath("out");
    });
    m.intake().handleDrop({QUrl::fromLocalFile(source)});
    const QUuid id = m.store().jobs().first().id;
    ASSERT_TRUE(waitUntil([&] { return !m.store().job(id)->probing; }, 20000));
    ASSERT_TRUE(m.store().job(id)->sourceInfo);
    EXPECT_EQ(m.store().job(id)->sourceInfo->width, 160);
    EXPECT_TRUE(m.store().job(id)->sourceInfo->hasAudio);

    m.scheduler().startQueue();
    ASSERT_TRUE(waitUntil([&] { return m.store().job(id)->status == JobStatus::completed; }, 60000))
        << m.store().job(id)->errorMessage.value_or(QString()).toStdString();
    const EncodingJob done = *m.store().job(id);
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
    ASSERT_TRUE(makeMovie(source, 1, "160x120"));
    const QString watch = temp.filePath("Watch");
    QDir().mkpath(watch);
    AppModel& m = makeModel();
    m.persistence().updateSettings([&](AppSettings& s) {
        s.watchEnabled = true;
        s.watchFolder = watch;
        s.watchPresetID = QStringLiteral("prores-proxy");
        s.watchProcessExisting = true;
    });
    m.watch().refresh();
    ASSERT_TRUE(QFile::copy(source, watch + "/incoming.mov"));

    // The watch's clock moves on while the real encode runs.
    ASSERT_TRUE(waitUntil(
        [&] {
            clock.advance(100);
            return !m.store().jobs().isEmpty() &&
                   m.store().jobs().first().status == JobStatus::completed;
        },
        60000));
    const EncodingJob done = m.store().jobs().first();
    ASSERT_TRUE(done.outputPath);
    EXPECT_EQ(QFileInfo(*done.outputPath).absolutePath(),
              QFileInfo(watch).canonicalFilePath() + "/Corvel Output");
    EXPECT_EQ(QFileInfo(*done.outputPath).fileName(), u"incoming_ProResProxy.mov");
    const QJsonObject streams = probeStreams(*done.outputPath);
    EXPECT_EQ(streams["streams"][0]["codec_tag_string"].toString(), u"apco");
    // Its own output is never taken as new work.
    clock.advance(5000);
    EXPECT_EQ(m.store().jobs().size(), 1);
}

} // namespace
} // namespace corvel::testing
