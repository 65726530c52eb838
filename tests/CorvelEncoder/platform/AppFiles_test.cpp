#include "ModelTestSupport.h"

#include "CorvelEncoder/platform/AppFiles.h"

#include <QFile>

namespace corvel::testing {
namespace {

TEST(AppFilesTest, AFolderThatCannotBeMadeFailsQuietly)
{
    QTemporaryDir temp;
    const QString occupied = temp.filePath(u"Corvel Encoder"_s);
    QFile(occupied).open(QIODevice::WriteOnly); // a file where the folder should be
    AppFilesStore store(occupied);
    EXPECT_FALSE(store.write(u"queue.json"_s, "data"));
    EXPECT_FALSE(store.read(u"queue.json"_s).has_value());
    EXPECT_FALSE(store.keepCopy(u"queue.json"_s, u"queue.json.unreadable"_s));
}

// Only the temporaries of this store's own saves go at start; a user's files beside the state
// files stay, however much their names look like one.
TEST(AppFilesTest, ReadingRemovesOnlyWhatACutOffSaveLeftBehind)
{
    const std::pair<const char*, bool> rows[] = {
        {".queue.json.corvel-saving.Ab12Cd", true},
        {".settings.json.corvel-saving.x9Y8z7", true},
        {".presets.json.unreadable.corvel-saving.QQQQQQ", true},
        {"queue.json.backup", false},
        {"settings.json.old123", false},
        {"queue.json.Ab12Cd", false},
        {".queue.json.corvel-saving.Ab12C", false},
        {".queue.json.corvel-saving.Ab12Cd.mine", false},
        {"queue.json.unreadable", false}};
    QTemporaryDir temp;
    for (const auto& [name, removed] : rows)
        ASSERT_TRUE(writeFile(temp.filePath(name), "bytes"));

    AppFilesStore store(temp.path());
    store.read(u"queue.json"_s);
    for (const auto& [name, removed] : rows)
        EXPECT_EQ(QFile::exists(temp.filePath(name)), !removed) << name;
}

} // namespace
} // namespace corvel::testing
