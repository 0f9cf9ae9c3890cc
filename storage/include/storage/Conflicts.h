#pragma once

#include "storage/Catalogue.h"
#include "storage/VolumeFlags.h"

#include "core/FileService.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// Sync services leave a copy beside a file that two machines changed. A copy is never
// read as data nor written, nor merged: the user is shown how it differs and decides.
namespace kav::storage {

// The file name would be a conflict copy of, by its shape alone; empty when none:
// X.sync-conflict-YYYYMMDD-HHMMSS-DEVICE.ext (Syncthing), X (conflicted copy YYYY-MM-DD
// HHMMSS).ext (Nextcloud), X (someone's conflicted copy YYYY-MM-DD).ext (Dropbox), and
// for the title list only, データ-MACHINE.txt (OneDrive).
QString ConflictShape(const QString& name);
// False for a case-folded name that cannot have any of those shapes: most of a folder.
bool MayBeConflictCopy(const QString& folded);

struct ConflictCopy
{
    QString copy;     // the copy's name on disk
    int position = 0; // the title whose flag file it copies; 0: the title list
};
// The copies among names: a name whose shape gives the title list or a registered title's
// flag file, and that is not itself a registered title's flag file.
QList<ConflictCopy> FindConflictCopies(const QStringList& names, const Catalogue& catalogue);

struct CountChange
{
    QString title;
    qint16 count = 0, offset = 0;         // in the list in use
    qint16 copyCount = 0, copyOffset = 0; // in the copy
};
struct ConflictDifference
{
    std::optional<Error> unreadable; // the copy could not be read (to its end): what was read is compared
    QStringList onlyInCopy, onlyInUse;
    QList<CountChange> otherCounts;
    QList<int> setOnlyInCopy, setOnlyInUse; // volume numbers (index plus start offset)
};
ConflictDifference CompareTitles(const Catalogue& inUse, const Catalogue& copy);
ConflictDifference CompareFlags(const Flags& inUse, const Flags& copy, qint16 offset);
// Reads the copy and the file it copies as they are now and compares them.
ConflictDifference CompareConflict(FileService& files, const ConflictCopy& copy, const Catalogue& inUse);

} // namespace kav::storage
