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
    job.sourceInfo = SourceInfo{1920, 1080, 23.976, 12.5, true, false, u"H.264"_s};
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

    job.sourceInfo = SourceInfo{1920, 1080, 25, 75.9, false, true, u"ProRes 4444"_s};
    EXPECT_EQ(alphaNote(job), u"Alpha will be kept.");
    EXPECT_EQ(sourceLine(job),
              u"1920\u00D71080  \u00B7  25  \u00B7  1:15  \u00B7  alpha  \u00B7  no audio");

    job.settings.body.codec = Codec::h264;
    EXPECT_EQ(alphaNote(job), u"This preset does not keep alpha. The matte will be dropped.");
    job.sourceInfo->hasAlpha = false;
    EXPECT_FALSE(alphaNote(job));
    job.settings.body.codec = Codec::hevcWithAlpha;
    EXPECT_EQ(alphaNote(job), u"The source has no alpha channel.");
}

TEST(JobTexts, PreviewFilenameUsesTheFittedSize)
{
    EncodingJob job = jobWithPreset("hevc");
    job.settings.body.namingPattern = u"{name}_{resolution}_{date}"_s;
    job.settings.body.resolution = ResolutionMode::hd720;
    const QDateTime now(QDate(2026, 3, 7), QTime(12, 0));
    EXPECT_EQ(previewFilename(job, now), u"clip_1280x720_2026-03-07.mp4");
    job.sourceInfo = SourceInfo{1080, 1920, 30, 1, true, false, u"HEVC"_s};
    EXPECT_EQ(previewFilename(job, now), u"clip_404x720_2026-03-07.mp4");
}

} // namespace
} // namespace corvel
