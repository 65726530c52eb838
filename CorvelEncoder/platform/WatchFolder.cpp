#include "CorvelEncoder/platform/WatchFolder.h"

namespace corvel {

WatchFolder::WatchFolder(QObject* parent) : QObject(parent)
{
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &WatchFolder::changed);
}

void WatchFolder::start(const QString& path)
{
    stop();
    m_watcher.addPath(path);
}

void WatchFolder::stop()
{
    const QStringList directories = m_watcher.directories();
    if (!directories.isEmpty())
        m_watcher.removePaths(directories);
}

} // namespace corvel
