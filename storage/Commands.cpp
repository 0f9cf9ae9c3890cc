#include "storage/Commands.h"

#include <memory>

namespace kav::storage {

namespace {

Change outcome(Change::Outcome kind, Error error, const QString& file = {})
{
    // Whatever failed, the message names the file.
    if (error.file.isEmpty())
        error.file = file;
    Change change;
    change.outcome = kind;
    change.error = std::move(error);
    return change;
}

// Reads the list and finds name in it; sets change when there is nothing to do.
int findFresh(const TitlesNow& fresh, const QString& name, Change& change)
{
    if (fresh.report.failure) {
        change = outcome(Change::ListUnreadable, *fresh.report.failure);
        return 0;
    }
    const int position = FindTitle(*fresh.catalogue, name);
    if (position == 0)
        change = outcome(Change::Gone, Error{TitleListUpper(), name, 0, ErrorKind::NotFound});
    return position;
}

// Every command holds the folder from its fresh read to its last replacement.
struct Held
{
    std::unique_ptr<FolderLock> lock;
    std::optional<Change> refused;
};

Held holdFolder(FileService& files)
{
    Result<std::unique_ptr<FolderLock>> lock = files.lockFolder();
    if (!lock)
        return {nullptr, outcome(Change::Failed, lock.error(), TitleListLower())};
    return {std::move(lock.value()), std::nullopt};
}

} // namespace

namespace {

// The folder held, the list as it is now, and name's position in it; change says why
// there is nothing to do when the position is 0.
struct Found
{
    Held held;
    TitlesNow fresh;
    Change change;
    int position = 0;
};

Found findOnDisk(FileService& files, const QString& name)
{
    Found found;
    found.held = holdFolder(files);
    if (found.held.refused) {
        found.change = *found.held.refused;
        return found;
    }
    found.fresh = ReadTitlesNow(files);
    found.position = findFresh(found.fresh, name, found.change);
    return found;
}

// Replaces the list with written in this program's own form and hands it on in change.
bool replaceList(FileService& files, const QString& fileName, std::shared_ptr<Catalogue> written, Change& change)
{
    Result<QByteArray> bytes = EncodeTitles(*written, 0);
    if (!bytes) {
        change = outcome(Change::Failed, bytes.error(), fileName);
        return false;
    }
    if (const Status saved = files.replace(fileName, bytes.value()); !saved) {
        change = outcome(Change::Failed, saved.error(), fileName);
        return false;
    }
    RememberTitles(bytes.value(), written);
    change.written = std::move(written);
    change.bytes = std::move(bytes.value());
    return true;
}

// One title's record changed in the list as it is now; field is intKansu or intSyo.
Change setField(FileService& files, const QString& name, std::array<qint16, MaxTitles + 1> Catalogue::*field,
                qint16 value)
{
    Found found = findOnDisk(files, name);
    if (found.position == 0)
        return found.change;
    auto edited = std::make_shared<Catalogue>(*found.fresh.catalogue);
    ((*edited).*field)[found.position] = value;
    (void)replaceList(files, TitleListLower(), std::move(edited), found.change);
    return found.change;
}

} // namespace

Change SetVolumeCount(FileService& files, const QString& name, qint16 count)
{
    return setField(files, name, &Catalogue::intKansu, count);
}

Change SetStartOffset(FileService& files, const QString& name, qint16 offset)
{
    return setField(files, name, &Catalogue::intSyo, offset);
}

Change DeleteTitle(FileService& files, const QString& name)
{
    Found found = findOnDisk(files, name);
    const int p = found.position;
    if (p == 0)
        return found.change;
    auto left = std::make_shared<Catalogue>(*found.fresh.catalogue);
    for (int q = p; q < left->intKensu; ++q) {
        left->strName[q] = left->strName[q + 1];
        left->intKansu[q] = left->intKansu[q + 1];
        left->intSyo[q] = left->intSyo[q + 1];
    }
    --left->intKensu;
    // The list goes first: if it cannot be rewritten, the title keeps its flags.
    if (!replaceList(files, TitleListUpper(), std::move(left), found.change))
        return found.change;
    found.change.position = p;
    if (!NamesProgramFile(name))
        (void)files.remove(FlagFileUpper(name)); // a missing flag file is fine
    return found.change;
}

Change RegisterPieces(FileService& files, const QList<Piece>& pieces, const QString& entered)
{
    const Held held = holdFolder(files);
    if (held.refused)
        return *held.refused;
    TitlesNow fresh = ReadTitlesNow(files);
    if (fresh.report.failure)
        return outcome(Change::ListUnreadable, *fresh.report.failure);
    const Catalogue& catalogue = *fresh.catalogue;

    // Everything is checked against the list as it is now, before anything is written.
    if (catalogue.intKensu + pieces.size() > MaxTitles)
        return outcome(Change::Refused,
                       Error{TitleListLower(), QString::number(MaxTitles - catalogue.intKensu), 0, ErrorKind::Format});
    // Registered meanwhile (in another window): said as a duplicate, with no reason text.
    if (!entered.isEmpty() && FindTitle(catalogue, entered) != 0)
        return outcome(Change::Refused, Error{entered, {}, 0, ErrorKind::Clash});
    QList<NewRecord> records;
    const FileClashes clashes(catalogue);
    for (const Piece& piece : pieces) {
        if (const QString clash = clashes(piece.name); !clash.isEmpty())
            return outcome(Change::Refused, Error{FlagFileUpper(piece.name), clash, 0, ErrorKind::Clash});
        records.append({piece.name, piece.count, piece.offset});
    }
    const Result<QByteArray> list = AppendedTitles(fresh.report, catalogue, records);
    if (!list)
        return outcome(Change::Failed, list.error());

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
                (void)files.replace(it->file, *it->before);
            else
                (void)files.remove(it->file);
        }
    };
    // The flag files' names reach the disk in one flush of the folder, before the list names
    // them: one flush, not 656, on a slow USB stick.
    struct Deferred
    {
        FileService& files;
        ~Deferred() { files.deferFolderSync(false); }
    } deferred{files};
    files.deferFolderSync(true);
    for (const Piece& piece : pieces) {
        const QString file = FlagFileUpper(piece.name);
        Made entry{file, {}};
        if (Result<QByteArray> old = files.readAll(file); old)
            entry.before = old.value();
        else if (old.error().kind != ErrorKind::NotFound) {
            undo();
            return outcome(Change::Failed, old.error(), file);
        }
        const Status created = CreateVolumes(files, file);
        if (!created) {
            // A replace that failed leaves the file as it was; a new one never appeared.
            undo();
            return outcome(Change::Failed, created.error(), file);
        }
        made.append(entry);
    }
    if (const Status synced = files.syncFolder(); !synced) {
        undo();
        // Taken back, so the list is not saved, whatever the flush left on disk.
        Error error = synced.error();
        error.file = TitleListLower();
        error.kind = ErrorKind::Write;
        error.message = QStringLiteral("登録を取り消しました。新しい巻データファイルは") + error.message;
        return outcome(Change::Failed, std::move(error));
    }
    files.deferFolderSync(false);
    if (const Status saved = files.replace(TitleListLower(), list.value()); !saved) {
        undo();
        return outcome(Change::Failed, saved.error(), TitleListLower());
    }
    return {};
}

