#include "CorvelEncoder/engine/OutputJournal.h"

#include "CorvelEncoder/engine/ClaimedOutput.h"

#include <QFile>
#include <QUrl>

#include <fcntl.h>
#include <unistd.h>

namespace corvel {

// One line per event: '+' or '-' and the percent-encoded path, so a name holding a line break
// cannot split an entry.
OutputJournal::OutputJournal(QString path) : m_path(std::move(path)) {}

void OutputJournal::opened(const QString& output)
{
    append('+', output);
}

void OutputJournal::settled(const QString& output)
{
    append('-', output);
}

void OutputJournal::append(char mark, const QString& output)
{
    const QByteArray line = mark + QUrl::toPercentEncoding(output, "/") + '\n';
    std::lock_guard lock(m_mutex);
    // One write() of a short line to an O_APPEND file: a kill leaves either all of it or none
    // of it, and entries of different threads never interleave.
    const int fd = ::open(QFile::encodeName(m_path).constData(),
                          O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    [[maybe_unused]] const ssize_t written = ::write(fd, line.constData(), line.size());
    ::close(fd);
}

QStringList OutputJournal::unsettled() const
{
    std::lock_guard lock(m_mutex);
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList open;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.size() < 2)
            continue;
        const QString path = QUrl::fromPercentEncoding(line.mid(1));
        if (line[0] == '+' && !open.contains(path))
            open.append(path);
        else if (line[0] == '-')
            open.removeAll(path);
    }
    return open;
}

QStringList OutputJournal::removeUnsettled()
{
    QStringList removed;
    for (const QString& path : unsettled()) {
        if (removeAbandonedPartial(partialOutputPath(path)))
            removed.append(path);
    }
    std::lock_guard lock(m_mutex);
    QFile::remove(m_path);
    return removed;
}

} // namespace corvel
