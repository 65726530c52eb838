#pragma once

#include <QByteArray>
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
// anything (or, where the file system has no such link, by a rename over an empty file this
// process created exclusively under that name). So after any kill a file under a final output name
// is a complete movie or absent, and writing never goes through a link or file that someone else
// put in the folder.
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
    // Removes the partial file, if the name still holds the file this claim created; in its
    // folder even when that was renamed meanwhile.
    void discard();
    // The partial file a discard could not remove (a folder made read-only), else empty.
    const QString& leftBehind() const { return m_leftBehind; }

    // Makes commit() meet hard links and RENAME_NOREPLACE refused, as on FAT and exFAT.
    static void refuseLinksForTesting(bool refuse);

private:
    ClaimedOutput(OutputNames& names, QString finalPath, QString partialPath, int fd);
    bool partialIsOurs() const;
    // The partial file as the folder held open and a name in it, or as a path without one.
    int partialDir() const;
    const char* partialName() const;
    // `path` in the folder held open, under the name that folder has now.
    QString currentPath(const QString& path) const;
    // Gives the complete file the name `target`: 0, or the errno (EEXIST when it is taken).
    int placeAt(const QString& target);
    void end();

    OutputNames& m_names;
    QString m_finalPath;
    QString m_partialPath;
    QByteArray m_partialNative;
    QString m_leftBehind;
    int m_fd = -1;
    int m_dirFd = -1;
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
