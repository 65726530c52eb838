#include "CorvelEncoderCore/JobTexts.h"

#include "CorvelEncoderCore/Presets.h"

#include "../QtPrinters.h"

#include <gtest/gtest.h>

namespace corvel {
namespace {

EncodingJob jobWithPreset(const char* id)
{
    const BuiltinPreset preset = *BuiltinPreset::matching(QString::fromLatin1(id));
    EncodingJob job;
    job.id = QUuid::createUuid();
    job.sourcePath = u"/footage/clip.mov"_s;
    job.settings = {preset.id, preset.name, preset.body, u"/out"_s, false};
    return job;
}

// A source with audio and without alpha, 8-bit SDR.
SourceInfo sourceOf(int64_t width, int64_t height, double fps, double seconds, const QString& codec)
{
    return {.width = width,
            .height = height,
            .frameRate = fps,
            .duration = seconds,
            .hasAudio = true,
            .videoCodec = codec};
}

TEST(JobTexts, PresetLabel)
{
    const SavedPreset grade{QUuid::createUuid(), u"Grade"_s, PresetBody::standard()};
    const QList<SavedPreset> saved{grade};

    EncodingJob job = jobWithPreset("prores-422-hq");
    EXPECT_EQ(presetLabel(job, saved), u"ProRes 422 HQ");
    job.settings.body.namingPattern = u"{name}"_s;
    EXPECT_EQ(presetLabel(job, saved), u"ProRes 422 HQ \u00B7 Edited");

    // A deleted saved preset leaves its jobs labelled "Custom".
    job.settings.presetID = u"inline"_s;
    job.settings.presetName = u"Custom"_s;
    EXPECT_EQ(presetLabel(job, saved), u"Custom");

    job.settings.presetID = savedPresetID(grade);
    job.settings.presetName = grade.name;
    job.settings.body = grade.body;
    EXPECT_EQ(presetLabel(job, saved), u"Grade");
    EXPECT_EQ(presetLabel(job, {}), u"Grade \u00B7 Edited");
}

TEST(JobTexts, SummaryLine)
{
    EncodingJob job = jobWithPreset("h264");
    job.sourceInfo = sourceOf(1920, 1080, 23.976, 12.5, u"H.264"_s);
    job.settings.body.bitrateMbps = 18.5;
    EXPECT_EQ(summaryLine(job), u"1920\u00D71080  \u00B7  23.976 fps  \u00B7  H.264  \u00B7  18.5 "
                                u"Mbps  \u00B7  AAC  \u00B7  MP4");

    EncodingJob prores = jobWithPreset("prores-4444");
    prores.settings.body.resolution = ResolutionMode::hd720;
    EXPECT_EQ(
        summaryLine(prores),
        u"1280\u00D7720  \u00B7  24 fps  \u00B7  ProRes 4444 (Alpha)  \u00B7  PCM  \u00B7  MOV");
    prores.settings.body.frameRate = FrameRateMode::exact(500);
    EXPECT_TRUE(summaryLine(prores).contains(u"  120 fps  "));
}

TEST(JobTexts, AlphaNoteAndSourceLine)
{
    EncodingJob job = jobWithPreset("prores-4444");
    job.probing = true;
    EXPECT_FALSE(alphaNote(job));
    EXPECT_EQ(sourceLine(job), u"Reading source\u2026");
    job.probing = false;
    EXPECT_EQ(sourceLine(job), u"Source not read");

    job.sourceInfo = sourceOf(1920, 1080, 25, 75.9, u"ProRes 4444"_s);
    job.sourceInfo->hasAudio = false;
    job.sourceInfo->hasAlpha = true;
    EXPECT_EQ(alphaNote(job), u"Alpha will be kept.");
    EXPECT_EQ(sourceLine(job),
              u"1920\u00D71080  \u00B7  25  \u00B7  1:15  \u00B7  alpha  \u00B7  no audio");

    // Untagged subtitles add no language and a language is named once.
    job.sourceInfo->hasAudio = true;
    job.sourceInfo->audioTracks = 2;
    job.sourceInfo->subtitles = {"eng", "", "spa", "eng"};
    EXPECT_EQ(tracksText(*job.sourceInfo), u"2 audio tracks  \u00B7  subtitles (eng, spa)");
    job.sourceInfo->subtitles = {""};
    job.sourceInfo->chapters = 1;
    EXPECT_TRUE(sourceLine(job).endsWith(u"alpha  \u00B7  2 audio tracks  \u00B7  subtitles  "
                                         u"\u00B7  1 chapter"));

    job.settings.body.codec = Codec::h264;
    EXPECT_EQ(alphaNote(job), u"This preset does not keep alpha. The matte will be dropped.");
    job.sourceInfo->hasAlpha = false;
    EXPECT_FALSE(alphaNote(job));
    job.settings.body.codec = Codec::hevcWithAlpha;
    EXPECT_EQ(alphaNote(job), u"The source has no alpha channel.");
}

// Source (range, depth) x codec: what the source line adds and what the note says.
TEST(JobTexts, DynamicRangeLabelAndNote)
{
    // range, depth, codec, what the source line adds and the note (null: nothing)
    const std::tuple<DynamicRange, int, Codec, const char*, const char*> rows[] = {
        {DynamicRange::sdr, 8, Codec::h264, nullptr, nullptr},
        {DynamicRange::sdr, 10, Codec::h264, "10-bit", nullptr},
        {DynamicRange::hlg, 10, Codec::h264, "HDR \u00B7 HLG",
         "HDR (HLG) will be converted to SDR."},
        {DynamicRange::hlg, 10, Codec::hevc, "HDR \u00B7 HLG", "HDR (HLG) will be kept."},
        {DynamicRange::hdr10, 10, Codec::hevcWithAlpha, "HDR10",
         "HDR (PQ) will be converted to SDR."},
        {DynamicRange::pq, 12, Codec::proRes422HQ, "HDR \u00B7 PQ", "HDR (PQ) will be kept."},
        {DynamicRange::dolbyVision, 10, Codec::proRes4444, "Dolby Vision",
         "HDR will be kept; the Dolby Vision layer will not."},
    };
    EncodingJob job = jobWithPreset("h264");
    EXPECT_FALSE(dynamicRangeNote(job));
    for (const auto& [range, depth, codec, label, note] : rows) {
        SCOPED_TRACE(label ? label : "SDR");
        job.sourceInfo = sourceOf(1920, 1080, 25, 1, u"HEVC"_s);
        job.sourceInfo->bitDepth = depth;
        job.sourceInfo->dynamicRange = range;
        job.settings.body.codec = codec;
        const QString base = QStringLiteral("1920\u00D71080  \u00B7  25  \u00B7  0:01");
        EXPECT_EQ(sourceLine(job),
                  label ? base + QStringLiteral("  \u00B7  ") + QString::fromUtf8(label) : base);
        EXPECT_EQ(dynamicRangeNote(job),
                  note ? std::optional(QString::fromUtf8(note)) : std::nullopt);
    }
}

TEST(JobTexts, PreviewFilenameUsesTheFittedSize)
{
    EncodingJob job = jobWithPreset("h264");
    job.settings.body.namingPattern = u"{name}_{codec}_{resolution}_{date}"_s;
    job.settings.body.resolution = ResolutionMode::hd720;
    const QDateTime now(QDate(2026, 3, 7), QTime(12, 0));
    EXPECT_EQ(previewFilename(job, now), u"clip_H264_1280x720_2026-03-07.mp4");
    job.sourceInfo = sourceOf(1080, 1920, 30, 1, u"HEVC"_s);
    EXPECT_EQ(previewFilename(job, now), u"clip_H264_404x720_2026-03-07.mp4");
    // Only the last extension goes, a name without one stays whole; PCM makes it a MOV.
    job.settings.body.namingPattern = u"{name}"_s;
    job.sourcePath = u"/footage/take.final.mov"_s;
    EXPECT_EQ(previewFilename(job, now), u"take.final.mp4");
    job.sourcePath = u"/footage/README"_s;
    job.settings.body.audio = AudioMode::pcm;
    EXPECT_EQ(previewFilename(job, now), u"README.mov");
}

} // namespace
} // namespace corvel
