// Loads arbitrary bytes as the title list: never more than 2000 titles, the file is
// left as it was, and a list that loaded whole takes one more title at its end and
// is written back and reloaded to the same catalogue.
#include "MemoryFileService.h"
#include "storage/Catalogue.h"

#include <cstdlib>

using namespace kav;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::MemoryFileService files;
    const QString key = storage::TitleListUpper().toCaseFolded();
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    files.files.insert(key, input);
    static storage::Catalogue catalogue;
    catalogue = {};
    const storage::LoadReport report = storage::LoadTitles(files, catalogue);
    if (catalogue.intKensu < 0 || catalogue.intKensu > storage::MaxTitles)
        std::abort();
    // Loading, whole or not, never rewrites the file it read.
    if (report.created || files.files.size() != 1 || files.files.value(key) != input)
        std::abort();
    if (report.failure)
        return 0;

    // A title appended to a list that loaded whole is one more title of a list that loads whole.
    static storage::Catalogue appended;
    if (catalogue.intKensu < storage::MaxTitles) {
        fuzz::MemoryFileService copy;
        copy.files = files.files;
        static storage::Catalogue read;
        read = {};
        const storage::LoadReport before = storage::LoadTitles(copy, read);
        const Result<QByteArray> bytes = storage::AppendedTitles(before, read, {{QStringLiteral("Z"), 1, 0}});
        if (!bytes || !copy.replace(storage::TitleListLower(), bytes.value())) {
            // Refused only when the list has to be written anew and a name read from it
            // cannot be written back; then the file is left as it was.
            bool quoted = false;
            for (int p = 1; p <= catalogue.intKensu; ++p)
                quoted = quoted || catalogue.strName[p].contains(QLatin1Char('"'));
            if (!quoted || copy.files != files.files)
                std::abort();
            return 0;
        }
        appended = {};
        if (storage::LoadTitles(copy, appended).failure || appended.intKensu != catalogue.intKensu + 1 ||
            appended.strName[appended.intKensu] != QStringLiteral("Z"))
            std::abort();
    }

    // A name holding a quote cannot be written back as it was read.
    for (int p = 1; p <= catalogue.intKensu; ++p) {
        if (catalogue.strName[p].contains(QLatin1Char('"')))
            return 0;
    }
    // Titles whose Shift-JIS bytes are valid UTF-8 that reads as plainer Japanese (a
    // second-level kanji and a half-width katakana, 繧ｳ, is コ in UTF-8) are read back
    // as UTF-8: a list of nothing else cannot tell the two apart.
    const Result<QByteArray> own = storage::EncodeTitles(catalogue);
    if (own && report.encoding == storage::ListEncoding::ShiftJis &&
        storage::DetectListEncoding(own.value()) == storage::ListEncoding::Utf8)
        return 0;
    if (!own || !files.replace(storage::TitleListLower(), own.value()))
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
