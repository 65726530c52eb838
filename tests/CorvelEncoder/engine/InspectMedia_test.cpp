#include "EngineTestSupport.h"

#include "CorvelEncoder/engine/InspectMedia.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/resource.h>

namespace corvel::test {
namespace {

TEST(InspectMedia, DescribesGeneratedSources)
{
    struct Row
    {
        Source source;
        SourceInfo info;
        std::optional<AudioTags> audio;
        std::optional<QString> colour;
    };
    const QString smpte = QStringLiteral("smpte170m");
    const Row rows[] = {
        {Source::h264Aac, {320, 240, 25, 2, true, false, "H.264"}, AudioTags{44100, 2}, {}},
        {Source::rotated, {240, 320, 25, 2, false, false, "H.264"}, {}, {}},
        {Source::proResAlpha, {320, 240, 25, 2, false, true, "ProRes 4444"}, {}, {}},
        {Source::pcm96k6ch, {320, 240, 25, 2, true, false, "H.264"}, AudioTags{96000, 6}, smpte},
        // MPEG-TS names its streams by type, not by four characters.
        {Source::layoutSwitch, {320, 240, 25, 2, true, false, "H.264"}, AudioTags{44100, 6}, {}},
        // An audio track of unknown format is kept, but not counted as audio.
        {Source::unreadableAudio, {320, 240, 25, 2, false, false, "H.264"}, {}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.source));
        const auto media = inspectMedia(sourcePath(row.source));
        ASSERT_TRUE(media.has_value()) << media.error().description().toStdString();
        EXPECT_EQ(media->info.width, row.info.width);
        EXPECT_EQ(media->info.height, row.info.height);
        EXPECT_NEAR(media->info.frameRate, row.info.frameRate, 0.001);
        EXPECT_NEAR(media->info.duration, row.info.duration, 0.1);
        EXPECT_EQ(media->info.hasAudio, row.info.hasAudio);
        EXPECT_EQ(media->info.hasAlpha, row.info.hasAlpha);
        EXPECT_EQ(media->info.videoCodec, row.info.videoCodec);
        EXPECT_EQ(media->audio, row.audio);
        EXPECT_EQ(media->audioStream >= 0,
                  row.source != Source::rotated && row.source != Source::proResAlpha);
        EXPECT_EQ(media->color.primaries, row.colour);
        EXPECT_EQ(media->color.transfer, row.colour);
        EXPECT_EQ(media->color.matrix, row.colour);
    }
}

TEST(InspectMedia, FragmentClaimingMillionsOfSamplesFailsInBoundedMemory)
{
    // A fragmented MP4 whose first run of samples claims 83,886,080 of them with no sizes of
    // their own: FFmpeg would build a 2.7 GB index. The programs cap FFmpeg's allocations, so
    // it fails at once instead.
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("claims.mp4"));
    ASSERT_TRUE(runFFmpeg({"-f", "lavfi", "-i", "testsrc2=size=64x48:rate=25:duration=0.2", "-c:v",
                           "libx264", "-movflags", "frag_keyframe+empty_moov", path}));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    QByteArray bytes = file.readAll();
    const qsizetype trun = bytes.indexOf("trun");
    ASSERT_GT(trun, 0);
    const char claim[] = {0, 0, 0, 5, 0x05, 0, 0, 0}; // version 0, flags 0x000005, count
    bytes.replace(trun + 4, 8, QByteArray(claim, 8));
    file.seek(0);
    file.write(bytes);
    file.close();

    const auto peakKiB = [] {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        return usage.ru_maxrss;
    };
    const long before = peakKiB();
    const auto media = inspectMedia(path);
    EXPECT_FALSE(media.has_value());
    EXPECT_LT(peakKiB() - before, 256 * 1024);
}

} // namespace
} // namespace corvel::test
