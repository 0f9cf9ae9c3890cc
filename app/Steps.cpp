#include "frmMain.h"

#include "ui_frmMain.h"

#include "Accessibility.h"
#include "History.h"
#include "Messages.h"
#include "TitleSelector.h"
#include "VolumeCursor.h"
#include "VolumeGrid.h"

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QShortcut>
#include <QToolTip>

namespace kav {

namespace {

// Undo and redo keys in a text field with nothing of its own to undo go to the window.
class TextUndoGate final : public QObject
{
public:
    explicit TextUndoGate(QLineEdit* edit) : QObject(edit), m_edit(edit) { edit->installEventFilter(this); }

protected:
    bool eventFilter(QObject* /*watched*/, QEvent* event) override
    {
        if (event->type() != QEvent::ShortcutOverride)
            return false;
        auto* key = static_cast<QKeyEvent*>(event);
        const bool undo = key->matches(QKeySequence::Undo);
        const bool redo = key->matches(QKeySequence::Redo) || key->keyCombination() == (Qt::CTRL | Qt::Key_Y);
        return (undo && !m_edit->isUndoAvailable()) || (redo && !m_edit->isRedoAvailable());
    }

private:
    QLineEdit* m_edit;
};

} // namespace

void frmMain::connectSteps()
{
    m_history = new History(m_store, this);
    const auto key = [this](QKeyCombination keys, bool redo) {
        connect(new QShortcut(QKeySequence(keys), this), &QShortcut::activated, this, [this, redo] { undoStep(redo); });
    };
    key(Qt::CTRL | Qt::Key_Z, false);
    key(Qt::CTRL | Qt::SHIFT | Qt::Key_Z, true);
    key(Qt::CTRL | Qt::Key_Y, true);
    new TextUndoGate(ui->cboName->lineEdit());
    new TextUndoGate(ui->cboSyo->lineEdit());
    connect(ui->Frame1, &VolumeGrid::rangeClicked, this, &frmMain::lblKan_ShiftClick);
    connect(ui->Frame1, &VolumeGrid::menuAsked, this, &frmMain::showRangeMenu);
    m_cursor->setRange([this](int index) { lblKan_ShiftClick(index); });
}

void frmMain::remember(const storage::Outcome& outcome)
{
    m_history->done(outcome);
    const auto* flags = outcome.change ? std::get_if<storage::FlagsChange>(&*outcome.change) : nullptr;
    if (flags && flags->indexes.size() == 1)
        m_lastClick = {flags->title, flags->indexes.first(), flags->after};
}

void frmMain::lblKan_ShiftClick(int index)
{
    // Without a click on this title before, a Shift+click is a click.
    if (m_lastClick.index == 0 || m_lastClick.title != shownName())
        lblKan_Click(index);
    else
        markRange(m_lastClick.index, index, m_lastClick.flag, m_lastClick.index);
}

void frmMain::showRangeMenu(int index, const QPoint& at)
{
    if (m_shown < 1 || m_shown > catalogue().intKensu)
        return;
    const words::RangeMenu text = words::rangeMenu(index + catalogue().intSyo[m_shown]);
    QMenu menu(this);
    const QAction* upTo = menu.addAction(text.collectedUpTo);
    const QAction* from = menu.addAction(text.uncollectedFrom);
    const QAction* chosen = menu.exec(at);
    if (chosen == upTo)
        markRange(1, index, 0);
    else if (chosen == from)
        markRange(index, storage::FlagCount, 1);
}

void frmMain::markRange(int from, int to, qint16 flag, int anchor)
{
    if (m_shown < 1 || m_shown > catalogue().intKensu || m_volumesUnknown)
        return;
    // Only the volumes the title has, as labels show them.
    const int last = int(std::clamp(m_shownCount, 0.0, double(storage::FlagCount)));
    from = std::clamp(from, 1, last);
    to = std::clamp(to, 1, last);
    if (last < 1)
        return;
    const Busy busy(*this);
    const QString name = markableTitle();
    if (name.isEmpty())
        return;
    storage::Flags after{};
    const storage::Outcome outcome = m_store.setFlags(name, from, to, flag, after);
    if (outcome.kind == storage::Outcome::Unusable || outcome.kind == storage::Outcome::Failed) {
        tellWriteFailure(outcome.error);
        return;
    }
    if (!outcome.ok()) {
        afterFailedChange(outcome, name);
        return;
    }
    m_history->done(outcome, anchor);
    intKan = after;
    paintVolumes();
}

void frmMain::undoStep(bool redo)
{
    if (m_busy > 0)
        return;
    const Busy busy(*this);
    if (refuseUnreachable())
        return;
    const std::optional<History::Attempt> attempt = redo ? m_history->redo() : m_history->undo();
    if (!attempt) {
        QApplication::beep();
        return;
    }
    const storage::Change& change = attempt->change;
    if (History::refused(attempt->outcome)) {
        say(words::stepRefused(attempt->outcome, change, redo));
        reloadShowing(shownName());
        return;
    }
    if (!attempt->outcome.ok()) {
        afterFailedChange(attempt->outcome, shownName());
        return;
    }
    // The title the step changed, where it stands now, and a note over what changed.
    const QString name = storage::ChangedTitle(change);
    reloadShowing(name);
    QWidget* control = ui->cboName;
    const auto* flags = std::get_if<storage::FlagsChange>(&change);
    if (flags && shownName() == name)
        control = ui->Frame1->label(flags->indexes.first());
    else if (const auto* field = std::get_if<storage::FieldChange>(&change))
        control = field->field == storage::FieldChange::Count ? static_cast<QWidget*>(ui->lblKansu) : ui->cboSyo;
    const int first = shownName() == name ? catalogue().intSyo[m_shown] + 1 : 1;
    const QString note = words::stepDone(change, redo, first);
    // Centred under the control, within the window.
    QPoint at = control->mapTo(this, QPoint(control->width() / 2, control->height()));
    const int wide = QFontMetrics(QToolTip::font()).horizontalAdvance(note) + 12;
    at.setX(std::clamp(at.x() - wide / 2, 0, std::max(0, width() - wide)));
    QToolTip::showText(mapToGlobal(at), note, control);
    accessibility::announce(flags ? static_cast<QWidget*>(ui->Frame1) : control, note);
}

} // namespace kav
