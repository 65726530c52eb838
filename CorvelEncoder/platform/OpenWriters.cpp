#include "CorvelEncoder/platform/OpenWriters.h"

#include <QFile>

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace corvel {

WriterState openWriters(const QString& path)
{
    // O_NONBLOCK: an open never waits on someone else's lease.
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return WriterState::unknown;
    WriterState state = WriterState::none;
    // A writer opening the file in the instant the lease is held makes the kernel signal us,
    // by default with SIGIO, which would end the process; SIGURG is ignored unless handled.
    ::fcntl(fd, F_SETSIG, SIGURG);
    if (::fcntl(fd, F_SETLEASE, F_RDLCK) == 0)
        ::fcntl(fd, F_SETLEASE, F_UNLCK); // held for no longer than the question
    else
        // EAGAIN: a writer has it open. EACCES (another user's file) or EINVAL (a file system
        // without leases, such as FUSE or NFS): no answer.
        state = errno == EAGAIN ? WriterState::writing : WriterState::unknown;
    ::close(fd);
    return state;
}

} // namespace corvel
