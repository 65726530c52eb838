#pragma once

#include "CorvelEncoder/model/StateStore.h"

#include <QHash>

namespace corvel {

// Reads settings and saved presets from the desktop application's state folder but never
// writes there: whatever the model saves stays in memory. The queue is never read from disk,
// so a command-line run neither sees nor replaces the desktop queue. Main thread only.
class MemoryStateStore final : public StateStore
{
public:
    explicit MemoryStateStore(QString directory);

    std::optional<QByteArray> read(const QString& name) override;
    std::expected<void, QString> write(const QString& name, const QByteArray& data) override;
    bool keepCopy(const QString& name, const QString& copyName) override;
    bool keeps(const QString& name) const override;

private:
    QString m_directory;
    QHash<QString, QByteArray> m_written;
};

} // namespace corvel
