#pragma once

#include <QList>
#include <QLocalServer>
#include <QObject>
#include <QString>
#include <QUrl>

namespace corvel {

// Keeps one running instance per state folder. The first process holds an exclusive lock on a
// file in that folder for its whole life and listens on a private local socket; a later launch
// finds the lock taken and hands its files and links over that socket. The lock alone decides
// who runs, so two launches at the same instant, or a first instance that is stopped or busy,
// never give two instances. Lives on the main thread.
class SingleInstance final : public QObject
{
    Q_OBJECT

public:
    enum class Role
    {
        primary,     // holds the lock; later launches reach this process
        forwarded,   // the running instance took the URLs
        refused,     // an instance runs but did not take the URLs in time
        unavailable, // the lock file cannot be made (no state folder); run on alone
    };

    // Messages above this size are refused: a link with many thousands of clips still fits.
    static constexpr qint64 kMaxMessageBytes = 64 * 1024 * 1024;

    SingleInstance(QString socketPath, QString lockPath, QObject* parent = nullptr);
    ~SingleInstance() override;
    Q_DISABLE_COPY_MOVE(SingleInstance)

    // In the user's runtime folder, which only the user can enter; one per state folder.
    static QString defaultSocketPath(const QString& stateFolder);
    // The lock file in the state folder.
    static QString defaultLockPath(const QString& stateFolder);

    // Becomes the running instance, or hands `urls` to it. Blocks for at most about
    // `timeoutMs`. Listeners must take the URLs of urlsReceived before returning: the launch
    // that sent them is told they were taken once every listener has returned.
    Role claim(const QList<QUrl>& urls, int timeoutMs = 5000);

signals:
    // URLs another launch handed over.
    void urlsReceived(const QList<QUrl>& urls);

private:
    void acceptConnections();
    bool tryLock();
    Role handOver(const QList<QUrl>& urls, int timeoutMs);

    QString m_socketPath;
    QString m_lockPath;
    int m_lockFd = -1;
    QLocalServer m_server;
};

} // namespace corvel
