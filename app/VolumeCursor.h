#pragma once

#include <QObject>
#include <QPointer>

#include <functional>

class QLabel;
class QWidget;

namespace kav {

// A keyboard cursor in the grid of volume labels. enter() puts it on the first
// volume and gives the grid the focus; the arrows, Home and End move it over the
// visible labels, Space or Enter toggles the volume under it, Escape leaves and
// gives the focus back. Tab leaves too and goes on from where the focus was, so
// the grid never joins the tab order.
class VolumeCursor final : public QObject
{
    Q_OBJECT

public:
    using LabelAt = std::function<QLabel*(int index)>;
    using Toggle = std::function<void(int index)>;

    VolumeCursor(QWidget* grid, int count, LabelAt labelAt, Toggle toggle);

    // Shift with Space or an arrow: range(index) for the volume the cursor is on then.
    void setRange(Toggle range) { m_range = std::move(range); }

    void enter();
    void leave();
    bool isActive() const;
    // The index under the cursor, 0 when the cursor is not in the grid.
    int current() const { return isActive() ? m_index : 0; }

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int visibleCount() const;
    void moveTo(int index);
    void placeMark();

    QWidget* m_grid;
    QWidget* m_mark;
    int m_count;
    LabelAt m_labelAt;
    Toggle m_toggle;
    Toggle m_range;
    int m_index = 1;
    QPointer<QWidget> m_returnTo;
};

} // namespace kav
