#include "CorvelEncoder/model/IntakeFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace corvel {
namespace {

void touch(const QString& path)
{
    ASSERT_TRUE(testing::writeFile(path, {}));
}

TEST(IntakeFiles, CommandLineURLs)
{
    const QStringList arguments{"/usr/bin/corvel-encoder",
                                "-platform",
                                "clip.mov",
                                "~/Videos/a b.mov",
                                "/abs/c.mov",
                                "CorvelEncoder://enqueue?path=/x.corveljob",
                                "--flag"};
    const QList<QUrl> urls = commandLineURLs(arguments, u"/work/dir"_s);
    ASSERT_EQ(urls.size(), 4);
    EXPECT_EQ(urls[0], QUrl::fromLocalFile("/work/dir/clip.mov"));
    EXPECT_EQ(urls[1], QUrl::fromLocalFile(QDir::homePath() + "/Videos/a b.mov"));
    EXPECT_EQ(urls[2], QUrl::fromLocalFile("/abs/c.mov"));
    EXPECT_EQ(urls[3].scheme(), u"corvelencoder");
    EXPECT_EQ(urls[3].query(), u"path=/x.corveljob");
}

TEST(IntakeFiles, CollectFilesEndsOnLinkLoopsAndWalksEachFolderOnce)
{
    QTemporaryDir dir;
    const QString root = dir.path() + "/drop";
    touch(root + "/a.mov");
    touch(root + "/inner/b.mov");
    touch(dir.path() + "/elsewhere/c.mov");
    // Ten links back to the top would give 10^5 walks of it without loop detection.
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(QFile::link(root, root + "/inner/up" + QString::number(i)));
    ASSERT_TRUE(QFile::link(root + "/inner", root + "/inner/self"));
    ASSERT_TRUE(QFile::link(dir.path() + "/elsewhere", root + "/outside"));
    ASSERT_TRUE(QFile::link(root + "/inner", root + "/inner again"));
    ASSERT_TRUE(QFile::link(root + "/ping", root + "/pong"));
    ASSERT_TRUE(QFile::link(root + "/pong", root + "/ping"));

    const QStringList files = collectFiles(root);
    QStringList names;
    for (const QString& file : files)
        names.append(QFileInfo(file).fileName());
    names.sort();
    // Links never lead the walk out of the folder. The dangling ping-pong pair is listed as
    // files; intake drops them as non-movies.
    EXPECT_EQ(names, (QStringList{"a.mov", "b.mov", "ping", "pong"}));
}

TEST(IntakeFiles, CollectFilesListsInNaturalOrderAndReportsNamesThatAreNotUtf8)
{
    QTemporaryDir dir;
    for (const char* name : {"clip_10.mov", "Clip_9.mov", "clip_100.mov", "b/x.mov", "a.mov"})
        touch(dir.filePath(name));
    const QByteArray bad = QFile::encodeName(dir.filePath("bad")) + "\xff.mov";
    const int fd = ::open(bad.constData(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);

    QStringList unreadable;
    QStringList names;
    for (const QString& file : collectFiles(dir.path(), &unreadable))
        names.append(file.mid(dir.path().size() + 1));
    EXPECT_EQ(names,
              (QStringList{"a.mov", "b/x.mov", "Clip_9.mov", "clip_10.mov", "clip_100.mov"}));
    ASSERT_EQ(unreadable.size(), 1) << names.join(u'|').toStdString();
    EXPECT_TRUE(unreadable.first().endsWith(u"bad\uFFFD.mov"));
    ::unlink(bad.constData());
}

} // namespace
} // namespace corvel
