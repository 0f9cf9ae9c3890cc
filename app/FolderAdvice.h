#pragma once

#include "storage/Catalogue.h"

#include <QSet>

namespace kav {

class Dialogs;
class FileService;

// Offers to give files named in code page 932 bytes (as Windows archives unpack) their UTF-8 names.
void OfferSystemSpelling(Dialogs& dialogs, FileService& files);

// Names the sync services' conflict copies not in told, and how they differ from what is in use.
void TellConflictCopies(Dialogs& dialogs, FileService& files, const storage::Catalogue& catalogue, QSet<QString>& told);

} // namespace kav
