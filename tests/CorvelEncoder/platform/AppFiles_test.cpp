#include "ModelTestSupport.h"

#include "CorvelEncoder/platform/AppFiles.h"

#include <QDir>
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

// Whatever size the new content has, a disk that fills up part-way through a save leaves the
// previous file exactly as it was and nothing else beside it.
TEST(AppFilesTest, AFullDiskKeepsTheLastWholeFile)
{
    QTemporaryDir temp;
    AppFilesStore store(temp.path());
    const QByteArray old = R"({"version":1,"jobs":[]})";
    for (const qsizetype size : {qsizetype(3000), qsizetype(200'000)}) {
        SCOPED_TRACE(size);
        for (const char* name : {"queue.json", "settings.json"}) {
            ASSERT_TRUE(store.write(QString::fromLatin1(name), old));
            {
                FileSizeLimit fullDisk(1000);
                if (!fullDisk.active)
                    GTEST_SKIP() << "this process cannot limit its file size (RLIMIT_FSIZE)";
                const auto written = store.write(QString::fromLatin1(name), QByteArray(size, 'x'));
                ASSERT_FALSE(written);
                EXPECT_TRUE(written.error().contains(QLatin1StringView(name)))
                    << written.error().toStdString();
            }
            EXPECT_EQ(readFile(temp.filePath(name)), old);
            EXPECT_EQ(QDir(temp.path()).entryList(QDir::Files | QDir::Hidden),
                      QStringList{QString::fromLatin1(name)});
            QFile::remove(temp.filePath(name));
        }
    }
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
