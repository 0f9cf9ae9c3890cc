#pragma once

#include "core/FileService.h"
#include "core/Result.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <array>
#include <initializer_list>
#include <memory>
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
// The uncollected report the program writes.
inline QString ReportFileName()
{
    return QStringLiteral("残巻データ.txt");
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

// The program writes Shift-JIS; a list a Linux editor saved may come back as UTF-8,
// one a Windows editor saved as "Unicode" as UTF-16.
enum class ListEncoding { ShiftJis, Utf8, Utf16 };

// The form a byte-order mark names, else UTF-8 when the bytes are valid UTF-8 with
// multi-byte characters that code page 932 can hold and read as less garbled text
// than the same bytes read as code page 932 would. Anything else is Shift-JIS.
ListEncoding DetectListEncoding(QByteArrayView bytes);

struct LoadReport
{
    bool created = false;         // the file was missing and was created empty
    bool missing = false;         // the file was missing (and, reading afresh, left so)
    std::optional<Error> failure; // set when the file could not be read to its end;
                                  // the catalogue then holds the records read before it
    ListEncoding encoding = ListEncoding::ShiftJis;
    QByteArray bytes; // the file as read
};

// The list as read, and the catalogue nobody changes that it reads as.
struct ListRead
{
    LoadReport report;
    std::shared_ptr<const Catalogue> catalogue;
};
// The one reading of the list file as it is now: a missing list is empty (and created empty
// when create is set). Bytes equal to those of a list in known give its catalogue again
// without parsing them.
ListRead ReadList(FileService& files, bool create, std::initializer_list<const ListRead*> known = {});
// The same into catalogue, the list created when missing.
LoadReport LoadTitles(FileService& files, Catalogue& catalogue);
// The list's codec: bytes read into catalogue, and catalogue written in this program's own form.
LoadReport ParseTitles(const QByteArray& bytes, Catalogue& catalogue);
Result<QByteArray> EncodeTitles(const Catalogue& catalogue);

// Takes record position out, the records after it moving up one.
void RemoveRecord(Catalogue& catalogue, int position);

struct NewRecord
{
    QString name;
    qint16 count = 0;
    qint16 offset = 0;
};
// The list as read (report) with records added at its end. The list's own bytes are
// kept; an end without a line end, or with empty lines or an end-of-file mark, is
// mended so the new records read back as records. A UTF-8 or UTF-16 list, or one whose last
// record leaves a field open, is written anew in Shift-JIS.
Result<QByteArray> AppendedTitles(const LoadReport& report, const Catalogue& catalogue,
                                  const QList<NewRecord>& records);

} // namespace kav::storage
