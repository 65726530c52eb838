// The engine on footage that is not clean: gaps, damage, anamorphic pixels, mirrored or turned
// pictures, joined segments. Each source is a tiny clip made here with the ffmpeg program, and
// each output is judged against ffmpeg's own reading of the source.

#include "EngineTestSupport.h"

#include "CorvelEncoderCore/CorvelIdentity.h"

#include <QDataStream>
#include <QMap>
#include <QRandomGenerator>

#include <cmath>

namespace corvel::test {
namespace {

// Beeps of 0.1 s every 0.5 s of the source's clock, which starts at `from` seconds.
QStringList beeps(double from, double seconds)
{
    return args("-f lavfi -i aevalsrc=sin(2*PI*1000*t)*lt(mod(t+%1\\,0.5)\\,0.1):s=48000:d=%2")
        .replaceInStrings("%1", QString::number(from))
        .replaceInStrings("%2", QString::number(seconds));
}

using Maker = std::function<bool(const QString& path)>;

Maker ffmpeg(const QStringList& args)
{
    return [=](const QString& path) {
        return runFFmpeg(args + QStringList{path});
    };
}

Maker copyOf(Source source)
{
    return [=](const QString& path) {
        return QFile::copy(sourcePath(source), path);
    };
}

// A movie of 2 s whose track matrix is (a b c d), written over the identity ffmpeg leaves.
Maker withMatrix(double a, double b, double c, double d)
{
    return [=](const QString& path) {
        return runFFmpeg(video("160x120", 2) + kX264 + QStringList{path}) &&
               rewrite(path, [&](QByteArray& bytes) {
                   QDataStream matrix(&bytes, QIODevice::ReadWrite);
                   // past "tkhd" version 0's times, ids, layer and volume
                   matrix.device()->seek(bytes.indexOf("tkhd") + 44);
                   for (const double v : {a, b, 0.0, c, d})
                       matrix << static_cast<qint32>(std::lround(v * 65536));
                   return bytes.indexOf("tkhd") > 0;
               });
    };
}

// A clean movie with 20 KB of noise written over its middle.
bool damaged(const QString& path)
{
    return runFFmpeg(video("160x120", 2) + beeps(0, 2) + kX264 +
                     QStringList{"-c:a", "aac", path}) &&
           rewrite(path, [](QByteArray& bytes) {
               if (bytes.size() <= 40'000)
                   return false;
               for (qsizetype i = bytes.size() / 2; i < bytes.size() / 2 + 20'000; ++i)
                   bytes[i] = static_cast<char>(QRandomGenerator::global()->bounded(256));
               return true;
           });
}

// Where beeps start, in seconds of the stream's timeline.
QList<double> onsets(const QString& path)
{
    return ffmpegReport({"-i", path, "-af", "silencedetect=n=-30dB:d=0.05"}, "silence_end:");
}

// What ffprobe reads from one stream: the values of `keys` joined by spaces.
QString seen(const QJsonObject& stream, const QString& keys)
{
    QStringList values;
    for (const QString& key : args(keys))
        values << stream[key].toVariant().toString();
    return values.join(u' ');
}

const char* const kVideoKeys = "codec_name profile codec_tag_string pix_fmt width height "
                               "r_frame_rate nb_frames color_primaries color_transfer color_space";
const char* const kAudioKeys = "codec_name sample_rate channels";

// One source, the settings it is encoded with, and what the output must show besides what
// every output shows. `checks` holds, separated by spaces:
//   type:key=value   ffprobe reads `value` from the output's stream of `type` (video, audio) or
//                    its format; no value: no such stream
//   frames=N         at least N video frames
//   pictures=F       the output matches the source's pictures turned by ffmpeg filters F...
//   psnr=N           ...with a luma PSNR above N (40 unless given)
//   beeps            the source's beeps start on time
//   hdr              mastering display and content light in the container
//   tones=A,B        audio track i holds a tone of the i-th frequency in Hz
//   720p, rate=N     settings: that size, that frame rate
struct MediaRow
{
    const char* name;
    const char* extension;
    Maker make;
    Codec codec;
    AudioMode audio;
    const char* checks = "";
    const char* seen = nullptr; // of a 2 s source: values of kVideoKeys | of kAudioKeys
    // Every stream but the video as ffprobe reads it: "type codec [channels layout] [language]",
    // joined by ", ", then "chapters N".
    const char* streams = nullptr;
    const char* firstLog = "";
};

// Made for the first row that asks, then copied for the others.
Maker once(const Maker& make)
{
    auto first = std::make_shared<QString>();
    return [=](const QString& path) {
        if (first->isEmpty() && make(path))
            *first = path;
        return !first->isEmpty() && (*first == path || QFile::copy(*first, path));
    };
}

// A 10-bit HEVC clip tagged BT.2020 with `transfer`, and HDR10's metadata when asked.
Maker hdrClip(const char* transfer, bool metadata)
{
    const QString x265 =
        QStringLiteral("log-level=error:colorprim=bt2020:transfer=%1:colormatrix=bt2020nc")
            .arg(transfer) +
        (metadata ? QStringLiteral(":master-display=G(13250,34500)B(7500,3000)R(34000,16000)"
                                   "WP(15635,16450)L(10000000,1):max-cll=1000,400")
                  : QString());
    return once(ffmpeg(video("160x120", 2) +
                       args("-pix_fmt yuv420p10le -c:v libx265 -preset ultrafast -tag:v hvc1 "
                            "-color_primaries bt2020 -colorspace bt2020nc -color_trc") +
                       QStringList{transfer, "-x265-params", x265}));
}

QString streamsSeen(const QJsonObject& info)
{
    QStringList streams;
    for (const QJsonValue& value : info["streams"].toArray()) {
        const QJsonObject stream = value.toObject();
        const QString type = stream["codec_type"].toString();
        if (type == u"video" || type == u"data") // QuickTime keeps chapters in a data track
            continue;
        QStringList words{type, stream["codec_name"].toString()};
        if (type == u"audio")
            words << QString::number(stream["channels"].toInt())
                  << stream["channel_layout"].toString(QStringLiteral("unknown"));
        if (const QString language = stream["tags"]["language"].toString();
            !language.isEmpty() && language != u"und") // MP4's word for none
            words << language;
        streams << words.join(u' ');
    }
    streams << QStringLiteral("chapters %1").arg(info["chapters"].toArray().size());
    return streams.join(QStringLiteral(", "));
}

// How much louder audio track `track` is at `hz` than an octave above: a tone there shows.
double toneMargin(const QString& path, int track, double hz)
{
    const auto level = [&](double at) {
        return ffmpegReport({"-i", path, "-map", QStringLiteral("0:a:%1").arg(track), "-af",
                             QStringLiteral("bandpass=f=%1:width_type=q:w=8,volumedetect").arg(at)},
                            "mean_volume:")
            .value(0, -200);
    };
    return level(hz) - level(hz * 2);
}

// A movie of 2 s with one audio track per tone, each tagged with the matching language; with
// `subtitles`, two lines in Spanish (at 0.5 s and 1.4 s) of that codec, and two chapters.
Maker tracks(const char* extension, const QStringList& tones, const QStringList& languages,
             const QString& audioCodec, const char* subtitles = nullptr)
{
    return [=](const QString& path) {
        QStringList command = video("160x120", 2), maps{"-map", "0"};
        for (qsizetype i = 0; i < tones.size(); ++i) {
            command << args("-f lavfi -i sine=f=%1:r=48000:d=2").replaceInStrings("%1", tones[i]);
            maps << "-map" << QString::number(i + 1);
            if (i < languages.size())
                maps << u"-metadata:s:a:%1"_s.arg(i) << "language=" + languages[i];
        }
        const QString lines = path + ".srt", marks = path + ".txt";
        const auto written = &testing::writeFile;
        if (subtitles) {
            if (!written(lines, "1\n00:00:00,500 --> 00:00:01,200\nHola\n\n2\n00:00:01,400 --> "
                                "00:00:01,900\nAdi\xc3\xb3s\n") ||
                !written(marks, ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1000\n"
                                "title=One\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=1000\nEND=2000\n"
                                "title=Two\n"))
                return false;
            const QString inputs = QString::number(tones.size() + 1);
            command << "-i" << lines << "-i" << marks;
            maps << "-map" << inputs << "-map_chapters" << QString::number(tones.size() + 2)
                 << args("-metadata:s:s:0 language=spa -c:s") << subtitles;
        }
        // MXF holds mono tracks; the others get stereo ones.
        const QString video = QLatin1StringView(extension) == u"mxf"
                                  ? QStringLiteral("-c:v mpeg2video -pix_fmt yuv422p")
                                  : QStringLiteral("-c:v libx264 -ac 2");
        return runFFmpeg(command + maps + args(video) + QStringList{"-c:a", audioCodec, path});
    };
}

TEST(RealWorldMedia, EncodesAsFFmpegReadsTheSource)
{
    // 0.25 s of audio packets missing after 1 s, timestamps kept.
    const Maker gap = once([](const QString& path) {
        return joined(path, {video("160x120", 1) + beeps(0, 1) + kX264 + QStringList{"-c:a", "aac"},
                             video("160x120", 1) + beeps(1, 1) + kX264 +
                                 args("-af atrim=start=0.25 -c:a aac -output_ts_offset 1")});
    });
    // 320x240 from 1 s, and 160x120 again from 1.92 s: its first frames overlap the second part.
    const Maker sizeChanges = [](const QString& path) {
        return joined(path, {video("160x120", 1) + kX264,
                             video("320x240", 1) + kX264 + args("-output_ts_offset 1"),
                             video("160x120", 1) + kX264 + args("-output_ts_offset 1.92")});
    };
    const auto anamorphic = [](const char* size, const char* sar) {
        return ffmpeg(video(size, 1) + QStringList{"-vf", QStringLiteral("setsar=") + sar} + kX264);
    };
    // Interlaced top field first, with timecode, creation time, title, two languages.
    const Maker camera = once(ffmpeg(
        video("160x120", 1) + beeps(0, 1) + beeps(0, 1) + kX264 +
        args("-map 0 -map 1 -map 2 -flags +ildct+ilme -top 1 -timecode 01:02:03:04 -metadata "
             "creation_time=2024-05-06T07:08:09Z -metadata title=Take -metadata:s:a:0 "
             "language=fra -metadata:s:a:1 language=deu -c:a aac")));
    const double r45 = std::sqrt(0.5), c10 = std::cos(M_PI / 18), s10 = std::sin(M_PI / 18);
    const auto P = Codec::proRes422Proxy, HQ = Codec::proRes422HQ, H264 = Codec::h264;
    const auto LT = Codec::proRes422LT, SQ = Codec::proRes422, XQ = Codec::proRes4444;
    const auto HEVC = Codec::hevc;
    const auto pcm = AudioMode::pcm, aac = AudioMode::aac;
    const Maker h264Aac = copyOf(Source::h264Aac), alpha = copyOf(Source::proResAlpha),
                layouts = copyOf(Source::layoutSwitch);
    // H.264 tagged smpte170m with 96 kHz 6-channel 24-bit PCM.
    const Maker pcm96k =
        once(ffmpeg(video("160x120", 2) +
                    args("-f lavfi -i anullsrc=sample_rate=96000:channel_layout=5.1 -t 2 "
                         "-color_primaries smpte170m -color_trc smpte170m -colorspace "
                         "smpte170m -c:a pcm_s24le") +
                    kX264));
    const Maker hlg = hdrClip("arib-std-b67", false), hdr10 = hdrClip("smpte2084", true);
    const MediaRow rows[] = {
        // Every codec; colour tags, audio kept or converted, every frame there.
        {"H.264 and AAC as ProRes 422 Proxy", "mov", h264Aac, P, pcm, "",
         "prores Proxy apco yuv422p10le 160 120 25/1 50 bt709 bt709 bt709 | pcm_s24le 44100 2"},
        {"H.264 and AAC as ProRes 422 LT", "mov", h264Aac, LT, aac, "",
         "prores LT apcs yuv422p10le 160 120 25/1 50 bt709 bt709 bt709 | aac 48000 2"},
        {"96 kHz 6 channels as ProRes 422", "mov", pcm96k, SQ, pcm, "",
         "prores Standard apcn yuv422p10le 160 120 25/1 50 smpte170m smpte170m smpte170m | "
         "pcm_s24le 96000 6"},
        {"alpha kept in ProRes 4444", "mov", alpha, XQ, pcm, "",
         "prores 4444 ap4h yuva444p12le 160 120 25/1 50 bt709 bt709 bt709 | "},
        {"H.264 at 720p", "mov", h264Aac, H264, aac, "720p",
         "h264 High avc1 yuv420p 960 720 25/1 50 bt709 bt709 bt709 | aac 48000 2"},
        {"HEVC at 30 fps", "mov", pcm96k, HEVC, aac, "rate=30",
         "hevc Main hvc1 yuv420p 160 120 30/1 60 smpte170m smpte170m smpte170m | aac 48000 2"},
        {"audio gap, PCM", "ts", gap, P, pcm, "beeps"},
        {"audio gap, AAC", "ts", gap, H264, aac, "beeps"},
        {"damaged H.264 and AAC", "mp4", damaged, H264, aac, "frames=40 audio:channels=1"},
        {"audio layout changing, PCM", "ts", layouts, P, pcm, "audio:channels=6"},
        {"audio layout changing, AAC", "ts", layouts, P, aac, "audio:channels=2"},
        {"unreadable audio", "mov", copyOf(Source::unreadableAudio), P, pcm,
         "audio:channels=", nullptr, nullptr, "Audio format was not readable. Writing video only."},
        {"picture size changing, segments overlapping", "ts", sizeChanges, P, pcm, "frames=73"},
        {"MPEG-4 with B-frames in AVI", "avi",
         ffmpeg(video("160x120", 2) + args("-c:v mpeg4 -bf 2 -vtag XVID")), P, pcm, "frames=50"},
        {"DVD 16:9", "mp4", anamorphic("160x120", "32/27"), H264, aac,
         "video:width=190 video:height=120 video:sample_aspect_ratio=1:1"},
        {"HDV to 720p", "mp4", anamorphic("120x90", "4/3"), P, pcm,
         "720p video:width=1280 video:height=720 video:sample_aspect_ratio=1:1"},
        {"turned a quarter turn", "mp4", withMatrix(0, -1, 1, 0), HQ, pcm,
         "pictures=transpose=cclock,",
         "prores HQ apch yuv422p10le 120 160 25/1 50 bt709 bt709 bt709 | "},
        {"mirrored left to right", "mov", withMatrix(-1, 0, 0, 1), HQ, pcm, "pictures=hflip,"},
        {"mirrored top to bottom", "mov", withMatrix(1, 0, 0, -1), HQ, pcm, "pictures=vflip,"},
        {"transposed", "mov", withMatrix(0, 1, 1, 0), HQ, pcm, "pictures=transpose=cclock_flip,"},
        {"turned 45 degrees", "mov", withMatrix(r45, r45, -r45, r45), HQ, pcm,
         "pictures=transpose=clock,"},
        {"turned 10 degrees", "mov", withMatrix(c10, s10, -s10, c10), HQ, pcm, "pictures=null,"},
        {"scaled by 50", "mov", withMatrix(50, 0, 0, 50), HQ, pcm, "pictures=null,"},
        // FFmpeg keeps any number as a colour tag; loaded as a C++ enumeration one outside its
        // list is undefined behaviour (fuzzing found it). Such tags count as absent.
        {"colour tags outside FFmpeg's lists", "mpg",
         ffmpeg(video("160x120", 1) +
                args("-c:v mpeg2video -color_primaries 255 -color_trc 255 -colorspace 255")),
         P, pcm},
        // Converted as BT.709, so it looks as the source does.
        {"RGB", "mkv", ffmpeg(video("160x120", 1) + args("-c:v libx264rgb")), XQ, pcm,
         "pictures=scale=out_color_matrix=bt709,"},
        {"camera clip kept as ProRes", "mov", camera, HQ, pcm,
         "frames=25 video:field_order=tt video:timecode=01:02:03:04 audio:language=fra "
         "audio:channels=1 format:creation_time=2024-05-06T07:08:09.000000Z format:title=Take"},
        {"camera clip resized", "mp4", camera, H264, aac,
         "720p frames=25 video:field_order=progressive video:timecode=01:02:03:04 "
         "audio:language=fra audio:channels=1 video:width=960 video:height=720"},
        // HDR as phones shoot it: kept where the codec holds it, else made SDR as FFmpeg's own
        // zscale and tonemap would; metadata and tags only where the pixels have that range.
        {"HLG as HEVC Main10", "mov", hlg, HEVC, pcm, "",
         "hevc Main 10 hvc1 yuv420p10le 160 120 25/1 50 bt2020 arib-std-b67 bt2020nc | "},
        {"HDR10 as HEVC Main10", "mov", hdr10, HEVC, pcm, "hdr",
         "hevc Main 10 hvc1 yuv420p10le 160 120 25/1 50 bt2020 smpte2084 bt2020nc | "},
        {"HDR10 as ProRes", "mov", hdr10, HQ, pcm, "hdr",
         "prores HQ apch yuv422p10le 160 120 25/1 50 bt2020 smpte2084 bt2020nc | "},
        {"HLG as H.264 in SDR", "mov", hlg, H264, pcm,
         "psnr=30 pictures=zscale=tin=arib-std-b67:t=linear:npl=100,format=gbrpf32le,"
         "zscale=p=bt709,tonemap=hable:desat=0:peak=10,zscale=t=bt709:m=bt709:r=tv,",
         "h264 High avc1 yuv420p 160 120 25/1 50 bt709 bt709 bt709 | "},
        {"HDR10 as H.264 in SDR", "mov", hdr10, H264, pcm,
         "psnr=30 pictures=zscale=t=linear:npl=100,format=gbrpf32le,zscale=p=bt709,"
         "tonemap=hable:desat=0,zscale=t=bt709:m=bt709:r=tv,",
         "h264 High avc1 yuv420p 160 120 25/1 50 bt709 bt709 bt709 | "},
        // Odd sizes lose their last column (and row) rather than being resampled: ProRes HQ
        // of this busy picture is about 49 dB; resampled it would be about 27. (testsrc2 only
        // makes even sizes.)
        {"odd size as ProRes", "mkv",
         ffmpeg(video("162x122", 1) + args("-vf format=yuv444p,crop=161:121:0:0 -c:v ffv1")), HQ,
         pcm, "pictures=crop=160:121:0:0, psnr=45 video:width=160 video:height=121"},
        // 30 fps then 24 fps: every frame of the faster part kept.
        {"30 then 24 fps", "mp4",
         ffmpeg(args("-f lavfi -i testsrc2=size=160x120:rate=30:duration=0.5 -f lavfi -i "
                     "testsrc2=size=160x120:rate=24:duration=0.5 -filter_complex "
                     "[0][1]concat=n=2:v=1 -fps_mode passthrough -video_track_timescale 120") +
                kX264),
         H264, aac, "frames=29 video:r_frame_rate=30/1"},
        // Every track kept in source order, each with its own tone, language and layout; German
        // has a terminological code, which QuickTime only keeps in its bibliographic form.
        {"two languages, SubRip and chapters from Matroska", "mkv",
         tracks("mkv", {"440", "880"}, {"eng", "deu"}, "aac", "srt"), HQ, pcm, "tones=440,880",
         nullptr,
         "audio pcm_s24le 2 stereo eng, audio pcm_s24le 2 stereo ger, subtitle mov_text spa, "
         "chapters 2"},
        {"two languages, timed text and chapters in MP4", "mp4",
         tracks("mp4", {"440", "880"}, {"eng", "deu"}, "aac", "mov_text"), H264, aac,
         "tones=440,880", nullptr,
         "audio aac 2 stereo eng, audio aac 2 stereo deu, subtitle mov_text spa, chapters 2"},
        // QuickTime names no layout for several mono tracks, as with the ffmpeg program.
        {"eight mono tracks from MXF", "mxf",
         tracks("mxf", args("300 400 500 600 700 800 900 1000"), {}, "pcm_s24le"), HQ, pcm,
         "tones=300,400,500,600,700,800,900,1000", nullptr,
         "audio pcm_s24le 1 unknown, audio pcm_s24le 1 unknown, audio pcm_s24le 1 unknown, "
         "audio pcm_s24le 1 unknown, audio pcm_s24le 1 unknown, audio pcm_s24le 1 unknown, "
         "audio pcm_s24le 1 unknown, audio pcm_s24le 1 unknown, chapters 0"},
        {"5.1(side) kept as PCM", "mov",
         ffmpeg(video("160x120", 1) +
                args("-f lavfi -i sine=f=500:r=48000:d=1 -af pan=5.1(side)|c0=c0|c1=c0|"
                     "c2=c0|c3=c0|c4=c0|c5=c0 -c:v libx264 -c:a pcm_s16le")),
         SQ, pcm, "", nullptr, "audio pcm_s24le 6 5.1(side), chapters 0"},
    };
    QTemporaryDir sources;
    for (const MediaRow& row : rows) {
        SCOPED_TRACE(row.name);
        QMap<QString, QString> asked; // each check's value by its name
        for (const QString& check : args(row.checks))
            asked.insert(check.section(u'=', 0, 0), check.section(u'=', 1));
        const QString source =
            sources.filePath(QString::number(&row - rows) + u'.' + row.extension);
        ASSERT_TRUE(row.make(source));
        QTemporaryDir folder;
        JobSettings settings = settingsFor(row.codec, row.audio, folder.path());
        if (asked.contains("720p"))
            settings.body.resolution = ResolutionMode::hd720;
        if (asked.contains("rate"))
            settings.body.frameRate = FrameRateMode::exact(asked["rate"].toDouble());
        Encode run = startSession(source, settings);
        finish(run);
        const EncodeResult& result = run.record->completions.front();
        ASSERT_TRUE(result.has_value()) << result.error().description().toStdString();
        EXPECT_FALSE(OutputNames::shared().isReserved(*result));
        const QJsonObject info = probe(*result);
        const QJsonObject picture = streamOf(info, "video");
        const QJsonObject sound = streamOf(info, "audio");
        EXPECT_EQ(decodeErrors(*result), QString());
        EXPECT_EQ(info["format"]["tags"]["encoder"].toString(), CorvelIdentity::encoderTag);
        if (row.seen) {
            EXPECT_EQ(seen(picture, kVideoKeys) + " | " +
                          (sound.isEmpty() ? QString() : seen(sound, kAudioKeys)),
                      QLatin1StringView(row.seen));
            // The sound lasts too.
            EXPECT_NEAR(info["format"]["duration"].toString().toDouble(), 2.0, 0.15);
        } else {
            EXPECT_EQ(picture["color_space"].toString(), QStringLiteral("bt709"));
        }
        ASSERT_EQ(run.record->ready.size(), 1u);
        EXPECT_EQ(run.record->ready[0].first, *result);
        ASSERT_FALSE(run.record->logs.empty());
        EXPECT_TRUE(run.record->logs.back().first.contains(QFileInfo(*result).fileName()));
        ASSERT_FALSE(run.record->progress.empty());
        for (const auto& [fraction, eta] : run.record->progress) {
            EXPECT_GE(fraction, 0.0);
            EXPECT_LE(fraction, 0.99);
        }
        if (asked.contains("pictures")) {
            const QList<double> psnr = ffmpegReport(
                {"-noautorotate", "-i", source, "-i", *result, "-lavfi",
                 QStringLiteral("[0:v]%1format=yuv420p[a];[1:v]format=yuv420p[b];[a][b]psnr")
                     .arg(asked["pictures"])},
                "y:");
            EXPECT_GT(psnr.value(0), asked.value("psnr", "40").toDouble());
        }
        // A Dolby Vision record never goes out: no output has the layer it describes.
        QStringList sideData;
        for (const QJsonValue& data : picture["side_data_list"].toArray())
            sideData << data["side_data_type"].toString();
        const QStringList hdrData{"Mastering display metadata", "Content light level metadata"};
        EXPECT_EQ(sideData, asked.contains("hdr") ? hdrData : QStringList());
        EXPECT_GE(picture["nb_frames"].toString().toDouble(), asked.value("frames", "0").toInt());
        if (asked.contains("beeps")) {
            const QList<double> expected = onsets(source), actual = onsets(*result);
            ASSERT_GE(expected.size(), 2);
            ASSERT_GE(actual.size(), expected.size() - 1); // the last may be the file's end
            for (qsizetype i = 0; i + 1 < expected.size(); ++i)
                EXPECT_NEAR(actual[i], expected[i], 0.021) << "beep " << i;
        }
        for (const auto& [check, expected] : asked.asKeyValueRange()) {
            if (!check.contains(u':'))
                continue; // no ffprobe reading
            const QString where = check.section(u':', 0, 0), key = check.section(u':', 1);
            const QJsonObject holder =
                where == u"format" ? info["format"].toObject() : streamOf(info, where);
            const QJsonValue value = holder.contains(key) ? holder[key] : holder["tags"][key];
            EXPECT_EQ(value.toVariant().toString(), expected) << check.toStdString();
        }
        EXPECT_EQ(row.streams ? streamsSeen(info) : QString(), QLatin1StringView(row.streams));
        const QStringList tones = asked.value("tones").split(u',', Qt::SkipEmptyParts);
        for (qsizetype track = 0; track < tones.size(); ++track)
            EXPECT_GT(toneMargin(*result, int(track), tones[track].toDouble()), 15) << track;
        if (*row.firstLog) {
            EXPECT_EQ(run.record->logs.front(), std::make_pair(QString(row.firstLog), true));
        }
    }
}

} // namespace
} // namespace corvel::test
