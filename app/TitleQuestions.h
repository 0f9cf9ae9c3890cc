#pragma once

#include "storage/Catalogue.h"

#include <optional>

namespace kav {

class Dialogs;

struct NewTitle
{
    QString title; // as it will be stored
    qint16 volumes = 0;
};

// The questions of a registration: a title that may be registered, asked again until it
// may or the user gives up, then its number of volumes. Nothing when the user gave up.
std::optional<NewTitle> AskNewTitle(Dialogs& dialogs, const storage::Catalogue& catalogue);

// The count edit's question, asked again while the entry is no number: the entry with its
// digits narrowed, or nothing when the user gave up or entered a number below 1.
std::optional<QString> AskCountEdit(Dialogs& dialogs);

} // namespace kav
