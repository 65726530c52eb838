// The model with the real engine: movies in, encoded files out. The watch folder's part is
// WatchController_test's, the engine's the engine tests'.

#include "FakeProber.h"
#include "ModelTestSupport.h"

#include "CorvelEncoder/engine/FFmpegEncodeSession.h"
#include "CorvelEncoder/model/MediaProber.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace corvel::testing {
namespace {

QJsonObject probeStreams(const QString& path)
{
    return QJsonDocument::fromJson(
               runProgram(u"ffprobe"_s, {"-v", "error", "-show_streams", "-of", "json", path})
                   .toUtf8())
        .object();
}

class EndToEndTest : public ::testing::Test
{
protected:
    AppModel& makeModel()
    {
        store = std::make_unique<AppFilesStore>(temp.filePath("support"));
        model =
            std::make_unique<AppModel>(*store, temp.filePath("Videos"), factory, desktop, clock);
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
        s.lastPresetID = u"h264"_s;
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

} // namespace
} // namespace corvel::testing
