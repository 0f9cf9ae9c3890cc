#pragma once

#include "storage/Catalogue.h"
#include "storage/Titles.h"
#include "storage/VolumeFlags.h"

#include <memory>
#include <optional>

// Every change is made to the files as they are on disk now: read afresh, find the
// title by its name, change what the command changes, replace the file in one step.
// Whatever another window or a text editor wrote in between is kept.
namespace kav::storage {

struct Change
{
    enum Outcome {
        Done,
        Gone,           // no title of that name on disk any more: nothing written
        ListUnreadable, // the list cannot be read to its end: nothing written
        Refused,        // a rule forbids it (clash, room, a file that must not be written)
        Failed,         // a write failed; what was on disk is as it was
    } outcome = Done;
    std::optional<Error> error;
    int position = 0; // where the title stood in the list (deletion)
    // The list as this command replaced it (edits and deletion): what a read of the file
    // now gives, so the window need not read it again.
    std::shared_ptr<const Catalogue> written;
    QByteArray bytes;
    bool ok() const { return outcome == Done; }
};

// The volume count of title name.
Change SetVolumeCount(FileService& files, const QString& name, qint16 count);
// The start offset of title name.
Change SetStartOffset(FileService& files, const QString& name, qint16 offset);
// Removes the first record named name, then its flag file.
Change DeleteTitle(FileService& files, const QString& name);
// All pieces or none: every flag file first, then every record in one replacement of
// the list. A failure removes the flag files made (and puts back any it replaced).
// Refused with a Clash error: the file a piece's flags would share (file, message),
// or, with no message, a title of that very name already on disk (file: the name).
// entered: the title as typed, refused too when already there (the pieces of a split carry other names).
Change RegisterPieces(FileService& files, const QList<Piece>& pieces, const QString& entered = {});
// Switches flag index (1..50) of title name in its flag file as it is now; after gets
// the 50 flags written.
Change ToggleFlag(FileService& files, const QString& name, int index, Flags& after);

} // namespace kav::storage
