#pragma once

#include "storage/Collection.h"

#include <QUndoStack>

#include <optional>

namespace kav {

// The session's steps, for undo and redo. Each is taken back or done again by the
// collection as a command of its own; a step that someone else's change has made
// impossible is dropped, one that failed on the disk stays for another try.
class History final : public QObject
{
    Q_OBJECT

public:
    static constexpr int Steps = 100;

    explicit History(storage::Collection& store, QObject* parent = nullptr);

    // Keeps what a command that succeeded changed. anchor: the volume a range grows from;
    // ranges from one anchor in a row are one step, as they are one range.
    void done(const storage::Outcome& outcome, int anchor = 0);

    struct Attempt
    {
        storage::Outcome outcome;
        storage::Change change; // the step tried
        bool redo = false;
    };
    // nullopt: nothing to undo (redo).
    std::optional<Attempt> undo();
    std::optional<Attempt> redo();
    // Someone else's change stands in the way: the step is gone from the history.
    static bool refused(const storage::Outcome& outcome);

    const QUndoStack& stack() const { return m_stack; }

private:
    std::optional<Attempt> step(bool redo);

    storage::Collection& m_store;
    QUndoStack m_stack;
    int m_anchor = 0;    // of the range on top of the stack, 0: none
    int m_rangeTop = -1; // the stack's index right after it
};

} // namespace kav
