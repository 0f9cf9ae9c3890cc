#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <sys/types.h>

#include <optional>
#include <unistd.h>

namespace kav {

// Closes a descriptor on every way out.
class Fd
{
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

// Replaces files so that a kill or a failing disk at any moment leaves either the old bytes
// or all the new ones: they go to a file of ours beside the old one, which is renamed over it
// only once written, flushed and closed without an error.
class DurableReplace
{
public:
    // Writes bytes to a new file in the folder open as dir and renames it to to (relative to
    // dir, or absolute: a link's target). mode: the replaced file's, kept whole; 0 makes a new
    // file. When caseBlind is unknown, it learns whether the folder ignores letter case. 0, or
    // the error of the step that failed, after which nothing of ours is left.
    int write(int dir, const QByteArray& to, mode_t mode, QByteArrayView bytes, std::optional<bool>& caseBlind);

    // The renames in a folder survive a power cut only once the folder is on disk: 0, or why not.
    static int flush(int dir);
    static int flush(const QByteArray& folder);

    // A temporary file is named like this, and only such names are ever removed as leftovers.
    static bool isTemporaryName(QByteArrayView entry);
    // Removes those of the temporaries named that no running process is writing (earlier runs
    // killed mid-save); answers the ones removed.
    static QList<QByteArray> removeLeftovers(const QByteArray& folder, const QList<QByteArray>& temporaries);

private:
    quint64 m_saves = 0;
};

} // namespace kav
