#include "CorvelEncoderCore/JsonCoding.h"

#include <QJsonArray>
#include <QJsonDocument>

#include "../QtPrinters.h"

#include <gtest/gtest.h>

namespace corvel {
namespace {

const char* const kExampleJob =
    R"({"id":"0B7E4C22-5D1F-4C36-9A64-1F0E2D3C4B5A","sourcePath":"/Users/editor/Movies/clip.mov",)"
    R"("sourceInfo":{"width":1920,"height":1080,"frameRate":23.976,"duration":12.5,"hasAudio":true,)"
    R"("hasAlpha":false,"videoCodec":"H.264"},"probing":false,)"
    R"("settings":{"presetID":"prores-422-hq","presetName":"ProRes 422 HQ","body":{"codec":"proRes422HQ",)"
    R"("resolution":"source","customWidth":1920,"customHeight":1080,"frameRate":{"source":{}},"audio":"pcm",)"
    R"("bitrateMbps":20,"bitrateFollowsQuality":false,"quality":"high","namingPattern":"{name}_{codec}"},)"
    R"("outputDirectory":"/Users/editor/Movies","revealWhenDone":false},)"
    R"("status":"queued","progress":0,"addedAt":786000000.5})";

QJsonObject parseObject(const char* text)
{
    return QJsonDocument::fromJson(QByteArray(text)).object();
}

// The example job with every field moved off its value there.
EncodingJob sampleJob()
{
    EncodingJob job = *fromJson<EncodingJob>(parseObject(kExampleJob));
    job.id = QUuid::createUuid();
    job.sourcePath = u"/home/ed/Videos/Scène 1.mov"_s;
    job.sourceInfo.reset();
    job.probing = true;
    job.settings = {"h264", "H.264", PresetBody::standard(), "/tmp/out", true};
    job.settings.body.codec = Codec::h264;
    job.settings.body.resolution = ResolutionMode::custom;
    job.settings.body.customWidth = 1000;
    job.settings.body.customHeight = 562;
    job.settings.body.audio = AudioMode::aac;
    job.settings.body.quality = QualityTier::veryHigh;
    job.settings.body.frameRate = FrameRateMode::exact(29.97);
    job.settings.body.bitrateMbps = 13.7;
    job.status = JobStatus::encoding;
    job.progress = 0.25;
    job.addedAt = QDateTime::fromMSecsSinceEpoch(1'780'000'000'123, Qt::UTC);
    return job;
}

TEST(JsonCoding, QueueRoundTripsWithAndWithoutOptionalFields)
{
    // The example reads, and written back holds the same keys and values.
    const auto example = fromJson<EncodingJob>(parseObject(kExampleJob));
    ASSERT_TRUE(example) << example.error().message.toStdString();
    EXPECT_EQ(toJson(*example), parseObject(kExampleJob));

    EncodingJob bare = sampleJob();
    EncodingJob full = sampleJob();
    full.sourceInfo = example->sourceInfo;
    full.sourceInfo->hasAlpha = true;
    full.sourceInfo->bitDepth = 10;
    full.sourceInfo->dynamicRange = DynamicRange::hdr10;
    full.etaSeconds = 42.5;
    full.errorMessage = u"The source file is missing."_s;
    full.outputPath = u"/tmp/out/Scène 1_H264.mp4"_s;
    full.hardwareEncoder = false;
    full.settings.body.frameRate = FrameRateMode::source();

    const QJsonObject first = toJson(bare);
    const QJsonObject second = toJson(full);
    EXPECT_EQ(fromJson<EncodingJob>(first), bare);
    EXPECT_EQ(fromJson<EncodingJob>(second), full);

    // The five optional keys are left out when empty.
    for (const char* key :
         {"sourceInfo", "etaSeconds", "errorMessage", "outputPath", "hardwareEncoder"}) {
        SCOPED_TRACE(key);
        EXPECT_FALSE(first.contains(QLatin1StringView(key)));
        EXPECT_TRUE(second.contains(QLatin1StringView(key)));
    }
    EXPECT_EQ(first.value(u"settings").toObject().value(u"body").toObject().value(u"frameRate"),
              QJsonValue(parseObject(R"({"exact":{"_0":29.97}})")));
}

TEST(JsonCoding, BrokenRecordsFailToDecode)
{
    // Each row sets a key of the example job, or of its preset body, so that it must not
    // decode; an undefined value removes the key.
    QJsonObject incompleteInfo = parseObject(kExampleJob).value(u"sourceInfo").toObject();
    incompleteInfo.remove(u"videoCodec");
    const std::tuple<bool, const char*, QJsonValue> rows[] = {
        {false, "id", QJsonValue::Undefined},
        {false, "status", u"done"_qs},
        {false, "id", u"{0B7E4C22-5D1F-4C36-9A64-1F0E2D3C4B5A}"_qs},
        {false, "progress", u"0"_qs},
        {false, "etaSeconds", u"5"_qs},
        {false, "sourceInfo", incompleteInfo},
        {true, "bitrateFollowsQuality", QJsonValue::Undefined},
        {true, "codec", u"ProRes422HQ"_qs},
        {true, "customWidth", 1920.5},
        // A frame rate needs exactly one known key, with a value of the right type.
        {true, "frameRate", parseObject(R"({"source":{},"exact":{"_0":30}})")},
        {true, "frameRate", parseObject(R"({})")},
        {true, "frameRate", parseObject(R"({"variable":{}})")},
        {true, "frameRate", parseObject(R"({"exact":{}})")},
        {true, "frameRate", parseObject(R"({"exact":{"_0":"30"}})")}};
    for (const auto& [inBody, key, value] : rows) {
        SCOPED_TRACE(testing::Message()
                     << key << ' ' << QJsonDocument(QJsonArray{value}).toJson().toStdString());
        QJsonObject job = parseObject(kExampleJob);
        QJsonObject settings = job.value(u"settings").toObject();
        QJsonObject body = settings.value(u"body").toObject();
        QJsonObject& target = inBody ? body : job;
        if (value.isUndefined())
            target.remove(QLatin1StringView(key));
        else
            target.insert(QLatin1StringView(key), value);
        settings.insert(u"body", body);
        job.insert(u"settings", settings);
        EXPECT_FALSE(fromJson<EncodingJob>(job));
    }
    // Absent and null optional keys both mean "no value"; unknown keys are ignored.
    QJsonObject job = parseObject(kExampleJob);
    job.insert(u"outputPath", QJsonValue::Null);
    job.insert(u"somethingNew", 1);
    const auto decoded = fromJson<EncodingJob>(job);
    ASSERT_TRUE(decoded);
    EXPECT_FALSE(decoded->outputPath);
    EXPECT_EQ(fromJson<FrameRateMode>(parseObject(R"({"source":{},"other":1})")),
              FrameRateMode::source());
}

TEST(JsonCoding, ReferenceDateSecondsConvert)
{
    EXPECT_EQ(secondsSinceReferenceDate(QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC)), 0.0);
    // Garbage never throws or wraps around.
    EXPECT_TRUE(dateFromReferenceSeconds(std::numeric_limits<double>::infinity()).isValid());
    EXPECT_TRUE(dateFromReferenceSeconds(1e300).isValid());
}

TEST(Records, SourceNameIsTheLastPathComponent)
{
    const std::pair<const char*, const char*> rows[] = {{"/Volumes/A/clip.mov", "clip.mov"},
                                                        {"/a/b/README", "README"},
                                                        {"/a/b//", "b"},
                                                        {"clip.mov", "clip.mov"},
                                                        {"/", "/"}};
    for (const auto& [path, name] : rows) {
        SCOPED_TRACE(path);
        EncodingJob job;
        job.sourcePath = QString::fromUtf8(path);
        EXPECT_EQ(job.sourceName(), QString::fromUtf8(name));
    }
}

TEST(Records, FrameRateModesCompareByRate)
{
    EXPECT_NE(FrameRateMode::exact(30), FrameRateMode::exact(29.97));
    EXPECT_NE(FrameRateMode::exact(24), FrameRateMode::source());
    EXPECT_EQ(qHash(FrameRateMode::exact(0.0)), qHash(FrameRateMode::exact(-0.0)));
}

} // namespace
} // namespace corvel
