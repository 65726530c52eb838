#include "EngineTestSupport.h"

#include "CorvelEncoder/engine/OutputJournal.h"

#include <QSet>

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
    const auto live = names.claim(dir.path(), u"live"_s, u"mov"_s);
    ASSERT_TRUE(live);
    for (const QString& path : {a, b, odd})
        ASSERT_TRUE(testing::writeFile(partialOutputPath(path), "part"));
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
            if (auto claim = names.claim(dir.path(), u"clip"_s, u"mov"_s))
                claims[i] = std::move(*claim);
        });
    }
    threads.clear(); // joins them
    QStringList paths;
    for (const auto& claim : claims)
        paths.append(claim ? claim->finalPath() : QString());
    const auto sorted = [](QStringList list) {
        list.sort();
        return list;
    };
    EXPECT_EQ(sorted(journal.unsettled()), sorted(paths));
    EXPECT_EQ(QSet<QString>(paths.begin(), paths.end()).size(), 8);
    for (int i = 0; i < 8; i += 2)
        claims[i].reset();
    EXPECT_EQ(sorted(journal.unsettled()), sorted({paths[1], paths[3], paths[5], paths[7]}));
    // A name that could not be created is never journaled.
    EXPECT_FALSE(names.claim(dir.filePath("missing/folder"), u"x"_s, u"mov"_s));
    EXPECT_EQ(journal.unsettled().size(), 4);
    claims.clear();
}

} // namespace
} // namespace corvel::test
