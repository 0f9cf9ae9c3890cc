#include "VolumeCursor.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QWidget>

namespace kav {

namespace {

// The cursor's mark: a ring in the highlight colour around the label, drawn in
// the gap between labels, with a black line inside, so it shows on the light
// labels and on a dark frame alike.
class CursorMark final : public QWidget
{
public:
    explicit CursorMark(QWidget* parent) : QWidget(parent)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
        hide();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const QRect all = rect();
        QPen ring(palette().color(QPalette::Highlight), 2);
        ring.setJoinStyle(Qt::MiterJoin);
        painter.setPen(ring);
        painter.drawRect(QRectF(all).adjusted(1, 1, -1, -1));
        QPen inner(Qt::black, 1, Qt::DashLine);
        painter.setPen(inner);
        painter.drawRect(QRectF(all).adjusted(4.5, 4.5, -4.5, -4.5));
    }
};

constexpr int Columns = 10;
constexpr int MarkOutside = 2; // pixels of the ring outside the label

} // namespace

VolumeCursor::VolumeCursor(QWidget* grid, int count, LabelAt labelAt, Toggle toggle)
    : QObject(grid), m_grid(grid), m_mark(new CursorMark(grid)), m_count(count), m_labelAt(std::move(labelAt)),
      m_toggle(std::move(toggle))
{
    grid->installEventFilter(this);
}

bool VolumeCursor::isActive() const
{
    return m_grid->hasFocus();
}

int VolumeCursor::visibleCount() const
{
    int n = 0;
    while (n < m_count && m_labelAt(n + 1) && !m_labelAt(n + 1)->isHidden())
        ++n;
    return n;
}

void VolumeCursor::enter()
{
    if (visibleCount() == 0) {
        QApplication::beep();
        return;
    }
    if (!isActive()) {
        QWidget* focus = QApplication::focusWidget();
        m_returnTo = focus && focus != m_grid ? focus : nullptr;
    }
    m_index = std::clamp(m_index, 1, visibleCount());
    m_grid->setFocus(Qt::ShortcutFocusReason);
    placeMark();
}

void VolumeCursor::leave()
{
    m_mark->hide();
    if (!isActive())
        return;
    if (m_returnTo)
        m_returnTo->setFocus(Qt::OtherFocusReason);
    else
        m_grid->clearFocus();
}

void VolumeCursor::moveTo(int index)
{
    const int n = visibleCount();
    if (n == 0) {
        leave();
        return;
    }
    m_index = std::clamp(index, 1, n);
    placeMark();
}

void VolumeCursor::placeMark()
{
    QLabel* label = m_labelAt(m_index);
    if (!label || !isActive()) {
        m_mark->hide();
        return;
    }
    m_mark->setGeometry(label->geometry().adjusted(-MarkOutside, -MarkOutside, MarkOutside, MarkOutside));
    m_mark->raise();
    m_mark->show();
    m_mark->update();
}

bool VolumeCursor::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_grid)
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::FocusIn:
        placeMark();
        break;
    case QEvent::FocusOut:
        m_mark->hide();
        break;
    case QEvent::ShortcutOverride: {
        // Space and Enter belong to the cursor while it is in the grid.
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape)
            event->accept();
        break;
    }
    case QEvent::KeyPress: {
        auto* keyEvent = static_cast<QKeyEvent*>(event);
        // A title shorter than the cursor's place moves it back onto the grid.
        const int n = visibleCount();
        if (n == 0) {
            leave();
            return true;
        }
        m_index = std::clamp(m_index, 1, n);
        const int key = keyEvent->key();
        if (keyEvent->modifiers() & Qt::ShiftModifier && m_range &&
            !(key == Qt::Key_Space && keyEvent->isAutoRepeat())) {
            const int to = key == Qt::Key_Left    ? m_index - 1
                           : key == Qt::Key_Right ? m_index + 1
                           : key == Qt::Key_Up    ? (m_index > Columns ? m_index - Columns : m_index)
                           : key == Qt::Key_Down  ? (m_index + Columns <= n ? m_index + Columns : m_index)
                           : key == Qt::Key_Space ? m_index
                                                  : 0;
            if (to > 0) {
                moveTo(to);
                m_range(m_index);
                return true;
            }
        }
        switch (keyEvent->key()) {
        case Qt::Key_Left:
            moveTo(m_index - 1);
            return true;
        case Qt::Key_Right:
            moveTo(m_index + 1);
            return true;
        case Qt::Key_Up:
            if (m_index > Columns)
                moveTo(m_index - Columns);
            return true;
        case Qt::Key_Down:
            if (m_index + Columns <= n)
                moveTo(m_index + Columns);
            return true;
        case Qt::Key_Home:
            moveTo(1);
            return true;
        case Qt::Key_End:
            moveTo(n);
            return true;
        case Qt::Key_Space:
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (!keyEvent->isAutoRepeat())
                m_toggle(m_index);
            return true;
        case Qt::Key_Escape:
            leave();
            return true;
        case Qt::Key_Tab:
        case Qt::Key_Backtab: {
            // On from where the focus was before the grid, as if it had never left.
            QPointer<QWidget> back = m_returnTo;
            leave();
            if (back) {
                QKeyEvent again(QEvent::KeyPress, keyEvent->key(), keyEvent->modifiers());
                QApplication::sendEvent(back, &again);
            }
            return true;
        }
        default:
            return true; // nothing else reaches the frame
        }
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace kav
