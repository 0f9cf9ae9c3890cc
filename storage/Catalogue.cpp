#include "storage/Catalogue.h"

#include "storage/Record.h"

#include <memory>

namespace kav::storage {

namespace {

Error inFile(Error error, const QString& name)
{
    error.file = name;
    return error;
}

// Reads records into positions 1, 2, ... and returns how many were read whole;
// lastStart gets where the last record read began.
int readTitles(InputCursor& in, Catalogue& catalogue, LoadReport& report, qsizetype* lastStart = nullptr)
{
    int p = 1;
    // Empty lines after the last record are where a text editor left the end of the data.
    while (!OnlyBlankLinesLeft(in)) {
        if (lastStart)
            *lastStart = in.pos;
        if (p > MaxTitles) {
            report.failure = Error{
                TitleListUpper(), QStringLiteral("登録できる%1件を超えるタイトルがあります").arg(MaxTitles), in.line()};
            break;
        }
        const Result<QString> name = ReadString(in);
        const Result<qint16> count = name ? ReadInteger(in) : Result<qint16>(name.error());
        const Result<qint16> offset = count ? ReadInteger(in) : Result<qint16>(count.error());
        if (!offset) {
            report.failure = inFile(offset.error(), TitleListUpper());
            break;
        }
        catalogue.strName[p] = name.value();
        catalogue.intKansu[p] = count.value();
        catalogue.intSyo[p] = offset.value();
        ++p;
    }
    return p - 1;
}

} // namespace

LoadReport LoadTitles(FileService& files, Catalogue& catalogue)
{
    LoadReport report;
    const QString name = TitleListUpper();
    int count = 0;
    if (const Status opened = files.open(1, name, FileMode::Input); opened) {
        if (InputCursor* in = files.input(1))
            count = readTitles(*in, catalogue, report);
    } else if (!files.exists(name)) {
        const Status created = WriteFile(files, 1, name, FileMode::Output, {});
        report.created = created.ok();
        if (!created)
            report.failure = created.error();
    } else {
        // There but unreadable (a folder of that name, no permission): left as it is.
        report.failure = opened.error();
    }
    (void)files.closeAll();
    catalogue.intKensu = qint16(count);
    return report;
}

Status SaveTitles(FileService& files, const Catalogue& catalogue, int skip, const QString& fileName)
{
    const int n = catalogue.intKensu;
    QList<QByteArray> records;
    records.reserve(n);
    // Every record is encoded before the file is opened, so a name that cannot be written leaves it untouched.
    for (int p = 1; p <= n; ++p) {
        if (p == skip)
            continue;
        Result<QByteArray> record = EncodeRecord({catalogue.strName[p], catalogue.intKansu[p], catalogue.intSyo[p]});
        if (!record)
            return inFile(record.error(), fileName);
        records.append(std::move(record.value()));
    }
    return WriteFile(files, 1, fileName, FileMode::Output, records);
}

namespace {

// Titles in bytes, or nothing when they cannot be read to their end.
std::unique_ptr<Catalogue> readWhole(const QByteArray& bytes, qsizetype* lastStart = nullptr)
{
    auto catalogue = std::make_unique<Catalogue>();
    InputCursor in;
    in.bytes = bytes;
    LoadReport report;
    catalogue->intKensu = qint16(readTitles(in, *catalogue, report, lastStart));
    if (report.failure)
        return {};
    return catalogue;
}

} // namespace

Status AppendTitle(FileService& files, const QString& name, qint16 count, qint16 offset)
{
    const Result<QByteArray> record = EncodeRecord({name, count, offset});
    if (!record)
        return inFile(record.error(), TitleListLower());

    QByteArray old;
    if (files.exists(TitleListLower())) {
        const Status opened = files.open(1, TitleListLower(), FileMode::Input);
        if (!opened)
            return opened;
        if (const InputCursor* in = files.input(1))
            old = in->bytes;
        (void)files.close(1);
    }

    // A list saved by a text editor may end without a line end, or in empty lines or an
    // end-of-file mark; a record simply appended there would not be read back as one.
    qsizetype data = old.size();
    if (data > 0 && old[data - 1] == '\x1A')
        --data;
    while (data > 0 && (old[data - 1] == '\r' || old[data - 1] == '\n'))
        --data;
    const QByteArrayView tail = QByteArrayView(old).sliced(data);
    QByteArray kept = old.left(data);
    if (data > 0)
        kept += tail == "\n" ? QByteArrayView("\n") : QByteArrayView("\r\n");

    // Read back whole with the new record read on its own, the list before it was whole too.
    qsizetype lastStart = -1;
    const std::unique_ptr<Catalogue> after = readWhole(kept + record.value(), &lastStart);
    const int n = after ? after->intKensu : 0;
    if (after && lastStart == kept.size() && after->strName[n] == name && after->intKansu[n] == count &&
        after->intSyo[n] == offset) {
        if (kept == old)
            return WriteFile(files, 1, TitleListLower(), FileMode::Append, {record.value()});
        // A mended end goes in one replacement, so that no moment has the list half mended.
        return WriteFile(files, 1, TitleListLower(), FileMode::Output, {kept, record.value()});
    }

    const std::unique_ptr<Catalogue> before = readWhole(old);
    if (!before || before->intKensu >= MaxTitles) // a list that failed to load is nobody's to mend here
        return WriteFile(files, 1, TitleListLower(), FileMode::Append, {record.value()});
    // The last record leaves a field open (an unmatched quote): the list is written
    // anew in this program's own form, every title as it was read.
    const int m = before->intKensu;
    before->strName[m + 1] = name;
    before->intKansu[m + 1] = count;
    before->intSyo[m + 1] = offset;
    before->intKensu = qint16(m + 1);
    return SaveTitles(files, *before, 0, TitleListLower());
}

} // namespace kav::storage
