#include "EngineTestSupport.h"

#include "CorvelEncoder/engine/EncodePlan.h"

namespace corvel::test {
namespace {

InspectedMedia media1080(double fps = 25, bool alpha = false, bool audio = true)
{
    InspectedMedia media;
    media.path = u"/nowhere/clip.mov"_s;
    media.videoStream = 0;
    media.audioStream = audio ? 1 : -1;
    media.info = {1920, 1080, fps, 10, audio, alpha, u"H.264"_s};
    media.naturalWidth = 1920;
    media.naturalHeight = 1080;
    media.duration = 10;
    media.audio = audio ? std::optional(AudioTags{48000, 2}) : std::nullopt;
    media.timecode = u"01:00:00:12"_s;
    return media;
}

const QDateTime kNow = QDateTime::fromString(QStringLiteral("2026-03-04T10:00:00"), Qt::ISODate);

// The summary names the start timecode, retimed to the output rate.
TEST(EncodePlan, RateSizeNotesAndSummary)
{
    struct Row
    {
        const char* name;
        Codec codec;
        AudioMode audio;
        FrameRateMode rate;
        double sourceFps;
        bool alpha, sourceAudio;
        double fps;
        RationalTime frameDuration;
        const char* summary;
    };
    const Row rows[] = {
        {"missing rate", Codec::proRes422HQ, AudioMode::pcm, FrameRateMode::source(), 0, false,
         true, 24, RationalTime{1, 24},
         "ProRes 422 HQ  1920×1080  24 fps  PCM  →  clip_ProRes422HQ.mov Frame rate was "
         "missing, using 24 fps. Starts at timecode 01:00:00:12."},
        {"exact above the cap", Codec::h264, AudioMode::aac, FrameRateMode::exact(240), 25, false,
         true, 120, RationalTime{1000, 120000},
         "H.264  1920×1080  120 fps  AAC  →  clip_H264.mp4 Starts at timecode 01:00:00:058."},
        {"exact below one", Codec::hevc, AudioMode::pcm, FrameRateMode::exact(0.5), 25, false,
         false, 1, RationalTime{1000, 1000},
         "HEVC  1920×1080  1 fps  no audio  →  clip_HEVC.mov Starts at timecode 01:00:00:0."},
        {"NTSC source, alpha dropped", Codec::h264, AudioMode::aac, FrameRateMode::source(), 29.97,
         true, true, 29.97, RationalTime{1001, 30000},
         "H.264  1920×1080  29.97 fps  AAC  →  clip_H264.mp4 Alpha will not be kept. Starts at "
         "timecode 01:00:00:12."},
        {"alpha kept", Codec::proRes4444, AudioMode::aac, FrameRateMode::source(), 25, true, true,
         25, RationalTime{1, 25},
         "ProRes 4444 (Alpha)  1920×1080  25 fps  AAC  →  clip_ProRes4444.mov Starts at timecode "
         "01:00:00:12."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QTemporaryDir scratch;
        const QString folder = scratch.filePath(QStringLiteral("made/with/parents"));
        JobSettings settings = settingsFor(row.codec, row.audio, folder);
        settings.body.frameRate = row.rate;
        const auto plan = makePlan(media1080(row.sourceFps, row.alpha, row.sourceAudio), settings,
                                   QStringLiteral("/nowhere/clip.mov"), kNow);
        ASSERT_TRUE(plan.has_value());
        EXPECT_DOUBLE_EQ(plan->fps, row.fps);
        EXPECT_EQ(plan->frameDuration, row.frameDuration);
        EXPECT_EQ(plan->summary, QString::fromUtf8(row.summary));
        EXPECT_EQ(plan->fileType,
                  plan->outputPath.endsWith(u".mp4") ? FileType::mpeg4 : FileType::quickTime);
        EXPECT_EQ(QFileInfo(plan->outputPath).absolutePath(), QDir(folder).absolutePath());
        EXPECT_TRUE(QFileInfo(folder).isDir());
        EXPECT_TRUE(OutputNames::shared().isReserved(plan->outputPath));
        OutputNames::shared().release(plan->outputPath);
    }
}

// Source (transfer, depth, metadata) x target codec: depth, tags, tone mapping, metadata.
TEST(EncodePlan, DepthAndTransferPerTarget)
{
    const MasteringDisplay display{{34000, 16000}, {13250, 34500}, {7500, 3000},
                                   {15635, 16450}, 10000000,       1};
    const HdrMetadata hdr10{display, ContentLight{1000, 400}, false};
    const HdrMetadata dolby{display, std::nullopt, true};
    struct Row
    {
        const char* name;
        const char* transfer;
        int depth;
        HdrMetadata hdr;
        Codec codec;
        int bitDepth;
        bool toneMap, carriesMetadata;
    };
    const Row rows[] = {
        {"SDR 8-bit to HEVC", "bt709", 8, {}, Codec::hevc, 8, false, false},
        {"SDR 10-bit to HEVC", "bt709", 10, {}, Codec::hevc, 10, false, false},
        {"SDR 10-bit to H.264", "bt709", 10, {}, Codec::h264, 8, false, false},
        {"HLG to HEVC", "arib-std-b67", 10, {}, Codec::hevc, 10, false, false},
        {"HLG to H.264", "arib-std-b67", 10, {}, Codec::h264, 8, true, false},
        {"HDR10 to HEVC", "smpte2084", 10, hdr10, Codec::hevc, 10, false, true},
        {"HDR10 to ProRes", "smpte2084", 10, hdr10, Codec::proRes422HQ, 10, false, true},
        {"HDR10 to H.264", "smpte2084", 10, hdr10, Codec::h264, 8, true, false},
        {"HDR10 to HEVC with alpha", "smpte2084", 10, hdr10, Codec::hevcWithAlpha, 8, true, false},
        {"Dolby Vision to HEVC", "smpte2084", 10, dolby, Codec::hevc, 10, false, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const bool sdr = QLatin1StringView(row.transfer) == u"bt709";
        const ColorTags source{sdr ? "bt709" : "bt2020", row.transfer, sdr ? "bt709" : "bt2020nc"};
        const VideoRendering r = videoRendering(row.codec, source, row.depth, row.hdr);
        EXPECT_EQ(r.bitDepth, row.bitDepth);
        EXPECT_EQ(r.toneMap, row.toneMap);
        // The tags describe the output's pixels: all of the source's, or all BT.709.
        const ColorTags bt709{"bt709", "bt709", "bt709"};
        EXPECT_EQ(r.color, row.toneMap ? bt709 : source);
        EXPECT_EQ(r.mastering.has_value(), row.carriesMetadata);
        EXPECT_EQ(r.contentLight, row.carriesMetadata ? row.hdr.contentLight : std::nullopt);
    }
    EXPECT_EQ(x265MasterDisplay(display),
              u"G(13250,34500)B(7500,3000)R(34000,16000)WP(15635,16450)L(10000000,1)");
}

// A size only rounded down to even is cropped; ProRes keeps an odd height.
TEST(EncodePlan, OddSizesAreCroppedNotResampled)
{
    struct Row
    {
        const char* name;
        Codec codec;
        int uprightW, uprightH, fittedW, fittedH;
        bool square, interlaced;
        int width, height;
        bool cropped; // to exactly the output's size
    };
    const Row rows[] = {
        {"H.264", Codec::h264, 1917, 1079, 1916, 1078, true, false, 1916, 1078, true},
        {"ProRes", Codec::proRes422HQ, 1917, 1079, 1916, 1078, true, false, 1916, 1079, true},
        {"ProRes, odd height only", Codec::proRes422, 1920, 1079, 1920, 1078, true, false, 1920,
         1079, false},
        {"ProRes interlaced", Codec::proRes422, 1920, 1079, 1920, 1078, true, true, 1920, 1078,
         true},
        {"even source", Codec::hevc, 1920, 1080, 1920, 1080, true, false, 1920, 1080, false},
        {"scaled down", Codec::hevc, 1917, 1079, 1280, 720, true, false, 1280, 720, false},
        {"anamorphic", Codec::hevc, 721, 480, 720, 480, false, false, 720, 480, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto [size, crop] =
            roundedSize(row.codec, {row.uprightW, row.uprightH}, {row.fittedW, row.fittedH},
                        row.square, row.interlaced);
        EXPECT_EQ(size, (PixelSize{row.width, row.height}));
        EXPECT_EQ(crop, row.cropped ? std::optional(size) : std::nullopt);
    }
}

// Each source track on its own: PCM keeps its channels and exact layout, AAC mixes above two
// channels to stereo, and a track that cannot be read or held is left out with its name.
TEST(EncodePlan, EveryTrackDecidedAlone)
{
    struct Row
    {
        AudioMode mode;
        int channels;
        const char* layout;
        bool readable;
        const char* writer; // the first try's format, channels, depth, layout; "" when left out
        const char* note;
    };
    const auto pcm = AudioMode::pcm, aac = AudioMode::aac;
    const Row rows[] = {
        {pcm, 6, "5.1(side)", true, "pcm 6 24 5.1(side)", ""},
        {pcm, 1, "mono", true, "pcm 1 24 mono", ""},
        {pcm, 12, "", true, "pcm 8 24 ",
         "Audio track 3 (spa) has 12 channels; PCM here keeps at most 8, so it is mixed down to "
         "8."},
        {aac, 6, "5.1(side)", true, "aac 2 16 ", ""},
        {aac, 1, "mono", true, "aac 1 16 ", ""},
        {pcm, 2, "stereo", false, "", "Audio track 3 (spa) could not be read. Writing the others."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.writer);
        const AudioTrack track{4,    "pcm_s24le", {48000, row.channels, row.layout}, "spa", "Mix",
                               true, row.readable};
        const AudioTrackPlan plan = planAudioTrack(track, 3, row.mode, QualityTier::high);
        QString writer;
        if (plan.kept()) {
            const AudioSettings& w = plan.candidates.front().writer;
            writer = u"%1 %2 %3 %4"_s.arg(w.format == AudioFormat::aac ? "aac" : "pcm")
                         .arg(w.channels)
                         .arg(w.bitDepth)
                         .arg(w.layout);
            EXPECT_EQ(plan.candidates.front().reader.channels, w.channels);
        }
        EXPECT_EQ(writer, QLatin1StringView(row.writer));
        EXPECT_EQ(plan.note, QLatin1StringView(row.note));
        EXPECT_EQ(std::tuple(plan.stream, plan.language, plan.title, plan.isDefault),
                  std::tuple(4, QString("spa"), QString("Mix"), true));
    }
    // Text is kept as timed text; pictures and captions are left out, named with the reason.
    for (const auto& [codec, text] :
         {std::pair{"subrip", true}, std::pair{"hdmv_pgs_subtitle", false},
          std::pair{"eia_608", false}}) {
        const SubtitleTrackPlan plan =
            planSubtitleTrack({5, codec, "eng", "", false, text}, 2, FileType::mpeg4);
        EXPECT_EQ(plan.kept, text) << codec;
        EXPECT_EQ(plan.note.startsWith(u"Subtitle track 2 (eng) "), !text) << codec;
        EXPECT_EQ(plan.note.contains(u"closed captions"), codec == std::string_view("eia_608"));
    }
}

TEST(EncodePlan, RefusedPlansSayWhyAndLeaveNothing)
{
    QTemporaryDir folder;
    const QString plain = folder.filePath(QStringLiteral("plain"));
    ASSERT_TRUE(testing::writeFile(plain, {}));
    const QString tooLarge = QStringLiteral(
        " is too large to encode: a frame may have at most as many pixels as 8192×4352.");
    struct Row
    {
        const char* name;
        QString output;
        int customWidth, customHeight; // 0: the source's size
        int sourceWidth, sourceHeight; // stored, before rotation
        QString message;
    };
    const Row rows[] = {
        {"folder under a file", plain + "/x", 0, 0, 1920, 1080,
         "Could not create the output folder. Not a directory."},
        // The source is not on disk yet, so the unique name lands exactly on it.
        {"the source's own name", folder.path(), 0, 0, 1920, 1080,
         "Refusing to overwrite the source file."},
        {"output beyond 8K", folder.path(), 16384, 16384, 1920, 1080,
         "The output size 16384×9216" + tooLarge},
        {"source beyond 8K", folder.path(), 0, 0, 16000, 12000,
         "The source size 16000×12000" + tooLarge},
        {"ProRes beyond 16 bits", folder.path(), 0, 0, 70000, 16,
         "The source size 70000×16 is too large for ProRes: a frame may be at most 65535 pixels "
         "wide and high."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        JobSettings settings = settingsFor(Codec::proRes422HQ, AudioMode::pcm, row.output);
        settings.body.namingPattern = QStringLiteral("{name}");
        if (row.customWidth > 0) {
            settings.body.resolution = ResolutionMode::custom;
            settings.body.customWidth = row.customWidth;
            settings.body.customHeight = row.customHeight;
        }
        InspectedMedia media = media1080();
        media.naturalWidth = row.sourceWidth;
        media.naturalHeight = row.sourceHeight;
        const QString source = folder.filePath(QStringLiteral("clip.mov"));
        const auto plan = makePlan(media, settings, source, kNow);
        ASSERT_FALSE(plan.has_value());
        EXPECT_EQ(plan.error().description(), row.message);
        EXPECT_EQ(testing::entriesOf(folder.path()), QStringList{QStringLiteral("plain")});
        EXPECT_FALSE(OutputNames::shared().isReserved(source));
    }
}

// Names taken on disk by someone other than this process.
TEST(EncodePlan, NameTakenByALinkOrFolderIsNeitherFollowedNorReplaced)
{
    for (const QString taker : {"dangling link", "link to a file elsewhere", "folder"}) {
        SCOPED_TRACE(taker.toStdString());
        QTemporaryDir folder, elsewhere;
        const QString taken = folder.filePath(QStringLiteral("clip.mov"));
        const QString target = elsewhere.filePath(QStringLiteral("target.mov"));
        // A link's target holds something worth keeping.
        ASSERT_TRUE(!taker.startsWith(u"link") || testing::writeFile(target, "keep"));
        ASSERT_TRUE(taker == u"folder" ? QDir().mkdir(taken) : QFile::link(target, taken));
        JobSettings settings = settingsFor(Codec::proRes422Proxy, AudioMode::pcm, folder.path());
        settings.body.namingPattern = QStringLiteral("{name}");
        const auto plan =
            makePlan(media1080(), settings, QStringLiteral("/nowhere/clip.mov"), kNow);
        ASSERT_TRUE(plan.has_value()) << plan.error().description().toStdString();
        EXPECT_EQ(plan->outputPath, folder.filePath(QStringLiteral("clip-2.mov")));
        const QFileInfo claimed(partialOutputPath(plan->outputPath)); // written there first
        EXPECT_TRUE(claimed.isFile() && !claimed.isSymLink());
        OutputNames::shared().release(plan->outputPath);
        EXPECT_EQ(testing::entriesOf(elsewhere.path()),
                  taker.startsWith(u"link") ? QStringList{"target.mov"} : QStringList());
        EXPECT_EQ(QFileInfo(target).size(), taker.startsWith(u"link") ? 4 : 0);
        EXPECT_TRUE(QFileInfo(taken).isSymLink() || QFileInfo(taken).isDir());
    }
}

} // namespace
} // namespace corvel::test
