// Starts a program and prints the milliseconds from its exec to the mapping of its
// first top-level window, as the X server reports it. Usage: startup_watch PROGRAM [ARGS]
// (DISPLAY must name a running server without a window manager, such as Xvfb).
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

double nowMs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// The process that owns a window, from _NET_WM_PID; -1 when it does not say.
long windowPid(Display* display, Window window)
{
    const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    long pid = -1;
    if (XGetWindowProperty(display, window, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &items, &after, &data) ==
            Success &&
        data && items == 1 && format == 32)
        pid = long(*reinterpret_cast<unsigned long*>(data));
    if (data)
        XFree(data);
    return pid;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: startup_watch PROGRAM [ARGS]\n");
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "startup_watch: no X display\n");
        return 2;
    }
    // Children of the root are the top-level windows when no window manager runs.
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, False);

    const double start = nowMs();
    const pid_t child = fork();
    if (child == 0) {
        execvp(argv[1], argv + 1);
        _exit(127);
    }
    double mapped = -1;
    while (mapped < 0) {
        if (XPending(display) == 0) {
            pollfd fd{ConnectionNumber(display), POLLIN, 0};
            if (poll(&fd, 1, 20000) <= 0)
                break; // twenty seconds without a window
            continue;
        }
        XEvent event;
        XNextEvent(display, &event);
        if (event.type != MapNotify || event.xmap.override_redirect)
            continue;
        const double at = nowMs();
        const long pid = windowPid(display, event.xmap.window);
        if (pid == child || pid == -1)
            mapped = at;
    }
    kill(child, SIGTERM);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    XCloseDisplay(display);
    if (mapped < 0) {
        std::fprintf(stderr, "startup_watch: no window was mapped\n");
        return 1;
    }
    std::printf("%.3f\n", mapped - start);
    return 0;
}
