#include "VolumeGrid.h"

#include "Accessibility.h"

#include "core/Conversions.h"

#include <QContextMenuEvent>
#include <QEvent>
#include <QLabel>
#include <QMouseEvent>

namespace kav {

namespace {

const QColor ColourUnflagged(0xC0, 0xFF, 0xC0); // flag 0
const QColor ColourFlagged(0xFF, 0xC0, 0xFF);   // flag 1
const QColor ColourOther(0, 0, 0);              // any other value

// A volume label holds the three colours in three roles of its palette: showing a flag
// switches the role, which costs a fraction of resolving and spreading a new palette.
// Not Window: a label given its own Window colour is filled with it before any flag is shown.
constexpr QPalette::ColorRole RoleUnflagged = QPalette::Base;
constexpr QPalette::ColorRole RoleFlagged = QPalette::AlternateBase;
constexpr QPalette::ColorRole RoleOther = QPalette::Midlight;

} // namespace

VolumeGrid::VolumeGrid(QWidget* parent) : QGroupBox(parent)
{
    QFont volumeFont(QStringLiteral("Times New Roman"));
    volumeFont.setPixelSize(27);
    volumeFont.setWeight(QFont::Normal);
    for (int i = 1; i <= storage::FlagCount; ++i) {
        const int c = (i - 1) % 10;
        const int r = (i - 1) / 10;
        auto* label = new QLabel(this);
        label->setObjectName(QStringLiteral("lblKan_%1").arg(i));
        label->setGeometry((465 + 825 * c) / 15, (345 + 675 * r) / 15, 765 / 15, 615 / 15);
        label->setFont(volumeFont);
        label->setFrameShape(QFrame::Box);
        label->setLineWidth(1);
        label->setAlignment(Qt::AlignCenter);
        label->setFocusPolicy(Qt::NoFocus);
        label->installEventFilter(this);
        QPalette palette = label->palette();
        palette.setColor(RoleUnflagged, ColourUnflagged);
        palette.setColor(RoleFlagged, ColourFlagged);
        palette.setColor(RoleOther, ColourOther);
        // Black on the light colours under any theme; one palette, not two, for each of the fifty.
        palette.setColor(QPalette::WindowText, Qt::black);
        label->setPalette(palette);
        // Otherwise the text would take the colour that goes with the background role (Text on Base).
        label->setForegroundRole(QPalette::WindowText);
        m_labels[i] = label;
    }
    showFlag(m_labels[9], 1);
    showFlag(m_labels[10], 0);
}

QColor VolumeGrid::flagColour(qint16 flag)
{
    if (flag == 0)
        return ColourUnflagged;
    if (flag == 1)
        return ColourFlagged;
    return ColourOther;
}

void VolumeGrid::showFlag(QLabel* label, qint16 flag)
{
    const QPalette::ColorRole role = flag == 0 ? RoleUnflagged : flag == 1 ? RoleFlagged : RoleOther;
    if (label->backgroundRole() != role)
        label->setBackgroundRole(role);
    label->setAutoFillBackground(true);
}

void VolumeGrid::showVolumes(const storage::Flags& flags, double count, double first)
{
    // Most titles start at volume 1: the fifty captions are made again only when the
    // start changes, and a label is told only a caption it does not already show.
    if (first != m_captionsFirst) {
        for (int i = 1; i <= storage::FlagCount; ++i)
            m_captions[i] = RealText(i + first - 1);
        m_captionsFirst = first;
    }
    // Each label is shown or hidden once, so the grid does not flicker.
    for (int i = 1; i <= storage::FlagCount; ++i) {
        QLabel* label = m_labels[i];
        if (count < i) {
            label->setVisible(false);
            continue;
        }
        if (label->text() != m_captions[i])
            label->setText(m_captions[i]);
        showFlag(label, flags[i]);
        label->setVisible(true);
    }
}

void VolumeGrid::hideVolumes()
{
    for (int i = 1; i <= storage::FlagCount; ++i)
        m_labels[i]->setVisible(false);
}

void VolumeGrid::showLostNote(const QString& text, const QString& elided)
{
    if (text.isEmpty()) {
        if (m_lostNote)
            m_lostNote->hide();
        return;
    }
    // Above the labels, where a line has room: no control moves.
    if (!m_lostNote) {
        m_lostNote = new QLabel(this);
        m_lostNote->setGeometry(8, 2, width() - 16, 20);
        QPalette palette = m_lostNote->palette();
        palette.setColor(QPalette::WindowText, QColor(0xC0, 0, 0));
        m_lostNote->setPalette(palette);
    }
    const QFontMetrics metrics(m_lostNote->font());
    const int room = m_lostNote->width() - metrics.horizontalAdvance(text.arg(QString()));
    m_lostNote->setText(text.arg(metrics.elidedText(elided, Qt::ElideMiddle, room)));
    m_lostNote->show();
}

void VolumeGrid::showHint(const QString& text)
{
    if (!m_hint && text.isEmpty())
        return;
    if (!m_hint) {
        // Over the area of the (hidden) labels: no control moves.
        m_hint = new QLabel(this);
        m_hint->setObjectName(QStringLiteral("hint"));
        m_hint->setGeometry(m_labels[1]->geometry().united(m_labels[storage::FlagCount]->geometry()));
        m_hint->setAlignment(Qt::AlignCenter);
        m_hint->setWordWrap(true);
        QFont font(QStringLiteral("ＭＳ Ｐゴシック"));
        font.setPixelSize(21);
        m_hint->setFont(font);
    }
    m_hint->setText(text);
    m_hint->setVisible(!text.isEmpty());
}

bool VolumeGrid::eventFilter(QObject* watched, QEvent* event)
{
    auto* label = qobject_cast<QLabel*>(watched);
    if (event->type() == QEvent::MouseButtonRelease && label) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && label->rect().contains(mouse->position().toPoint())) {
            const int index = label->objectName().sliced(7).toInt();
            if (mouse->modifiers() & Qt::ShiftModifier)
                Q_EMIT rangeClicked(index);
            else
                Q_EMIT clicked(index);
            return true;
        }
    } else if (event->type() == QEvent::ContextMenu && label) {
        Q_EMIT menuAsked(label->objectName().sliced(7).toInt(), static_cast<QContextMenuEvent*>(event)->globalPos());
        return true;
    } else if (event->type() == QEvent::PaletteChange && label) {
        // A volume's colour is its state: a screen reader hears of the change.
        accessibility::nameChanged(label);
    }
    return QGroupBox::eventFilter(watched, event);
}

} // namespace kav
