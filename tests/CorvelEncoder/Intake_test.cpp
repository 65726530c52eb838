#include "CorvelEncoder/IncomingOpener.h"
#include "CorvelEncoder/IntakeFiles.h"
#include "CorvelEncoder/SingleInstance.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSet>
#include <QTemporaryDir>
#include <QUrlQuery>

#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace corvel {
namespace {

using testing::waitUntil;

void touch(const QString& path)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
}

TEST(Intake, CommandLineURLs)
{
    const QStringList arguments{
        "/usr/bin/corvel-encoder",
        "-platform",
        "clip.mov",
        "~/Videos/a b.mov",
        "/abs/c.mov",
        "CorvelEncoder://enqueue?path=/x.corveljob",
        "corvelencoder://bad url with spaces%zz",
        "corvelencoder://enqueue?source=/m/My Clip.mov&naming={name}_web",
        "--flag",
    };
    const QList<QUrl> urls = commandLineURLs(arguments, QStringLiteral("/work/dir"));
    ASSERT_EQ(urls.size(), 6);
    EXPECT_EQ(urls[0], QUrl::fromLocalFile("/work/dir/clip.mov"));
    EXPECT_EQ(urls[1], QUrl::fromLocalFile(QDir::homePath() + "/Videos/a b.mov"));
    EXPECT_EQ(urls[2], QUrl::fromLocalFile("/abs/c.mov"));
    EXPECT_EQ(urls[3].scheme(), u"corvelencoder");
    EXPECT_EQ(urls[3].query(), u"path=/x.corveljob");
    // A link is never a file name: one that cannot be read is the bare scheme, which intake
    // refuses as not a link; raw spaces and braces, as browsers leave them, read fine.
    EXPECT_EQ(urls[4].toString(), u"corvelencoder:");
    const QUrlQuery query(urls[5]);
    EXPECT_EQ(query.queryItemValue("source", QUrl::FullyDecoded), u"/m/My Clip.mov");
    EXPECT_EQ(query.queryItemValue("naming", QUrl::FullyDecoded), u"{name}_web");
}

TEST(Intake, CollectFilesWalksFiveLevelsAndSkipsHiddenAndOutput)
{
    QTemporaryDir dir;
    const QString root = dir.path();
    QString deep = root;
    QSet<QString> expected;
    for (int level = 0; level <= 7; ++level) {
        touch(deep + "/level" + QString::number(level) + ".mov");
        if (level <= 5)
            expected.insert(deep + "/level" + QString::number(level) + ".mov");
        deep += "/sub" + QString::number(level);
    }
    touch(root + "/.hidden.mov");
    touch(root + "/.hiddenFolder/inside.mov");
    touch(root + "/Corvel Output/done.mov");
    touch(root + "/sub0/Corvel Output/done.mov");
    touch(root + "/notes.txt");
    expected.insert(root + "/notes.txt");

    const QStringList files = collectFiles(root);
    EXPECT_EQ(QSet<QString>(files.begin(), files.end()), expected);
    EXPECT_EQ(files.size(), expected.size());
    EXPECT_TRUE(collectFiles(root + "/missing").isEmpty());
}

TEST(Intake, CollectFilesEndsOnLinkLoopsAndWalksEachFolderOnce)
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

TEST(Intake, CollectFilesListsInNaturalOrderAndReportsNamesThatAreNotUtf8)
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

TEST(Intake, IncomingOpenerHoldsURLsUntilAHandlerExists)
{
    IncomingOpener opener;
    opener.receive({QUrl::fromLocalFile("/a.mov")});
    opener.receive({QUrl::fromLocalFile("/b.mov")});

    QObject context;
    QList<QUrl> delivered;
    const QList<QUrl> pending =
        opener.install(&context, [&](const QList<QUrl>& urls) { delivered += urls; });
    EXPECT_EQ(pending, (QList<QUrl>{QUrl::fromLocalFile("/a.mov"), QUrl::fromLocalFile("/b.mov")}));

    // Later URLs go to the handler through the event loop, never inside receive().
    opener.receive({QUrl::fromLocalFile("/c.mov")});
    EXPECT_TRUE(delivered.isEmpty());
    ASSERT_TRUE(waitUntil([&] { return !delivered.isEmpty(); }));
    EXPECT_EQ(delivered, QList<QUrl>{QUrl::fromLocalFile("/c.mov")});

    opener.uninstall(&context);
    opener.receive({QUrl::fromLocalFile("/d.mov")});
    EXPECT_EQ(opener.install(&context, [](const QList<QUrl>&) {}),
              QList<QUrl>{QUrl::fromLocalFile("/d.mov")});
}

TEST(Intake, IncomingOpenerLosesNothingAcrossThreads)
{
    IncomingOpener opener;
    QObject context;
    std::atomic<bool> go{false};
    constexpr int kPerThread = 500;
    std::vector<std::thread> senders;
    for (int t = 0; t < 4; ++t) {
        senders.emplace_back([&, t] {
            while (!go)
                std::this_thread::yield();
            for (int i = 0; i < kPerThread; ++i)
                opener.receive({QUrl::fromLocalFile(QStringLiteral("/%1/%2.mov").arg(t).arg(i))});
        });
    }
    QList<QUrl> delivered;
    go = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    delivered += opener.install(&context, [&](const QList<QUrl>& urls) { delivered += urls; });
    for (auto& sender : senders)
        sender.join();
    ASSERT_TRUE(waitUntil([&] { return delivered.size() >= 4 * kPerThread; }));
    // Every delivery was posted before the senders ended: none may still be on its way.
    QCoreApplication::processEvents();
    EXPECT_EQ(delivered.size(), 4 * kPerThread);
    EXPECT_EQ(QSet<QUrl>(delivered.begin(), delivered.end()).size(), 4 * kPerThread);
}

