#include "e2e/XSession.h"

#include <QDeadlineTimer>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>

#include <algorithm>

#include <csignal>
#include <sys/prctl.h>

#ifdef KAVURIO_HAVE_XLIB
#include <X11/Xlib.h>
#endif

namespace kav::test {

namespace {

// Xvfb, openbox and kavurio go down with the test even if it crashes.
void dieWithParent(QProcess& process)
{
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

#ifdef KAVURIO_HAVE_XLIB
// Gives every character of text that the keyboard map lacks a key of its own.
// Otherwise xdotool remaps a spare key for each such character and takes it back
// at once, and a program that reloads its map a little late sees the wrong key
// (the first character of a typed Japanese title went missing that way).
bool mapCharacters(const QString& display, const QString& text)
{
    Display* dpy = XOpenDisplay(display.toLatin1().constData());
    if (!dpy)
        return false;
    int minCode = 0, maxCode = 0, perCode = 0;
    XDisplayKeycodes(dpy, &minCode, &maxCode);
    KeySym* map = XGetKeyboardMapping(dpy, KeyCode(minCode), maxCode - minCode + 1, &perCode);
    auto symbols = [&](int code) { return map + (code - minCode) * perCode; };
    auto present = [&](KeySym sym) {
        for (int i = 0; i < (maxCode - minCode + 1) * perCode; ++i)
            if (map[i] == sym)
                return true;
        return false;
    };
    bool changed = false;
    int code = maxCode;
    for (const char32_t c : text.toUcs4()) {
        const KeySym sym = c < 0x100 ? KeySym(c) : KeySym(0x01000000 + c);
        if (c < 0x80 || present(sym))
            continue;
        auto isFree = [&](int k) {
            return std::all_of(symbols(k), symbols(k) + perCode, [](KeySym s) { return s == 0; });
        };
        while (code >= minCode && !isFree(code))
            --code;
        if (code < minCode)
            break; // no spare key left: xdotool's own remapping has to do
        KeySym both[2] = {sym, sym};
        XChangeKeyboardMapping(dpy, code, 2, both, 1);
        symbols(code)[0] = sym;
        changed = true;
    }
    XFree(map);
    XSync(dpy, False);
    XCloseDisplay(dpy);
    return changed;
}
#endif

void stop(std::unique_ptr<QProcess>& process)
{
    if (!process)
        return;
    if (process->state() != QProcess::NotRunning) {
        process->terminate();
        if (!process->waitForFinished(3000)) {
            process->kill();
            process->waitForFinished(3000);
        }
    }
    process.reset();
}

} // namespace

XSession::XSession() = default;

XSession::~XSession()
{
    stop(m_program);
    stop(m_wm);
    stop(m_server);
}

QString XSession::start()
{
    for (const char* tool : {"Xvfb", "xdotool", "xwininfo", "import"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            return QStringLiteral("%1 is not installed").arg(QString::fromLatin1(tool));
    }
    // Xvfb picks a free display itself and tells its number: no race with other servers.
    m_server = std::make_unique<QProcess>();
    dieWithParent(*m_server);
    m_server->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_server->start(QStringLiteral("Xvfb"),
                    {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
                     QStringLiteral("1280x1024x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    const QDeadlineTimer deadline(15000);
    QByteArray announced;
    while (!announced.endsWith('\n')) {
        if (deadline.hasExpired() || m_server->state() == QProcess::NotRunning)
            return QStringLiteral("Xvfb did not start");
        m_server->waitForReadyRead(100);
        announced += m_server->readAllStandardOutput();
    }
    m_display = QStringLiteral(":%1").arg(QString::fromLatin1(announced.trimmed()));
    if (!QStandardPaths::findExecutable(QStringLiteral("openbox")).isEmpty()) {
        m_wm = std::make_unique<QProcess>();
        dieWithParent(*m_wm);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), m_display);
        m_wm->setProcessEnvironment(env);
        m_wm->start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
        // Windows mapped before the manager runs would get no frame and no focus.
        const bool canAsk = !QStandardPaths::findExecutable(QStringLiteral("xprop")).isEmpty();
        const QDeadlineTimer managed(canAsk ? 10000 : 500);
        while (!managed.hasExpired() && m_wm->state() == QProcess::Running &&
               (!canAsk ||
                !run({QStringLiteral("xprop"), QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")})
                     .contains(QLatin1Char('#'))))
            QThread::msleep(50);
        // The property comes before openbox manages new windows.
        QThread::msleep(300);
    }
    return {};
}

QString XSession::run(const QStringList& command, bool* ok) const
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_display);
    process.setProcessEnvironment(env);
    process.start(command.first(), command.mid(1));
    const bool finished = process.waitForFinished(30000);
    if (ok)
        *ok = finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

QString XSession::xdotool(const QStringList& args, bool* ok) const
{
    return run(QStringList{QStringLiteral("xdotool")} + args, ok);
}

bool XSession::launch(const QString& program, const QString& folder, const QStringList& environment)
{
    stopProgram();
    m_window.clear();
    m_program = std::make_unique<QProcess>();
    dieWithParent(*m_program);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_display);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.remove(QStringLiteral("QT_SCALE_FACTOR"));
    for (const QString& setting : environment)
        env.insert(setting.section(QLatin1Char('='), 0, 0), setting.section(QLatin1Char('='), 1));
    m_program->setProcessEnvironment(env);
    m_program->setWorkingDirectory(folder);
    m_program->setProcessChannelMode(QProcess::ForwardedChannels);
    m_program->start(program, {});
    if (!m_program->waitForStarted(10000))
        return false;
    const QString pid = QString::number(m_program->processId());
    const QDeadlineTimer deadline(20000);
    QDeadlineTimer remap(4000);
    while (!deadline.hasExpired()) {
        // A window manager still starting can lose a map request: ask once more.
        if (remap.hasExpired()) {
            remap = QDeadlineTimer::Forever;
            const QString hidden = xdotool({QStringLiteral("search"), QStringLiteral("--pid"), pid,
                                            QStringLiteral("--name"), QStringLiteral("^カヴリオ$")})
                                       .section(QLatin1Char('\n'), 0, 0);
            if (!hidden.isEmpty()) {
                qWarning("XSession: the window %s was not mapped after 4 s; mapping it again", qPrintable(hidden));
                xdotool({QStringLiteral("windowmap"), hidden});
            }
        }
        bool ok = false;
        const QStringList ids =
            xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"), pid,
                     QStringLiteral("--name"), QStringLiteral("^カヴリオ$")},
                    &ok)
                .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        if (ok && !ids.isEmpty()) {
            m_window = ids.first();
            // Let the first paint land before anyone looks.
            QThread::msleep(700);
            return true;
        }
        QThread::msleep(100);
    }
    return false;
}

void XSession::stopProgram()
{
    stop(m_program);
}

bool XSession::isRunning() const
{
    return m_program && m_program->state() == QProcess::Running;
}

bool XSession::waitForExit(int ms)
{
    return m_program && m_program->waitForFinished(ms);
}

QRect XSession::windowGeometry() const
{
    // xwininfo gives the client area's absolute position; xdotool's figure can
    // include the frame a window manager adds.
    const QString out = run({QStringLiteral("xwininfo"), QStringLiteral("-id"), m_window});
    auto number = [&](const char* label) {
        const QRegularExpressionMatch m =
            QRegularExpression(QString::fromLatin1(label) + QStringLiteral(":\\s*(-?\\d+)")).match(out);
        return m.hasMatch() ? m.captured(1).toInt() : -1;
    };
    const int x = number("Absolute upper-left X"), y = number("Absolute upper-left Y");
    const int w = number("Width"), h = number("Height");
    if (x < 0 || y < 0 || w <= 0 || h <= 0)
        return {};
    return {x, y, w, h};
}

QImage XSession::screenshot() const
{
    QProcess process;
    process.start(QStringLiteral("import"),
                  {QStringLiteral("-display"), m_display, QStringLiteral("-window"), QStringLiteral("root"),
                   QStringLiteral("-depth"), QStringLiteral("8"), QStringLiteral("ppm:-")});
    if (!process.waitForFinished(30000))
        return {};
    QImage image;
    image.loadFromData(process.readAllStandardOutput(), "PPM");
    return image.convertToFormat(QImage::Format_RGB32);
}

QImage XSession::windowImage() const
{
    return screenshot().copy(windowGeometry());
}

void XSession::click(QPoint at)
{
    const QRect g = windowGeometry();
    xdotool({QStringLiteral("mousemove"), QString::number(g.x() + at.x()), QString::number(g.y() + at.y()),
             QStringLiteral("click"), QStringLiteral("1")});
    QThread::msleep(250);
}

void XSession::click(QPoint at, int button, const QString& holding)
{
    const QRect g = windowGeometry();
    QStringList args{QStringLiteral("mousemove"), QString::number(g.x() + at.x()), QString::number(g.y() + at.y()),
                     QStringLiteral("click"), QString::number(button)};
    if (!holding.isEmpty())
        args = QStringList{QStringLiteral("keydown"), holding} + args + QStringList{QStringLiteral("keyup"), holding};
    xdotool(args);
    QThread::msleep(250);
}

void XSession::moveMouse(QPoint at)
{
    const QRect g = windowGeometry();
    xdotool({QStringLiteral("mousemove"), QString::number(g.x() + at.x()), QString::number(g.y() + at.y())});
}

void XSession::key(const QString& keys)
{
    xdotool({QStringLiteral("key"), QStringLiteral("--clearmodifiers"), keys});
    QThread::msleep(250);
}

void XSession::type(const QString& text)
{
#ifdef KAVURIO_HAVE_XLIB
    if (mapCharacters(m_display, text))
        QThread::msleep(500); // let the programs load the new map
#endif
    xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("30"), text});
    QThread::msleep(200);
}

