#include "storage/Collection.h"

#include "CollectionFresh.h"

namespace kav::storage {

QString ChangedTitle(const Change& change)
{
    if (const auto* add = std::get_if<AddChange>(&change))
        return add->pieces.isEmpty() ? QString() : add->pieces.first().name;
    if (const auto* removed = std::get_if<RemoveChange>(&change))
        return removed->record.name;
    if (const auto* field = std::get_if<FieldChange>(&change))
        return field->title;
    return std::get<FlagsChange>(change).title;
}

bool JoinRanges(FlagsChange& into, const FlagsChange& next)
{
    if (into.title != next.title || into.after != next.after)
        return false;
    for (qsizetype k = 0; k < next.indexes.size(); ++k) {
        if (!into.indexes.contains(next.indexes[k])) {
            into.indexes.append(next.indexes[k]);
            into.before.append(next.before[k]);
        }
    }
    return true;
}

namespace {

// Gone from the list counts as changed: the step is no longer one that can be taken back.
Outcome refusedAs(const Outcome& refused, const QString& title)
{
    return refused.kind == Outcome::Gone ? Changed(title) : refused;
}

} // namespace

Outcome Collection::undo(const Change& change)
{
    if (const auto* flags = std::get_if<FlagsChange>(&change)) {
        // Each flag back only while it still holds what the step set.
        Outcome outcome = editFlags(
            flags->title,
            [&](Flags& now) -> std::optional<Outcome> {
                for (qsizetype k = 0; k < flags->indexes.size(); ++k) {
                    if (now[flags->indexes[k]] != flags->after)
                        return Changed(flags->title);
                    now[flags->indexes[k]] = flags->before[k];
                }
                return std::nullopt;
            },
            nullptr);
        return refusedAs(outcome, flags->title);
    }
    if (const auto* field = std::get_if<FieldChange>(&change))
        return swapField(*field, true);
    if (const auto* add = std::get_if<AddChange>(&change))
        return undoAdd(*add);
    return undoRemove(std::get<RemoveChange>(change));
}

Outcome Collection::redo(const Change& change)
{
    if (const auto* flags = std::get_if<FlagsChange>(&change)) {
        Outcome outcome = editFlags(
            flags->title,
            [&](Flags& now) -> std::optional<Outcome> {
                for (qsizetype k = 0; k < flags->indexes.size(); ++k) {
                    if (now[flags->indexes[k]] != flags->before[k])
                        return Changed(flags->title);
                    now[flags->indexes[k]] = flags->after;
                }
                return std::nullopt;
            },
            nullptr);
        if (outcome.ok())
            outcome.change = change;
        return refusedAs(outcome, flags->title);
    }
    if (const auto* field = std::get_if<FieldChange>(&change))
        return swapField(*field, false);
    if (const auto* add = std::get_if<AddChange>(&change)) {
        const Outcome outcome = addPieces(add->pieces, {}, add);
        // A title of a piece's name is back: someone registered it since.
        if (outcome.kind == Outcome::Clash || outcome.kind == Outcome::Duplicate)
            return Changed(outcome.title);
        return outcome;
    }
    const auto& removed = std::get<RemoveChange>(change);
    return refusedAs(removeTitle(removed.record.name, &removed), removed.record.name);
}

Outcome Collection::swapField(const FieldChange& change, bool back)
{
    const Fresh fresh = readFresh(change.title);
    if (fresh.refused)
        return refusedAs(*fresh.refused, change.title);
    auto edited = std::make_shared<Catalogue>(*fresh.list.catalogue);
    auto& values = change.field == FieldChange::Count ? edited->intKansu : edited->intSyo;
    if (values[fresh.position] != (back ? change.after : change.before))
        return Changed(change.title);
    values[fresh.position] = back ? change.before : change.after;
    Outcome outcome = replaceList(TitleListLower(), std::move(edited));
    if (outcome.ok())
        outcome.change = change;
    return outcome;
}

Outcome Collection::undoAdd(const AddChange& change)
{
    const Fresh fresh = readFresh();
    if (fresh.refused)
        return *fresh.refused;
    auto left = std::make_shared<Catalogue>(*fresh.list.catalogue);
    const QByteArray zeros = EncodeVolumes(Flags{});
    // Every piece as registered, its record and its flag file, or nothing is taken back.
    for (const Piece& piece : change.pieces) {
        const int p = FindTitle(*left, piece.name);
        if (p == 0 || left->intKansu[p] != piece.count || left->intSyo[p] != piece.offset)
            return Changed(piece.name);
        const Result<QByteArray> bytes = m_files.readAll(FlagFileUpper(piece.name));
        if (!bytes || bytes.value() != zeros)
            return Changed(piece.name);
        RemoveRecord(*left, p);
    }
    // The list first, as a deletion does: if it cannot be rewritten, the pieces keep their flags.
    Outcome outcome = replaceList(TitleListLower(), std::move(left));
    if (!outcome.ok())
        return outcome;
    for (qsizetype k = 0; k < change.pieces.size(); ++k) {
        const QString file = FlagFileUpper(change.pieces[k].name);
        const std::optional<QByteArray>& before = change.filesBefore.value(k);
        (void)(before ? m_files.replace(file, *before) : m_files.remove(file));
    }
    return outcome;
}

Outcome Collection::undoRemove(const RemoveChange& change)
{
    const Fresh fresh = readFresh();
    if (fresh.refused)
        return *fresh.refused;
    const QString& title = change.record.name;
    const Catalogue& now = *fresh.list.catalogue;
    // A title of that name, or a flag file of it, made since is someone else's: left alone.
    if (FindTitle(now, title) != 0)
        return Changed(title);
    const QString file = FlagFileUpper(title);
    const bool ownsFile = !NamesProgramFile(title);
    if (ownsFile && m_files.readAll(file))
        return Changed(title);
    if (now.intKensu >= MaxTitles) {
        Outcome full;
        full.kind = Outcome::NoRoom;
        full.needed = 1;
        return full;
    }
    // The flag file first, as a registration does, so the list never names a title without its flags.
    if (ownsFile && change.flagFile) {
        if (const Status saved = m_files.replace(file, *change.flagFile); !saved)
            return fail(Outcome::Failed, saved.error(), file);
    }
    auto back = std::make_shared<Catalogue>(now);
    const int p = std::min<int>(change.position, back->intKensu + 1);
    for (int q = back->intKensu; q >= p; --q) {
        back->strName[q + 1] = back->strName[q];
        back->intKansu[q + 1] = back->intKansu[q];
        back->intSyo[q + 1] = back->intSyo[q];
    }
    back->strName[p] = title;
    back->intKansu[p] = change.record.count;
    back->intSyo[p] = change.record.offset;
    ++back->intKensu;
    Outcome outcome = replaceList(TitleListUpper(), std::move(back));
    if (!outcome.ok()) {
        if (ownsFile && change.flagFile)
            (void)m_files.remove(file);
        return outcome;
    }
    outcome.position = p;
    return outcome;
}

} // namespace kav::storage
