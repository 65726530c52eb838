#include "CorvelEncoder/ui/SingleInstance.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QTemporaryDir>

#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace corvel::testing {
namespace {

// A first instance listening in a scratch folder, and whether files ever reached it.
class SingleInstanceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(first.claim({}), SingleInstance::Role::primary);
        QObject::connect(&first, &SingleInstance::urlsReceived, &first,
                         [this](const QList<QUrl>&) { gotSignal = true; });
    }
    QTemporaryDir dir;
    const QString socket = dir.filePath("first.socket");
    SingleInstance first{socket, socket + ".lock"};
    bool gotSignal = false;
};

TEST_F(SingleInstanceTest, ListenerHangsUpOnMalformedAndOversizedMessages)
{
    const QByteArray messages[] = {
        QByteArray("\x00\x00\x00\x05[1,2]", 9),        // not strings
        QByteArray("\x00\x00\x00\x03{}x", 7),          // not an array
        QByteArray("\x7f\xff\xff\xff", 4) + "[\"a\"]", // claims an enormous length
    };
    for (const QByteArray& message : messages) {
        QLocalSocket client;
        client.connectToServer(socket);
        ASSERT_TRUE(client.waitForConnected(2000));
        client.write(message);
        // The listener answers only while the event loop turns; it hangs up without a word.
        EXPECT_TRUE(waitUntil([&] { return client.state() == QLocalSocket::UnconnectedState; }));
        EXPECT_EQ(client.readAll(), QByteArray());
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

TEST_F(SingleInstanceTest, LocalSocketTalksOnlyToTheSameUser)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "acting as another user needs root";
    const QFileDevice::Permissions open = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                          QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    ASSERT_TRUE(QFile::setPermissions(dir.path(), open));

    // Another user reaching our listener, even past the file permissions, is hung up on.
    ASSERT_TRUE(QFile::setPermissions(socket, open));
    const sockaddr_un oursAddress = socketAddress(socket);
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
    const QByteArray takenLock = QFile::encodeName(taken + ".lock");
    int squatterResult = -1;
    std::thread squatter([&] {
        squatterResult = runAsNobody([&] {
            // It holds the lock as well, so the launch can only try the socket.
            const int lock = ::open(takenLock.constData(), O_RDWR | O_CREAT, 0600);
            if (lock < 0 || ::flock(lock, LOCK_EX) != 0)
                return 4;
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            if (::bind(fd, reinterpret_cast<const sockaddr*>(&takenAddress), sizeof takenAddress) ||
                ::listen(fd, 1))
                return 2;
            pollfd wait{fd, POLLIN, 0};
            if (::poll(&wait, 1, 5000) != 1)
                return 3;
            const int peer = ::accept(fd, nullptr, nullptr);
            char got = 0;
            return ::read(peer, &got, 1) > 0 ? 1 : 0;
        });
    });
    // Bound after it took the lock; a launch that finds the path before it listens retries.
    EXPECT_TRUE(waitUntil([&] { return QFileInfo::exists(taken); })); // and join it anyway
    SingleInstance second(taken, taken + ".lock");
    EXPECT_EQ(second.claim({QUrl::fromLocalFile("/secret/plan.mov")}, 2000),
              SingleInstance::Role::refused);
    squatter.join();
    EXPECT_NE(squatterResult, 1) << "the squatter was handed the files";
}

// The lock in the state folder decides who runs, not the socket: a launch that holds no lock
// never runs beside the holder, even when it cannot reach it.
TEST_F(SingleInstanceTest, TheLockAloneDecidesWhoRuns)
{
    // Its own socket path, where nobody listens: once it ran as a second instance.
    SingleInstance second(dir.filePath("second.socket"), socket + ".lock");
    EXPECT_EQ(second.claim({QUrl::fromLocalFile("/a.mov")}, 300), SingleInstance::Role::refused);
    EXPECT_FALSE(QFile::exists(dir.filePath("second.socket")));

    // Another state folder is another instance. A socket file nobody listens on, as a crashed
    // instance leaves behind, does not keep it from listening.
    const QString stale = dir.filePath("other.socket");
    {
        QLocalServer crashed;
        ASSERT_TRUE(crashed.listen(stale));
        crashed.close();
        ASSERT_TRUE(writeFile(stale, {}));
    }
    SingleInstance elsewhere(stale, dir.filePath("other/instance.lock"));
    EXPECT_EQ(elsewhere.claim({}), SingleInstance::Role::primary);
    QLocalSocket later;
    later.connectToServer(stale);
    EXPECT_TRUE(later.waitForConnected(1000)) << "nobody listens where the stale socket was";
}

} // namespace
} // namespace corvel::testing
