// The engine against a source that changes under it while it is encoded.

#include "EngineTestSupport.h"

#include "CorvelEncoder/engine/ClaimedOutput.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <tuple>

namespace corvel::test {
namespace {

// Long enough that a change at its middle lies beyond what opening the file has read.
QString longSource(const QString& extension)
{
    static QTemporaryDir folder;
    const QString path = folder.path() + QStringLiteral("/long.") + extension;
    if (!QFileInfo::exists(path) &&
        !runFFmpeg(video("320x240", 6) +
                   args("-f lavfi -i sine=frequency=440:sample_rate=48000:duration=6 -ac 2 -c:a "
                        "aac") +
                   kX264 + QStringList{path}))
        return {};
    return path;
}

TEST(EngineFaults, SourceChangedWhileEncodingFailsAndLeavesNoOutput)
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
    for (const auto& [name, extension, change, error] : rows) {
        SCOPED_TRACE(name);
        const QString original = longSource(QLatin1StringView(extension));
        ASSERT_FALSE(original.isEmpty());
        QTemporaryDir folder;
        const QString source = folder.path() + QStringLiteral("/source.") + extension;
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
        if (error) {
            ASSERT_FALSE(result.has_value()) << "reported as finished: " << result->toStdString();
            EXPECT_EQ(result.error().description(), QLatin1StringView(error));
            EXPECT_EQ(filesIn(out), QStringList());
        } else {
            ASSERT_TRUE(result.has_value()) << result.error().description().toStdString();
            const QJsonObject info = probe(*result);
            EXPECT_NEAR(info["format"]["duration"].toString().toDouble(), 6.0, 0.15);
            EXPECT_EQ(filesIn(out), QStringList{QFileInfo(*result).fileName()});
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
