#include "CorvelEncoder/ui/SingleInstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <QtEndian>

#include <memory>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

namespace corvel {

namespace {

// A message is a 4-byte big-endian length and a JSON array of URL strings; the listener
// answers one byte once it has taken the URLs.
constexpr char kAck = 'K';
constexpr int kPeerTimeoutMs = 5000;
constexpr int kRetryMs = 25;

QByteArray encodeMessage(const QList<QUrl>& urls)
{
    QJsonArray array;
    for (const QUrl& url : urls)
        array.append(url.toString(QUrl::FullyEncoded));
    const QByteArray body = QJsonDocument(array).toJson(QJsonDocument::Compact);
    QByteArray message(4, '\0');
    qToBigEndian(static_cast<quint32>(body.size()), message.data());
    return message + body;
}

std::optional<QList<QUrl>> decodeBody(const QByteArray& body)
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (!document.isArray())
        return std::nullopt;
    QList<QUrl> urls;
    for (const QJsonValue& value : document.array()) {
        if (!value.isString())
            return std::nullopt;
        const QUrl url(value.toString(), QUrl::StrictMode);
        if (url.isValid() && !url.isEmpty())
            urls.append(url);
    }
    return urls;
}

// Whether the process at the other end of a connected local socket runs as this user. The
// socket file's permissions already keep others out; this also holds when the runtime folder
// is shared or the socket path was taken by someone else.
bool peerIsThisUser(qintptr descriptor)
{
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (::getsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials,
                     &length) != 0)
        return false;
    return credentials.uid == ::getuid();
}

} // namespace

SingleInstance::SingleInstance(QString socketPath, QString lockPath, QObject* parent)
    : QObject(parent), m_socketPath(std::move(socketPath)), m_lockPath(std::move(lockPath))
{
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
}

SingleInstance::~SingleInstance()
{
    if (m_server.isListening()) {
        m_server.close();
        QLocalServer::removeServer(m_socketPath);
    }
    if (m_lockFd >= 0)
        ::close(m_lockFd); // the lock goes with it
}

QString SingleInstance::defaultSocketPath(const QString& stateFolder)
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    const QByteArray folderKey =
        QCryptographicHash::hash(QFile::encodeName(QDir(stateFolder).absolutePath()),
                                 QCryptographicHash::Sha256)
            .toHex()
            .left(12);
    return QDir(folder).filePath(QStringLiteral("corvel-encoder-%1-%2.socket")
                                     .arg(::getuid())
                                     .arg(QString::fromLatin1(folderKey)));
}

QString SingleInstance::defaultLockPath(const QString& stateFolder)
{
    return QDir(stateFolder).filePath(QStringLiteral("instance.lock"));
}

bool SingleInstance::tryLock()
{
    if (m_lockFd < 0) {
        QDir().mkpath(QFileInfo(m_lockPath).path());
        // Close-on-exec: a program started from here must not keep the lock after we end.
        m_lockFd = ::open(QFile::encodeName(m_lockPath).constData(),
                          O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (m_lockFd < 0)
            return false;
    }
    return ::flock(m_lockFd, LOCK_EX | LOCK_NB) == 0;
}

SingleInstance::Role SingleInstance::claim(const QList<QUrl>& urls, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (tryLock()) {
            // No other instance can run now, so a socket file here was left by a crash. Without
            // a listener this instance still runs; later launches then cannot hand over.
            QLocalServer::removeServer(m_socketPath);
            m_server.listen(m_socketPath);
            return Role::primary;
        }
        if (m_lockFd < 0)
            return Role::unavailable;
        // The instance holding the lock may not listen yet, or may just have ended: try the
        // lock again until the time is up.
        QLocalSocket peer;
        peer.connectToServer(m_socketPath);
        if (peer.waitForConnected(int(deadline.remainingTime()))) {
            // Another user's listener must never learn what this launch opens.
            if (!peerIsThisUser(peer.socketDescriptor()))
                return Role::refused;
            peer.write(encodeMessage(urls));
            if (!peer.waitForBytesWritten(int(deadline.remainingTime())))
                return Role::refused;
            // The listener answers once the URLs are safely with it.
            while (peer.bytesAvailable() < 1) {
                if (deadline.hasExpired() || !peer.waitForReadyRead(int(deadline.remainingTime())))
                    return Role::refused;
            }
            return peer.read(1) == QByteArray(1, kAck) ? Role::forwarded : Role::refused;
        }
        if (deadline.hasExpired())
            return Role::refused;
        QThread::msleep(kRetryMs);
    }
}

void SingleInstance::acceptConnections()
{
    while (QLocalSocket* socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        if (!peerIsThisUser(socket->socketDescriptor())) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        // Owned by the connections below, which go away with the socket.
        auto buffer = std::make_shared<QByteArray>();
        // A peer that stalls is dropped instead of holding a connection forever.
        auto* timer = new QTimer(socket);
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, socket, [socket] { socket->abort(); });
        timer->start(kPeerTimeoutMs);
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, buffer] {
            buffer->append(socket->readAll());
            if (buffer->size() < 4)
                return;
            const quint32 length = qFromBigEndian<quint32>(buffer->constData());
            if (length > kMaxMessageBytes || buffer->size() > 4 + qint64(length)) {
                socket->abort();
                return;
            }
            if (buffer->size() < 4 + qint64(length))
                return;
            const auto urls = decodeBody(buffer->mid(4));
            // A launch that gave up waiting (this process was stopped or busy) has told its
            // user the files were not taken; they must not arrive after all.
            char next = 0;
            if (!urls ||
                ::recv(int(socket->socketDescriptor()), &next, 1, MSG_PEEK | MSG_DONTWAIT) == 0) {
                socket->abort();
                return;
            }
            emit urlsReceived(*urls);
            socket->write(QByteArray(1, kAck));
            socket->flush();
            socket->disconnectFromServer();
        });
    }
}

} // namespace corvel
