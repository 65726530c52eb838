#include "CorvelEncoder/engine/EncodePlan.h"
#include "CorvelEncoder/engine/OutputJournal.h"

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
                  odd = dir.filePath("line\nbreak 100%.mov"), done = dir.filePath("done.mp4");
    {
        OutputJournal journal(journalPath);
        for (const QString& path : {a, b, odd, done}) {
            ASSERT_TRUE(
                rewrite(path, [](QByteArray& bytes) { return !(bytes = "part").isEmpty(); }));
            journal.opened(path);
        }
        journal.settled(b);
        journal.settled(dir.filePath("never-opened.mov"));
    }
    // A later start reads what the earlier one left.
    OutputJournal next(journalPath);
    EXPECT_EQ(next.unsettled(), (QStringList{a, odd, done}));
    const QStringList removed =
        next.removeUnsettled([&](const QString& path) { return path == done; });
    EXPECT_EQ(removed, (QStringList{a, odd}));
    EXPECT_EQ(filesIn(dir.path()), (QStringList{"b.mov", "done.mp4"})); // journal gone too
    EXPECT_TRUE(next.unsettled().isEmpty());
}

TEST(OutputJournal, ClaimedNamesAreJournaledUntilReleasedFromManyThreads)
{
    QTemporaryDir dir;
    OutputJournal journal(dir.filePath("outputs.journal"));
    OutputNames names;
    names.setJournal(&journal);
    std::vector<std::jthread> threads;
    std::vector<QString> paths(8);
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&, i] {
            paths[i] = names.claim(dir.path(), QStringLiteral("clip"), QStringLiteral("mov"))
                           .value_or(QString());
        });
    }
    threads.clear(); // joins them
    const QStringList unsettled = journal.unsettled();
    EXPECT_EQ(unsettled.size(), 8);
    for (const QString& path : paths)
        EXPECT_TRUE(unsettled.contains(path)) << path.toStdString();
    for (int i = 0; i < 8; i += 2)
        names.release(paths[i]);
    QStringList left = journal.unsettled(), expected{paths[1], paths[3], paths[5], paths[7]};
    left.sort();
    expected.sort();
    EXPECT_EQ(left, expected);
    // A name that could not be created is never journaled.
    EXPECT_FALSE(
        names.claim(dir.filePath("missing/folder"), QStringLiteral("x"), QStringLiteral("mov")));
    EXPECT_EQ(journal.unsettled().size(), 4);
}

} // namespace
} // namespace corvel::test
