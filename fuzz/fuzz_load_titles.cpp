// Loads arbitrary bytes as the title list: never more than 2000 titles, and a list
// that loaded whole is written back and reloaded to the same catalogue.
#include "MemoryFileService.h"
#include "storage/Catalogue.h"

#include <cstdlib>

using namespace kav;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::MemoryFileService files;
    files.files.insert(storage::TitleListUpper().toCaseFolded(),
                       QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    static storage::Catalogue catalogue;
    catalogue = {};
    const storage::LoadReport report = storage::LoadTitles(files, catalogue);
    if (catalogue.intKensu < 0 || catalogue.intKensu > storage::MaxTitles)
        std::abort();
    if (report.failure)
        return 0;
    // A name holding a quote cannot be written back as it was read.
    for (int p = 1; p <= catalogue.intKensu; ++p) {
        if (catalogue.strName[p].contains(QLatin1Char('"')))
            return 0;
    }
    if (!storage::SaveTitles(files, catalogue, 0, storage::TitleListLower()))
        return 0;
    static storage::Catalogue again;
    again = {};
    if (storage::LoadTitles(files, again).failure || again.intKensu != catalogue.intKensu)
        std::abort();
    for (int p = 1; p <= catalogue.intKensu; ++p) {
        if (again.strName[p] != catalogue.strName[p] || again.intKansu[p] != catalogue.intKansu[p] ||
            again.intSyo[p] != catalogue.intSyo[p])
            std::abort();
    }
    return 0;
}
