#pragma once

#include "storage/Collection.h"

#include "core/FileService.h"

// What the commands of Collection share, in Collection.cpp and Undo.cpp.
namespace kav::storage {

// The folder held from the fresh read to the last replacement, and the list as it is now.
struct Collection::Fresh
{
    std::unique_ptr<FolderLock> lock;
    ListRead list;
    std::optional<Outcome> refused;
    int position = 0; // of the title looked for
};

// A failure that names the file.
Outcome fail(Outcome::Kind kind, Error error, const QString& file = {});

// Someone else changed title since the step that undo or redo would take back.
inline Outcome Changed(const QString& title)
{
    Outcome outcome;
    outcome.kind = Outcome::Changed;
    outcome.title = title;
    return outcome;
}

} // namespace kav::storage
