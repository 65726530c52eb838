#include "CorvelEncoder/engine/SourceWatch.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvel {

SourceWatch::~SourceWatch()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void SourceWatch::start(const QString& path)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (m_fd >= 0 && !stamp(m_start)) {
        ::close(m_fd);
        m_fd = -1;
    }
}

bool SourceWatch::changed() const
{
    Stamp now;
    return m_fd >= 0 && (!stamp(now) || now != m_start);
}

bool SourceWatch::stamp(Stamp& out) const
{
    struct stat st = {};
    if (::fstat(m_fd, &st) != 0)
        return false;
    out = {st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
    return true;
}

} // namespace corvel
