#include "CorvelEncoder/model/WatchRules.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

namespace corvel {
namespace {

using testing::writeFile;

void setModified(const QString& path, double seconds)
{
    const struct timespec times[2] = {
        {static_cast<time_t>(seconds), 0},
        {static_cast<time_t>(seconds), static_cast<long>((seconds - std::floor(seconds)) * 1e9)}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
}

TEST(WatchRules, StampTextIsShortestWithAFraction)
{
    EXPECT_EQ(watchStampText(1764950400.25), u"1764950400.25");
    EXPECT_EQ(watchStampText(1764950400.0), u"1764950400.0");
    EXPECT_EQ(watchStampText(0.1), u"0.1");
    EXPECT_EQ(watchStampText(1764950400.123456789).toDouble(), 1764950400.123456789);
}

TEST(WatchRules, IdentityFollowsPathSizeAndTime)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("clip.mov");
    ASSERT_TRUE(writeFile(path, "1234"));
    setModified(path, 1764950400.25);
    const QString folder = QFileInfo(dir.path()).canonicalFilePath();
    EXPECT_EQ(watchIdentity(path), folder + "/clip.mov|4|1764950400.25");
    ASSERT_TRUE(QDir(dir.path()).mkdir("sub"));
    EXPECT_EQ(watchIdentity(dir.path() + "/./sub/../clip.mov"), watchIdentity(path));

    ASSERT_TRUE(writeFile(path, "12345"));
    setModified(path, 1764950400.25);
    EXPECT_EQ(watchIdentity(path), folder + "/clip.mov|5|1764950400.25");
    EXPECT_FALSE(watchIdentity(dir.filePath("missing.mov")));
}

TEST(WatchRules, RememberNeverDropsKeysOfFilesStillThereAndKeepsTheNewest4000Others)
{
    QStringList present;
    QStringList gone;
    for (int i = 0; i < 5000; ++i)
        present.append(u"here %1"_s.arg(i));
    for (int i = 0; i <= 4000; ++i)
        gone.append(u"gone %1"_s.arg(i));
    const QSet<QString> there(present.cbegin(), present.cend());
    QStringList keys;
    rememberWatch(keys, gone, {});
    rememberWatch(keys, present, there);
    EXPECT_EQ(keys.size(), 9000);
    EXPECT_EQ(keys.first(), u"gone 1"); // the oldest of the files that are gone went
    EXPECT_EQ(keys.last(), u"here 4999");
    rememberWatch(keys, {u"here 7"_s, u"gone 9"_s}, there);
    EXPECT_EQ(keys.size(), 9000) << "keys already there are not added again";
}

TEST(WatchRules, ResolvedWatchOutput)
{
    QTemporaryDir dir;
    const QString watch = QFileInfo(dir.path()).canonicalFilePath();
    // watch folder, its output setting, the output used
    const std::tuple<QString, QString, QString> rows[] = {
        {"", "", "/default/out"},
        {watch, "", watch + "/Corvel Output"},
        {watch, watch, watch + "/Corvel Output"},
        {watch, watch + "/", watch + "/Corvel Output"},
        {watch, watch + "/./x/..", watch + "/Corvel Output"},
        {watch, "/elsewhere/out/", "/elsewhere/out"},
        {"", "/elsewhere/out", "/elsewhere/out"}};
    for (const auto& [folder, output, expected] : rows) {
        SCOPED_TRACE((folder + " -> " + output).toStdString());
        EXPECT_EQ(resolvedWatchOutput(folder, output, "/default/out"), expected);
    }
    EXPECT_TRUE(isInsideFolder(watch + "/Corvel Output/a.mov", watch + "/Corvel Output"));
    EXPECT_FALSE(isInsideFolder(watch + "/Corvel Output 2/a.mov", watch + "/Corvel Output"));
}

TEST(WatchRules, FileIsStableOnlyAfterStayingUnchanged)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("growing.mov");
    ASSERT_TRUE(writeFile(path, "a"));
    setModified(path, 1000);
    WatchSightings sightings;
    const QDateTime t0 = QDateTime::currentDateTimeUtc();

    EXPECT_FALSE(sightings.isStable(path, t0)); // first sighting
    EXPECT_FALSE(sightings.isStable(path, t0.addMSecs(1499)));
    EXPECT_TRUE(sightings.isStable(path, t0.addMSecs(1500)));

    // It grows: the clock starts again from the new size.
    ASSERT_TRUE(writeFile(path, "ab"));
    setModified(path, 1000);
    EXPECT_FALSE(sightings.isStable(path, t0.addMSecs(2000)));
    EXPECT_FALSE(sightings.isStable(path, t0.addMSecs(3000)));
    // Only the time changes: again not stable.
    setModified(path, 1000.5);
    EXPECT_FALSE(sightings.isStable(path, t0.addMSecs(3600)));
    EXPECT_TRUE(sightings.isStable(path, t0.addMSecs(5100)));

    // A copy that pauses for longer than that holds its file open for writing meanwhile.
    QFile writer(path);
    ASSERT_TRUE(writer.open(QIODevice::Append));
    EXPECT_FALSE(sightings.isStable(path, t0.addSecs(600)));
    writer.close();
    EXPECT_TRUE(sightings.isStable(path, t0.addSecs(600)));

    EXPECT_FALSE(sightings.isStable(dir.filePath("missing.mov"), t0));
    EXPECT_EQ(sightings.size(), 1);
}

} // namespace
} // namespace corvel
