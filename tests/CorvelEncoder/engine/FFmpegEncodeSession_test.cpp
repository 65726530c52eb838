#include "EngineTestSupport.h"

#include "CorvelEncoder/engine/ClaimedOutput.h"
#include "CorvelEncoder/engine/EncodePlan.h"
#include "CorvelEncoderCore/CorvelIdentity.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

#include <sys/stat.h>

namespace corvel::test {
namespace {

QString rate(const QJsonObject& stream)
{
    return stream[QStringLiteral("r_frame_rate")].toString();
}

double rateValue(const QString& fraction)
{
    const QStringList parts = fraction.split(u'/');
    return parts.size() == 2 && parts[1].toDouble() > 0 ? parts[0].toDouble() / parts[1].toDouble()
                                                        : 0;
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
        {Codec::proRes422Proxy, AudioMode::pcm, Source::h264Aac, ResolutionMode::source,
         std::nullopt, "prores", "apco", "yuv422p10le", 320, 240, "25/1", "pcm_s24le", 44100, 2,
         "bt709", "mov"},
        {Codec::proRes422LT, AudioMode::aac, Source::h264Aac, ResolutionMode::source, std::nullopt,
         "prores", "apcs", "yuv422p10le", 320, 240, "25/1", "aac", 48000, 2, "bt709", "mov"},
        {Codec::proRes422, AudioMode::pcm, Source::pcm96k6ch, ResolutionMode::source, std::nullopt,
         "prores", "apcn", "yuv422p10le", 320, 240, "25/1", "pcm_s24le", 96000, 6, "smpte170m",
         "mov"},
        {Codec::proRes422HQ, AudioMode::pcm, Source::rotated, ResolutionMode::source, std::nullopt,
         "prores", "apch", "yuv422p10le", 240, 320, "25/1", nullptr, 0, 0, "bt709", "mov"},
        {Codec::proRes4444, AudioMode::pcm, Source::proResAlpha, ResolutionMode::source,
         std::nullopt, "prores", "ap4h", "yuva444p12le", 320, 240, "25/1", nullptr, 0, 0, "bt709",
         "mov"},
        {Codec::h264, AudioMode::aac, Source::h264Aac, ResolutionMode::hd720, std::nullopt, "h264",
         "avc1", "yuv420p", 960, 720, "25/1", "aac", 48000, 2, "bt709", "mp4"},
        {Codec::hevc, AudioMode::aac, Source::pcm96k6ch, ResolutionMode::source, 30.0, "hevc",
         "hvc1", "yuv420p", 320, 240, "30/1", "aac", 48000, 2, "smpte170m", "mp4"},
        {Codec::h264, AudioMode::pcm, Source::proResAlpha, ResolutionMode::source, std::nullopt,
         "h264", "avc1", "yuv420p", 320, 240, "25/1", nullptr, 0, 0, "bt709", "mov"},
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
        // Every source frame arrives, the last one included, retimed to the output rate.
        const QJsonObject sourceVideo = streamOf(probe(sourcePath(row.source)), "video");
        const double frames = sourceVideo["nb_frames"].toString().toDouble() *
                              rateValue(rate(video)) / rateValue(rate(sourceVideo));
        EXPECT_EQ(video["nb_frames"].toString().toInt(), qRound(frames));
        EXPECT_EQ(decodeErrors(output), QString());
    }
}

// Open file descriptors or running threads of this process, to catch leaks.
int entriesIn(const char* procFolder)
{
    return static_cast<int>(QDir(QString::fromLatin1(procFolder))
                                .entryList(QDir::AllEntries | QDir::NoDotAndDotDot)
                                .size());
}

TEST(FFmpegEncodeSession, CancelBeforeOpeningEndsCancelledWithoutFile)
{
    for (const bool cancelBeforeStart : {true, false}) {
        SCOPED_TRACE(cancelBeforeStart ? "before start" : "right after start");
        QTemporaryDir folder;
        Encode run = startSession(sourcePath(Source::h264Aac),
                                  settingsFor(Codec::proRes422HQ, AudioMode::pcm, folder.path()),
                                  nullptr, false);
        if (cancelBeforeStart)
            run.session->cancel();
        run.session->start();
        if (!cancelBeforeStart)
            run.session->cancel();
        finish(run);
        const EncodeResult& result = run.record->completions.front();
        ASSERT_FALSE(result.has_value());
        EXPECT_TRUE(result.error().isCancelled());
        EXPECT_EQ(result.error().description(), QStringLiteral("Cancelled."));
        EXPECT_TRUE(filesIn(folder.path()).isEmpty());
    }
}

// Elapsed time includes paused time: the first estimate after resuming spans the pause, so it
// exceeds the time still to go by far more than the work left would take.
TEST(FFmpegEncodeSession, PausedBeforeStartOpensThenIdlesAndTheWaitCountsInTheEstimate)
{
    QTemporaryDir folder;
    Encode run = startSession(sourcePath(Source::h264Aac),
                              settingsFor(Codec::proRes422Proxy, AudioMode::pcm, folder.path()),
                              nullptr, false);
    run.session->pause();
    run.session->start();
    ASSERT_TRUE(waitFor([&] { return !run.record->ready.empty(); }, kEncodeTimeoutMs));
    // Opened, file header written, but no frame moves while paused.
    waitFor([] { return false; }, 1500);
    EXPECT_TRUE(run.record->progress.empty());
    EXPECT_FALSE(run.record->done());
    // Written under a hidden partial name; nothing under the final name until it is whole.
    EXPECT_TRUE(QFileInfo::exists(partialOutputPath(run.record->ready[0].path)));
    EXPECT_FALSE(QFileInfo::exists(run.record->ready[0].path));
    run.session->resume();
    finish(run);
    ASSERT_TRUE(run.record->completions.front().has_value());
    EXPECT_EQ(*run.record->completions.front(), run.record->ready[0].path);
    const auto withEstimate = std::ranges::find_if(
        run.record->progress, [](const auto& report) { return report.second.has_value(); });
    ASSERT_NE(withEstimate, run.record->progress.end());
    const auto [fraction, eta] = *withEstimate;
    EXPECT_GT(*eta / (1 - fraction) * fraction, 1.5);
}

TEST(FFmpegEncodeSession, CancelEndsWithinHalfASecondAndDeletesThePartialFile)
{
    struct Row
    {
        const char* name;
        Codec codec;
        bool pauseFirst;
    };
    const Row rows[] = {
        {"paused H.264", Codec::h264, true},
        {"encoding ProRes 1080p", Codec::proRes422HQ, false},
        {"encoding HEVC 1080p", Codec::hevc, false},
    };
    sourcePath(Source::h264Aac);
    const int filesBefore = entriesIn("/proc/self/fd");
    const int threadsBefore = entriesIn("/proc/self/task");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QTemporaryDir folder;
        JobSettings settings = settingsFor(row.codec, AudioMode::aac, folder.path());
        if (!row.pauseFirst)
            settings.body.resolution = ResolutionMode::hd1080;
        Encode run = startSession(sourcePath(Source::h264Aac), settings);
        if (row.pauseFirst) {
            ASSERT_TRUE(waitFor([&] { return !run.record->ready.empty(); }, kEncodeTimeoutMs));
            run.session->pause();
            waitFor([] { return false; }, 200);
        } else {
            ASSERT_TRUE(waitFor([&] { return !run.record->progress.empty(); }, kEncodeTimeoutMs));
        }
        const QString partial = partialOutputPath(run.record->ready[0].path);
        EXPECT_TRUE(QFileInfo::exists(partial));
        QElapsedTimer timer;
        timer.start();
        run.session->cancel();
        EXPECT_TRUE(run.session->waitForStopped(500));
        EXPECT_LT(timer.elapsed(), 500);
        EXPECT_FALSE(QFileInfo::exists(partial));
        EXPECT_TRUE(filesIn(folder.path()).isEmpty());
        finish(run);
        EXPECT_TRUE(run.record->completions.front().error().isCancelled());
        // After the outcome the controls do nothing visible.
        run.session->pause();
        run.session->resume();
        run.session->cancel();
        waitFor([] { return false; }, 100);
        EXPECT_EQ(run.record->completions.size(), 1u);
        EXPECT_EQ(run.record->callbacksAfterCompletion, 0);
    }
    EXPECT_EQ(entriesIn("/proc/self/fd"), filesBefore);
    EXPECT_EQ(entriesIn("/proc/self/task"), threadsBefore);
}