TEST(Intake, StaleSocketDoesNotBlockTheNextStart)
{
    QTemporaryDir dir;
    const QString socket = dir.filePath("stale.socket");
    {
        // A socket file nobody listens on, as a crashed instance leaves behind.
        QLocalServer crashed;
        crashed.setSocketOptions(QLocalServer::UserAccessOption);
        ASSERT_TRUE(crashed.listen(socket));
        crashed.close();
        touch(socket);
    }
    ASSERT_TRUE(QFile::exists(socket));
    SingleInstance next(socket, socket + ".lock");
    EXPECT_EQ(next.claim({QUrl::fromLocalFile("/a.mov")}), SingleInstance::Role::primary);
}

TEST(Intake, ListenerDropsMalformedAndOversizedMessages)
{
    QTemporaryDir dir;
    const QString socket = dir.filePath("guard.socket");
    SingleInstance first(socket, socket + ".lock");
    ASSERT_EQ(first.claim({}), SingleInstance::Role::primary);
    bool gotSignal = false;
    QObject::connect(&first, &SingleInstance::urlsReceived, &first,
                     [&](const QList<QUrl>&) { gotSignal = true; });

    const QByteArray messages[] = {
        QByteArray("\x00\x00\x00\x05[1,2]", 9),        // not strings
        QByteArray("\x00\x00\x00\x03{}x", 7),          // not an array
        QByteArray("\x7f\xff\xff\xff", 4) + "[\"a\"]", // claims an enormous length
    };
    for (const QByteArray& message : messages) {
        std::atomic<bool> closed{false};
        std::atomic<bool> done{false};
        std::thread peer([&] {
            QLocalSocket client;
            client.connectToServer(socket);
            if (client.waitForConnected(2000)) {
                client.write(message);
                client.waitForBytesWritten(2000);
                // The listener must hang up without answering.
                client.waitForReadyRead(1500);
                closed = client.bytesAvailable() == 0;
            }
            done = true;
        });
        // The listener answers only while the event loop turns.
        EXPECT_TRUE(waitUntil([&] { return done.load(); }));
        peer.join();
        EXPECT_TRUE(closed.load());
    }
    EXPECT_FALSE(gotSignal);
}

// Runs `body` in a child process as the unprivileged user "nobody" and returns its exit code,
// keeping this process's event loop turning meanwhile. The child may only make system calls.
int runAsNobody(const std::function<int()>& body)
{
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(90);
        ::_exit(body());
    }
    int status = 0;
    waitUntil([&] { return ::waitpid(child, &status, WNOHANG) == child; }, 10000);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 99;
}

sockaddr_un socketAddress(const QString& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray bytes = QFile::encodeName(path);
    std::memcpy(address.sun_path, bytes.constData(),
                std::min<size_t>(bytes.size(), sizeof address.sun_path - 1));
    return address;
}

TEST(Intake, LocalSocketTalksOnlyToTheSameUser)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "acting as another user needs root";
    QTemporaryDir dir;
    const QFileDevice::Permissions open = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                          QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    ASSERT_TRUE(QFile::setPermissions(dir.path(), open));

    // Another user reaching our listener, even past the file permissions, is hung up on.
    const QString ours = dir.filePath("ours.socket");
    SingleInstance first(ours, ours + ".lock");
    ASSERT_EQ(first.claim({}), SingleInstance::Role::primary);
    ASSERT_TRUE(QFile::setPermissions(ours, open));
    bool gotSignal = false;
    QObject::connect(&first, &SingleInstance::urlsReceived, &first,
                     [&](const QList<QUrl>&) { gotSignal = true; });
    const sockaddr_un oursAddress = socketAddress(ours);
    const QByteArray message = QByteArray("\x00\x00\x00\x11[\"file:///a.mov\"]", 21);
    const int intruder = runAsNobody([&] {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&oursAddress), sizeof oursAddress))
            return 2;
        if (::send(fd, message.constData(), message.size(), MSG_NOSIGNAL) != message.size())
            return 0; // already hung up on
        pollfd wait{fd, POLLIN, 0};
        ::poll(&wait, 1, 3000);
        char ack = 0;
        return ::read(fd, &ack, 1) == 1 ? 1 : 0;
    });
    EXPECT_EQ(intruder, 0);
    QCoreApplication::processEvents();
    EXPECT_FALSE(gotSignal);

    // A listener of another user on our socket path is never handed our files.
    const QString taken = dir.filePath("taken.socket");
    const sockaddr_un takenAddress = socketAddress(taken);
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    int squatterResult = -1;
    std::thread squatter([&] {
        squatterResult = runAsNobody([&] {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            if (::bind(fd, reinterpret_cast<const sockaddr*>(&takenAddress), sizeof takenAddress) ||
                ::listen(fd, 1))
                return 2;
            const char byte = 1;
            [[maybe_unused]] const ssize_t n = ::write(ready[1], &byte, 1);
            pollfd wait{fd, POLLIN, 0};
            if (::poll(&wait, 1, 5000) != 1)
                return 3;
            const int peer = ::accept(fd, nullptr, nullptr);
            char got = 0;
            return ::read(peer, &got, 1) > 0 ? 1 : 0;
        });
    });
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    SingleInstance second(taken, taken + ".lock");
    EXPECT_NE(second.claim({QUrl::fromLocalFile("/secret/plan.mov")}, 2000),
              SingleInstance::Role::forwarded);
    squatter.join();
    ::close(ready[0]);
    ::close(ready[1]);
    EXPECT_NE(squatterResult, 1) << "the squatter was handed the files";
}

} // namespace
} // namespace corvel
