#include "e2e/XSession.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

namespace kav::test {

namespace {

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
    // A display number nobody uses yet.
    int number = 90 + int(QCoreApplication::applicationPid() % 100);
    while (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)) ||
           QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)))
        ++number;
    m_display = QStringLiteral(":%1").arg(number);
    m_server = std::make_unique<QProcess>();
    m_server->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_server->start(QStringLiteral("Xvfb"), {m_display, QStringLiteral("-screen"), QStringLiteral("0"),
                                             QStringLiteral("1280x1024x24"), QStringLiteral("-nolisten"),
                                             QStringLiteral("tcp")});
    const QDeadlineTimer deadline(15000);
    while (!QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number))) {
        if (deadline.hasExpired() || m_server->state() == QProcess::NotRunning)
            return QStringLiteral("Xvfb did not start on %1").arg(m_display);
        QThread::msleep(50);
    }
    if (!QStandardPaths::findExecutable(QStringLiteral("openbox")).isEmpty()) {
        m_wm = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), m_display);
        m_wm->setProcessEnvironment(env);
        m_wm->start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
        QThread::msleep(500);
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

bool XSession::launch(const QString& program, const QString& folder)
{
    m_program = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_display);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.remove(QStringLiteral("QT_SCALE_FACTOR"));
    m_program->setProcessEnvironment(env);
    m_program->setWorkingDirectory(folder);
    m_program->setProcessChannelMode(QProcess::ForwardedChannels);
    m_program->start(program, {});
    if (!m_program->waitForStarted(10000))
        return false;
    const QString pid = QString::number(m_program->processId());
    const QDeadlineTimer deadline(20000);
    while (!deadline.hasExpired()) {
        bool ok = false;
        const QStringList ids = xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                         QStringLiteral("--pid"), pid, QStringLiteral("--name"),
                                         QStringLiteral("^カヴリオ$")},
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
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("shot.png"));
    run({QStringLiteral("import"), QStringLiteral("-display"), m_display, QStringLiteral("-window"),
         QStringLiteral("root"), file});
    return QImage(file).convertToFormat(QImage::Format_RGB32);
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

void XSession::key(const QString& keys)
{
    xdotool({QStringLiteral("key"), QStringLiteral("--clearmodifiers"), keys});
    QThread::msleep(250);
}

void XSession::type(const QString& text)
{
    xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("30"), text});
    QThread::msleep(200);
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
