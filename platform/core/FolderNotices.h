#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <sys/inotify.h>
#include <sys/types.h>

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace kav {

// The folder found at a path at one moment, told apart from whatever stands at that path
// later (the mount point under an unmounted drive, another folder moved there).
struct FolderIdentity
{
    dev_t dev = 0;
    ino_t ino = 0; // 0: no folder was there

    static FolderIdentity of(const QByteArray& path);
    static FolderIdentity of(int fd);

    bool found() const { return ino != 0; }
    // Whether other is this folder (never when this is none).
    bool is(const FolderIdentity& other) const { return found() && dev == other.dev && ino == other.ino; }
};

// The kernel's notices of a folder's changes (inotify), read without blocking.
class FolderNotices
{
public:
    FolderNotices() = default;
    ~FolderNotices() { stop(); }
    FolderNotices(const FolderNotices&) = delete;
    FolderNotices& operator=(const FolderNotices&) = delete;

    // Starts afresh on folder (what came before is dropped); false when the kernel gives no notices.
    bool watch(const QByteArray& folder, uint32_t events);
    void stop();
    bool watching() const { return m_fd >= 0; }
    int fd() const { return m_fd; }

    // A notice that only a fresh look at the folder can make up for: notices were lost, or
    // the folder itself was removed, moved or unmounted.
    static bool aboutFolder(uint32_t mask)
    {
        return mask & (IN_Q_OVERFLOW | IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED);
    }

    // Hands each queued notice to take(mask, name) (name empty for one about the folder) until
    // take returns false. True when every notice was read, false when the notices ended or
    // take stopped the reading.
    template <typename Take> bool read(Take&& take)
    {
        alignas(inotify_event) char buffer[16384];
        for (;;) {
            const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                return errno == EAGAIN || errno == EWOULDBLOCK;
            if (got == 0)
                return false;
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                at += ssize_t(sizeof(inotify_event) + event->len);
                const QByteArrayView name(static_cast<const char*>(event->name),
                                          event->len ? qsizetype(::strnlen(event->name, event->len)) : 0);
                if (!take(event->mask, name))
                    return false;
            }
        }
    }

private:
    int m_fd = -1;
};

} // namespace kav
