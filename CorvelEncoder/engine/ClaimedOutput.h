#pragma once

#include <QString>
#include <QStringList>

#include <expected>
#include <memory>

#include <sys/types.h>

namespace corvel {

class OutputNames;

// An output movie while it is written. The bytes go into a hidden partial file beside the final
// name, which this process created exclusively and holds open and locked for as long as the
// claim lives; they reach the final name only once complete, as a new link that never replaces
// anything. So after any kill a file under a final output name is a complete movie or absent,
// and writing never goes through a link or file that someone else put in the folder.
//
// The partial file's name is derived from the final name, so while it exists no encode of
// either program picks that final name. A partial file whose lock nobody holds belongs to a
// process that ended without finishing it: the next claim in its folder removes it.
class ClaimedOutput final
{
public:
    // Creates the partial file for `finalPath`; fails with an errno value (EEXIST when the
    // partial or the final name is taken). The final name must already be reserved in
    // `names`; the claim releases it there when it ends.
    static std::expected<std::unique_ptr<ClaimedOutput>, int> create(OutputNames& names,
                                                                     const QString& finalPath);
    ~ClaimedOutput();
    ClaimedOutput(const ClaimedOutput&) = delete;
    ClaimedOutput& operator=(const ClaimedOutput&) = delete;

    const QString& finalPath() const { return m_finalPath; }
    const QString& partialPath() const { return m_partialPath; }
    // Where a writer opens the partial file: the descriptor this claim holds, reached through
    // /proc, so whatever now stands under the partial name is never written or read.
    QString writePath() const;

    // Gives the complete file its final name without replacing anything; when another file
    // took that name meanwhile, the next free one. Returns the path the movie now has.
    std::expected<QString, int> commit();
    // Removes the partial file, if the name still holds the file this claim created.
    void discard();

private:
    ClaimedOutput(OutputNames& names, QString finalPath, QString partialPath, int fd);
    bool partialIsOurs() const;
    void end();

    OutputNames& m_names;
    QString m_finalPath;
    QString m_partialPath;
    int m_fd = -1;
    dev_t m_device = 0;
    ino_t m_inode = 0;
};

// The hidden partial file's path for a final output path.
QString partialOutputPath(const QString& finalPath);
// Whether `name` is the name of a partial file.
bool isPartialOutputName(const QString& name);
// Removes `path` when it is a partial file of this user that no live process holds; returns
// whether it did.
bool removeAbandonedPartial(const QString& path);
// Removes every abandoned partial file in `folder`; returns their paths.
QStringList removeAbandonedPartials(const QString& folder);

} // namespace corvel
