#include "EngineTestSupport.h"

#include "CorvelEncoderCore/CorvelIdentity.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace corvel::test {
namespace {

constexpr int kEncodeTimeoutMs = 60'000;

struct Encode
{
    std::shared_ptr<SessionRecord> record = std::make_shared<SessionRecord>();
    std::unique_ptr<EncodeSession> session;
};

Encode startSession(const QString& source, const JobSettings& settings,
                    std::shared_ptr<EncoderChoice> encoders = nullptr, bool start = true)
{
    Encode run;
    FFmpegEncodeSessionFactory factory(encoders ? std::move(encoders)
                                                : std::make_shared<FFmpegEncoderChoice>());
    run.session =
        factory.create(QUuid::createUuid(), source, settings, recordingCallbacks(run.record));
    if (start)
        run.session->start();
    return run;
}

// Waits for the outcome, then a little longer to catch anything delivered after it.
void finish(Encode& run)
{
    ASSERT_TRUE(waitFor([&] { return run.record->done(); }, kEncodeTimeoutMs));
    EXPECT_TRUE(run.session->waitForStopped(5000));
    waitFor([] { return false; }, 100);
    EXPECT_EQ(run.record->completions.size(), 1u);
    EXPECT_EQ(run.record->callbacksAfterCompletion, 0);
}

QString rate(const QJsonObject& stream)
{
    return stream[QStringLiteral("r_frame_rate")].toString();
}

struct CodecRow
{
    Codec codec;
    AudioMode audio;
    Source source;
    ResolutionMode resolution;
    std::optional<double> exactRate;
    const char* codecName;
    const char* tag;
    const char* pixFmt;
    int width, height;
    const char* frameRate;
    const char* audioCodec; // nullptr: no audio stream
    int sampleRate, channels;
    const char* colour; // all three tags
    const char* extension;
};

TEST(FFmpegEncodeSession, EncodesEveryCodecWithTheRightStreams)
{
    const CodecRow rows[] = {
        {Codec::proRes422Proxy,
         AudioMode::pcm,
         Source::h264Aac,
         ResolutionMode::source,
         {},
         "prores",
         "apco",
         "yuv422p10le",
         320,
         240,
         "25/1",
         "pcm_s24le",
         44100,
         2,
         "bt709",
         "mov"},
        {Codec::proRes422LT,
         AudioMode::aac,
         Source::h264Aac,
         ResolutionMode::source,
         {},
         "prores",
         "apcs",
         "yuv422p10le",
         320,
         240,
         "25/1",
         "aac",
         48000,
         2,
         "bt709",
         "mov"},
        {Codec::proRes422,
         AudioMode::pcm,
         Source::pcm96k6ch,
         ResolutionMode::source,
         {},
         "prores",
         "apcn",
         "yuv422p10le",
         320,
         240,
         "25/1",
         "pcm_s24le",
         96000,
         6,
         "smpte170m",
         "mov"},
        {Codec::proRes422HQ,
         AudioMode::pcm,
         Source::rotated,
         ResolutionMode::source,
         {},
         "prores",
         "apch",
         "yuv422p10le",
         240,
         320,
         "25/1",
         nullptr,
         0,
         0,
         "bt709",
         "mov"},
        {Codec::proRes4444,
         AudioMode::pcm,
         Source::proResAlpha,
         ResolutionMode::source,
         {},
         "prores",
         "ap4h",
         "yuva444p12le",
         320,
         240,
         "25/1",
         nullptr,
         0,
         0,
         "bt709",
         "mov"},
        {Codec::h264,
         AudioMode::aac,
         Source::h264Aac,
         ResolutionMode::hd720,
         {},
         "h264",
         "avc1",
         "yuv420p",
         960,
         720,
         "25/1",
         "aac",
         48000,
         2,
         "bt709",
         "mp4"},
        {Codec::hevc, AudioMode::aac, Source::pcm96k6ch, ResolutionMode::source, 30.0, "hevc",
         "hvc1", "yuv420p", 320, 240, "30/1", "aac", 48000, 2, "smpte170m", "mp4"},
        {Codec::h264,
         AudioMode::pcm,
         Source::proResAlpha,
         ResolutionMode::source,
         {},
         "h264",
         "avc1",
         "yuv420p",
         320,
         240,
         "25/1",
         nullptr,
         0,
         0,
         "bt709",
         "mov"},
    };
    QTemporaryDir folder;
    for (const CodecRow& row : rows) {
        SCOPED_TRACE(QStringLiteral("%1 from %2")
                         .arg(rawValue(row.codec))
                         .arg(static_cast<int>(row.source))
                         .toStdString());
        JobSettings settings = settingsFor(row.codec, row.audio, folder.path());
        settings.body.resolution = row.resolution;
        if (row.exactRate)
            settings.body.frameRate = FrameRateMode::exact(*row.exactRate);
        Encode run = startSession(sourcePath(row.source), settings);
        finish(run);
        const EncodeResult& result = run.record->completions.front();
        ASSERT_TRUE(result.has_value()) << result.error().description().toStdString();
        const QString output = *result;
        EXPECT_EQ(QFileInfo(output).suffix(), QLatin1StringView(row.extension));

        ASSERT_EQ(run.record->ready.size(), 1u);
        EXPECT_EQ(run.record->ready[0].path, output);
        EXPECT_FALSE(run.record->ready[0].hardware);
        ASSERT_FALSE(run.record->logs.empty());
        EXPECT_TRUE(run.record->logs.back().first.endsWith(u" Software encoder."));
        EXPECT_TRUE(run.record->logs.back().first.contains(QFileInfo(output).fileName()));
        ASSERT_FALSE(run.record->progress.empty());
        for (const auto& [fraction, eta] : run.record->progress) {
            EXPECT_GE(fraction, 0.0);
            EXPECT_LE(fraction, 0.99);
        }

        const QJsonObject info = probe(output);
        const QJsonObject video = streamOf(info, QStringLiteral("video"));
        EXPECT_EQ(video["codec_name"].toString(), QLatin1StringView(row.codecName));
        EXPECT_EQ(video["codec_tag_string"].toString(), QLatin1StringView(row.tag));
        EXPECT_EQ(video["pix_fmt"].toString(), QLatin1StringView(row.pixFmt));
        EXPECT_EQ(video["width"].toInt(), row.width);
        EXPECT_EQ(video["height"].toInt(), row.height);
        EXPECT_EQ(rate(video), QLatin1StringView(row.frameRate));
        EXPECT_EQ(video["color_primaries"].toString(), QLatin1StringView(row.colour));
        EXPECT_EQ(video["color_transfer"].toString(), QLatin1StringView(row.colour));
        EXPECT_EQ(video["color_space"].toString(), QLatin1StringView(row.colour));
        if (row.codec == Codec::h264) {
            EXPECT_EQ(video["profile"].toString(), QStringLiteral("High"));
        }
        EXPECT_EQ(info["format"]["tags"]["encoder"].toString(), CorvelIdentity::encoderTag);

        const QJsonObject audio = streamOf(info, QStringLiteral("audio"));
        if (row.audioCodec) {
            EXPECT_EQ(audio["codec_name"].toString(), QLatin1StringView(row.audioCodec));
            EXPECT_EQ(audio["sample_rate"].toString().toInt(), row.sampleRate);
            EXPECT_EQ(audio["channels"].toInt(), row.channels);
        } else {
            EXPECT_TRUE(audio.isEmpty());
        }
        const double duration = info["format"]["duration"].toString().toDouble();
        EXPECT_NEAR(duration, 2.0, 0.15);
        EXPECT_EQ(decodeErrors(output), QString());
    }
}

} // namespace
} // namespace corvel::test
