#include "DurableReplace.h"

#include <QFile>

#include <algorithm>

#include <fcntl.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <csignal>

namespace kav {

namespace {

constexpr char TemporaryPrefix[] = ".kavurio-";
constexpr char TemporarySuffix[] = ".tmp";

// Start time of a process in clock ticks since boot, 0 when it is not running (or
// there is no /proc): a process id alone may have been given to another process.
quint64 processStart(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    // Field 2 is the command in parentheses and may hold blanks; field 22 is the start time.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 19 ? fields[19].toULongLong() : 0;
}

quint64 ownStart()
{
    static const quint64 start = processStart(::getpid());
    return start;
}

// A folder's fsync failing with error: 0 where nothing is lost (file systems that cannot
// sync a folder at all, some FUSE ones, say so with EINVAL), else the error.
int flushError(int error)
{
    return error == EINVAL || error == ENOTSUP || error == ENOSYS || error == EROFS ? 0 : error;
}

} // namespace

int DurableReplace::write(int dir, const QByteArray& to, mode_t mode, QByteArrayView bytes,
                          std::optional<bool>& caseBlind)
{
    // Named so that it is recognisably ours, and whose: a kill leaves nothing else in the folder.
    QByteArray staging;
    int fd = -1;
    for (int tries = 0; fd < 0 && tries < 100; ++tries) {
        staging = TemporaryPrefix + QByteArray::number(::getpid()) + '-' + QByteArray::number(ownStart()) + '-' +
                  QByteArray::number(++m_saves) + TemporarySuffix;
        fd = ::openat(dir, staging.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY,
                      mode == 0 ? 0666 : (mode & 07777));
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0)
        return errno;
    const auto drop = [&](int error) {
        if (fd >= 0)
            ::close(fd);
        ::unlinkat(dir, staging.constData(), 0);
        return error;
    };
    // The mode asked at creation is cut by the umask; the replaced file's is kept whole.
    if (mode != 0)
        ::fchmod(fd, mode & 07777);
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t written = ::write(fd, bytes.data() + done, size_t(bytes.size() - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return drop(written < 0 ? errno : ENOSPC);
        done += written;
    }
    // A file system that cannot flush at all says so; any other failure may have lost the bytes.
    if (::fdatasync(fd) != 0 && errno != EINVAL && errno != ENOTSUP && errno != ENOSYS)
        return drop(errno);
    const int closing = fd;
    fd = -1;
    if (::close(closing) != 0)
        return drop(errno);
    if (!caseBlind) {
        struct stat st;
        caseBlind = ::fstatat(dir, staging.toUpper().constData(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    }
    // An absolute name ignores dir.
    if (::renameat(dir, staging.constData(), dir, to.constData()) != 0)
        return drop(errno);
    return 0;
}

int DurableReplace::flush(int dir)
{
    return ::fsync(dir) == 0 ? 0 : flushError(errno);
}

int DurableReplace::flush(const QByteArray& folder)
{
    const Fd dir(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return dir.get() < 0 ? 0 : flush(dir.get());
}

bool DurableReplace::isTemporaryName(QByteArrayView entry)
{
    // .kavurio-<pid>-<start>-<n>.tmp, and the ".XXXXXX" that earlier versions, saving
    // through QSaveFile, added where it could not use an unnamed file.
    QByteArrayView rest = entry;
    if (!rest.startsWith(TemporaryPrefix))
        return false;
    rest = rest.sliced(sizeof TemporaryPrefix - 1);
    for (int number = 0; number < 3; ++number) {
        qsizetype digits = 0;
        while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9')
            ++digits;
        if (digits == 0 || digits > 20)
            return false;
        rest = rest.sliced(digits);
        if (number < 2) {
            if (!rest.startsWith('-'))
                return false;
            rest = rest.sliced(1);
        }
    }
    if (!rest.startsWith(TemporarySuffix))
        return false;
    rest = rest.sliced(sizeof TemporarySuffix - 1);
    if (rest.isEmpty())
        return true;
    return rest.size() == 7 && rest[0] == '.' &&
           std::all_of(rest.begin() + 1, rest.end(), [](char c) { return std::isalnum(uchar(c)); });
}

QList<QByteArray> DurableReplace::removeLeftovers(const QByteArray& folder, const QList<QByteArray>& temporaries)
{
    QList<QByteArray> removed;
    if (temporaries.isEmpty())
        return removed;
    const Fd dir(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0)
        return removed;
    for (const QByteArray& name : temporaries) {
        const QList<QByteArray> parts = name.mid(sizeof TemporaryPrefix - 1).split('-');
        const qint64 pid = parts[0].toLongLong();
        const quint64 start = parts[1].toULongLong();
        // Another running window on this folder may be saving right now.
        if (start != 0 && processStart(pid) == start)
            continue;
        if (start == 0 && ::kill(pid_t(pid), 0) == 0)
            continue;
        struct stat st;
        if (::fstatat(dir.get(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
            ::unlinkat(dir.get(), name.constData(), 0) == 0)
            removed.append(name);
    }
    return removed;
}

} // namespace kav
