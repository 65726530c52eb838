#include "CorvelEncoder/SingleInstance.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QTimer>
#include <QtEndian>

#include <memory>

#include <sys/socket.h>
#include <unistd.h>

namespace corvel {

namespace {

// A message is a 4-byte big-endian length and a JSON array of URL strings; the listener
// answers one byte once it has taken the URLs.
constexpr char kAck = 'K';
constexpr int kPeerTimeoutMs = 5000;

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

SingleInstance::SingleInstance(QString socketPath, QObject* parent)
    : QObject(parent), m_socketPath(std::move(socketPath))
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
}

QString SingleInstance::defaultSocketPath()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return QDir(folder).filePath(QStringLiteral("corvel-encoder-%1.socket").arg(::getuid()));
}

SingleInstance::Role SingleInstance::claim(const QList<QUrl>& urls, int timeoutMs)
{
    QLocalSocket peer;
    peer.connectToServer(m_socketPath);
    if (peer.waitForConnected(timeoutMs)) {
        // Another user's listener must never learn what this launch opens.
        if (!peerIsThisUser(peer.socketDescriptor()))
            return Role::unavailable;
        peer.write(encodeMessage(urls));
        if (!peer.waitForBytesWritten(timeoutMs))
            return Role::unavailable;
        // The listener answers once the URLs are safely with it.
        while (peer.bytesAvailable() < 1) {
            if (!peer.waitForReadyRead(timeoutMs))
                return Role::unavailable;
        }
        return peer.read(1) == QByteArray(1, kAck) ? Role::forwarded : Role::unavailable;
    }
    const QLocalSocket::LocalSocketError error = peer.error();
    if (error != QLocalSocket::ServerNotFoundError && error != QLocalSocket::ConnectionRefusedError)
        return Role::unavailable;

    // Nobody listens; a socket file left by a crash would make listen() fail.
    QLocalServer::removeServer(m_socketPath);
    return m_server.listen(m_socketPath) ? Role::primary : Role::unavailable;
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
            if (!urls) {
                socket->abort();
                return;
            }
            socket->write(QByteArray(1, kAck));
            socket->flush();
            socket->disconnectFromServer();
            emit urlsReceived(*urls);
        });
    }
}

} // namespace corvel
