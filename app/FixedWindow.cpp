#include "FixedWindow.h"

#include <QEvent>
#include <QGuiApplication>
#include <QWidget>
#include <QWindow>

namespace kav {

namespace {

constexpr Qt::WindowStates Refused = Qt::WindowMaximized | Qt::WindowFullScreen;
constexpr int RetryMs = 100;
// Without an answer by then the compositor ignored the request.
constexpr int MaxQuietAttempts = 20;

bool onWayland()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

} // namespace

FixedWindow::FixedWindow(QWidget* window) : QObject(window), m_widget(window)
{
    window->installEventFilter(this);
    m_retry.setInterval(RetryMs);
    connect(&m_retry, &QTimer::timeout, this, &FixedWindow::askForNormal);
    watch();
}

bool FixedWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_widget) {
        switch (event->type()) {
        case QEvent::WinIdChange:
        case QEvent::Show:
            watch();
            break;
        case QEvent::WindowStateChange:
            keepState();
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}

void FixedWindow::watch()
{
    QWindow* window = m_widget->windowHandle();
    if (!window || window == m_watched)
        return;
    m_watched = window;
    // Direct: the request is seen while it is being made.
    connect(window, &QWindow::windowStateChanged, this, &FixedWindow::keepState, Qt::DirectConnection);
}

bool FixedWindow::hasOwnSize() const
{
    return m_widget->minimumSize() != m_widget->maximumSize() || m_widget->size() == m_widget->maximumSize();
}

void FixedWindow::keepState()
{
    QWindow* window = m_watched;
    if (!window || !(window->windowStates() & Refused))
        return;
    if (!onWayland()) {
        window->setWindowStates(window->windowStates() & ~Refused);
        return;
    }
    if (m_released)
        return;
    m_released = true;
    m_sawOtherSize = false;
    m_attempts = 0;
    window->setMaximumSize(QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
    m_retry.start();
}

void FixedWindow::askForNormal()
{
    QWindow* window = m_watched;
    if (!window) {
        m_retry.stop();
        return;
    }
    ++m_attempts;
    if (!hasOwnSize()) {
        // The compositor's size is on screen: now it takes the normal state again.
        m_sawOtherSize = true;
        window->setWindowStates(window->windowStates() & ~Refused);
        return;
    }
    if (m_sawOtherSize || m_attempts >= MaxQuietAttempts)
        restoreSize();
}

void FixedWindow::restoreSize()
{
    m_retry.stop();
    m_released = false;
    if (!m_watched)
        return;
    m_watched->setMinimumSize(m_widget->minimumSize());
    m_watched->setMaximumSize(m_widget->maximumSize());
    if (m_watched->windowStates() & Refused)
        m_watched->setWindowStates(m_watched->windowStates() & ~Refused);
}

} // namespace kav
