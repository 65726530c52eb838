#include "CorvelEncoderCore/PathNormalization.h"

#include "CorvelEncoderCore/TextRules.h"

#include <QDir>
#include <QFile>
#include <QList>
#include <QRegularExpression>
#include <QUrl>

#include <pwd.h>
#include <unistd.h>

#include <vector>

namespace corvel {

namespace {

// The home folder of the named user, or nothing when there is no such user.
std::optional<QString> homeFolderOf(const QString& user)
{
    const QByteArray name = user.toLocal8Bit();
    if (name.isEmpty() || name.contains('\0'))
        return std::nullopt;
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    while (getpwnam_r(name.constData(), &entry, buffer.data(), buffer.size(), &found) == ERANGE &&
           buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 2);
    if (!found || !found->pw_dir)
        return std::nullopt;
    return QFile::decodeName(found->pw_dir);
}

// A leading "~" or "~user" replaced by that home folder; other text unchanged.
QString expandingTilde(const QString& path)
{
    if (!path.startsWith(u'~'))
        return path;
    const qsizetype slash = path.indexOf(u'/');
    const QString user = path.mid(1, slash < 0 ? -1 : slash - 1);
    const QString rest = slash < 0 ? QString() : path.mid(slash);
    if (user.isEmpty())
        return QDir::homePath() + rest;
    if (const auto home = homeFolderOf(user))
        return *home + rest;
    return path; // an unknown user: the text stays a relative path
}

} // namespace

QString standardizedPath(QStringView path)
{
    if (path.isEmpty())
        return {};
    const bool absolute = path.startsWith(u'/');
    QList<QStringView> kept;
    for (const QStringView part : path.split(u'/', Qt::SkipEmptyParts)) {
        if (part == u".")
            continue;
        if (part == u"..") {
            if (!kept.isEmpty() && kept.last() != u"..")
                kept.removeLast();
            else if (!absolute)
                kept.append(part);
            continue;
        }
        kept.append(part);
    }
    QString result = absolute ? QStringLiteral("/") : QString();
    for (qsizetype i = 0; i < kept.size(); ++i) {
        if (i > 0)
            result += u'/';
        result += kept[i];
    }
    if (result.isEmpty())
        result = QStringLiteral(".");
    return result;
}

QString parentFolder(QStringView path)
{
    const QString standard = standardizedPath(path);
    const qsizetype slash = standard.lastIndexOf(u'/');
    if (slash <= 0)
        return QStringLiteral("/");
    return standard.left(slash);
}

std::optional<QString> notALocalPath(QStringView text)
{
    if (text.contains(QChar(0)))
        return QStringLiteral("A path contains a NUL character, which no file name can hold.");
    const QString trimmed = trimmedText(text);
    static const QRegularExpression address(QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]*)://"));
    const QRegularExpressionMatch match = address.match(trimmed);
    if (!match.hasMatch())
        return std::nullopt;
    const QString scheme = match.captured(1).toLower();
    if (scheme == u"file") {
        // Read as a local path, file://server/share/a.mov would name some other local file.
        const QString host = QUrl(trimmed).host();
        if (host.isEmpty() || host.compare(u"localhost", Qt::CaseInsensitive) == 0)
            return std::nullopt;
        return trimmed +
               QStringLiteral(" is on another computer (%1); only files and folders on this one "
                              "can be used.")
                   .arg(host);
    }
    if (scheme == u"http" || scheme == u"https" || scheme == u"ftp")
        return trimmed +
               QStringLiteral(" is a web address; only files on this computer can be read. "
                              "Download it first.");
    return trimmed + QStringLiteral(" is not a file on this computer.");
}

QString normalizePath(QStringView text, const std::optional<QString>& baseFolder)
{
    const QString trimmed = trimmedText(text);
    if (trimmed.startsWith(u"file://")) {
        const QUrl url(trimmed);
        if (url.isValid() && url.scheme() == u"file")
            return standardizedPath(url.path(QUrl::FullyDecoded));
    }
    QString path = expandingTilde(trimmed);
    if (!path.startsWith(u'/')) {
        const QString base = baseFolder ? *baseFolder : QDir::homePath();
        path = base + u'/' + path;
    }
    return standardizedPath(path);
}

} // namespace corvel
