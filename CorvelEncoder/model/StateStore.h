#pragma once

#include <QByteArray>
#include <QString>

#include <expected>
#include <optional>

namespace corvel {

// Where the model keeps its state files, by file name. Used on the main thread only.
class StateStore
{
public:
    virtual ~StateStore() = default;

    // The file's bytes, or nothing when it is missing or cannot be opened.
    virtual std::optional<QByteArray> read(const QString& name) = 0;
    // Replaces the file whole and atomically; on failure the old file stays untouched and the
    // error says why, in a sentence for the user.
    virtual std::expected<void, QString> write(const QString& name, const QByteArray& data) = 0;
    // Copies the file to `copyName`, replacing an older copy. Returns success.
    virtual bool keepCopy(const QString& name, const QString& copyName) = 0;
    // Whether the file is kept at all; writing one that is not is skipped (the command line's
    // queue, whose encoding alone takes seconds for 100,000 jobs).
    virtual bool keeps(const QString& name) const
    {
        (void)name;
        return true;
    }
};

} // namespace corvel
