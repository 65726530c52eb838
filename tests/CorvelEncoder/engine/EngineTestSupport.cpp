#include "EngineTestSupport.h"

#include "CorvelEncoder/engine/FFmpegSetup.h"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/log.h>
}

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QThread>
#include <QUuid>

#include <gtest/gtest.h>

namespace corvel::test {

namespace {

QString fixtureFolder()
{
    const QString folder = QStringLiteral(CORVEL_ENGINE_FIXTURES);
    QDir().mkpath(folder);
    return folder;
}

QStringList lavfiVideo(const QString& size, const QString& rate, const QString& seconds)
{
    return {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
            QStringLiteral("testsrc2=size=%1:rate=%2:duration=%3").arg(size, rate, seconds)};
}

bool make(Source source, const QString& path)
{
    const QStringList x264 = {"-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p"};
    switch (source) {
    case Source::h264Aac:
        return runFFmpeg(lavfiVideo("320x240", "25", "2") +
                         QStringList{"-f", "lavfi", "-i",
                                     "sine=frequency=440:sample_rate=44100:duration=2", "-ac",
                                     "2"} +
                         x264 + QStringList{"-bf", "3", "-c:a", "aac", "-shortest", path});
    case Source::proResAlpha:
        return runFFmpeg(lavfiVideo("320x240", "25", "2") +
                         QStringList{"-vf", "format=yuva444p10le", "-c:v", "prores_ks",
                                     "-profile:v", "4444", path});
    case Source::rotated: {
        const QString plain = path + QStringLiteral(".plain.mp4");
        const bool ok =
            runFFmpeg(lavfiVideo("320x240", "25", "2") + x264 + QStringList{plain}) &&
            runFFmpeg({"-i", plain, "-c", "copy", "-metadata:s:v:0", "rotate=90", path});
        QFile::remove(plain);
        return ok;
    }
    case Source::pcm96k6ch:
        return runFFmpeg(lavfiVideo("320x240", "25", "2") +
                         QStringList{"-f", "lavfi", "-i",
                                     "anullsrc=sample_rate=96000:channel_layout=5.1", "-t", "2"} +
                         x264 +
                         QStringList{"-color_primaries", "smpte170m", "-color_trc", "smpte170m",
                                     "-colorspace", "smpte170m", "-c:a", "pcm_s24le", path});
    case Source::unreadableAudio:
        // The sample entry's format renamed, so no decoder claims it.
        return runFFmpeg(lavfiVideo("320x240", "25", "2") +
                         QStringList{"-f", "lavfi", "-i", "sine=duration=2"} + x264 +
                         QStringList{"-c:a", "pcm_s16le", path}) &&
               rewrite(path, [](QByteArray& bytes) {
                   const qsizetype at = bytes.indexOf("sowt");
                   return at > 0 && !bytes.replace(at, 4, "zzzz").isEmpty();
               });
    case Source::audioOnly:
        return runFFmpeg({"-f", "lavfi", "-i", "sine=duration=2", "-c:a", "aac", path});
    case Source::layoutSwitch:
        return joined(path, {lavfiVideo("320x240", "25", "1") +
                                 QStringList{"-f", "lavfi", "-i", "sine=duration=1", "-ac", "6"} +
                                 x264 + QStringList{"-c:a", "aac"},
                             lavfiVideo("320x240", "25", "1") +
                                 QStringList{"-f", "lavfi", "-i",
                                             "sine=duration=1:sample_rate=48000", "-ac", "2"} +
                                 x264 + QStringList{"-c:a", "aac", "-output_ts_offset", "1"}});
    case Source::truncated:
    case Source::truncatedIndexFirst:
        return runFFmpeg(lavfiVideo("320x240", "25", "2") + x264 +
                         (source == Source::truncated ? QStringList()
                                                      : QStringList{"-movflags", "+faststart"}) +
                         QStringList{path}) &&
               rewrite(path, [](QByteArray& bytes) {
                   bytes.truncate(bytes.size() / 2);
                   return true;
               });
    case Source::notAMovie:
        return rewrite(path, [](QByteArray& bytes) {
            bytes = "This is a shopping list, not a movie.\n";
            return true;
        });
    case Source::zeroLength:
        return rewrite(path, [](QByteArray&) { return true; });
    case Source::onePixelWide:
        return runFFmpeg({"-f", "lavfi", "-i", "color=size=2x16:rate=25:duration=1", "-vf",
                          "scale=1:16", "-c:v", "rawvideo", "-pix_fmt", "gray", path});
    }
    return false;
}

const char* fileName(Source source)
{
    static const char* const names[] = {
        "h264-bframes-aac.mov", "prores-alpha.mov", "rotated.mp4",     "pcm96k-6ch.mov",
        "unreadable-audio.mov", "audio-only.m4a",   "truncated.mov",   "truncated-index-first.mov",
        "layout-switch.ts",     "not-a-movie.mov",  "zero-length.mov", "one-pixel.mov"};
    return names[static_cast<int>(source)];
}

} // namespace

QString sourcePath(Source source)
{
    const QString path = fixtureFolder() + u'/' + QLatin1StringView(fileName(source));
    if (QFileInfo::exists(path))
        return path;
    // Made under a private name first: several test processes may ask at once.
    const QString partial = fixtureFolder() + QStringLiteral("/tmp-") +
                            QUuid::createUuid().toString(QUuid::WithoutBraces) + u'-' +
                            QLatin1StringView(fileName(source));
    const bool made = make(source, partial);
    EXPECT_TRUE(made) << "could not make " << fileName(source);
    if (made && !QFileInfo::exists(path))
        QFile::rename(partial, path);
    QFile::remove(partial);
    return path;
}

bool joined(const QString& path, const QList<QStringList>& segments)
{
    QStringList parts;
    for (const QStringList& args : segments) {
        parts << path + QStringLiteral(".%1.ts").arg(parts.size());
        if (!runFFmpeg(args + QStringList{parts.last()}))
            return false;
    }
    const bool ok = runFFmpeg({"-i", "concat:" + parts.join(u'|'), "-c", "copy", path});
    for (const QString& part : parts)
        QFile::remove(part);
    return ok;
}

bool rewrite(const QString& path, const std::function<bool(QByteArray& bytes)>& edit)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    QByteArray bytes = file.readAll();
    return edit(bytes) && file.resize(0) && file.write(bytes) == bytes.size();
}

