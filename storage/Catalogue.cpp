#include "storage/Catalogue.h"

#include "storage/Record.h"

#include "core/Codec.h"

#include <algorithm>
#include <memory>

namespace kav::storage {

namespace {

Error inFile(Error error, const QString& name)
{
    error.file = name;
    return error;
}

// Reads records into positions 1, 2, ... and returns how many were read whole.
int readTitles(InputCursor& in, Catalogue& catalogue, LoadReport& report)
{
    // The whole list decoded at once: the same titles, failures and lines as field by field.
    static constexpr FieldKind Layout[] = {FieldKind::String, FieldKind::Integer, FieldKind::Integer};
    const RecordsRead read = ReadRecords(in, Layout, MaxTitles);
    for (int i = 0; i < read.records; ++i) {
        catalogue.strName[i + 1] = read.strings[i];
        catalogue.intKansu[i + 1] = read.integers[2 * i];
        catalogue.intSyo[i + 1] = read.integers[2 * i + 1];
    }
    if (read.failure) {
        report.failure = inFile(*read.failure, TitleListUpper());
        report.failure->kind = ErrorKind::Format;
    } else if (read.full) {
        report.failure =
            Error{TitleListUpper(), QStringLiteral("登録できる%1件を超えるタイトルがあります").arg(MaxTitles),
                  in.line(), ErrorKind::Format};
    }
    return read.records;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isUtf8(QByteArrayView bytes, bool* multiByte)
{
    *multiByte = false;
    const auto* b = reinterpret_cast<const uchar*>(bytes.data());
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n;) {
        const uchar c = b[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int length = 0;
        uchar low = 0x80;
        uchar high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            low = c == 0xE0 ? 0xA0 : 0x80;
            high = c == 0xED ? 0x9F : 0xBF;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            low = c == 0xF0 ? 0x90 : 0x80;
            high = c == 0xF4 ? 0x8F : 0xBF;
        } else {
            return false;
        }
        if (i + length > n || b[i + 1] < low || b[i + 1] > high)
            return false;
        for (int k = 2; k < length; ++k) {
            if (b[i + k] < 0x80 || b[i + k] > 0xBF)
                return false;
        }
        *multiByte = true;
        i += length;
    }
    return true;
}

// How garbled a text looks as a Japanese user's list: half-width katakana and the
// rare second-level kanji and extensions are what mis-read bytes turn into.
int oddCharacters(const QString& text)
{
    int odd = 0;
    for (const QChar c : text) {
        if (c.unicode() < 0x80)
            continue;
        if (c.unicode() >= 0xFF61 && c.unicode() <= 0xFF9F) {
            ++odd;
            continue;
        }
        const Result<QByteArray> bytes = cp932::encode(QStringView(&c, 1));
        if (!bytes || bytes.value().size() != 2) {
            ++odd;
            continue;
        }
        const uchar lead = uchar(bytes.value()[0]);
        const uchar trail = uchar(bytes.value()[1]);
        if ((lead == 0x98 && trail >= 0x9F) || lead >= 0x99 || lead == 0x87)
            ++odd;
    }
    return odd;
}

} // namespace

ListEncoding DetectListEncoding(QByteArrayView bytes)
{
    switch (cp932::byteOrderMark(bytes)) {
    case cp932::Mark::Utf8:
        return ListEncoding::Utf8;
    case cp932::Mark::Utf16LE:
    case cp932::Mark::Utf16BE:
        return ListEncoding::Utf16;
    case cp932::Mark::None:
        break;
    }
    bool multiByte = false;
    if (!isUtf8(bytes, &multiByte) || !multiByte)
        return ListEncoding::ShiftJis;
    const QString asUtf8 = QString::fromUtf8(bytes);
    if (!cp932::canEncode(asUtf8))
        return ListEncoding::ShiftJis;
    const Result<QString> asShiftJis = cp932::decode(bytes);
    if (!asShiftJis)
        return ListEncoding::Utf8;
    // Both readings are possible: the one that reads as plain Japanese wins, and a tie stays Shift-JIS.
    return oddCharacters(asShiftJis.value()) > oddCharacters(asUtf8) ? ListEncoding::Utf8 : ListEncoding::ShiftJis;
}

LoadReport ParseTitles(const QByteArray& bytes, Catalogue& catalogue)
{
    LoadReport report;
    report.bytes = bytes;
    report.encoding = DetectListEncoding(bytes);
    InputCursor in;
    in.bytes = bytes;
    if (report.encoding != ListEncoding::ShiftJis) {
        // Read as the Shift-JIS it will be saved as; the line structure stays as it was.
        const Result<QByteArray> converted = cp932::fromUnicode(bytes);
        if (!converted) {
            report.failure = Error{TitleListUpper(), converted.error().message, 0, ErrorKind::Format};
            catalogue.intKensu = 0;
            return report;
        }
        in.bytes = converted.value();
    }
    catalogue.intKensu = qint16(readTitles(in, catalogue, report));
    return report;
}

ListRead ReadList(FileService& files, bool create, std::initializer_list<const ListRead*> known)
{
    Result<QByteArray> bytes = files.readAll(TitleListUpper());
    if (bytes) {
        // Nearly every command finds the bytes read the time before: equal bytes read alike.
        for (const ListRead* k : known) {
            if (k && k->catalogue && k->report.bytes == bytes.value())
                return *k;
        }
        auto catalogue = std::make_shared<Catalogue>();
        LoadReport report = ParseTitles(bytes.value(), *catalogue);
        return {std::move(report), std::move(catalogue)};
    }
    ListRead none{{}, std::make_shared<Catalogue>()};
    if (bytes.error().kind != ErrorKind::NotFound) {
        none.report.failure = inFile(bytes.error(), TitleListUpper());
        return none;
    }
    none.report.missing = true;
    if (create) {
        const Status created = files.replace(TitleListUpper(), {});
        none.report.created = created.ok();
        if (!created)
            none.report.failure = created.error();
    }
    return none;
}

LoadReport LoadTitles(FileService& files, Catalogue& catalogue)
{
    ListRead read = ReadList(files, true);
    catalogue = *read.catalogue;
    return std::move(read.report);
}

Result<QByteArray> EncodeTitles(const Catalogue& catalogue)
{
    qsizetype room = 0;
    for (int p = 1; p <= catalogue.intKensu; ++p)
        room += catalogue.strName[p].size() + 18; // quotes, two commas, two numbers, CR LF
    RecordText text(room);
    for (int p = 1; p <= catalogue.intKensu; ++p)
        text.record(catalogue.strName[p], catalogue.intKansu[p], catalogue.intSyo[p]);
    if (std::optional<QByteArray> bytes = text.encode())
        return std::move(*bytes);
    // A name that cannot be written: record by record, for the failure that names it.
    QList<Field> fields;
    fields.reserve(3 * catalogue.intKensu);
    for (int p = 1; p <= catalogue.intKensu; ++p)
        fields << catalogue.strName[p] << catalogue.intKansu[p] << catalogue.intSyo[p];
    Result<QByteArray> bytes = EncodeRecords(fields, 3);
    if (!bytes)
        return inFile(bytes.error(), TitleListUpper());
    return bytes;
}

void RemoveRecord(Catalogue& catalogue, int position)
{
    for (int q = position; q < catalogue.intKensu; ++q) {
        catalogue.strName[q] = catalogue.strName[q + 1];
        catalogue.intKansu[q] = catalogue.intKansu[q + 1];
        catalogue.intSyo[q] = catalogue.intSyo[q + 1];
    }
    --catalogue.intKensu;
}

Result<QByteArray> AppendedTitles(const LoadReport& report, const Catalogue& catalogue, const QList<NewRecord>& records)
{
    QByteArray added;
    for (const NewRecord& r : records) {
        const Result<QByteArray> record = EncodeRecord({r.name, r.count, r.offset});
        if (!record)
            return inFile(record.error(), TitleListLower());
        added += record.value();
    }
    if (report.failure) // a list that failed to load is nobody's to rewrite
        return *report.failure;

    auto anew = [&]() -> Result<QByteArray> {
        const Result<QByteArray> whole = EncodeTitles(catalogue);
        if (!whole)
            return whole;
        return whole.value() + added;
    };
    if (report.encoding != ListEncoding::ShiftJis)
        return anew();

    // A list saved by a text editor may end without a line end, or in empty lines or an
    // end-of-file mark; records simply put after it would not be read back as records.
    const QByteArray& old = report.bytes;
    qsizetype data = old.size();
    if (data > 0 && old[data - 1] == '\x1A')
        --data;
    while (data > 0 && (old[data - 1] == '\r' || old[data - 1] == '\n'))
        --data;
    const QByteArrayView tail = QByteArrayView(old).sliced(data);
    QByteArray kept = old.left(data);
    if (data > 0)
        kept += tail == "\n" ? QByteArrayView("\n") : QByteArrayView("\r\n");

    // Read back, the list kept must give its titles and then the first new record on its own:
    // a last record that leaves a field open would swallow it.
    if (records.isEmpty())
        return kept;
    const NewRecord& first = records[0];
    auto back = std::make_unique<Catalogue>();
    InputCursor in;
    in.bytes = kept + EncodeRecord({first.name, first.count, first.offset}).value();
    LoadReport read;
    const int n = readTitles(in, *back, read);
    const bool whole = !read.failure && n == catalogue.intKensu + 1 && back->strName[n] == first.name &&
                       back->intKansu[n] == first.count && back->intSyo[n] == first.offset &&
                       (n == 1 || (back->strName[n - 1] == catalogue.strName[n - 1] &&
                                   back->intKansu[n - 1] == catalogue.intKansu[n - 1] &&
                                   back->intSyo[n - 1] == catalogue.intSyo[n - 1]));
    if (whole)
        return kept + added;
    // The list is written anew in this program's own form, every title as it was read.
    return anew();
}

} // namespace kav::storage
