#include "FolderNotices.h"

#include <sys/stat.h>

namespace kav {

FolderIdentity FolderIdentity::of(const QByteArray& path)
{
    struct stat st;
    if (::stat(path.constData(), &st) != 0)
        return {};
    return {st.st_dev, st.st_ino};
}

FolderIdentity FolderIdentity::of(int fd)
{
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0)
        return {};
    return {st.st_dev, st.st_ino};
}

bool FolderNotices::watch(const QByteArray& folder, uint32_t events)
{
    stop();
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd >= 0 && ::inotify_add_watch(m_fd, folder.constData(), events | IN_ONLYDIR) < 0)
        stop();
    return watching();
}

void FolderNotices::stop()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

} // namespace kav
