#pragma once

#include "storage/Titles.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <variant>

// What a command saw and wrote, kept so that it can be taken back and done again
// without touching what anybody changed since.
namespace kav::storage {

// Flags of one title's flag file: a click or a range.
struct FlagsChange
{
    QString title;
    QList<int> indexes;
    QList<qint16> before; // one for each index
    qint16 after = 0;     // what every index was set to
};

// The count or the start offset of one title.
struct FieldChange
{
    enum Field { Count, Start };
    Field field = Count;
    QString title;
    qint16 before = 0;
    qint16 after = 0;
};

// A registration: its pieces, and what each one's flag file held before (nullopt: none).
struct AddChange
{
    QList<Piece> pieces;
    QList<std::optional<QByteArray>> filesBefore;
};

// A deletion: the record, where it stood, and its flag file byte for byte (nullopt: none).
struct RemoveChange
{
    Piece record;
    int position = 0;
    std::optional<QByteArray> flagFile;
};

using Change = std::variant<FlagsChange, FieldChange, AddChange, RemoveChange>;

// A range grown from the same start: next joins into, which keeps what each flag held
// before either. False (into unchanged) for flags of another title or another value.
bool JoinRanges(FlagsChange& into, const FlagsChange& next);

// The title a change is about (a registration: its first piece).
QString ChangedTitle(const Change& change);

} // namespace kav::storage
