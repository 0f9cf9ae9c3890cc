#include "storage/Catalogue.h"

#include "storage/Record.h"

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
    int p = 1;
    // Empty lines after the last record are where a text editor left the end of the data.
    while (!OnlyBlankLinesLeft(in)) {
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

Status AppendTitle(FileService& files, const QString& name, qint16 count, qint16 offset)
{
    const Result<QByteArray> record = EncodeRecord({name, count, offset});
    if (!record)
        return inFile(record.error(), TitleListLower());
    return WriteFile(files, 1, TitleListLower(), FileMode::Append, {record.value()});
}

} // namespace kav::storage
