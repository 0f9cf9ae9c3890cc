// Preloaded (LD_PRELOAD) into the real binary: makes one system call fail with EIO
// for the files of one folder, as a failing disk does. KAVURIO_FAIL_DIR names the
// folder (as the kernel spells it), KAVURIO_FAIL_CONTROL a file whose first line names
// the call: write, fdatasync, fsync, rename (and renameat) or close. The file is read at every call,
// so a test switches a failure on and off while the program runs.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

template <typename F> F next(const char* name)
{
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

// Raw system calls: the control file is read from inside the wrappers below.
bool armed(const char* call)
{
    const char* control = std::getenv("KAVURIO_FAIL_CONTROL");
    if (!control)
        return false;
    const int fd = int(::syscall(SYS_openat, AT_FDCWD, control, O_RDONLY | O_CLOEXEC));
    if (fd < 0)
        return false;
    char text[64];
    const long got = ::syscall(SYS_read, fd, text, sizeof text - 1);
    ::syscall(SYS_close, fd);
    if (got <= 0)
        return false;
    text[got] = '\0';
    text[std::strcspn(text, "\r\n")] = '\0';
    return std::strcmp(text, call) == 0;
}

bool inFolder(const std::string& path)
{
    const char* folder = std::getenv("KAVURIO_FAIL_DIR");
    if (!folder || !*folder)
        return false;
    const size_t length = std::strlen(folder);
    return path.compare(0, length, folder) == 0 && (path.size() == length || path[length] == '/');
}

std::string fdPath(int fd)
{
    char link[64];
    char target[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t got = ::readlink(link, target, sizeof target);
    return got > 0 ? std::string(target, size_t(got)) : std::string();
}

bool failing(const char* call, int fd)
{
    return armed(call) && inFolder(fdPath(fd));
}

int fail()
{
    errno = EIO;
    return -1;
}

} // namespace

extern "C" {

ssize_t write(int fd, const void* data, size_t size)
{
    static const auto real = next<ssize_t (*)(int, const void*, size_t)>("write");
    return failing("write", fd) ? fail() : real(fd, data, size);
}

int fdatasync(int fd)
{
    static const auto real = next<int (*)(int)>("fdatasync");
    return failing("fdatasync", fd) ? fail() : real(fd);
}

int fsync(int fd)
{
    static const auto real = next<int (*)(int)>("fsync");
    return failing("fsync", fd) ? fail() : real(fd);
}

// The descriptor is gone either way, as after a real failed close.
int close(int fd)
{
    static const auto real = next<int (*)(int)>("close");
    const bool failed = failing("close", fd);
    const int closed = real(fd);
    return failed ? fail() : closed;
}

int rename(const char* from, const char* to)
{
    static const auto real = next<int (*)(const char*, const char*)>("rename");
    return armed("rename") && (inFolder(from) || inFolder(to)) ? fail() : real(from, to);
}

// A replacement renames within the folder's handle.
int renameat(int fromDir, const char* from, int toDir, const char* to)
{
    static const auto real = next<int (*)(int, const char*, int, const char*)>("renameat");
    const auto at = [](int dir, const char* name) {
        return name[0] == '/' || dir == AT_FDCWD ? std::string(name) : fdPath(dir) + '/' + name;
    };
    return armed("rename") && (inFolder(at(fromDir, from)) || inFolder(at(toDir, to))) ? fail()
                                                                                       : real(fromDir, from, toDir, to);
}
}
