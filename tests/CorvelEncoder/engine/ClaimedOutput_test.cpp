#include "CorvelEncoder/engine/ClaimedOutput.h"
#include "CorvelEncoder/engine/EncodePlan.h"
#include "tests/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <tuple>

#include <fcntl.h>
#include <unistd.h>

namespace corvel::test {
namespace {

// Opens and writes the way FFmpeg's file protocol does: by path, following links, truncating.
bool writeLikeTheMuxer(const QString& path, const QByteArray& bytes)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    return ::close(fd) == 0 && ok;
}

// Another local user in a shared folder (mode 777, no sticky bit) plants links between the
// claim and the writing, at the partial name and at the final name. The encode writes only
// into the file it created, never through their links, and replaces nothing of theirs; on a
// file system without hard links or RENAME_NOREPLACE (FAT, exFAT) as well.
TEST(ClaimedOutput, PlantedLinksAreNeitherWrittenThroughNorReplaced)
{
    // name, a link at the partial name, one at the final name, a file system without links
    const std::tuple<const char*, bool, bool, bool> rows[] = {
        {"link over the partial file", true, false, false},
        {"link at the final name", false, true, false},
        {"both", true, true, false},
        {"nothing planted, no links", false, false, true},
        {"link over the partial file, no links", true, false, true},
        {"link at the final name, no links", false, true, true}};
    for (const auto& [name, atPartial, atFinal, noLinks] : rows) {
        SCOPED_TRACE(name);
        ClaimedOutput::refuseLinksForTesting(noLinks);
        QTemporaryDir dir;
        const QString victim = dir.filePath("victim");
        ASSERT_TRUE(writeLikeTheMuxer(victim, "secret"));
        OutputNames names;
        auto claim = names.claim(dir.path(), QStringLiteral("a_H264"), QStringLiteral("mp4"));
        ASSERT_TRUE(claim);
        ClaimedOutput& output = **claim;
        EXPECT_EQ(output.finalPath(), dir.filePath("a_H264.mp4"));
        EXPECT_FALSE(QFile::exists(output.finalPath())) << "nothing under the name until done";
        if (atPartial) {
            ASSERT_EQ(::unlink(QFile::encodeName(output.partialPath()).constData()), 0);
            ASSERT_TRUE(QFile::link(victim, output.partialPath()));
        }
        if (atFinal) {
            ASSERT_TRUE(QFile::link(victim, output.finalPath()));
        }
        ASSERT_TRUE(writeLikeTheMuxer(output.writePath(), "movie"));
        const auto placed = output.commit();
        if (atPartial) {
            // Our file lost its only name to the planted link: nothing to publish.
            EXPECT_FALSE(placed);
        } else {
            ASSERT_TRUE(placed);
            EXPECT_EQ(testing::readFile(*placed), "movie");
            EXPECT_EQ(*placed, atFinal ? dir.filePath("a_H264-2.mp4") : output.finalPath());
        }
        EXPECT_EQ(testing::readFile(victim), "secret");
        EXPECT_EQ(QFileInfo(output.finalPath()).isSymLink(), atFinal);
        EXPECT_EQ(QFileInfo(output.partialPath()).isSymLink(), atPartial)
            << "a file that is not ours stays";
        claim->reset();
        ClaimedOutput::refuseLinksForTesting(false);
        EXPECT_EQ(testing::readFile(victim), "secret");
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2 + int(atFinal))
            << "no claim or partial of ours is left";
    }
}

// A kill leaves the partial file, unlocked; the next claim in the folder removes it, and never
// one another encode still writes.
TEST(ClaimedOutput, TheNextClaimClearsOnlyAbandonedPartials)
{
    QTemporaryDir dir;
    OutputNames names;
    auto live = names.claim(dir.path(), QStringLiteral("live"), QStringLiteral("mov"));
    ASSERT_TRUE(live);
    const QString abandoned = partialOutputPath(dir.filePath("killed.mov"));
    ASSERT_TRUE(writeLikeTheMuxer(abandoned, "cut off"));
    ASSERT_TRUE(writeLikeTheMuxer(dir.filePath(".corvel-partial-mine"), "a user's file"));

    OutputNames nextRun;
    auto next = nextRun.claim(dir.path(), QStringLiteral("killed"), QStringLiteral("mov"));
    ASSERT_TRUE(next);
    EXPECT_EQ((*next)->finalPath(), dir.filePath("killed.mov")) << "its name is free again";
    EXPECT_TRUE(QFile::exists((*live)->partialPath()));
    EXPECT_TRUE(QFile::exists(dir.filePath(".corvel-partial-mine")));
    next->reset();
    live->reset();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{".corvel-partial-mine"});
}

// The output folder renamed while the movie is written: the finished movie gets its name in
// the folder under its new name, and a failed encode still removes its partial file there.
TEST(ClaimedOutput, ARenamedFolderKeepsTheMovieOrLosesThePartial)
{
    for (const bool finished : {true, false}) {
        SCOPED_TRACE(finished ? "finished" : "failed");
        QTemporaryDir dir;
        ASSERT_TRUE(QDir(dir.path()).mkdir("out"));
        OutputNames names;
        auto claim = names.claim(dir.filePath("out"), QStringLiteral("a"), QStringLiteral("mov"));
        ASSERT_TRUE(claim);
        ASSERT_TRUE(writeLikeTheMuxer((*claim)->writePath(), "movie"));
        ASSERT_TRUE(QDir(dir.path()).rename("out", "moved"));
        const QDir moved(dir.filePath("moved"));
        if (finished) {
            EXPECT_EQ((*claim)->commit(), moved.filePath("a.mov"));
            EXPECT_EQ(testing::readFile(moved.filePath("a.mov")), "movie");
        } else {
            (*claim)->discard();
            EXPECT_EQ((*claim)->leftBehind(), QString());
        }
        claim->reset();
        EXPECT_EQ(moved.entryList(QDir::Files | QDir::Hidden),
                  finished ? QStringList{"a.mov"} : QStringList());
    }
}

} // namespace
} // namespace corvel::test
