#include "EngineTestSupport.h"

#include "CorvelEncoder/engine/EncodePlan.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <thread>

namespace corvel::test {
namespace {

InspectedMedia media1080(double fps = 25, bool alpha = false, bool audio = true)
{
    InspectedMedia media;
    media.path = QStringLiteral("/nowhere/clip.mov");
    media.videoStream = 0;
    media.naturalWidth = 1920;
    media.naturalHeight = 1080;
    media.duration = 10;
    media.info = {1920, 1080, fps, 10, audio, alpha, QStringLiteral("H.264")};
    if (audio) {
        media.audioStream = 1;
        media.audio = AudioTags{48000, 2};
    }
    return media;
}

const QDateTime kNow = QDateTime::fromString(QStringLiteral("2026-03-04T10:00:00"), Qt::ISODate);

TEST(EncodePlan, RateSizeNotesAndSummary)
{
    struct Row
    {
        const char* name;
        Codec codec;
        AudioMode audio;
        FrameRateMode rate;
        double sourceFps;
        bool alpha;
        bool sourceAudio;
        double fps;
        RationalTime frameDuration;
        const char* summary;
    };
    const Row rows[] = {
        {"missing rate", Codec::proRes422HQ, AudioMode::pcm, FrameRateMode::source(), 0, false,
         true, 24, RationalTime{1, 24},
         "ProRes 422 HQ  1920×1080  24 fps  PCM  →  clip_ProRes422HQ.mov Frame rate was "
         "missing, using 24 fps."},
        {"exact above the cap", Codec::h264, AudioMode::aac, FrameRateMode::exact(240), 25, false,
         true, 120, RationalTime{1000, 120000}, "H.264  1920×1080  120 fps  AAC  →  clip_H264.mp4"},
        {"exact below one", Codec::hevc, AudioMode::pcm, FrameRateMode::exact(0.5), 25, false,
         false, 1, RationalTime{1000, 1000}, "HEVC  1920×1080  1 fps  no audio  →  clip_HEVC.mov"},
        {"NTSC source, alpha dropped", Codec::h264, AudioMode::aac, FrameRateMode::source(), 29.97,
         true, true, 29.97, RationalTime{1001, 30000},
         "H.264  1920×1080  29.97 fps  AAC  →  clip_H264.mp4 Alpha will not be kept."},
        {"alpha kept", Codec::proRes4444, AudioMode::aac, FrameRateMode::source(), 25, true, true,
         25, RationalTime{1, 25},
         "ProRes 4444 (Alpha)  1920×1080  25 fps  AAC  →  clip_ProRes4444.mov"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QTemporaryDir folder;
        JobSettings settings = settingsFor(row.codec, row.audio, folder.path());
        settings.body.frameRate = row.rate;
        const auto plan = makePlan(media1080(row.sourceFps, row.alpha, row.sourceAudio), settings,
                                   QStringLiteral("/nowhere/clip.mov"), kNow);
        ASSERT_TRUE(plan.has_value());
        EXPECT_DOUBLE_EQ(plan->fps, row.fps);
        EXPECT_EQ(plan->frameDuration, row.frameDuration);
        EXPECT_EQ(plan->renderSize, (PixelSize{1920, 1080}));
        EXPECT_EQ(plan->summary, QString::fromUtf8(row.summary));
        EXPECT_EQ(plan->fileType,
                  plan->outputPath.endsWith(u".mp4") ? FileType::mpeg4 : FileType::quickTime);
        EXPECT_EQ(QFileInfo(plan->outputPath).absolutePath(), QDir(folder.path()).absolutePath());
        EXPECT_TRUE(OutputNames::shared().isReserved(plan->outputPath));
        OutputNames::shared().release(plan->outputPath);
    }
}

TEST(EncodePlan, OutputFolderIsCreatedOrTheFailureExplained)
{
    QTemporaryDir scratch;
    const QString nested = scratch.path() + QStringLiteral("/a/b/c");
    auto plan = makePlan(media1080(), settingsFor(Codec::h264, AudioMode::aac, nested),
                         QStringLiteral("/nowhere/clip.mov"), kNow);
    ASSERT_TRUE(plan.has_value());
    EXPECT_TRUE(QFileInfo(nested).isDir());
    OutputNames::shared().release(plan->outputPath);

    QFile file(scratch.path() + QStringLiteral("/plain"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    plan =
        makePlan(media1080(),
                 settingsFor(Codec::h264, AudioMode::aac, file.fileName() + QStringLiteral("/x")),
                 QStringLiteral("/nowhere/clip.mov"), kNow);
    ASSERT_FALSE(plan.has_value());
    EXPECT_EQ(plan.error().description(),
              QStringLiteral("Could not create the output folder. Not a directory."));
}

TEST(EncodePlan, RefusesToOverwriteTheSourceAndReleasesTheName)
{
    QTemporaryDir folder;
    JobSettings settings = settingsFor(Codec::proRes422HQ, AudioMode::pcm, folder.path());
    settings.body.namingPattern = QStringLiteral("{name}");
    // The source is not on disk yet, so the unique name lands exactly on it.
    const QString source = folder.path() + QStringLiteral("/clip.mov");
    const auto plan = makePlan(media1080(), settings, source, kNow);
    ASSERT_FALSE(plan.has_value());
    EXPECT_EQ(plan.error().description(), QStringLiteral("Refusing to overwrite the source file."));
    EXPECT_FALSE(OutputNames::shared().isReserved(source));
}

TEST(OutputNames, ConcurrentReservationsNeverShareAPath)
{
    QTemporaryDir folder;
    constexpr int kThreads = 8;
    QStringList paths[kThreads];
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 10; ++i)
                paths[t] << OutputNames::shared().reserve(folder.path(), QStringLiteral("clip"),
                                                          QStringLiteral("mov"));
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    QSet<QString> all;
    for (const QStringList& list : paths) {
        for (const QString& path : list)
            all.insert(path);
    }
    EXPECT_EQ(all.size(), kThreads * 10);
    EXPECT_TRUE(all.contains(folder.path() + QStringLiteral("/clip.mov")));
    for (const QString& path : all)
        OutputNames::shared().release(path);
    EXPECT_EQ(
        OutputNames::shared().reserve(folder.path(), QStringLiteral("clip"), QStringLiteral("mov")),
        folder.path() + QStringLiteral("/clip.mov"));
    OutputNames::shared().release(folder.path() + QStringLiteral("/clip.mov"));
}

TEST(WriterSettings, BitrateKeyFramesAndProfile)
{
    struct Row
    {
        Codec codec;
        double fps;
        double mbps;
        int64_t bitRate;
        int keyInterval;
        bool high;
    };
    const Row rows[] = {
        {Codec::h264, 29.97, 20, 20'000'000, 60, true},
        {Codec::hevc, 29.97, 20, 20'000'000, 60, false},
        {Codec::h264, 25, 0.05, 100'000, 50, true},
        {Codec::hevcWithAlpha, 0.4, 5.5, 5'500'000, 1, false},
        {Codec::h264, 23.976, 12.3456789, 12'345'678, 48, true},
        {Codec::proRes422HQ, 25, 20, 0, 0, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(rawValue(row.codec).toStdString() + " " + std::to_string(row.mbps));
        const VideoSettings s = videoSettings(row.codec, 640, 360, row.fps, row.mbps, {}, false);
        EXPECT_EQ(s.averageBitRate, row.bitRate);
        EXPECT_EQ(s.maxKeyFrameInterval, row.keyInterval);
        EXPECT_EQ(s.highProfile, row.high);
        EXPECT_EQ(s.allowFrameReordering, usesBitrate(row.codec));
    }
    EXPECT_EQ(aacSettings(44100, 2, QualityTier::low).bitRate, 128'000);
    EXPECT_EQ(aacSettings(44100, 2, QualityTier::veryHigh).bitRate, 320'000);
}

TEST(WriterSettings, AudioCandidatesInOrder)
{
    using C = AudioCandidate;
    const auto pcm = [](double r, int c, int d) {
        return C{pcmSettings(r, c, d), pcmSettings(r, c, d)};
    };
    const auto aac = [](double r, int c) {
        return C{pcmSettings(r, c, 16), aacSettings(r, c, QualityTier::medium)};
    };
    struct Row
    {
        const char* name;
        AudioMode mode;
        AudioTags source;
        QList<C> expected;
    };
    const Row rows[] = {
        {"PCM 96 kHz 6 ch", AudioMode::pcm, AudioTags{96000, 6},
         QList<C>{pcm(96000, 6, 24), pcm(96000, 6, 16), pcm(48000, 2, 16)}},
        {"PCM out of range", AudioMode::pcm, AudioTags{384000, 12},
         QList<C>{pcm(48000, 8, 24), pcm(48000, 8, 16), pcm(48000, 2, 16)}},
        {"AAC mono 22 kHz", AudioMode::aac, AudioTags{22050, 1},
         QList<C>{aac(48000, 1), aac(22050, 1)}},
        {"AAC 5.1", AudioMode::aac, AudioTags{44100, 6}, QList<C>{aac(48000, 2), aac(44100, 2)}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(audioCandidates(row.mode, row.source, QualityTier::medium), row.expected);
    }
}

} // namespace
} // namespace corvel::test