Change ToggleFlag(FileService& files, const QString& name, int index, Flags& after)
{
    const Held held = holdFolder(files);
    if (held.refused)
        return *held.refused;
    if (index < 1 || index > FlagCount)
        return outcome(Change::Refused, Error{{}, QString::number(index), 0, ErrorKind::Other});
    // A list that cannot be read to its end is protected, not its titles' flags:
    // without it, the title is taken to be there.
    TitlesNow fresh = ReadTitlesNow(files);
    Change change;
    if (!fresh.report.failure && findFresh(fresh, name, change) == 0)
        return change;
    const QString file = FlagFileLower(name);
    if (IsProgramFile(file))
        return outcome(Change::Refused, Error{file, {}, 0, ErrorKind::Unsafe});

    Flags flags{};
    if (Result<QByteArray> bytes = files.readAll(file); bytes) {
        // Flags that cannot be read are not overwritten with zeros.
        if (const FlagsRead read = ParseVolumes(bytes.value(), file, flags); read.unreadable)
            return outcome(Change::Refused, *read.failure);
    } else if (bytes.error().kind != ErrorKind::NotFound)
        return outcome(Change::Refused, bytes.error());
    // A hand-edited 32767 cannot be incremented; it wraps to 0 like any value above 1.
    const qint16 old = flags[index];
    qint16 flag = old == 32767 ? qint16(0) : qint16(old + 1);
    if (flag > 1)
        flag = 0;
    flags[index] = flag;
    if (const Status saved = SaveVolumes(files, file, flags); !saved)
        return outcome(Change::Failed, saved.error(), file);
    after = flags;
    return {};
}

} // namespace kav::storage