TEST(FFmpegEncodeSession, HardwareFallsBackToSoftwareOnlyBeforeTheFirstFrame)
{
    struct Row
    {
        const char* name;
        bool refuse;
        int hardwareFailsAt, softwareFailsAt; // 1-based frame; 0 never
        Codec codec;
        QStringList logEndings;
        std::vector<bool> readyHardware;
        bool succeeds;
    };
    const QString requested = QStringLiteral(" Hardware encoder requested.");
    const QString software = QStringLiteral(" Software encoder.");
    const QString retry =
        QStringLiteral("Hardware encoder failed before the first frame. Retrying in software.");
    const Row rows[] = {
        {"refused at start",
         true,
         0,
         0,
         Codec::h264,
         {QStringLiteral("Hardware encoder was refused. Retrying in software."), software},
         {false},
         true},
        {"failing on its first frame",
         false,
         1,
         0,
         Codec::hevc,
         {requested, retry, software},
         {true, false},
         true},
        {"software failing too",
         false,
         1,
         1,
         Codec::hevc,
         {requested, retry, software},
         {true, false},
         false},
        // ProRes writes each frame at once, so the file already holds frames.
        {"failing after frames were written",
         false,
         20,
         0,
         Codec::proRes422LT,
         {requested},
         {true},
         false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QTemporaryDir folder;
        auto encoders = std::make_shared<ScriptedEncoderChoice>();
        encoders->refuseHardware = row.refuse;
        encoders->hardwareFailsAtFrame = row.hardwareFailsAt;
        encoders->softwareFailsAtFrame = row.softwareFailsAt;
        Encode run = startSession(sourcePath(Source::h264Aac),
                                  settingsFor(row.codec, AudioMode::aac, folder.path()), encoders);
        finish(run);
        EXPECT_EQ(encoders->hardwareOpens.load(), 1);
        std::vector<bool> readyHardware;
        for (const auto& ready : run.record->ready)
            readyHardware.push_back(ready.hardware);
        EXPECT_EQ(readyHardware, row.readyHardware);
        const QStringList logs = run.record->logTexts();
        ASSERT_EQ(logs.size(), row.logEndings.size());
        for (qsizetype i = 0; i < logs.size(); ++i)
            EXPECT_TRUE(logs[i].endsWith(row.logEndings[i])) << logs[i].toStdString();
        const EncodeResult& result = run.record->completions.front();
        ASSERT_EQ(result.has_value(), row.succeeds);
        if (row.succeeds) {
            EXPECT_EQ(filesIn(folder.path()), QStringList{QFileInfo(*result).fileName()});
            EXPECT_EQ(decodeErrors(*result), QString());
        } else {
            EXPECT_EQ(result.error().description(),
                      QStringLiteral("Writing a video frame failed. Input/output error."));
            EXPECT_TRUE(filesIn(folder.path()).isEmpty());
        }
    }
}

TEST(FFmpegEncodeSession, DestroyingARunningSessionStopsItAndRemovesThePartialFile)
{
    QTemporaryDir folder;
    Encode run = startSession(sourcePath(Source::h264Aac),
                              settingsFor(Codec::proRes422HQ, AudioMode::pcm, folder.path()));
    ASSERT_TRUE(waitFor([&] { return !run.record->ready.empty(); }, kEncodeTimeoutMs));
    run.session.reset();
    EXPECT_TRUE(filesIn(folder.path()).isEmpty());
    waitFor([] { return false; }, 100);
    EXPECT_TRUE(run.record->completions.empty()); // nothing reaches a destroyed session's owner
}

QString textFile(const QString& path, const QString& text)
{
    rewrite(path, [&](QByteArray& bytes) { return !(bytes = text.toUtf8()).isEmpty(); });
    return path;
}

struct BadInput
{
    const char* name;
    std::function<QString()> source;
    QString message;
    bool opensOutput = false;
    Codec codec = Codec::h264;
};

TEST(FFmpegEncodeSession, BadInputFailsWithAReadableMessageAndLeavesNothing)
{
    const char* const kNotAMovie =
        "This file could not be opened as a movie. Invalid data found when processing input.";
    QTemporaryDir scratch;
    const BadInput rows[] = {
        {"missing", [&] { return scratch.path() + QStringLiteral("/gone.mov"); },
         "The source file is missing."},
        {"folder", [&] { return scratch.path(); }, "The source file is missing."},
        {"audio only", [] { return sourcePath(Source::audioOnly); },
         "No video track in this file."},
        {"one pixel wide", [] { return sourcePath(Source::onePixelWide); },
         "The video has no usable frame size."},
        {"zero length", [] { return sourcePath(Source::zeroLength); }, kNotAMovie},
        {"not a movie", [] { return sourcePath(Source::notAMovie); }, kNotAMovie},
        {"truncated", [] { return sourcePath(Source::truncated); }, kNotAMovie},
        {"truncated with its index first", [] { return sourcePath(Source::truncatedIndexFirst); },
         "Reading video failed.", true},
        {"HEVC of 4x4 pixels",
         [&] {
             runFFmpeg({"-f", "lavfi", "-i", "color=size=4x4:rate=25:duration=1", "-c:v",
                        "rawvideo", "-pix_fmt", "gray", scratch.filePath("tiny.mov")});
             return scratch.filePath("tiny.mov");
         },
         "HEVC needs at least 16×16 pixels.", false, Codec::hevc},
        {"HEVC with alpha, no encoder for it", [] { return sourcePath(Source::proResAlpha); },
         hevcAlphaEncoderAvailable() ? QString() : hevcAlphaMissingText(), false,
         Codec::hevcWithAlpha},
        // Opening a named pipe would wait for a writer for good.
        {"named pipe",
         [&] {
             const QString path = scratch.filePath(QStringLiteral("pipe.mov"));
             ::mkfifo(QFile::encodeName(path).constData(), 0600);
             return path;
         },
         "This is not a regular file, so it cannot be read as a movie."},
        // A list naming other files would pull them into the output.
        {"concat list",
         [&] {
             return textFile(scratch.filePath("list.mov"),
                             "ffconcat version 1.0\nfile '" + sourcePath(Source::h264Aac) + "'\n");
         },
         kNotAMovie},
        {"playlist",
         [&] {
             return textFile(scratch.filePath("list.mp4"),
                             "#EXTM3U\n#EXTINF:2,\n" + sourcePath(Source::layoutSwitch) + "\n");
         },
         kNotAMovie},
    };
    for (const BadInput& row : rows)
        row.source(); // make the fixtures before counting handles
    const int filesBefore = entriesIn("/proc/self/fd");
    const int threadsBefore = entriesIn("/proc/self/task");
    for (const BadInput& row : rows) {
        if (row.message.isEmpty())
            continue; // this FFmpeg has what the row lacks
        SCOPED_TRACE(row.name);
        QTemporaryDir folder;
        const QString source = row.source();
        const QFileInfo before(source);
        Encode run = startSession(source, settingsFor(row.codec, AudioMode::aac, folder.path()));
        finish(run);
        const EncodeResult& result = run.record->completions.front();
        ASSERT_FALSE(result.has_value());
        EXPECT_EQ(result.error().description(), row.message);
        // Only a file cut short in its frames gets as far as opening the output.
        EXPECT_EQ(run.record->ready.empty(), !row.opensOutput);
        EXPECT_TRUE(filesIn(folder.path()).isEmpty());
        const QFileInfo after(source);
        EXPECT_EQ(after.exists(), before.exists());
        EXPECT_EQ(after.size(), before.size());
    }
    EXPECT_EQ(entriesIn("/proc/self/fd"), filesBefore);
    EXPECT_EQ(entriesIn("/proc/self/task"), threadsBefore);
}

} // namespace
} // namespace corvel::test
