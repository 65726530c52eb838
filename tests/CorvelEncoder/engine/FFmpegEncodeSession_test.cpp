#include "EngineTestSupport.h"

#include "CorvelEncoder/engine/ClaimedOutput.h"

#include <QScopeGuard>

#include <algorithm>
#include <atomic>
#include <map>
#include <thread>
#include <tuple>

#include <sys/stat.h>

namespace corvel::test {
namespace {

// A "hardware" encoder: software underneath, refusing to open, failing on a chosen frame, or
// holding the worker on a chosen frame until the test lets it go on.
class ScriptedEncoderChoice final : public FFmpegEncoderChoice
{
public:
    bool refuseHardware = false;
    int hardwareFailsAtFrame = 0; // 1-based; 0 never
    int softwareFailsAtFrame = 0;
    int holdAtFrame = 0;
    std::atomic<int> hardwareOpens = 0;
    std::atomic<bool> held = false, released = false;

    bool hasHardware(Codec) override { return true; }
    std::expected<std::unique_ptr<VideoEncoder>, QString> open(const VideoSettings& settings,
                                                               bool globalHeader) override
    {
        hardwareOpens += settings.hardware;
        if (settings.hardware && refuseHardware)
            return std::unexpected(u"No such device."_s);
        VideoSettings software = settings;
        software.hardware = false;
        auto encoder = FFmpegEncoderChoice::open(software, globalHeader);
        const int failAt = settings.hardware ? hardwareFailsAtFrame : softwareFailsAtFrame;
        if (!encoder || (failAt == 0 && holdAtFrame == 0))
            return encoder;
        return std::make_unique<Scripted>(std::move(*encoder), failAt, *this);
    }

private:
    struct Scripted final : VideoEncoder
    {
        Scripted(std::unique_ptr<VideoEncoder> encoder, int failAt, ScriptedEncoderChoice& choice)
            : inner(std::move(encoder)), failAt(failAt), choice(choice)
        {}
        AVCodecContext* context() const override { return inner->context(); }
        int sendFrame(const AVFrame* frame) override
        {
            frames += frame != nullptr;
            if (frame && frames == choice.holdAtFrame) {
                choice.held = true;
                while (!choice.released)
                    std::this_thread::yield();
            }
            return frame && failAt > 0 && frames >= failAt ? AVERROR(EIO) : inner->sendFrame(frame);
        }
        int receivePacket(AVPacket* packet) override { return inner->receivePacket(packet); }

