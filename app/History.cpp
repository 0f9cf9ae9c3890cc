#include "History.h"

namespace kav {

namespace {

// Only a record: the collection does the work, and may refuse it, before the stack moves.
class Step final : public QUndoCommand
{
public:
    explicit Step(storage::Change change) : change(std::move(change)) {}
    void undo() override {}
    void redo() override {}
    storage::Change change;
};

} // namespace

History::History(storage::Collection& store, QObject* parent) : QObject(parent), m_store(store)
{
    m_stack.setUndoLimit(Steps);
}

void History::done(const storage::Outcome& outcome, int anchor)
{
    if (!outcome.ok() || !outcome.change)
        return;
    const auto* range = std::get_if<storage::FlagsChange>(&*outcome.change);
    if (range && anchor > 0 && anchor == m_anchor && m_stack.index() == m_rangeTop &&
        m_stack.index() == m_stack.count()) {
        auto* top = static_cast<Step*>(const_cast<QUndoCommand*>(m_stack.command(m_stack.index() - 1)));
        if (auto* joined = std::get_if<storage::FlagsChange>(&top->change);
            joined && storage::JoinRanges(*joined, *range))
            return;
    }
    m_stack.push(new Step(*outcome.change));
    m_anchor = range ? anchor : 0;
    m_rangeTop = m_stack.index();
}

bool History::refused(const storage::Outcome& outcome)
{
    return outcome.kind == storage::Outcome::Changed || outcome.kind == storage::Outcome::Gone ||
           outcome.kind == storage::Outcome::NoRoom;
}

std::optional<History::Attempt> History::undo()
{
    return step(false);
}

std::optional<History::Attempt> History::redo()
{
    return step(true);
}

std::optional<History::Attempt> History::step(bool redo)
{
    if (redo ? !m_stack.canRedo() : !m_stack.canUndo())
        return std::nullopt;
    auto* step = static_cast<Step*>(const_cast<QUndoCommand*>(m_stack.command(m_stack.index() - (redo ? 0 : 1))));
    Attempt attempt{redo ? m_store.redo(step->change) : m_store.undo(step->change), step->change, redo};
    if (attempt.outcome.ok() && attempt.outcome.change)
        step->change = *attempt.outcome.change; // a title deleted again stood elsewhere
    if (refused(attempt.outcome))
        step->setObsolete(true); // the stack drops it as it moves past
    else if (!attempt.outcome.ok())
        return attempt;
    redo ? m_stack.redo() : m_stack.undo();
    return attempt;
}

} // namespace kav
