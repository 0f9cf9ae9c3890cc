#include "storage/Titles.h"

#include "core/Codec.h"
#include "core/Conversions.h"

#include <QRegularExpression>

#include <cmath>

namespace kav::storage {

namespace {

const QString ForbiddenCharacters = QStringLiteral("\\/:,;*?\"<>|");

// Longest name (in UTF-8 bytes) that still leaves room for ".TXT" and the
// temporary suffix a safe rewrite appends, within the usual 255-byte limit.
constexpr int MaxNameBytes = 240;

bool hasControlCharacter(const QString& text)
{
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator)
            return true;
    }
    return false;
}

// Windows keeps these names for devices, whatever follows the first dot.
bool isDeviceName(const QString& name)
{
    static const QRegularExpression device(QStringLiteral("^(CON|PRN|AUX|NUL|COM[1-9]|LPT[1-9])$"),
                                           QRegularExpression::CaseInsensitiveOption);
    QString stem = name.section(QLatin1Char('.'), 0, 0);
    while (stem.endsWith(QLatin1Char(' ')))
        stem.chop(1);
    return device.match(stem).hasMatch();
}

// The stems of the program's own files, which a title's flag file would take.
const QString ProgramFiles[] = {TitleListUpper().chopped(4), ReportFileName().chopped(4)};

} // namespace

TitleProblem CheckTitle(const QString& title)
{
    if (std::any_of(ForbiddenCharacters.begin(), ForbiddenCharacters.end(), [&](QChar c) { return title.contains(c); }))
        return TitleProblem::Forbidden;
    if (hasControlCharacter(title))
        return TitleProblem::Control;
    if (!cp932::canEncode(title))
        return TitleProblem::NotCp932;
    if (title.toUtf8().size() > MaxNameBytes - 10)
        return TitleProblem::TooLong;
    if (isDeviceName(title) || title.endsWith(QLatin1Char(' ')) || title.endsWith(QLatin1Char('.')) ||
        title.endsWith(QChar(0x3000)))
        return TitleProblem::Reserved;
    return TitleProblem::None;
}

QString WindowsForms(QString title)
{
    static const std::pair<char16_t, char16_t> map[] = {
        {u'\u301C', u'\uFF5E'}, // wave dash -> full-width tilde (0x8160)
        {u'\u2212', u'\uFF0D'}, // minus sign -> full-width hyphen-minus (0x817C)
        {u'\u2016', u'\u2225'}, // double vertical line -> parallel to (0x8161)
        {u'\u2014', u'\u2015'}, // em dash -> horizontal bar (0x815C)
        {u'\u00A2', u'\uFFE0'}, {u'\u00A3', u'\uFFE1'}, {u'\u00AC', u'\uFFE2'},
    };
    for (const auto& [from, to] : map)
        title.replace(QChar(from), QChar(to));
    return title;
}

QList<Piece> SplitIntoPieces(const QString& title, qint16 volumes)
{
    QList<Piece> pieces;
    if (volumes < 1)
        return pieces;
    if (volumes <= MaxPieceVolumes) {
        pieces.append({title, volumes, 0});
        return pieces;
    }
    const int count = static_cast<int>(std::floor(volumes / 50.0 + 0.9999));
    pieces.reserve(count);
    for (int j = 1; j <= count; ++j) {
        const int first = (j - 1) * MaxPieceVolumes + 1;
        const int last = j < count ? j * MaxPieceVolumes : volumes;
        pieces.append({title + QStringLiteral("(%1_%2)").arg(IntText(first), IntText(last)),
                       static_cast<qint16>(last - first + 1), static_cast<qint16>(first - 1)});
    }
    return pieces;
}

int FindTitle(const Catalogue& catalogue, const QString& name)
{
    for (int p = 1; p <= catalogue.intKensu; ++p) {
        if (catalogue.strName[p] == name)
            return p;
    }
    return 0;
}

QString FlagFileUpper(const QString& title)
{
    return title + QStringLiteral(".TXT");
}

QString FlagFileLower(const QString& title)
{
    return title + QStringLiteral(".txt");
}

bool NamesProgramFile(const QString& title)
{
    const QString folded = title.toCaseFolded();
    return std::any_of(std::begin(ProgramFiles), std::end(ProgramFiles),
                       [&](const QString& own) { return folded == own.toCaseFolded(); });
}

QString FileClash(const Catalogue& catalogue, const QString& pieceName)
{
    return FileClashes(catalogue)(pieceName);
}

FileClashes::FileClashes(const Catalogue& catalogue) : m_catalogue(catalogue)
{
    m_first.reserve(catalogue.intKensu);
    for (int p = catalogue.intKensu; p >= 1; --p)
        m_first.insert(catalogue.strName[p].toCaseFolded(), p); // the first position wins
}

QString FileClashes::operator()(const QString& pieceName) const
{
    const QString folded = pieceName.toCaseFolded();
    for (const QString& own : ProgramFiles) {
        if (folded == own.toCaseFolded())
            return FlagFileLower(own);
    }
    if (const auto found = m_first.constFind(folded); found != m_first.cend())
        return FlagFileUpper(m_catalogue.strName[*found]);
    if (!FileService::isSafeName(FlagFileUpper(pieceName)) || isDeviceName(pieceName))
        return pieceName;
    return {};
}

ReportCollection CollectReport(FileService& files, const Catalogue& catalogue)
{
    ReportCollection report;
    const int count = catalogue.intKensu;
    for (int p = 1; p <= count; ++p) {
        const QString& name = catalogue.strName[p];
        // A title named like the list or the report has no flags: its "file" is not read, nor created.
        if (NamesProgramFile(name))
            continue;
        const QString flagFile = FlagFileLower(name);
        Flags flags{};
        const FlagsRead read = LoadVolumes(files, flagFile, flags, OnReadFailure::Stop);
        if (read.unreadable) {
            report.unusable.append(*read.failure);
            continue;
        }
        if (read.missing) {
            if (read.failure && read.failure->kind != ErrorKind::NotFound)
                report.unusable.append(*read.failure);
            else if (!CreateVolumes(files, flagFile))
                report.notCreated.append(flagFile);
            continue;
        }
        QStringList indexes;
        for (int i = 1; i <= FlagCount; ++i) {
            if (flags[i] == 1)
                indexes.append(IntText(i));
        }
        if (!indexes.isEmpty())
            report.lines.append({name, indexes.join(QLatin1Char('_'))});
    }
    return report;
}

} // namespace kav::storage