bool XSession::requestMaximize() const
{
#ifdef KAVURIO_HAVE_XLIB
    Display* dpy = XOpenDisplay(m_display.toLatin1().constData());
    if (!dpy || m_window.isEmpty())
        return false;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = m_window.toULong();
    event.xclient.message_type = XInternAtom(dpy, "_NET_WM_STATE", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = 1; // add
    event.xclient.data.l[1] = long(XInternAtom(dpy, "_NET_WM_STATE_MAXIMIZED_VERT", False));
    event.xclient.data.l[2] = long(XInternAtom(dpy, "_NET_WM_STATE_MAXIMIZED_HORZ", False));
    event.xclient.data.l[3] = 1; // from an application
    XSendEvent(dpy, DefaultRootWindow(dpy), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XSync(dpy, False);
    XCloseDisplay(dpy);
    return true;
#else
    return false;
#endif
}

QString XSession::dialogText()
{
    key(QStringLiteral("ctrl+c")); // a message box copies its caption and text
    QString text;
#ifdef KAVURIO_HAVE_XLIB
    Display* dpy = XOpenDisplay(m_display.toLatin1().constData());
    const Window own = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, 1, 1, 0, 0, 0);
    const Atom into = XInternAtom(dpy, "KAVURIO_TEXT", False);
    XConvertSelection(dpy, XInternAtom(dpy, "CLIPBOARD", False), XInternAtom(dpy, "UTF8_STRING", False), into, own,
                      CurrentTime);
    XEvent event;
    const QDeadlineTimer deadline(5000);
    while (!XCheckTypedWindowEvent(dpy, own, SelectionNotify, &event) && !deadline.hasExpired())
        QThread::msleep(20);
    Atom type = 0;
    int format = 0;
    unsigned long n = 0, left = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(dpy, own, into, 0, 1 << 20, True, AnyPropertyType, &type, &format, &n, &left, &data) ==
        Success)
        text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(n));
    XFree(data);
    XCloseDisplay(dpy);
#endif
    return text;
}

QString XSession::activeWindowName() const
{
    return xdotool({QStringLiteral("getactivewindow"), QStringLiteral("getwindowname")});
}

bool XSession::waitForDialog(int ms)
{
    const QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        const QString active = xdotool({QStringLiteral("getactivewindow")});
        if (!active.isEmpty() && active != m_window)
            return true;
        QThread::msleep(100);
    }
    return false;
}

bool XSession::waitForDialog(const QString& caption, int ms)
{
    const QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        bool ok = false;
        const QString active = xdotool({QStringLiteral("getactivewindow")}, &ok);
        if (ok && !active.isEmpty() && active != m_window &&
            xdotool({QStringLiteral("getwindowname"), active}) == caption) {
            // The window is active; give its edit field a moment to take the focus.
            QThread::msleep(150);
            return true;
        }
        QThread::msleep(50);
    }
    return false;
}

bool XSession::waitForMainWindowActive(int ms)
{
    const QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        if (xdotool({QStringLiteral("getactivewindow")}) == m_window)
            return true;
        QThread::msleep(100);
    }
    return false;
}

} // namespace kav::test
