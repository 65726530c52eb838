#include "cli/MemoryStateStore.h"

#include "CorvelEncoderCore/StateFiles.h"

#include <QDir>
#include <QFile>

namespace corvel {

MemoryStateStore::MemoryStateStore(QString directory) : m_directory(std::move(directory)) {}

std::optional<QByteArray> MemoryStateStore::read(const QString& name)
{
    if (const auto it = m_written.constFind(name); it != m_written.cend())
        return *it;
    if (name == kQueueFileName)
        return std::nullopt;
    QFile file(QDir(m_directory).filePath(name));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

std::expected<void, QString> MemoryStateStore::write(const QString& name, const QByteArray& data)
{
    m_written.insert(name, data);
    return {};
}

bool MemoryStateStore::keepCopy(const QString&, const QString&)
{
    // The file on disk is left as it is, so there is nothing to keep aside.
    return true;
}

bool MemoryStateStore::keeps(const QString& name) const
{
    // The queue is never read back: this run's jobs end with it.
    return name != kQueueFileName;
}

} // namespace corvel
