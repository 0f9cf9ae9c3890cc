#pragma once

#include <QGuiApplication>

namespace kav {

// The busy cursor while a command writes many files (hundreds of flag files, a report
// on a slow stick), so the window never looks frozen. A command releases it before
// any dialog it shows: a question or a failure is never asked under a busy cursor.
class BusyCursor final
{
public:
    BusyCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { release(); }
    Q_DISABLE_COPY_MOVE(BusyCursor)

    void release()
    {
        if (m_busy)
            QGuiApplication::restoreOverrideCursor();
        m_busy = false;
    }

private:
    bool m_busy = true;
};

} // namespace kav
