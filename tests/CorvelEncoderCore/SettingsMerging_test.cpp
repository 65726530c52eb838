#include "CorvelEncoderCore/Presets.h"
#include "CorvelEncoderCore/SettingsMerging.h"

#include "JobTestSupport.h"

#include <gtest/gtest.h>

using namespace corvel;

namespace {

JobSettings defaults()
{
    return {"prores-422-hq", "ProRes 422 HQ", BuiltinPreset::matching(u"prores-422-hq")->body,
            "/home/u/Videos/Corvel Encoder", true};
}

SavedPreset saved(const char* uuid, const char* name, Codec codec)
{
    return SavedPreset{QUuid::fromString(QLatin1StringView(uuid)), QString::fromUtf8(name),
                       PresetBody{.codec = codec,
                                  .bitrateMbps = 7.5,
                                  .bitrateFollowsQuality = false,
                                  .namingPattern = "{name}_grade"}};
}

const QList<SavedPreset> kSaved{
    saved("{0B7E4C22-5D1F-4C36-9A64-1F0E2D3C4B5A}", "Grade Réf", Codec::proRes4444),
    saved("{11111111-2222-3333-4444-555555555555}", "hevc", Codec::h264)};

} // namespace

TEST(SettingsMerging, Failures)
{
    const std::pair<ParsedJob, JobBuildError> rows[] = {
        {Fields{}.asJob(""), JobBuildError::emptySource()},
        {Fields{}.asJob(" \t\n"), JobBuildError::emptySource()},
        {Fields{.presetRaw = "nonsense"}.asJob("/m/a.mov"),
         JobBuildError::unknownPreset("nonsense")},
        // A saved-preset identity whose UUID no saved preset has.
        {Fields{.presetRaw = "custom:99999999-2222-3333-4444-555555555555"}.asJob("/m/a.mov"),
         JobBuildError::unknownPreset("custom:99999999-2222-3333-4444-555555555555")}};
    for (const auto& [parsed, error] : rows) {
        SCOPED_TRACE(parsed.sourcePath.toStdString());
        EXPECT_EQ(settingsByMerging(parsed, defaults(), kSaved).error(), error);
    }
    EXPECT_EQ(JobBuildError::emptySource().description(), "A job is missing a source path.");
}

// Fields over a preset, and each field's reading, come back through exported job files too
// (JobFileWriter.EverySettingReadsBack); these rows cover what an export never writes.
TEST(SettingsMerging, PresetAndFieldPrecedence)
{
    // name, what was parsed, and the change it makes to the defaults
    const std::tuple<const char*, ParsedJob, std::function<void(JobSettings&)>> rows[] = {
        {"no fields", Fields{}.asJob("/m/a.mov"), nullptr},
        {"preset and quality",
         Fields{.presetRaw = "HEVC", .quality = QualityTier::high}.asJob("/m/a.mov"),
         [](JobSettings& s) {
             s.presetID = "hevc";
             s.presetName = "HEVC";
             s.body = BuiltinPreset::matching(u"hevc")->body;
             s.body.bitrateMbps = 12.3; // 1920x1080 at 24 fps
         }},
        {"quality on a ProRes default sets the flag but no bitrate",
         Fields{.quality = QualityTier::veryHigh}.asJob("/m/a.mov"),
         [](JobSettings& s) {
             s.body.quality = QualityTier::veryHigh;
             s.body.bitrateFollowsQuality = true;
         }},
        {"saved preset by name, diacritics ignored",
         Fields{.presetRaw = "grade ref"}.asJob("/m/a.mov"), [](JobSettings& s) {
             s.presetID = "custom:0B7E4C22-5D1F-4C36-9A64-1F0E2D3C4B5A";
             s.presetName = "Grade Réf";
             s.body = kSaved[0].body;
         }}};
    // Every row also shows that a preset never brings an output folder or reveal choice.
    for (const auto& [name, parsed, change] : rows) {
        SCOPED_TRACE(name);
        JobSettings expected = defaults();
        if (change)
            change(expected);
        const auto merged = settingsByMerging(parsed, defaults(), kSaved);
        ASSERT_TRUE(merged) << merged.error().description().toStdString();
        EXPECT_EQ(*merged, expected);
    }
}
