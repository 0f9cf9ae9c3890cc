#pragma once

#include <QImage>
#include <QPoint>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>

#include <memory>

namespace kav::test {

// A real X server (Xvfb, with openbox when installed) and the real kavurio
// binary in it, driven only with real X input through xdotool.
class XSession
{
public:
    XSession();
    ~XSession();
    Q_DISABLE_COPY_MOVE(XSession)

    // Empty when the server is up; otherwise why the tests cannot run.
    QString start();
    QString display() const { return m_display; }

    // Starts kavurio in folder, with environment's NAME=value settings added, and waits
    // for its window; false on a timeout. A program still running from an earlier launch
    // is stopped first.
    bool launch(const QString& program, const QString& folder, const QStringList& environment = {});
    bool isRunning() const;
    // Waits for the program to end by itself.
    bool waitForExit(int ms);
    // Ends the program if it still runs.
    void stopProgram();

    QRect windowGeometry() const; // client area on the screen
    QImage screenshot() const;    // the whole screen
    QImage windowImage() const;   // just the client area

    // Input, in client-area coordinates of the main window.
    void click(QPoint at);
    // A click of button (3: the right one) with a key held down ("shift"; empty: none).
    void click(QPoint at, int button, const QString& holding = {});
    // Moves the pointer without clicking, e.g. off a control with a tooltip.
    void moveMouse(QPoint at);
    void key(const QString& keys); // xdotool key names: "Return", "Escape", "ctrl+a"
    void type(const QString& text);
    // Waits until a window other than the main one (a dialog) has the focus.
    bool waitForDialog(int ms = 10000);
    // Waits until the active window is one with this caption.
    bool waitForDialog(const QString& caption, int ms = 10000);
    bool waitForMainWindowActive(int ms = 10000);
    QString activeWindowName() const;
    // The caption and text of the open message box, as its Ctrl+C copies them.
    QString dialogText();
    // Asks the window manager, as a pager would, to maximize the main window.
    bool requestMaximize() const;

    QString run(const QStringList& command, bool* ok = nullptr) const;

private:
    QString xdotool(const QStringList& args, bool* ok = nullptr) const;

    QString m_display;
    std::unique_ptr<QProcess> m_server;
    std::unique_ptr<QProcess> m_wm;
    std::unique_ptr<QProcess> m_program;
    QString m_window; // X window id of the main window
};

} // namespace kav::test
