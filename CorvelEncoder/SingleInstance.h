#pragma once

#include <QList>
#include <QLocalServer>
#include <QObject>
#include <QString>
#include <QUrl>

namespace corvel {

// Keeps one running instance per user. The first process listens on a private local socket;
// a later launch hands its files and links to it and exits. Lives on the main thread.
class SingleInstance final : public QObject
{
    Q_OBJECT

public:
    enum class Role
    {
        primary,     // listening; later launches reach this process
        forwarded,   // another instance took the URLs
        unavailable, // no socket could be used; run on alone
    };

    // Messages above this size are refused: a link with many thousands of clips still fits.
    static constexpr qint64 kMaxMessageBytes = 64 * 1024 * 1024;

    explicit SingleInstance(QString socketPath, QObject* parent = nullptr);
    ~SingleInstance() override;
    Q_DISABLE_COPY_MOVE(SingleInstance)

    // In the user's runtime folder, which only the user can enter.
    static QString defaultSocketPath();

    // Hands `urls` to a listening instance, or becomes the listening one. A socket left behind
    // by a crashed instance is replaced. Blocks for at most about `timeoutMs`.
    Role claim(const QList<QUrl>& urls, int timeoutMs = 5000);

signals:
    // URLs another launch handed over.
    void urlsReceived(const QList<QUrl>& urls);

private:
    void acceptConnections();

    QString m_socketPath;
    QLocalServer m_server;
};

} // namespace corvel
