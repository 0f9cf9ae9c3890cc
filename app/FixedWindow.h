#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>

class QWidget;
class QWindow;

namespace kav {

// Keeps a fixed-size window out of the maximized and full-screen states.
//
// Where the window manager draws no frame of its own (Qt's title bar on weston)
// maximize is offered whatever the window says, and a Wayland compositor ends a
// client whose maximized surface keeps another size. Qt's Wayland client cannot
// take a request back before the compositor has answered it, and the compositor
// takes no request for the normal state before the maximized one is on screen.
// So on Wayland the window is let to follow that one answer, then asks for its
// normal state until it has its own size again, and only then is fixed again.
// Elsewhere the state is simply set back.
class FixedWindow final : public QObject
{
    Q_OBJECT

public:
    explicit FixedWindow(QWidget* window);

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void watch();
    void keepState();
    void askForNormal();
    void restoreSize();
    bool hasOwnSize() const;

    QWidget* m_widget;
    QPointer<QWindow> m_watched;
    QTimer m_retry;
    bool m_released = false; // the size limits are lifted until the normal state is back
    bool m_sawOtherSize = false;
    int m_attempts = 0;
};

} // namespace kav
