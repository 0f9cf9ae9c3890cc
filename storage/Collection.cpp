#include "storage/Collection.h"

#include "storage/Record.h"

#include "CollectionFresh.h"

#include "core/FileWatcher.h"

namespace kav::storage {

Outcome fail(Outcome::Kind kind, Error error, const QString& file)
{
    // Whatever failed, the message names the file.
    if (error.file.isEmpty())
        error.file = file;
    Outcome outcome;
    outcome.kind = error.kind == ErrorKind::Unreachable ? Outcome::Unreachable : kind;
    outcome.error = std::move(error);
    return outcome;
}

namespace {

// Nothing was read of the list at all (as against read up to a fault in it).
bool unread(const LoadReport& report)
{
    return report.failure && report.failure->kind != ErrorKind::Format;
}

} // namespace

Outcome CheckNewPieces(const Catalogue& catalogue, const QList<Piece>& pieces, const QString& entered)
{
    Outcome outcome;
    if (catalogue.intKensu + pieces.size() > MaxTitles) {
        outcome.kind = Outcome::NoRoom;
        outcome.room = MaxTitles - catalogue.intKensu;
        outcome.needed = int(pieces.size());
        return outcome;
    }
    if (!entered.isEmpty() && FindTitle(catalogue, entered) != 0) {
        outcome.kind = Outcome::Duplicate;
        outcome.title = entered;
        return outcome;
    }
    const FileClashes clashes(catalogue);
    for (const Piece& piece : pieces) {
        if (QString clash = clashes(piece.name); !clash.isEmpty()) {
            outcome = fail(Outcome::Clash, Error{FlagFileUpper(piece.name), {}, 0, ErrorKind::Clash});
            outcome.title = piece.name;
            outcome.clashWith = std::move(clash);
            return outcome;
        }
    }
    return outcome;
}

Collection::Collection(FileService& files, FileWatcher* watcher, QObject* parent)
    : QObject(parent), m_files(files), m_watcher(watcher)
{
    m_shownRead.catalogue = std::make_shared<Catalogue>();
    if (m_watcher)
        connect(m_watcher, &FileWatcher::changed, this, &Collection::changed);
}

Collection::~Collection() = default;

LoadReport Collection::load()
{
    m_shownRead = ReadList(m_files, true, {&m_shownRead, &m_lastRead});
    // What was read, also when it could not be read to its end; nothing when it could not be read at all.
    m_listSeen = unread(m_shownRead.report) ? std::nullopt : std::optional<QByteArray>(m_shownRead.report.bytes);
    return m_shownRead.report;
}

TitleFlags Collection::readFlags(const QString& file)
{
    TitleFlags shown;
    m_flagsSeen.reset();
    // A title named like the list or the report has no flag file: its flags are zeros.
    if (IsProgramFile(file))
        return shown;
    const Result<QByteArray> bytes = m_files.readAll(file);
    if (bytes) {
        m_flagsSeen = bytes.value();
        shown.read = ParseVolumes(bytes.value(), file, shown.flags);
        if (shown.read.unreadable)
            shown.problem = shown.read.failure;
    } else if (bytes.error().kind == ErrorKind::NotFound) {
        m_flagsSeen = QByteArray(); // no file: changes when one appears
    } else {
        shown.problem = bytes.error();
    }
    return shown;
}

Collection::Look Collection::look(const QString& shownFile, Error* unreachable)
{
    if (const Status here = m_files.checkFolder(); !here) {
        if (unreachable)
            *unreachable = here.error();
        return Look::Unreachable;
    }
    const Result<QByteArray> list = m_files.readAll(TitleListUpper());
    if ((list ? std::optional<QByteArray>(list.value()) : std::nullopt) != m_listSeen)
        return Look::ListChanged;
    if (shownFile.isEmpty() || IsProgramFile(shownFile))
        return Look::Same;
    const Result<QByteArray> flags = m_files.readAll(shownFile);
    std::optional<QByteArray> flagsNow;
    if (flags)
        flagsNow = flags.value();
    else if (flags.error().kind == ErrorKind::NotFound)
        flagsNow = QByteArray();
    return flagsNow == m_flagsSeen ? Look::Same : Look::FlagsChanged;
}

void Collection::watch(const QString& shownFile)
{
    if (!m_watcher)
        return;
    QStringList names{TitleListUpper()};
    if (!shownFile.isEmpty() && !IsProgramFile(shownFile))
        names.append(shownFile);
    m_watcher->watch(names);
}

Collection::Fresh Collection::readFresh(const QString& title)
{
    Fresh fresh;
    Result<std::unique_ptr<FolderLock>> lock = m_files.lockFolder();
    if (!lock) {
        fresh.refused = fail(Outcome::Failed, lock.error(), TitleListLower());
        return fresh;
    }
    fresh.lock = std::move(lock.value());
    fresh.list = ReadList(m_files, false, {&m_shownRead, &m_lastRead});
    if (fresh.list.catalogue != m_shownRead.catalogue)
        m_lastRead = fresh.list;
    if (fresh.list.report.failure) {
        fresh.refused = fail(Outcome::ListUnreadable, *fresh.list.report.failure);
        return fresh;
    }
    if (!title.isNull()) {
        fresh.position = FindTitle(*fresh.list.catalogue, title);
        if (fresh.position == 0) {
            fresh.refused = fail(Outcome::Gone, Error{TitleListUpper(), {}, 0, ErrorKind::NotFound});
            fresh.refused->title = title;
        }
    }
    return fresh;
}

Outcome Collection::replaceList(const QString& fileName, std::shared_ptr<Catalogue> written)
{
    Result<QByteArray> bytes = EncodeTitles(*written);
    if (!bytes)
        return fail(Outcome::Failed, bytes.error(), fileName);
    if (const Status saved = m_files.replace(fileName, bytes.value()); !saved)
        return fail(Outcome::Failed, saved.error(), fileName);
    // What a read of the file gives now, and what the window shows next.
    m_shownRead.report = LoadReport();
    m_shownRead.report.bytes = std::move(bytes.value());
    m_shownRead.catalogue = std::move(written);
    m_listSeen = m_shownRead.report.bytes;
    return {};
}

Outcome Collection::setField(const QString& title, std::array<qint16, MaxTitles + 1> Catalogue::*field, qint16 value)
{
    const Fresh fresh = readFresh(title);
    if (fresh.refused)
        return *fresh.refused;
    auto edited = std::make_shared<Catalogue>(*fresh.list.catalogue);
    const qint16 before = ((*edited).*field)[fresh.position];
    ((*edited).*field)[fresh.position] = value;
    Outcome outcome = replaceList(TitleListLower(), std::move(edited));
    if (outcome.ok())
        outcome.change =
            FieldChange{field == &Catalogue::intKansu ? FieldChange::Count : FieldChange::Start, title, before, value};
    return outcome;
}

Outcome Collection::setCount(const QString& title, qint16 count)
{
    return setField(title, &Catalogue::intKansu, count);
}

Outcome Collection::setStart(const QString& title, qint16 offset)
{
    return setField(title, &Catalogue::intSyo, offset);
}

Outcome Collection::remove(const QString& title)
{
    return removeTitle(title, nullptr);
}

Outcome Collection::removeTitle(const QString& title, const RemoveChange* expected)
{
    const Fresh fresh = readFresh(title);
    if (fresh.refused)
        return *fresh.refused;
    const int p = fresh.position;
    RemoveChange change{{title, fresh.list.catalogue->intKansu[p], fresh.list.catalogue->intSyo[p]}, p, {}};
    // Kept for its undo; a flag file that cannot be read is no reason to keep the title.
    if (!NamesProgramFile(title)) {
        if (Result<QByteArray> bytes = m_files.readAll(FlagFileUpper(title)); bytes)
            change.flagFile = bytes.value();
    }
    // Done again only as it was undone: the record and the flag file as they were put back.
    if (expected && (change.record.count != expected->record.count || change.record.offset != expected->record.offset ||
                     change.flagFile != expected->flagFile))
        return Changed(title);
    auto left = std::make_shared<Catalogue>(*fresh.list.catalogue);
    RemoveRecord(*left, p);
    // The list goes first: if it cannot be rewritten, the title keeps its flags.
    Outcome outcome = replaceList(TitleListUpper(), std::move(left));
    if (!outcome.ok())
        return outcome;
    outcome.position = p;
    if (!NamesProgramFile(title))
        (void)m_files.remove(FlagFileUpper(title)); // a missing flag file is fine
    outcome.change = std::move(change);
    return outcome;
}

Outcome Collection::add(const QList<Piece>& pieces, const QString& entered)
{
    return addPieces(pieces, entered, nullptr);
}

Outcome Collection::addPieces(const QList<Piece>& pieces, const QString& entered, const AddChange* expected)
{
    const Fresh fresh = readFresh();
    if (fresh.refused)
        return *fresh.refused;
    const Catalogue& catalogue = *fresh.list.catalogue;

    // Everything is checked against the list as it is now, before anything is written.
    if (Outcome checked = CheckNewPieces(catalogue, pieces, entered); !checked.ok())
        return checked;
    QList<NewRecord> records;
    for (const Piece& piece : pieces)
        records.append({piece.name, piece.count, piece.offset});
    const Result<QByteArray> list = AppendedTitles(fresh.list.report, catalogue, records);
    if (!list)
        return fail(Outcome::Failed, list.error());

    // A flag file left by an earlier, unfinished registration is replaced; one that
    // holds something else is put back if this registration fails.
    struct Made
    {
        QString file;
        std::optional<QByteArray> before;
    };
    QList<Made> made;
    auto undo = [&] {
        for (auto it = made.crbegin(); it != made.crend(); ++it) {
            if (it->before)
                (void)m_files.replace(it->file, *it->before);
            else
                (void)m_files.remove(it->file);
        }
    };
    // The flag files' names reach the disk in one flush of the folder, before the list names
    // them: one flush, not 656, on a slow USB stick.
    struct Deferred
    {
        FileService& files;
        ~Deferred() { files.deferFolderSync(false); }
    } deferred{m_files};
    m_files.deferFolderSync(true);
    for (const Piece& piece : pieces) {
        const QString file = FlagFileUpper(piece.name);
        Made entry{file, {}};
        if (Result<QByteArray> old = m_files.readAll(file); old) {
            entry.before = old.value();
        } else if (old.error().kind != ErrorKind::NotFound) {
            undo();
            return fail(Outcome::Failed, old.error(), file);
        }
        // Done again only over the flag files its undo left.
        if (expected && entry.before != expected->filesBefore.value(made.size())) {
            undo();
            return Changed(piece.name);
        }
        if (const Status created = CreateVolumes(m_files, file); !created) {
            // A replace that failed leaves the file as it was; a new one never appeared.
            undo();
            return fail(Outcome::Failed, created.error(), file);
        }
        made.append(entry);
    }
    if (const Status synced = m_files.syncFolder(); !synced) {
        undo();
        // Taken back, so the list is not saved, whatever the flush left on disk.
        Error error = synced.error();
        error.file = TitleListLower();
        error.kind = ErrorKind::Write;
        error.message = QStringLiteral("登録を取り消しました。新しい巻データファイルは") + error.message;
        return fail(Outcome::Failed, std::move(error));
    }
    m_files.deferFolderSync(false);
    if (const Status saved = m_files.replace(TitleListLower(), list.value()); !saved) {
        undo();
        return fail(Outcome::Failed, saved.error(), TitleListLower());
    }
    Outcome outcome;
    AddChange change{pieces, {}};
    for (const Made& entry : made)
        change.filesBefore.append(entry.before);
    outcome.change = std::move(change);
    return outcome;
}

Outcome Collection::toggle(const QString& title, int index, Flags& after)
{
    if (index < 1 || index > FlagCount)
        return fail(Outcome::Unusable, Error{{}, QStringLiteral("%1巻目はありません").arg(index)});
    FlagsChange change{title, {index}, {}, 0};
    Outcome outcome = editFlags(
        title,
        [&](Flags& flags) -> std::optional<Outcome> {
            // A hand-edited 32767 cannot be incremented; it wraps to 0 like any value above 1.
            const qint16 old = flags[index];
            qint16 flag = old == 32767 ? qint16(0) : qint16(old + 1);
            if (flag > 1)
                flag = 0;
            change.before = {old};
            change.after = flags[index] = flag;
            return std::nullopt;
        },
        &after);
    if (outcome.ok())
        outcome.change = std::move(change);
    return outcome;
}

Outcome Collection::setFlags(const QString& title, int from, int to, qint16 flag, Flags& after)
{
    if (from > to)
        std::swap(from, to);
    if (from < 1 || to > FlagCount)
        return fail(Outcome::Unusable, Error{{}, QStringLiteral("%1巻目はありません").arg(from < 1 ? from : to)});
    FlagsChange change{title, {}, {}, flag};
    Outcome outcome = editFlags(
        title,
        [&](Flags& flags) -> std::optional<Outcome> {
            for (int i = from; i <= to; ++i) {
                change.indexes.append(i);
                change.before.append(flags[i]);
                flags[i] = flag;
            }
            return std::nullopt;
        },
        &after);
    if (outcome.ok())
        outcome.change = std::move(change);
    return outcome;
}

Outcome Collection::editFlags(const QString& title, const std::function<std::optional<Outcome>(Flags&)>& edit,
                              Flags* after)
{
    // A list that cannot be read to its end is protected, not its titles' flags:
    // without it, the title is taken to be there.
    Fresh fresh = readFresh(title);
    if (fresh.refused && fresh.refused->kind != Outcome::ListUnreadable)
        return *fresh.refused;
    const QString file = FlagFileLower(title);
    if (IsProgramFile(file))
        return fail(Outcome::Unusable, Error{file, {}, 0, ErrorKind::Unsafe});

    Flags flags{};
    if (Result<QByteArray> bytes = m_files.readAll(file); bytes) {
        // Flags that cannot be read are not overwritten with zeros.
        if (const FlagsRead read = ParseVolumes(bytes.value(), file, flags); read.unreadable)
            return fail(Outcome::Unusable, *read.failure);
    } else if (bytes.error().kind != ErrorKind::NotFound) {
        return fail(Outcome::Unusable, bytes.error());
    }
    if (std::optional<Outcome> refused = edit(flags))
        return *refused;
    if (const Status saved = SaveVolumes(m_files, file, flags); !saved)
        return fail(Outcome::Failed, saved.error(), file);
    if (after) {
        *after = flags;
        m_flagsSeen = EncodeVolumes(flags);
    }
    return {};
}

Collection::Report Collection::writeReport(const QString& heading)
{
    Report report;
    report.collected = CollectReport(m_files, catalogue());
    report.records.append({heading});
    report.records.append({QString()});
    for (const ReportLine& line : report.collected.lines)
        report.records.append({line.title, line.indexes});

    QByteArray bytes;
    for (const QStringList& record : report.records) {
        const Result<QByteArray> encoded =
            record.size() == 1 ? EncodeRecord({record[0]}) : EncodeRecord({record[0], record[1]});
        if (!encoded) {
            Error e = encoded.error();
            e.file = ReportFileName();
            report.written = e;
            return report;
        }
        bytes += encoded.value();
    }
    if (const Status written = m_files.replace(ReportFileName(), bytes); !written) {
        Error e = written.error();
        e.file = ReportFileName();
        report.written = e;
    }
    return report;
}

} // namespace kav::storage
