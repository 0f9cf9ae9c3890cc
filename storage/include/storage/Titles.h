#pragma once

#include "storage/Catalogue.h"
#include "storage/VolumeFlags.h"

#include <QHash>
#include <QList>
#include <QString>

// The rules a title obeys: what may be registered, how a long series is split,
// how a title is found and which file holds its flags.
namespace kav::storage {

constexpr int MaxPieceVolumes = 50;

// Why a typed title cannot be registered; the checks run in this order.
enum class TitleProblem {
    None,
    Forbidden, // one of \ / : , ; * ? " < > |
    Control,   // line breaks, tabs and other control or format characters
    NotCp932,  // a character code page 932 cannot hold
    TooLong,   // the file name would not fit
    Reserved,  // a name Windows cannot give a file (CON, NUL, COM1...), or ending in a blank or dot
};
TitleProblem CheckTitle(const QString& title);

// Characters that input methods on Linux type where a Windows user's code page 932
// text holds a look-alike: the title is stored as such a file would hold it.
QString WindowsForms(QString title);

struct Piece
{
    QString name;
    qint16 count = 0;
    qint16 offset = 0;
};
// One piece for up to 50 volumes, else title(1_50), title(51_100), ... the last one shorter.
QList<Piece> SplitIntoPieces(const QString& title, qint16 volumes);

// The first position whose name equals name exactly, 0 when none does.
int FindTitle(const Catalogue& catalogue, const QString& name);

// The flag file of a title, in the spelling each step forms it with.
QString FlagFileUpper(const QString& title);
QString FlagFileLower(const QString& title);
// True when a title would name one of the program's own files (the title list or
// the report) as its flag file: such a title has no flag file of its own.
bool NamesProgramFile(const QString& title);

// The file a new piece's flag file would share with something already there
// (a program file, another title's flag file, a name no file may have), or empty.
QString FileClash(const Catalogue& catalogue, const QString& pieceName);

// The same for many pieces: the catalogue's names are folded once, not once for each
// piece (656 pieces against 1344 titles were 880,000 foldings).
class FileClashes
{
public:
    explicit FileClashes(const Catalogue& catalogue);
    QString operator()(const QString& pieceName) const;

private:
    const Catalogue& m_catalogue;
    QHash<QString, int> m_first; // folded name -> its first position
};

// One record of the uncollected report: the title and its flags set to 1, "3_4_12".
struct ReportLine
{
    QString title;
    QString indexes;
};
struct ReportCollection
{
    QList<ReportLine> lines;
    QStringList notCreated; // missing flag files that could not be created
    QList<Error> unusable;  // flag files that are there but cannot be read (a folder...)
};
// Reads every title's flag file afresh, creating a missing one with 50 zeros.
ReportCollection CollectReport(FileService& files, const Catalogue& catalogue);

} // namespace kav::storage
