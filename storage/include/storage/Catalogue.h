#pragma once

#include "core/FileService.h"
#include "core/Result.h"

#include <QString>

#include <array>
#include <optional>

namespace kav::storage {

constexpr int MaxTitles = 2000;

// The title list file; both spellings name one file.
inline QString TitleListUpper()
{
    return QStringLiteral("データ.TXT");
}
inline QString TitleListLower()
{
    return QStringLiteral("データ.txt");
}

// Parallel arrays, slot 0 unused, positions 1..intKensu in use. Slots above
// intKensu may hold titles of an earlier, longer load; nothing reads them.
struct Catalogue
{
    std::array<QString, MaxTitles + 1> strName;
    std::array<qint16, MaxTitles + 1> intKansu{};
    std::array<qint16, MaxTitles + 1> intSyo{};
    qint16 intKensu = 0;
};

struct LoadReport
{
    bool created = false;         // the file was missing and was created empty
    std::optional<Error> failure; // set when the file could not be read to its end;
                                  // the catalogue then holds the records read before it
};

// Rebuilds the catalogue from the title list file (created empty when missing).
LoadReport LoadTitles(FileService& files, Catalogue& catalogue);

// Rewrites the whole title list file, leaving out position skip (0: none).
// The old file is replaced only when every record was written.
Status SaveTitles(FileService& files, const Catalogue& catalogue, int skip, const QString& fileName);

// One record at the end of the title list file; created when missing.
Status AppendTitle(FileService& files, const QString& name, qint16 count, qint16 offset);

} // namespace kav::storage
