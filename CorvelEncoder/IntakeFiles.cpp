#include "CorvelEncoder/IntakeFiles.h"

#include "CorvelEncoderCore/CorvelIdentity.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QSet>

namespace corvel {

namespace {

constexpr int kMaxFolderDepth = 5;

QString expandedHome(const QString& path)
{
    if (path == u"~")
        return QDir::homePath();
    if (path.startsWith(u"~/"))
        return QDir::homePath() + path.mid(1);
    return path;
}

void collectInto(QStringList& files, QSet<QString>& walked, const QString& folder, int depth)
{
    if (depth > kMaxFolderDepth)
        return;
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    if (canonical.isEmpty() || walked.contains(canonical))
        return;
    walked.insert(canonical);
    // Unsorted: the order the file system gives, like a plain directory listing.
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
    while (it.hasNext()) {
        it.next();
        const QFileInfo entry = it.fileInfo();
        if (entry.fileName() == kWatchOutputFolderName || entry.isHidden())
            continue;
        if (entry.isDir())
            collectInto(files, walked, entry.filePath(), depth + 1);
        else
            files.append(entry.filePath());
    }
}

} // namespace

QList<QUrl> commandLineURLs(const QStringList& arguments, const QString& workingDirectory)
{
    QList<QUrl> urls;
    const QString schemePrefix = QString(CorvelIdentity::urlScheme) + QStringLiteral("://");
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument.startsWith(u'-'))
            continue;
        if (argument.toLower().startsWith(schemePrefix)) {
            const QUrl url(argument, QUrl::StrictMode);
            if (url.isValid()) {
                urls.append(url);
                continue;
            }
        }
        const QString path = expandedHome(argument);
        urls.append(QUrl::fromLocalFile(QDir(workingDirectory).absoluteFilePath(path)));
    }
    return urls;
}

QStringList collectFiles(const QString& folder)
{
    QStringList files;
    QSet<QString> walked;
    collectInto(files, walked, folder, 0);
    return files;
}

} // namespace corvel
