#include "CorvelEncoderCore/Presets.h"

#include "../QtPrinters.h"

#include <gtest/gtest.h>

namespace corvel {
namespace {

SavedPreset saved(const char* uuid, const char* name)
{
    return {QUuid::fromString(QLatin1StringView(uuid)), QString::fromUtf8(name),
            PresetBody::standard()};
}

TEST(Presets, ResolvePresetID)
{
    const QList<SavedPreset> presets{saved("5A1B2C3D-0000-4000-8000-00000000000A", "hevc"),
                                     saved("5A1B2C3D-0000-4000-8000-00000000000B", "Grade Réf"),
                                     saved("5A1B2C3D-0000-4000-8000-00000000000C", "x265")};
    const char* const grade = "custom:5A1B2C3D-0000-4000-8000-00000000000B";
    // Rows: raw text, and the identity (nullptr: none).
    const std::pair<const char*, const char*> rows[] = {
        {"  ProRes 422 HQ ", "prores-422-hq"},
        {"prores-422-hq", "prores-422-hq"},
        {"AVC", "h264"},
        {"ProRes 4444 (Alpha)", "prores-4444"},
        {"h265alpha", "hevc-alpha"},
        {"hevc", "hevc"}, // the saved preset of that name never wins
        {"x265", "custom:5A1B2C3D-0000-4000-8000-00000000000C"},
        {"grade ref", grade},
        {"5a1b2c3d-0000-4000-8000-00000000000b", grade},
        {"custom:5a1b2c3d-0000-4000-8000-00000000000b", grade},
        {"CUSTOM:5A1B2C3D-0000-4000-8000-00000000000B", grade},
        {"custom:5A1B2C3D-0000-4000-8000-0000000000FF", nullptr},
        {"", nullptr},
        {"Grade", nullptr}};
    for (const auto& [raw, expected] : rows) {
        SCOPED_TRACE(raw);
        EXPECT_EQ(resolvePresetID(QString::fromUtf8(raw), presets),
                  expected ? std::optional(QString::fromUtf8(expected)) : std::nullopt);
    }
    EXPECT_EQ(resolvePresetID(u"x265"_s, {}), std::nullopt);
}

TEST(Presets, LookupsTakeStoredIdentitiesOnly)
{
    SavedPreset preset = saved("5A1B2C3D-0000-4000-8000-00000000000B", "Grade Réf");
    preset.body.codec = Codec::hevc;
    const QList<SavedPreset> presets{preset};
    const QString stored = u"custom:5A1B2C3D-0000-4000-8000-00000000000B"_s;

    EXPECT_EQ(presetBody(stored, presets)->codec, Codec::hevc);
    EXPECT_EQ(presetBody(stored.toLower(), presets)->codec, Codec::hevc); // UUID ignores case
    EXPECT_FALSE(presetBody(u"Custom:5A1B2C3D-0000-4000-8000-00000000000B", presets));
    EXPECT_FALSE(presetBody(u"prores-422-hq ", presets));
    EXPECT_FALSE(presetBody(u"ProRes 422 HQ", presets));
}

TEST(Presets, SamePresetChoices)
{
    const PresetBody base{.bitrateMbps = 10.0, .bitrateFollowsQuality = false};
    const std::tuple<const char*, std::function<void(PresetBody&)>, bool> rows[] = {
        {"identical", [](PresetBody&) {}, true},
        {"custom width outside custom mode", [](PresetBody& b) { b.customWidth = 1280; }, true},
        {"custom width in custom mode",
         [](PresetBody& b) {
             b.resolution = ResolutionMode::custom;
             b.customWidth = 1280;
         },
         false},
        {"bitrate 10.04", [](PresetBody& b) { b.bitrateMbps = 10.04; }, true},
        {"bitrate 10.05", [](PresetBody& b) { b.bitrateMbps = 10.05; }, false},
        {"codec", [](PresetBody& b) { b.codec = Codec::proRes422; }, false},
        {"frame rate", [](PresetBody& b) { b.frameRate = FrameRateMode::exact(24); }, false},
        {"audio", [](PresetBody& b) { b.audio = AudioMode::aac; }, false},
        {"pattern", [](PresetBody& b) { b.namingPattern = u"{name}"_s; }, false},
        {"quality", [](PresetBody& b) { b.quality = QualityTier::low; }, false}};
    for (const auto& [what, change, same] : rows) {
        SCOPED_TRACE(what);
        PresetBody other = base;
        change(other);
        EXPECT_EQ(samePresetChoices(base, other), same);
        EXPECT_EQ(samePresetChoices(other, base), same);
    }
    EXPECT_TRUE(samePresetChoices(PresetBody::standard(), PresetBody{.bitrateMbps = 99}))
        << "bitrates are ignored when both follow quality";
}

TEST(Presets, SuggestedBitrateWorkedValues)
{
    const std::tuple<int64_t, int64_t, double, Codec, QualityTier, double> rows[] = {
        {1920, 1080, 24, Codec::h264, QualityTier::high, 19.9},
        {1920, 1080, 24, Codec::hevc, QualityTier::high, 12.3},
        {1920, 1080, 24, Codec::hevcWithAlpha, QualityTier::high, 15.4},
        {1920, 1080, 29.97, Codec::h264, QualityTier::medium, 13.7},
        {1280, 720, 30, Codec::h264, QualityTier::low, 3.3},
        {640, 360, 25, Codec::hevc, QualityTier::low, 0.5},
        {3840, 2160, 60, Codec::h264, QualityTier::veryHigh, 200.0},
        {0, -5, 0, Codec::h264, QualityTier::veryHigh, 0.5},
        {1920, 1080, std::nan(""), Codec::h264, QualityTier::high, 0.8},
        {1920, 1080, 1000, Codec::h264, QualityTier::low, 29.9}, // rate capped at 120
    };
    for (const auto& [w, h, fps, codec, tier, mbps] : rows) {
        SCOPED_TRACE(testing::Message() << w << "x" << h << "@" << fps);
        EXPECT_DOUBLE_EQ(suggestedBitrateMbps(w, h, fps, codec, tier), mbps);
    }
}

TEST(Presets, AutomaticBitrate)
{
    PresetBody body = BuiltinPreset::matching(u"h264")->body;
    body.resolution = ResolutionMode::hd720;
    EXPECT_EQ(automaticBitrateMbps(body, std::nullopt, std::nullopt),
              suggestedBitrateMbps(1280, 720, 24, Codec::h264, QualityTier::high));

    body.resolution = ResolutionMode::source;
    body.frameRate = FrameRateMode::exact(240);
    EXPECT_EQ(automaticBitrateMbps(body, PixelSize{640, 360}, 25.0),
              suggestedBitrateMbps(640, 360, 120, Codec::h264, QualityTier::high));
}

} // namespace
} // namespace corvel