bool runFFmpeg(const QStringList& args)
{
    QProcess process;
    process.start(QStringLiteral("ffmpeg"), QStringList{"-v", "error", "-nostdin", "-y"} + args);
    return process.waitForFinished(120'000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

QJsonObject probe(const QString& path)
{
    QProcess process;
    process.start(QStringLiteral("ffprobe"),
                  {"-v", "error", "-show_streams", "-show_format", "-of", "json", path});
    process.waitForFinished(60'000);
    return QJsonDocument::fromJson(process.readAllStandardOutput()).object();
}

QJsonObject streamOf(const QJsonObject& probe, const QString& type)
{
    for (const QJsonValue& stream : probe.value(QStringLiteral("streams")).toArray()) {
        if (stream[QStringLiteral("codec_type")].toString() == type)
            return stream.toObject();
    }
    return {};
}

QString decodeErrors(const QString& path)
{
    QProcess process;
    process.start(QStringLiteral("ffmpeg"),
                  {"-v", "error", "-nostdin", "-i", path, "-f", "null", "-"});
    process.waitForFinished(120'000);
    return QString::fromUtf8(process.readAllStandardError() + process.readAllStandardOutput());
}

QStringList SessionRecord::logTexts() const
{
    QStringList texts;
    for (const auto& [text, isError] : logs)
        texts << text;
    return texts;
}

EncodeCallbacks recordingCallbacks(const std::shared_ptr<SessionRecord>& record)
{
    EncodeCallbacks callbacks;
    callbacks.onProgress = [record](double fraction, std::optional<double> eta) {
        record->callbacksAfterCompletion += record->done();
        record->progress.emplace_back(fraction, eta);
    };
    callbacks.onLog = [record](const QString& text, bool isError) {
        record->callbacksAfterCompletion += record->done();
        record->logs.emplace_back(text, isError);
    };
    callbacks.onReady = [record](const QString& path, bool hardware) {
        record->callbacksAfterCompletion += record->done();
        record->ready.push_back({path, hardware});
    };
    callbacks.onComplete = [record](const EncodeResult& result) {
        record->callbacksAfterCompletion += record->done();
        record->completions.push_back(result);
    };
    return callbacks;
}

bool waitFor(const std::function<bool()>& condition, int msecs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > msecs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

namespace {

class FailingEncoder final : public VideoEncoder
{
public:
    FailingEncoder(std::unique_ptr<VideoEncoder> inner, int failAt)
        : m_inner(std::move(inner)), m_failAt(failAt)
    {}
    AVCodecContext* context() const override { return m_inner->context(); }
    int sendFrame(const AVFrame* frame) override
    {
        if (frame && ++m_frames >= m_failAt)
            return AVERROR(EIO);
        return m_inner->sendFrame(frame);
    }
    int receivePacket(AVPacket* packet) override { return m_inner->receivePacket(packet); }

private:
    std::unique_ptr<VideoEncoder> m_inner;
    int m_failAt;
    int m_frames = 0;
};

} // namespace

std::expected<std::unique_ptr<VideoEncoder>, QString>
ScriptedEncoderChoice::open(const VideoSettings& settings, bool globalHeader)
{
    if (settings.hardware) {
        ++hardwareOpens;
        if (refuseHardware)
            return std::unexpected(QStringLiteral("No such device."));
    }
    VideoSettings software = settings;
    software.hardware = false;
    auto encoder = FFmpegEncoderChoice::open(software, globalHeader);
    const int failAt = settings.hardware ? hardwareFailsAtFrame : softwareFailsAtFrame;
    if (!encoder || failAt == 0)
        return encoder;
    return std::make_unique<FailingEncoder>(std::move(*encoder), failAt);
}

Encode startSession(const QString& source, const JobSettings& settings,
                    std::shared_ptr<EncoderChoice> encoders, bool start)
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

void finish(Encode& run)
{
    ASSERT_TRUE(waitFor([&] { return run.record->done(); }, kEncodeTimeoutMs));
    EXPECT_TRUE(run.session->waitForStopped(5000));
    waitFor([] { return false; }, 100);
    EXPECT_EQ(run.record->completions.size(), 1u);
    EXPECT_EQ(run.record->callbacksAfterCompletion, 0);
}

EncodeResult encodeFile(const QString& source, const JobSettings& settings)
{
    Encode run = startSession(source, settings);
    finish(run);
    if (run.record->completions.empty())
        return std::unexpected(EncodeFailure::message(QStringLiteral("no outcome")));
    return run.record->completions.front();
}

JobSettings settingsFor(Codec codec, AudioMode audio, const QString& outputDirectory)
{
    JobSettings settings;
    settings.presetName = QStringLiteral("Test");
    settings.body.codec = codec;
    settings.body.audio = audio;
    settings.body.bitrateMbps = 2;
    settings.outputDirectory = outputDirectory;
    return settings;
}

QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace corvel::test

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    corvel::setUpFFmpeg();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
