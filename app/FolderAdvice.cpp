#include "FolderAdvice.h"

#include "Messages.h"

#include "core/FileService.h"
#include "storage/Conflicts.h"
#include "storage/Titles.h"
#include "ui/Dialogs.h"

namespace kav {

void OfferSystemSpelling(Dialogs& dialogs, FileService& files)
{
    const QStringList names = files.foreignNames();
    if (names.isEmpty() || words::show(dialogs, words::systemSpelling(names)) != mb::Yes)
        return;
    QStringList failed;
    for (const QString& name : names) {
        if (const Status renamed = files.renameToSystemSpelling(name); !renamed)
            failed.append(words::renameFailure(name, renamed.error().message));
    }
    if (!failed.isEmpty())
        words::show(dialogs, words::renameFailed(failed));
}

void TellConflictCopies(Dialogs& dialogs, FileService& files, const storage::Catalogue& cat, QSet<QString>& told)
{
    QList<storage::ConflictCopy> fresh;
    for (const storage::ConflictCopy& copy :
         storage::FindConflictCopies(files.names(storage::MayBeConflictCopy), cat)) {
        if (!told.contains(copy.copy))
            fresh.append(copy);
        told.insert(copy.copy);
    }
    if (fresh.isEmpty())
        return;
    constexpr int Shown = 6;
    QStringList lines;
    for (qsizetype k = 0; k < fresh.size() && k < Shown; ++k) {
        const storage::ConflictCopy& copy = fresh[k];
        const QString original =
            copy.position == 0 ? storage::TitleListLower() : storage::FlagFileUpper(cat.strName[copy.position]);
        lines += words::conflictCopy(copy, storage::CompareConflict(files, copy, cat), original);
    }
    words::show(dialogs, words::conflictCopies(lines, fresh.size() - Shown));
}

} // namespace kav
