#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>

namespace corvel {

// Reports changes to the entries of one folder. The model's repeating timer covers what the
// watcher misses (changes deep inside sub-folders, files that only grow), so this is only
// a prompt to scan sooner. Lives on the main thread.
class WatchFolder final : public QObject
{
    Q_OBJECT

public:
    explicit WatchFolder(QObject* parent = nullptr);
    Q_DISABLE_COPY_MOVE(WatchFolder)

    // Stops any current watch and watches `path`; when it cannot be watched nothing more
    // happens and no error is reported.
    void start(const QString& path);
    void stop();
    bool isWatching() const { return !m_watcher.directories().isEmpty(); }

signals:
    void changed();

private:
    QFileSystemWatcher m_watcher;
};

} // namespace corvel
