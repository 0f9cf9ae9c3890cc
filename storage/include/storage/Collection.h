#pragma once

#include "storage/Catalogue.h"
#include "storage/Change.h"
#include "storage/Titles.h"
#include "storage/VolumeFlags.h"

#include <QObject>

#include <functional>
#include <memory>
#include <optional>

namespace kav {
class FileWatcher;
}

namespace kav::storage {

// What a command did, as a kind the window can act on; error holds the file and the reason.
struct Outcome
{
    enum Kind {
        Done,
        Duplicate,      // a title of the name entered is on disk already
        Clash,          // title's flag file would be clashWith, a file that is there or must not be written
        NoRoom,         // the list holds room more titles, fewer than the command needs
        Gone,           // no title of that name on disk any more
        ListUnreadable, // the list cannot be read to its end: it is nobody's to rewrite
        Unusable,       // the flag file is there but cannot be read, or is one of the program's files
        Unreachable,    // the folder opened at the start is gone from its path
        Failed,         // a read or write failed; what was on disk is as it was
        Changed,        // undo, redo: someone else changed what the step would change; nothing written
    };
    Kind kind = Done;
    Error error;
    QString title;                // Clash: the piece whose flag file clashes
    QString clashWith;            // Clash
    int room = 0;                 // NoRoom
    int needed = 0;               // NoRoom
    int position = 0;             // Done deletion: where the title stood
    std::optional<Change> change; // Done: what was changed, to take it back
    bool ok() const { return kind == Done; }
};

// Whether pieces may be added to catalogue: NoRoom, Duplicate (entered is there already), Clash or Done.
Outcome CheckNewPieces(const Catalogue& catalogue, const QList<Piece>& pieces, const QString& entered = {});

// The flags of one title as read, and what stood in the way.
struct TitleFlags
{
    Flags flags{};
    FlagsRead read;
    std::optional<Error> problem; // no flags shown: the file cannot be read or used
};

// What the folder holds, as last read or written, and the commands that change it. Every
// command reads the files as they are now under the folder lock, changes what it changes
// and replaces them in one step; what another window or an editor wrote is kept.
class Collection final : public QObject
{
    Q_OBJECT

public:
    explicit Collection(FileService& files, FileWatcher* watcher = nullptr, QObject* parent = nullptr);
    ~Collection() override;
    Q_DISABLE_COPY_MOVE(Collection)

    // Reads the list again (creating it empty when missing): the catalogue shown from now on.
    LoadReport load();
    const Catalogue& catalogue() const { return *m_shownRead.catalogue; }
    // The list could not be read to its end: nothing may write it until the program restarts.
    bool locked() const { return m_locked; }
    void lock() { m_locked = true; }

    // A title's flag file read afresh; remembered, to tell others' changes from ours.
    TitleFlags readFlags(const QString& file);

    // The folder, the list and the shown flag file compared with what was last read or written.
    enum class Look { Same, ListChanged, FlagsChanged, Unreachable };
    Look look(const QString& shownFile, Error* unreachable = nullptr);
    // The files whose changes changed() tells: the list, and the shown flag file.
    void watch(const QString& shownFile);

    Outcome toggle(const QString& title, int index, Flags& after);
    // Flags from..to (either order) of title set to flag, in one replacement of its flag file.
    Outcome setFlags(const QString& title, int from, int to, qint16 flag, Flags& after);
    Outcome setCount(const QString& title, qint16 count);
    Outcome setStart(const QString& title, qint16 offset);
    // Removes title's record, then its flag file.
    Outcome remove(const QString& title);
    // All pieces or none: every flag file first, then every record in one replacement of the list.
    // entered: the title as typed, refused as a duplicate when on disk already.
    Outcome add(const QList<Piece>& pieces, const QString& entered = {});

    // The uncollected report as written to ReportFileName(), heading and lines.
    struct Report
    {
        QList<QStringList> records;
        ReportCollection collected;
        Status written;
    };
    Report writeReport(const QString& heading);

    // Takes change back, or does it again, only where the files still hold what it left
    // (what it found): else Changed, Gone or NoRoom, and nothing is written.
    Outcome undo(const Change& change);
    Outcome redo(const Change& change);

Q_SIGNALS:
    // Files the window shows may have been changed by someone else.
    void changed();

private:
    struct Fresh;
    // The folder held, the list as it is now and title's place in it (none: no title looked for).
    Fresh readFresh(const QString& title = QString());
    Outcome setField(const QString& title, std::array<qint16, MaxTitles + 1> Catalogue::*field, qint16 value);
    Outcome replaceList(const QString& fileName, std::shared_ptr<Catalogue> written);
    // title's flags read under the lock, changed by edit (which may refuse) and replaced.
    Outcome editFlags(const QString& title, const std::function<std::optional<Outcome>(Flags&)>& edit, Flags* after);
    Outcome removeTitle(const QString& title, const RemoveChange* expected);
    Outcome addPieces(const QList<Piece>& pieces, const QString& entered, const AddChange* expected);
    Outcome undoAdd(const AddChange& change);
    Outcome undoRemove(const RemoveChange& change);
    Outcome swapField(const FieldChange& change, bool back);

    FileService& m_files;
    FileWatcher* m_watcher;
    ListRead m_shownRead;                 // the list shown, as read or written
    ListRead m_lastRead;                  // the list a command last read, when it was another
    std::optional<QByteArray> m_listSeen; // nullopt: unreadable
    std::optional<QByteArray> m_flagsSeen;
    bool m_locked = false;
};

} // namespace kav::storage
