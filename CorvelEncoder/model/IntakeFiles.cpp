#include "CorvelEncoder/model/IntakeFiles.h"

#include "CorvelEncoderCore/CorvelIdentity.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>

#include <algorithm>
#include <memory>

#include <dirent.h>

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

struct Walk
{
    QString root; // canonical
    QStringList files;
    QStringList* unreadable = nullptr;
    QSet<QString> walked;
};

// Runs of digits compare by their value, the rest ignoring case; ties by the plain text, so
// the order is total.
bool naturalLess(const QString& a, const QString& b)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            const qsizetype si = i;
            const qsizetype sj = j;
            while (i < a.size() && a[i].isDigit())
                ++i;
            while (j < b.size() && b[j].isDigit())
                ++j;
            // Without leading zeros, the longer run is the larger number.
            QStringView x = QStringView(a).sliced(si, i - si);
            QStringView y = QStringView(b).sliced(sj, j - sj);
            while (x.size() > 1 && x.front() == u'0')
                x = x.sliced(1);
            while (y.size() > 1 && y.front() == u'0')
                y = y.sliced(1);
            if (x.size() != y.size())
                return x.size() < y.size();
            if (const int c = x.compare(y); c != 0)
                return c < 0;
            continue;
        }
        const QChar x = a[i].toCaseFolded();
        const QChar y = b[j].toCaseFolded();
        if (x != y)
            return x < y;
        ++i;
        ++j;
    }
    if (a.size() - i != b.size() - j)
        return a.size() - i < b.size() - j;
    return a < b;
}

// Qt leaves names that are not UTF-8 out of its listings (no QString could open them), so
// they are found in the raw one.
void listUnreadable(const QString& folder, QStringList& into)
{
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(QFile::encodeName(folder).constData()),
                                                  ::closedir);
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir.get())) {
        const QByteArray name(entry->d_name);
        if (name.startsWith('.'))
            continue;
        QStringDecoder utf8(QStringDecoder::Utf8);
        const QString decoded = utf8(name);
        if (utf8.hasError())
            into.append(QDir(folder).filePath(decoded));
    }
}

void collectInto(Walk& walk, const QString& folder, int depth)
{
    if (depth > kMaxFolderDepth)
        return;
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    if (canonical.isEmpty() || walk.walked.contains(canonical))
        return;
    // A link to "/" in a watch folder must not make every tick crawl the whole disk.
    if (canonical != walk.root && !canonical.startsWith(walk.root + u'/'))
        return;
    walk.walked.insert(canonical);
    if (walk.unreadable)
        listUnreadable(folder, *walk.unreadable);
    QFileInfoList entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
    while (it.hasNext()) {
        it.next();
        const QFileInfo entry = it.fileInfo();
        if (entry.fileName() == kWatchOutputFolderName || entry.isHidden())
            continue;
        entries.append(entry);
    }
    std::sort(entries.begin(), entries.end(), [&](const QFileInfo& a, const QFileInfo& b) {
        return naturalLess(a.fileName(), b.fileName());
    });
    for (const QFileInfo& entry : std::as_const(entries)) {
        if (entry.isDir())
            collectInto(walk, entry.filePath(), depth + 1);
        else
            walk.files.append(entry.filePath());
    }
}

} // namespace

QList<QUrl> commandLineURLs(const QStringList& arguments, const QString& workingDirectory)
{
    QList<QUrl> urls;
    const QString schemePrefix = QString(CorvelIdentity::urlScheme) + u':';
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument.startsWith(u'-'))
            continue;
        if (argument.toLower().startsWith(schemePrefix)) {
            // Browsers and people leave spaces and braces raw.
            QUrl url(argument, QUrl::TolerantMode);
            if (!url.isValid()) {
                url = QUrl();
                url.setScheme(QString(CorvelIdentity::urlScheme));
            }
            urls.append(url);
            continue;
        }
        // An address (http://…, file://server/…) stays one, to be refused by name.
        static const QRegularExpression address(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
        if (address.match(argument).hasMatch()) {
            urls.append(QUrl(argument));
            continue;
        }
        const QString path = expandedHome(argument);
        urls.append(QUrl::fromLocalFile(QDir(workingDirectory).absoluteFilePath(path)));
    }
    return urls;
}

QStringList collectFiles(const QString& folder, QStringList* unreadable)
{
    Walk walk;
    walk.root = QFileInfo(folder).canonicalFilePath();
    walk.unreadable = unreadable;
    collectInto(walk, folder, 0);
    return walk.files;
}

} // namespace corvel
