// The engine against files that change under it: a source altered mid-encode, and output
// names taken on disk by someone other than this process.

#include "EngineTestSupport.h"

#include "CorvelEncoder/engine/EncodePlan.h"
#include "CorvelEncoder/engine/InspectMedia.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace corvel::test {
namespace {

// A few seconds, so that the encode is still reading when the test acts on its first report.
QString longSource(const QString& extension)
{
    static QTemporaryDir folder;
    const QString path = folder.path() + QStringLiteral("/long.") + extension;
    if (!QFileInfo::exists(path) &&
        !runFFmpeg({"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=6", "-f", "lavfi",
                    "-i", "sine=frequency=440:sample_rate=48000:duration=6", "-ac", "2", "-c:v",
                    "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-c:a", "aac", path}))
        return {};
    return path;
}

struct ChangeRow
{
    const char* name;
    const char* extension;
    std::function<bool(const QString& source)> change;
    const char* error; // nullptr: the encode completes whole
};

bool truncateToHalf(const QString& source)
{
    QFile file(source);
    return file.resize(file.size() / 2);
}

bool overwriteMiddle(const QString& source)
{
    QFile file(source);
    return file.open(QIODevice::ReadWrite) && file.seek(file.size() / 2) &&
           file.write(QByteArray(4096, '\0')) == 4096;
}

bool append(const QString& source)
{
    QFile file(source);
    return file.open(QIODevice::Append) && file.write(QByteArray(4096, 'x')) == 4096;
}

TEST(EngineFaults, SourceChangedWhileEncodingFailsAndLeavesNoOutput)
{
    const char* const kChanged = "The source file changed while it was being encoded.";
    const ChangeRow rows[] = {
        {"QuickTime truncated to half", "mov", truncateToHalf, kChanged},
        // A stream format cut short looks like an ordinary end of file.
        {"MPEG-TS truncated to half", "ts", truncateToHalf, kChanged},
        {"overwritten in the middle", "mov", overwriteMiddle, kChanged},
        {"grown at the end", "ts", append, kChanged},
        // The open file stays readable, and the output becomes the only copy of the movie.
        {"deleted", "mov", [](const QString& source) { return QFile::remove(source); }, nullptr},
    };
    for (const ChangeRow& row : rows) {
        SCOPED_TRACE(row.name);
        const QString original = longSource(QLatin1StringView(row.extension));
        ASSERT_FALSE(original.isEmpty());
        QTemporaryDir folder;
        const QString source = folder.path() + QStringLiteral("/source.") + row.extension;
        ASSERT_TRUE(QFile::copy(original, source));
        const QString out = folder.path() + QStringLiteral("/out");

        // Opened, then held while the source changes.
        Encode run = startSession(source, settingsFor(Codec::proRes422Proxy, AudioMode::pcm, out),
                                  nullptr, false);
        run.session->pause();
        run.session->start();
        ASSERT_TRUE(waitFor([&] { return !run.record->ready.empty(); }, kEncodeTimeoutMs));
        ASSERT_TRUE(row.change(source));
        run.session->resume();
        finish(run);
        const EncodeResult& result = run.record->completions.front();
        if (row.error) {
            ASSERT_FALSE(result.has_value()) << "reported as finished: " << result->toStdString();
            EXPECT_EQ(result.error().description(), QLatin1StringView(row.error));
            EXPECT_EQ(filesIn(out), QStringList());
        } else {
            ASSERT_TRUE(result.has_value()) << result.error().description().toStdString();
            const QJsonObject info = probe(*result);
            EXPECT_NEAR(
                info[QStringLiteral("format")][QStringLiteral("duration")].toString().toDouble(),
                6.0, 0.15);
            EXPECT_EQ(filesIn(out), QStringList{QFileInfo(*result).fileName()});
        }
    }
}

struct TakenRow
{
    const char* name;
    // Puts something at `path` that is not a free name.
    std::function<bool(const QString& path, const QString& elsewhere)> take;
};

TEST(EngineFaults, NameTakenByALinkOrFolderIsNeitherFollowedNorReplaced)
{
    const TakenRow rows[] = {
        {"dangling link",
         [](const QString& path, const QString& elsewhere) {
             return QFile::link(elsewhere + QStringLiteral("/target.mov"), path);
         }},
        {"link to a file elsewhere",
         [](const QString& path, const QString& elsewhere) {
             QFile target(elsewhere + QStringLiteral("/target.mov"));
             return target.open(QIODevice::WriteOnly) && target.write("keep\n") == 5 &&
                    QFile::link(target.fileName(), path);
         }},
        {"folder",
         [](const QString& path, const QString&) {
             return QDir().mkdir(path);
         }},
    };
    for (const TakenRow& row : rows) {
        SCOPED_TRACE(row.name);
        QTemporaryDir folder;
        QTemporaryDir elsewhere;
        JobSettings settings = settingsFor(Codec::proRes422Proxy, AudioMode::pcm, folder.path());
        settings.body.namingPattern = QStringLiteral("{name}");
        const QString taken = folder.path() + QStringLiteral("/clip.mov");
        ASSERT_TRUE(row.take(taken, elsewhere.path()));
        const QStringList elsewhereBefore = filesIn(elsewhere.path());
        QTemporaryDir sourceFolder;
        const QString source = sourceFolder.path() + QStringLiteral("/clip.mov");
        ASSERT_TRUE(QFile::copy(sourcePath(Source::h264Aac), source));

        const EncodeResult result = encodeFile(source, settings);
        ASSERT_TRUE(result.has_value()) << result.error().description().toStdString();
        EXPECT_EQ(*result, folder.path() + QStringLiteral("/clip-2.mov"));
        EXPECT_EQ(filesIn(elsewhere.path()), elsewhereBefore);
        const QFileInfo after(taken);
        EXPECT_TRUE(after.isSymLink() || after.isDir());
        const QFileInfo target(elsewhere.path() + QStringLiteral("/target.mov"));
        if (target.exists()) {
            EXPECT_EQ(target.size(), 5);
        }
    }
}

} // namespace
} // namespace corvel::test
