#include "workplacelock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

WorkplaceLock::~WorkplaceLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool WorkplaceLock::acquire()
{
    m_fd = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // A directory that cannot even be read is no place another station could work in either.
    if (m_fd < 0)
        return true;
    if (flock(m_fd, LOCK_EX | LOCK_NB) == 0)
        return true;
    ::close(m_fd);
    m_fd = -1;
    return false;
}
