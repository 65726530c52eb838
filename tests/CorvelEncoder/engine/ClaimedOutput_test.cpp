#include "EngineTestSupport.h"

#include "CorvelEncoder/engine/ClaimedOutput.h"

#include <tuple>

namespace corvel::test {
namespace {

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
        ASSERT_TRUE(testing::writeFile(victim, "secret"));
        OutputNames names;
        auto claim = names.claim(dir.path(), QStringLiteral("a_H264"), QStringLiteral("mp4"));
        ASSERT_TRUE(claim);
        ClaimedOutput& output = **claim;
        EXPECT_EQ(output.finalPath(), dir.filePath("a_H264.mp4"));
        EXPECT_FALSE(QFile::exists(output.finalPath())) << "nothing under the name until done";
        if (atPartial) {
            ASSERT_TRUE(QFile::remove(output.partialPath()));
            ASSERT_TRUE(QFile::link(victim, output.partialPath()));
        }
        if (atFinal) {
            ASSERT_TRUE(QFile::link(victim, output.finalPath()));
        }
        // By path, following links and truncating, as FFmpeg's file protocol opens.
        ASSERT_TRUE(testing::writeFile(output.writePath(), "movie"));
        const auto placed = output.commit();
        // With a link over the partial file, ours lost its only name: nothing to publish.
        EXPECT_EQ(placed.has_value(), !atPartial);
        if (placed) {
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
        EXPECT_EQ(testing::entriesOf(dir.path()).size(), 2 + int(atFinal))
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
    ASSERT_TRUE(testing::writeFile(abandoned, "cut off"));
    ASSERT_TRUE(testing::writeFile(dir.filePath(".corvel-partial-mine"), "a user's file"));

    OutputNames nextRun;
    auto next = nextRun.claim(dir.path(), QStringLiteral("killed"), QStringLiteral("mov"));
    ASSERT_TRUE(next);
    EXPECT_EQ((*next)->finalPath(), dir.filePath("killed.mov")) << "its name is free again";
    EXPECT_TRUE(QFile::exists((*live)->partialPath()));
    EXPECT_TRUE(QFile::exists(dir.filePath(".corvel-partial-mine")));
    next->reset();
    live->reset();
    EXPECT_EQ(testing::entriesOf(dir.path()), QStringList{".corvel-partial-mine"});
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
        ASSERT_TRUE(testing::writeFile((*claim)->writePath(), "movie"));
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
        EXPECT_EQ(testing::entriesOf(moved.path()),
                  finished ? QStringList{"a.mov"} : QStringList());
    }
}

} // namespace
} // namespace corvel::test
