#include "CorvelEncoderCore/JobFile.h"
#include "CorvelEncoderCore/JobFileWriter.h"
#include "CorvelEncoderCore/Presets.h"
#include "CorvelEncoderCore/SettingsMerging.h"

#include "JobTestSupport.h"

#include <QJsonDocument>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace corvel;

namespace {

EncodingJob jobWith(const QString& source, const JobSettings& settings)
{
    EncodingJob job;
    job.id = QUuid::createUuid();
    job.sourcePath = source;
    job.settings = settings;
    job.addedAt = QDateTime::currentDateTimeUtc();
    return job;
}

JobSettings fromPreset(const BuiltinPreset& preset)
{
    return JobSettings{preset.id, preset.name, preset.body, "/renders", false};
}

} // namespace

TEST(JobFileWriter, WrittenForm)
{
    JobSettings h264 = fromPreset(*BuiltinPreset::matching(u"h264"));
    h264.body.resolution = ResolutionMode::custom;
    h264.body.customWidth = 1280;
    h264.body.customHeight = 536;
    h264.body.frameRate = FrameRateMode::exact(29.97);
    h264.body.bitrateFollowsQuality = false;
    h264.body.bitrateMbps = 12.5;
    h264.revealWhenDone = true;
    const JobSettings prores = fromPreset(*BuiltinPreset::matching(u"prores-422-hq"));
    JobSettings slow = fromPreset(*BuiltinPreset::matching(u"prores-422"));
    slow.body.frameRate = FrameRateMode::exact(0.25);

    // Keys sorted, indented, one object per job; ProRes jobs carry no bitrate or quality; a rate
    // out of range is written as the rate used.
    const QByteArray expected =
        R"({"jobs":[{"audio":"aac","bitrateMbps":12.5,"frameRate":29.97,"height":536,)"
        R"("naming":"{name}_{codec}","output":"/renders","preset":"H.264","quality":"high",)"
        R"("resolution":"custom","reveal":true,"source":"/m/a.mov","width":1280},)"
        R"({"audio":"pcm","frameRate":"source","naming":"{name}_{codec}","output":"/renders",)"
        R"("preset":"ProRes 422 HQ","resolution":"source","reveal":false,"source":"/m/b.mov"},)"
        R"({"audio":"pcm","frameRate":1,"naming":"{name}_{codec}","output":"/renders",)"
        R"("preset":"ProRes 422","resolution":"source","reveal":false,"source":"/m/c.mov"}],)"
        R"("sender":"studio.corvel.encoder","start":false,"version":1})";
    EXPECT_EQ(jobFileData({jobWith("/m/a.mov", h264), jobWith("/m/b.mov", prores),
                           jobWith("/m/c.mov", slow)}),
              QJsonDocument::fromJson(expected).toJson(QJsonDocument::Indented));
}

TEST(JobFileWriter, EverySettingReadsBack)
{
    // Defaults that differ from every exported job, so nothing passes by coincidence.
    JobSettings otherDefaults = fromPreset(*BuiltinPreset::matching(u"prores-proxy"));
    otherDefaults.outputDirectory = "/elsewhere";
    otherDefaults.revealWhenDone = true;
    int checked = 0;
    for (const BuiltinPreset& preset : BuiltinPreset::all()) {
        for (const ResolutionMode resolution : allResolutionModes()) {
            for (const bool follows : {true, false}) {
                if (!usesBitrate(preset.body.codec) && !follows)
                    continue; // ProRes bodies carry no bitrate of their own
                SCOPED_TRACE(u"%1 %2 follows=%3"_s.arg(preset.id, rawValue(resolution))
                                 .arg(follows)
                                 .toStdString());
                JobSettings settings = fromPreset(preset);
                PresetBody& body = settings.body;
                body.resolution = resolution;
                if (resolution == ResolutionMode::custom) {
                    body.customWidth = 2048;
                    body.customHeight = 858;
                }
                body.frameRate = follows ? FrameRateMode::exact(23.976) : FrameRateMode::source();
                body.audio = body.audio == AudioMode::aac ? AudioMode::pcm : AudioMode::aac;
                body.namingPattern = "{name}_{resolution}";
                settings.outputDirectory = "/renders/day 1";
                settings.revealWhenDone = follows;
                if (usesBitrate(body.codec)) {
                    body.quality = QualityTier::medium;
                    body.bitrateFollowsQuality = follows;
                    body.bitrateMbps =
                        follows ? *automaticBitrateMbps(body, std::nullopt, std::nullopt) : 33.3;
                }

                const auto parsed =
                    parseJobData(jobFileData({jobWith("/m/clip 1.mov", settings)}), "/base");
                ASSERT_TRUE(parsed) << parsed.error().description().toStdString();
                ASSERT_EQ(parsed->jobs.size(), 1);
                EXPECT_EQ(parsed->jobs[0].sourcePath, "/m/clip 1.mov");

                const auto merged = settingsByMerging(parsed->jobs[0], otherDefaults, {});
                ASSERT_TRUE(merged) << merged.error().description().toStdString();
                EXPECT_EQ(*merged, settings);
                ++checked;
            }
        }
    }
    EXPECT_EQ(checked, 5 * 5 + 3 * 5 * 2);
}

TEST(JobFileWriter, AtomicWrite)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("Queue.corveljob");
    const JobSettings settings = fromPreset(*BuiltinPreset::matching(u"hevc"));

    ASSERT_TRUE(writeJobFile({jobWith("/a.mov", settings)}, path));
    ASSERT_TRUE(writeJobFile({jobWith("/b.mov", settings), jobWith("/c.mov", settings)}, path));
    const auto parsed = parseJobFile(path);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->jobs.size(), 2);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{"Queue.corveljob"}); // no temporary file left behind

    const auto failed = writeJobFile({}, dir.filePath("missing/Queue.corveljob"));
    ASSERT_FALSE(failed);
    EXPECT_TRUE(failed.error().description().startsWith(R"(Could not write "Queue.corveljob": )"))
        << failed.error().description().toStdString();
}