        std::unique_ptr<VideoEncoder> inner;
        int failAt;
        ScriptedEncoderChoice& choice;
        int frames = 0;
    };
};

// Each cancel waits for the state it is meant to meet: the worker paused before its first
// packet, or held inside its tenth frame. Nothing here depends on how fast the machine is.
TEST(FFmpegEncodeSession, CancelEndsTheEncodeAndLeavesNothing)
{
    enum When
    {
        beforeStart,
        rightAfterStart,
        paused,
        encoding,
        destroyed
    };
    const std::tuple<const char*, Codec, When> rows[] = {
        {"before start", Codec::proRes422HQ, beforeStart},
        {"right after start", Codec::proRes422HQ, rightAfterStart},
        {"paused H.264", Codec::h264, paused},
        {"encoding ProRes", Codec::proRes422HQ, encoding},
        {"encoding HEVC", Codec::hevc, encoding},
        {"destroyed while paused", Codec::proRes422HQ, destroyed}};
    const QString source = sourcePath(Source::h264Aac);
    const auto before = filesAndThreads();
    for (const auto& [name, codec, when] : rows) {
        SCOPED_TRACE(name);
        QTemporaryDir folder;
        auto encoders = std::make_shared<ScriptedEncoderChoice>();
        // Released only once cancelled, so no encode can finish before the cancel reaches it.
        encoders->holdAtFrame = when == encoding ? 10 : 1;
        Encode run = startSession(source, settingsFor(codec, AudioMode::aac, folder.path()),
                                  encoders, false);
        // Even when a check below gives up early, the worker is let go before the session ends.
        const auto letGo = qScopeGuard([&] { encoders->released = true; });
        if (when == beforeStart)
            run.session->cancel();
        if (when == paused || when == destroyed)
            run.session->pause();
        run.session->start();
        const auto reached = [&] {
            return when == encoding ? encoders->held && !run.record->progress.empty()
                                    : !run.record->ready.empty();
        };
        ASSERT_TRUE(when < paused || waitUntil(reached, kEncodeTimeoutMs));
        if (when == destroyed) {
            run.session.reset();
            EXPECT_TRUE(testing::entriesOf(folder.path()).isEmpty());
            deliverPosted(); // the session joined its worker: all it sent is posted
            EXPECT_TRUE(run.record->completions.empty()); // nothing reaches its owner
            continue;
        }
        const QString partial =
            when >= paused ? partialOutputPath(run.record->ready[0].first) : QString();
        EXPECT_EQ(QFileInfo::exists(partial), when >= paused);
        run.session->cancel();
        encoders->released = true;
        finish(run);
        EXPECT_TRUE(run.record->completions.front().error().isCancelled());
        EXPECT_FALSE(QFileInfo::exists(partial));
        EXPECT_TRUE(testing::entriesOf(folder.path()).isEmpty());
        // After the outcome the controls do nothing visible.
        run.session->pause();
        run.session->resume();
        run.session->cancel();
        deliverPosted();
        EXPECT_EQ(run.record->completions.size(), 1u);
        EXPECT_EQ(run.record->callbacksAfterCompletion, 0);
    }
    EXPECT_EQ(filesAndThreads(), before);
}

TEST(FFmpegEncodeSession, HardwareFallsBackToSoftwareOnlyBeforeTheFirstFrame)
{
    struct Row
    {
        const char* name;
        bool refuse;
        int hardwareFailsAt, softwareFailsAt; // 1-based frame; 0 never
        Codec codec;
        const char* logs;  // one letter a log line: keys of `endings` below
        const char* ready; // one letter an opened output: 'h'ardware or 's'oftware
        bool succeeds;
    };
    const std::map<char, QString> endings = {
        {'q', " Hardware encoder requested."},
        {'x', "Hardware encoder was refused. Retrying in software."},
        {'r', "Hardware encoder failed before the first frame. Retrying in software."},
        {'s', " Software encoder."}};
    const Row rows[] = {
        {"refused at start", true, 0, 0, Codec::h264, "xs", "s", true},
        {"failing on its first frame", false, 1, 0, Codec::hevc, "qrs", "hs", true},
        {"software failing too", false, 1, 1, Codec::hevc, "qrs", "hs", false},
        // ProRes writes each frame at once, so the file already holds frames.
        {"failing after frames were written", false, 20, 0, Codec::proRes422LT, "q", "h", false}};
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
        QString ready;
        for (const auto& opened : run.record->ready)
            ready += opened.second ? u'h' : u's';
        EXPECT_EQ(ready, QLatin1StringView(row.ready));
        const auto& logs = run.record->logs;
        ASSERT_EQ(logs.size(), qstrlen(row.logs));
        for (size_t i = 0; i < logs.size(); ++i)
            EXPECT_TRUE(logs[i].first.endsWith(endings.at(row.logs[i])))
                << logs[i].first.toStdString();
        const EncodeResult& result = run.record->completions.front();
        ASSERT_EQ(result.has_value(), row.succeeds);
        EXPECT_EQ(testing::entriesOf(folder.path()),
                  result ? QStringList{QFileInfo(*result).fileName()} : QStringList());
        if (row.succeeds) {
            EXPECT_EQ(decodeErrors(*result), QString());
        } else {
            EXPECT_EQ(result.error().description(),
                      u"Writing a video frame failed. Input/output error."_s);
        }
    }
}

struct BadInput
{
    const char* name;
    QString source;
    QString message;
    bool opensOutput = false;
    Codec codec = Codec::h264;
};

TEST(FFmpegEncodeSession, BadInputFailsWithAReadableMessageAndLeavesNothing)
{
    const QString kNotAMovie =
        "This file could not be opened as a movie. Invalid data found when processing input.";
    QTemporaryDir scratch;
    const auto made = [&](const QString& name, const QString& ffmpegArgs) {
        EXPECT_TRUE(runFFmpeg(args(ffmpegArgs) << scratch.filePath(name))) << name.toStdString();
        return scratch.filePath(name);
    };
    const auto text = [&](const QString& name, const QString& content) {
        EXPECT_TRUE(testing::writeFile(scratch.filePath(name), content.toUtf8()));
        return scratch.filePath(name);
    };
    const auto halved = [](const QString& path) {
        EXPECT_TRUE(QFile::resize(path, QFileInfo(path).size() / 2));
        return path;
    };
    const QString clip = video("160x120", 2).join(u' ') + " " + kX264.join(u' ');
    const QString grey =
        "-f lavfi -i color=rate=25:duration=1:size=%1 %2 -c:v rawvideo -pix_fmt gray";
    // Opening a named pipe would wait for a writer for good.
    const QString pipe = scratch.filePath(u"pipe.mov"_s);
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    const BadInput rows[] = {
        {"missing", scratch.filePath("gone.mov"), "The source file is missing."},
        {"folder", scratch.path(),
         "The source is a folder, not a movie. Add the folder to queue the movies inside it."},
        {"audio only", made("sound.m4a", "-f lavfi -i sine=duration=1 -c:a aac"),
         "No video track in this file."},
        {"one pixel wide", made("one-pixel.mov", grey.arg("2x16").arg("-vf scale=1:16")),
         "The video has no usable frame size."},
        {"zero length", text("zero.mov", ""), kNotAMovie},
        {"not a movie", text("text.mov", "This is a shopping list, not a movie.\n"), kNotAMovie},
        {"truncated", halved(made("cut.mov", clip)), kNotAMovie},
        {"truncated with its index first",
         halved(made("cut-index-first.mov", clip + " -movflags +faststart")),
         "Reading video failed.", true},
        {"HEVC of 4x4 pixels", made("tiny.mov", grey.arg("4x4").arg("")),
         "HEVC needs at least 16×16 pixels.", false, Codec::hevc},
        {"HEVC with alpha, no encoder for it", sourcePath(Source::proResAlpha),
         hevcAlphaEncoderAvailable() ? QString() : hevcAlphaMissingText(), false,
         Codec::hevcWithAlpha},
        {"named pipe", pipe, "This is not a regular file, so it cannot be read as a movie."},
        // A list naming other files would pull them into the output.
        {"concat list",
         text("list.mov", "ffconcat version 1.0\nfile '" + sourcePath(Source::h264Aac) + "'\n"),
         kNotAMovie},
        {"playlist",
         text("list.mp4", "#EXTM3U\n#EXTINF:2,\n" + sourcePath(Source::layoutSwitch) + "\n"),
         kNotAMovie}};
    const auto before = filesAndThreads();
    for (const BadInput& row : rows) {
        if (row.message.isEmpty())
            continue; // this FFmpeg has what the row lacks
        SCOPED_TRACE(row.name);
        QTemporaryDir folder;
        const QFileInfo before(row.source);
        Encode run =
            startSession(row.source, settingsFor(row.codec, AudioMode::aac, folder.path()));
        finish(run);
        const EncodeResult& result = run.record->completions.front();
        ASSERT_FALSE(result.has_value());
        EXPECT_EQ(result.error().description(), row.message);
        // Only a file cut short in its frames gets as far as opening the output.
        EXPECT_EQ(run.record->ready.empty(), !row.opensOutput);
        EXPECT_TRUE(testing::entriesOf(folder.path()).isEmpty());
        const QFileInfo after(row.source);
        EXPECT_EQ(after.exists(), before.exists());
        EXPECT_EQ(after.size(), before.size());
    }
    EXPECT_EQ(filesAndThreads(), before);
}

// The source changing under the encode.
TEST(FFmpegEncodeSession, SourceChangedWhileEncodingFailsAndLeavesNoOutput)
{
    const char* const kChanged = "The source file changed while it was being encoded.";
    const auto halve = [](QFile& file) {
        return file.resize(file.size() / 2);
    };
    const auto overwriteMiddle = [](QFile& file) {
        return file.open(QIODevice::ReadWrite) && file.seek(file.size() / 2) &&
               file.write(QByteArray(4096, '\0')) == 4096;
    };
    const auto append = [](QFile& file) {
        return file.open(QIODevice::Append) && file.write(QByteArray(4096, 'x')) == 4096;
    };
    // name, extension, change, message (nullptr: the encode completes whole)
    const std::tuple<const char*, const char*, std::function<bool(QFile&)>, const char*> rows[] = {
        {"QuickTime truncated to half", "mov", halve, kChanged},
        // A stream format cut short looks like an ordinary end of file.
        {"MPEG-TS truncated to half", "ts", halve, kChanged},
        {"overwritten in the middle", "mov", overwriteMiddle, kChanged},
        {"grown at the end", "ts", append, kChanged},
        // The open file stays readable, and the output becomes the only copy of the movie.
        {"deleted", "mov", [](QFile& file) { return file.remove(); }, nullptr},
    };
    QTemporaryDir originals; // one for each format
    for (const auto& [name, extension, change, error] : rows) {
        SCOPED_TRACE(name);
        const QString original = originals.filePath(u"long."_s + extension);
        // Long enough that a change at its middle lies beyond what opening the file has read.
        ASSERT_TRUE(QFileInfo::exists(original) || testing::makeMovie(original, 6));
        QTemporaryDir folder;
        const QString source = folder.filePath(u"source."_s + extension);
        ASSERT_TRUE(QFile::copy(original, source));
        const QString out = folder.path() + QStringLiteral("/out");

        // Opened, then held while the source changes.
        Encode run = startSession(source, settingsFor(Codec::proRes422Proxy, AudioMode::pcm, out),
                                  nullptr, false);
        run.session->pause();
        run.session->start();
        ASSERT_TRUE(waitUntil([&] { return !run.record->ready.empty(); }, kEncodeTimeoutMs));
        // Written under a hidden partial name; nothing under the final name until it is whole.
        EXPECT_TRUE(QFileInfo::exists(partialOutputPath(run.record->ready[0].first)));
        EXPECT_FALSE(QFileInfo::exists(run.record->ready[0].first));
        if (!error) { // no frame moves while paused
            EXPECT_FALSE(waitUntil([&] { return !run.record->progress.empty(); }, 1000));
        }
        QFile file(source);
        ASSERT_TRUE(change(file));
        file.close();
        run.session->resume();
        finish(run);
        const EncodeResult& result = run.record->completions.front();
        EXPECT_EQ(testing::entriesOf(out),
                  result ? QStringList{QFileInfo(*result).fileName()} : QStringList());
        if (error) {
            ASSERT_FALSE(result.has_value()) << "reported as finished: " << result->toStdString();
            EXPECT_EQ(result.error().description(), QLatin1StringView(error));
        } else {
            ASSERT_TRUE(result.has_value()) << result.error().description().toStdString();
            const QJsonObject info = probe(*result);
            EXPECT_NEAR(info["format"]["duration"].toString().toDouble(), 6.0, 0.15);
            // Elapsed time includes paused time: the first estimate after resuming spans the
            // pause, so it implies more time spent than the work itself took.
            const auto estimated = std::ranges::find_if(
                run.record->progress, [](const auto& report) { return report.second.has_value(); });
            ASSERT_NE(estimated, run.record->progress.end());
            const auto [fraction, eta] = *estimated;
            EXPECT_GT(*eta / (1 - fraction) * fraction, 1.0);
        }
    }
}

} // namespace
} // namespace corvel::test
