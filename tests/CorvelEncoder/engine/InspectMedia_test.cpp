#include "EngineTestSupport.h"

#include "CorvelEncoder/engine/InspectMedia.h"

namespace corvel::test {
namespace {

// Size, rate, duration, audio and colour tags show in every encode of these sources; what an
// encode cannot show is checked here.
TEST(InspectMedia, NamesTheCodecAndTellsAudioFromAnUnreadableTrack)
{
    // source, codec, audio, alpha, an audio stream
    const std::tuple<Source, const char*, bool, bool, bool> rows[] = {
        {Source::h264Aac, "H.264", true, false, true},
        {Source::proResAlpha, "ProRes 4444", false, true, false},
        // MPEG-TS names its streams by type, not by four characters.
        {Source::layoutSwitch, "H.264", true, false, true},
        // An audio track of unknown format is kept, but not counted as audio.
        {Source::unreadableAudio, "H.264", false, false, true}};
    for (const auto& [source, codec, hasAudio, hasAlpha, hasAudioStream] : rows) {
        SCOPED_TRACE(static_cast<int>(source));
        const auto media = inspectMedia(sourcePath(source));
        ASSERT_TRUE(media.has_value()) << media.error().description().toStdString();
        EXPECT_EQ(media->info.videoCodec, QLatin1StringView(codec));
        EXPECT_EQ(media->info.hasAudio, hasAudio);
        EXPECT_EQ(media->audio.has_value(), hasAudio);
        EXPECT_EQ(media->info.hasAlpha, hasAlpha);
        EXPECT_EQ(media->audioStream >= 0, hasAudioStream);
    }
}

TEST(InspectMedia, FragmentClaimingMillionsOfSamplesFailsInBoundedMemory)
{
    // A fragmented MP4 whose first run of samples claims 83,886,080 of them with no sizes of
    // their own: FFmpeg would build a 2.7 GB index. The programs cap FFmpeg's allocations, so
    // it fails at once instead.
    QTemporaryDir folder;
    const QString path = folder.filePath(u"claims.mp4"_s);
    ASSERT_TRUE(runFFmpeg(
        video("64x48", 0.2) + args("-c:v libx264 -movflags frag_keyframe+empty_moov") << path));
    ASSERT_TRUE(rewrite(path, [](QByteArray& bytes) {
        const qsizetype trun = bytes.indexOf("trun");
        const char claim[] = {0, 0, 0, 5, 0x05, 0, 0, 0}; // version 0, flags 0x000005, count
        return trun > 0 && !bytes.replace(trun + 4, 8, QByteArray(claim, 8)).isEmpty();
    }));

    const long before = testing::peakMemoryKiB();
    const auto media = inspectMedia(path);
    EXPECT_FALSE(media.has_value());
    EXPECT_LT(testing::peakMemoryKiB() - before, 256 * 1024);
}

} // namespace
} // namespace corvel::test
