#include "CorvelEncoderCore/Records.h"

#include "../QtPrinters.h"

#include <gtest/gtest.h>

namespace corvel {
namespace {

TEST(Records, SourceNameIsTheLastPathComponent)
{
    struct Row
    {
        const char* path;
        const char* name;
    };
    const Row rows[] = {
        {"/Volumes/A/clip.mov", "clip.mov"},
        {"/a/b/README", "README"},
        {"/a/b/", "b"},
        {"/a/b//", "b"},
        {"clip.mov", "clip.mov"},
        {"/", "/"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        EncodingJob job;
        job.sourcePath = QString::fromUtf8(row.path);
        EXPECT_EQ(job.sourceName(), QString::fromUtf8(row.name));
    }
}

TEST(Records, EnumerationRawValuesRoundTripAndAreCaseSensitive)
{
    for (Codec codec : allCodecs())
        EXPECT_EQ(fromRawValue<Codec>(rawValue(codec)), codec);
    for (ResolutionMode mode : allResolutionModes())
        EXPECT_EQ(fromRawValue<ResolutionMode>(rawValue(mode)), mode);
    for (AudioMode mode : allAudioModes())
        EXPECT_EQ(fromRawValue<AudioMode>(rawValue(mode)), mode);
    for (QualityTier tier : allQualityTiers())
        EXPECT_EQ(fromRawValue<QualityTier>(rawValue(tier)), tier);

    EXPECT_FALSE(fromRawValue<Codec>(u"ProRes422HQ"));
    EXPECT_FALSE(fromRawValue<JobStatus>(u"done"));
    EXPECT_EQ(fromRawValue<JobStatus>(u"completed"), JobStatus::completed);
    EXPECT_EQ(label(JobStatus::completed), u"Done");
    EXPECT_EQ(allCodecs().size(), 8);
}

TEST(Records, CodecPropertiesSplitDeliveryAndAlphaCodecs)
{
    for (Codec codec : allCodecs()) {
        SCOPED_TRACE(rawValue(codec).toStdString());
        const bool delivery =
            codec == Codec::h264 || codec == Codec::hevc || codec == Codec::hevcWithAlpha;
        EXPECT_EQ(usesBitrate(codec), delivery);
        EXPECT_EQ(keepsAlpha(codec), codec == Codec::proRes4444 || codec == Codec::hevcWithAlpha);
    }
    EXPECT_EQ(fileToken(Codec::hevcWithAlpha), u"HEVCAlpha");
    EXPECT_EQ(displayName(Codec::proRes4444), u"ProRes 4444 (Alpha)");
}

TEST(Records, FrameRateModesCompareByRate)
{
    EXPECT_EQ(FrameRateMode::source(), FrameRateMode::source());
    EXPECT_EQ(FrameRateMode::exact(30), FrameRateMode::exact(30.0));
    EXPECT_NE(FrameRateMode::exact(30), FrameRateMode::exact(29.97));
    EXPECT_NE(FrameRateMode::exact(24), FrameRateMode::source());
    EXPECT_EQ(qHash(FrameRateMode::exact(0.0)), qHash(FrameRateMode::exact(-0.0)));
}

TEST(Records, StandardBodyIsProResHQAtSourceSize)
{
    const PresetBody body = PresetBody::standard();
    EXPECT_EQ(body.codec, Codec::proRes422HQ);
    EXPECT_EQ(body.resolution, ResolutionMode::source);
    EXPECT_EQ(body.customWidth, 1920);
    EXPECT_EQ(body.customHeight, 1080);
    EXPECT_TRUE(body.frameRate.isSource());
    EXPECT_EQ(body.audio, AudioMode::pcm);
    EXPECT_EQ(body.bitrateMbps, 20.0);
    EXPECT_TRUE(body.bitrateFollowsQuality);
    EXPECT_EQ(body.quality, QualityTier::high);
    EXPECT_EQ(body.namingPattern, u"{name}_{codec}");
}

} // namespace
} // namespace corvel
