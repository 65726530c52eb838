#include "CorvelEncoder/engine/EncodePlan.h"
#include "CorvelEncoder/engine/OutputJournal.h"

#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include "EngineTestSupport.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace corvel::test {
namespace {

TEST(OutputJournal, KeepsWhatWasOpenedAndNeverSettledAcrossProcesses)
{
    QTemporaryDir dir;
    const QString journalPath = dir.filePath("outputs.journal");
    const QString a = dir.filePath("a.mov"), b = dir.filePath("b.mov"),
                  odd = dir.filePath("line\nbreak 100%.mov");
    // Still written by a live encode, whose lock shows it.
    OutputNames names;
    const auto live = names.claim(dir.path(), QStringLiteral("live"), QStringLiteral("mov"));
    ASSERT_TRUE(live);
    for (const QString& path : {a, b, odd})
        ASSERT_TRUE(rewrite(partialOutputPath(path),
                            [](QByteArray& bytes) { return !(bytes = "part").isEmpty(); }));
    {
        OutputJournal journal(journalPath);
        for (const QString& path : {a, b, odd, (*live)->finalPath()})
            journal.opened(path);
        journal.settled(b);
        journal.settled(dir.filePath("never-opened.mov"));
    }
    // A later start reads what the earlier one left.
    OutputJournal next(journalPath);
    EXPECT_EQ(next.unsettled(), (QStringList{a, odd, (*live)->finalPath()}));
    EXPECT_EQ(next.removeUnsettled(), (QStringList{a, odd}));
    EXPECT_FALSE(QFile::exists(partialOutputPath(a)));
    EXPECT_FALSE(QFile::exists(partialOutputPath(odd)));
    EXPECT_TRUE(QFile::exists(partialOutputPath(b))) << "settled: not the journal's to remove";
    EXPECT_TRUE(QFile::exists((*live)->partialPath()));
    EXPECT_FALSE(QFile::exists(journalPath));
    EXPECT_TRUE(next.unsettled().isEmpty());
}

TEST(OutputJournal, ClaimedNamesAreJournaledUntilReleasedFromManyThreads)
{
    QTemporaryDir dir;
    OutputJournal journal(dir.filePath("outputs.journal"));
    OutputNames names;
    names.setJournal(&journal);
    std::vector<std::jthread> threads;
    std::vector<std::unique_ptr<ClaimedOutput>> claims(8);
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&, i] {
            if (auto claim = names.claim(dir.path(), QStringLiteral("clip"), QStringLiteral("mov")))
                claims[i] = std::move(*claim);
        });
    }
    threads.clear(); // joins them
    QStringList paths;
    for (const auto& claim : claims)
        paths.append(claim ? claim->finalPath() : QString());
    QStringList unsettled = journal.unsettled();
    unsettled.sort();
    QStringList all = paths;
    all.sort();
    EXPECT_EQ(unsettled, all);
    EXPECT_EQ(QSet<QString>(all.begin(), all.end()).size(), 8);
    for (int i = 0; i < 8; i += 2)
        claims[i].reset();
    QStringList left = journal.unsettled();
    left.sort();
    QStringList expected{paths[1], paths[3], paths[5], paths[7]};
    expected.sort();
    EXPECT_EQ(left, expected);
    // A name that could not be created is never journaled.
    EXPECT_FALSE(
        names.claim(dir.filePath("missing/folder"), QStringLiteral("x"), QStringLiteral("mov")));
    EXPECT_EQ(journal.unsettled().size(), 4);
    claims.clear();
}

} // namespace
} // namespace corvel::test
