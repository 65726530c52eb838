#pragma once

#include "CorvelEncoder/model/StateStore.h"

#include <QString>

namespace corvel {

// The standard locations of the application's files.
namespace AppFiles {

// ~/.local/share/Corvel Encoder (or the home folder's "Corvel Encoder"); created, with any
// missing parents, on every call. A failure to create it is ignored.
QString supportDirectory();
// ~/Videos/Corvel Encoder (or under home); not created here.
QString defaultOutputDirectory();

} // namespace AppFiles

// State files in one folder. A save writes ".NAME.corvel-saving.XXXXXX" beside the file and
// renames it over the file only once every byte is on disk, so a full disk or a kill leaves the
// previous file whole. The folder is created before each access. Reading a file removes what a
// save of it that was cut off left beside it, so only the one instance that owns the folder
// reads through this store.
class AppFilesStore final : public StateStore
{
public:
    explicit AppFilesStore(QString directory);

    const QString& directory() const { return m_directory; }

    std::optional<QByteArray> read(const QString& name) override;
    std::expected<void, QString> write(const QString& name, const QByteArray& data) override;
    bool keepCopy(const QString& name, const QString& copyName) override;

private:
    QString path(const QString& name) const;

    QString m_directory;
};

} // namespace corvel
