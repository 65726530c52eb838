#include "EngineTestSupport.h"

#include "CorvelEncoder/engine/FFmpegSetup.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <QUuid>

namespace corvel::test {

namespace {

bool make(Source source, const QString& path)
{
    const QStringList clip = video("160x120", 2);
    switch (source) {
    case Source::h264Aac:
        return runFFmpeg(clip +
                         args("-f lavfi -i sine=frequency=440:sample_rate=44100:duration=2 "
                              "-ac 2 -bf 3 -c:a aac -shortest") +
                         kX264 + QStringList{path});
    case Source::proResAlpha:
        return runFFmpeg(clip + args("-vf format=yuva444p10le -c:v prores_ks -profile:v 4444") +
                         QStringList{path});
    case Source::unreadableAudio:
        // The sample entry's format renamed, so no decoder claims it.
        return runFFmpeg(clip + args("-f lavfi -i sine=duration=2 -c:a pcm_s16le") + kX264 +
                         QStringList{path}) &&
               rewrite(path, [](QByteArray& bytes) {
                   const qsizetype at = bytes.indexOf("sowt");
                   return at > 0 && !bytes.replace(at, 4, "zzzz").isEmpty();
               });
    case Source::layoutSwitch:
        return joined(
            path, {video("160x120", 1) + args("-f lavfi -i sine=duration=1 -ac 6 -c:a aac") + kX264,
                   video("160x120", 1) +
                       args("-f lavfi -i sine=duration=1:sample_rate=48000 -ac 2 -c:a "
                            "aac -output_ts_offset 1") +
                       kX264});
    }
    return false;
}

// What `program` printed, standard output then standard error.
QByteArray outputOf(const QString& program, const QStringList& args)
{
    QProcess process;
    process.start(program, args);
    process.waitForFinished(120'000);
    return process.readAllStandardOutput() + process.readAllStandardError();
}

EncodeCallbacks recordingCallbacks(const std::shared_ptr<SessionRecord>& record)
{
    // Each call first counts itself when it comes after the outcome.
    const auto late = [record] {
        record->callbacksAfterCompletion += record->done();
    };
    EncodeCallbacks callbacks;
    callbacks.onProgress = [=](double fraction, std::optional<double> eta) {
        late(), record->progress.emplace_back(fraction, eta);
    };
    callbacks.onLog = [=](const QString& text, bool isError) {
        late(), record->logs.emplace_back(text, isError);
    };
    callbacks.onReady = [=](const QString& path, bool hardware) {
        late(), record->ready.emplace_back(path, hardware);
    };
    callbacks.onComplete = [=](const EncodeResult& result) {
        late(), record->completions.push_back(result);
    };
    return callbacks;
}

} // namespace

QString sourcePath(Source source)
{
    static const char* const names[] = {"h264-bframes-aac.mov", "prores-alpha.mov",
                                        "unreadable-audio.mov", "layout-switch.ts"};
    const QLatin1StringView name(names[static_cast<int>(source)]);
    // Named after the fixtures' make-up, so a build tree holding older ones makes them anew.
    const QString folder = QStringLiteral(CORVEL_ENGINE_FIXTURES "/160x120");
    const QString path = folder + u'/' + name;
    if (QFileInfo::exists(path))
        return path;
    // Made under a private name first: several test processes may ask at once.
    QDir().mkpath(folder);
    const QString partial =
        folder + u"/tmp-"_s + QUuid::createUuid().toString(QUuid::WithoutBraces) + u'-' + name;
    const bool made = make(source, partial);
    EXPECT_TRUE(made) << "could not make " << name.data();
    if (made && !QFileInfo::exists(path))
        QFile::rename(partial, path);
    QFile::remove(partial);
    return path;
}

QStringList args(const QString& line)
{
    return line.split(u' ', Qt::SkipEmptyParts);
}

QStringList video(const QString& size, double seconds)
{
    return args(u"-f lavfi -i testsrc2=size=%1:rate=25:duration=%2"_s.arg(size).arg(seconds));
}

bool joined(const QString& path, const QList<QStringList>& segments)
{
    QStringList parts;
    for (const QStringList& args : segments) {
        parts << path + u".%1.ts"_s.arg(parts.size());
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
    process.start(u"ffmpeg"_s, QStringList{"-v", "error", "-nostdin", "-y"} + args);
    return process.waitForFinished(120'000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

QList<double> ffmpegReport(const QStringList& args, const QString& key)
{
    const QString printed = QString::fromUtf8(outputOf(
        "ffmpeg", QStringList{"-nostdin", "-hide_banner"} + args + QStringList{"-f", "null", "-"}));
    QList<double> values;
    const QRegularExpression number(QRegularExpression::escape(key) + R"( *(inf|[-0-9.]+))");
    for (const QRegularExpressionMatch& match : number.globalMatch(printed))
        values << (match.captured(1) == u"inf" ? 100.0 : match.captured(1).toDouble());
    return values;
}

QJsonObject probe(const QString& path)
{
    return QJsonDocument::fromJson(
               outputOf("ffprobe", {"-v", "error", "-show_streams", "-show_format",
                                    "-show_chapters", "-of", "json", path}))
        .object();
}

QJsonObject streamOf(const QJsonObject& probe, const QString& type)
{
    for (const QJsonValue& stream : probe.value(u"streams"_s).toArray()) {
        if (stream[u"codec_type"_s].toString() == type)
            return stream.toObject();
    }
    return {};
}

QString decodeErrors(const QString& path)
{
    return QString::fromUtf8(
        outputOf("ffmpeg", {"-v", "error", "-nostdin", "-i", path, "-f", "null", "-"}));
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
    ASSERT_TRUE(waitUntil([&] { return run.record->done(); }, kEncodeTimeoutMs));
    // Once the worker has stopped, whatever it posted is in the event queue: deliver it all.
    EXPECT_TRUE(run.session->waitForStopped(5000));
    deliverPosted();
    EXPECT_EQ(run.record->completions.size(), 1u);
    EXPECT_EQ(run.record->callbacksAfterCompletion, 0);
}

JobSettings settingsFor(Codec codec, AudioMode audio, const QString& outputDirectory)
{
    JobSettings settings;
    settings.presetName = u"Test"_s;
    settings.body.codec = codec;
    settings.body.audio = audio;
    settings.body.bitrateMbps = 2;
    settings.outputDirectory = outputDirectory;
    return settings;
}

} // namespace corvel::test

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    corvel::setUpFFmpeg();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
