#include "storage/Conflicts.h"

#include "storage/Titles.h"

#include <QDate>
#include <QHash>
#include <QRegularExpression>
#include <QTime>

#include <algorithm>

namespace kav::storage {

namespace {

struct Shape
{
    QRegularExpression pattern; // captures: name, date, time (or none), extension
    const char* dateFormat;
};

const Shape& shape(int i)
{
    using RE = QRegularExpression;
    static const Shape shapes[] = {
        {RE(QStringLiteral(R"(^(.+)\.sync-conflict-([0-9]{8})-([0-9]{6})-[A-Z0-9]{7}(\.[^.]+)$)")), "yyyyMMdd"},
        {RE(QStringLiteral(R"(^(.+) \(conflicted copy ([0-9]{4}-[0-9]{2}-[0-9]{2}) ([0-9]{6})\)(\.[^.]+)$)")),
         "yyyy-MM-dd"},
        {RE(QStringLiteral(R"(^(.+) \([^()]+['’]s conflicted copy ([0-9]{4}-[0-9]{2}-[0-9]{2})\)()(\.[^.]+)$)")),
         "yyyy-MM-dd"},
    };
    return shapes[i];
}
constexpr int Shapes = 3;

} // namespace

QString ConflictShape(const QString& name)
{
    for (int i = 0; i < Shapes; ++i) {
        const QRegularExpressionMatch m = shape(i).pattern.match(name);
        if (!m.hasMatch() || !QDate::fromString(m.captured(2), QLatin1String(shape(i).dateFormat)).isValid() ||
            (!m.captured(3).isEmpty() && !QTime::fromString(m.captured(3), QStringLiteral("HHmmss")).isValid()))
            continue;
        return m.captured(1) + m.captured(4);
    }
    // OneDrive's name-MACHINE is the shape of many titles: only the title list is taken for it.
    static const QRegularExpression oneDrive(QStringLiteral(R"(^データ-[A-Za-z0-9][A-Za-z0-9-]{0,14}(\.txt)$)"),
                                             QRegularExpression::CaseInsensitiveOption);
    if (const QRegularExpressionMatch m = oneDrive.match(name); m.hasMatch())
        return QStringLiteral("データ") + m.captured(1);
    return {};
}

bool MayBeConflictCopy(const QString& folded)
{
    return folded.contains(QLatin1String("conflict")) || folded.startsWith(QStringLiteral("データ-"));
}

QList<ConflictCopy> FindConflictCopies(const QStringList& names, const Catalogue& catalogue)
{
    QList<ConflictCopy> copies;
    QHash<QString, int> flagFiles; // folded flag file name -> position, made when a name has a copy's shape
    for (const QString& name : names) {
        // Most folders hold no copy: a cheap look first.
        if (!MayBeConflictCopy(name.toCaseFolded()))
            continue;
        const QString original = ConflictShape(name).toCaseFolded();
        if (original.isEmpty())
            continue;
        if (flagFiles.isEmpty()) {
            for (int p = catalogue.intKensu; p >= 1; --p)
                flagFiles.insert(FlagFileUpper(catalogue.strName[p]).toCaseFolded(), p);
        }
        if (flagFiles.contains(name.toCaseFolded()) || IsProgramFile(name))
            continue; // a title's own flag file, whatever its name looks like
        if (original == TitleListLower().toCaseFolded())
            copies.append({name, 0});
        else if (const int p = flagFiles.value(original); p > 0 && !NamesProgramFile(catalogue.strName[p]))
            copies.append({name, p});
    }
    std::sort(copies.begin(), copies.end(), [](const ConflictCopy& a, const ConflictCopy& b) {
        return a.position != b.position ? a.position < b.position : a.copy < b.copy;
    });
    return copies;
}

ConflictDifference CompareTitles(const Catalogue& inUse, const Catalogue& copy)
{
    ConflictDifference d;
    QHash<QString, int> inCopy;
    for (int p = copy.intKensu; p >= 1; --p)
        inCopy.insert(copy.strName[p], p);
    QHash<QString, int> used;
    for (int p = inUse.intKensu; p >= 1; --p)
        used.insert(inUse.strName[p], p);
    for (int p = 1; p <= inUse.intKensu; ++p) {
        const int q = inCopy.value(inUse.strName[p]);
        if (q == 0)
            d.onlyInUse.append(inUse.strName[p]);
        else if (used.value(inUse.strName[p]) == p &&
                 (inUse.intKansu[p] != copy.intKansu[q] || inUse.intSyo[p] != copy.intSyo[q]))
            d.otherCounts.append(
                {inUse.strName[p], inUse.intKansu[p], inUse.intSyo[p], copy.intKansu[q], copy.intSyo[q]});
    }
    for (int p = 1; p <= copy.intKensu; ++p) {
        if (!used.contains(copy.strName[p]))
            d.onlyInCopy.append(copy.strName[p]);
    }
    return d;
}

ConflictDifference CompareFlags(const Flags& inUse, const Flags& copy, qint16 offset)
{
    ConflictDifference d;
    for (int i = 1; i <= FlagCount; ++i) {
        if ((inUse[i] == 1) != (copy[i] == 1))
            (copy[i] == 1 ? d.setOnlyInCopy : d.setOnlyInUse).append(i + offset);
    }
    return d;
}

ConflictDifference CompareConflict(FileService& files, const ConflictCopy& copy, const Catalogue& inUse)
{
    const Result<QByteArray> bytes = files.readAll(copy.copy);
    ConflictDifference d;
    if (copy.position == 0) {
        Catalogue copied;
        const LoadReport report = bytes ? ParseTitles(bytes.value(), copied) : LoadReport{};
        d = CompareTitles(inUse, copied);
        d.unreadable = bytes ? report.failure : bytes.error();
        return d;
    }
    Flags copied{}, used{};
    const FlagsRead read = bytes ? ParseVolumes(bytes.value(), copy.copy, copied) : FlagsRead{};
    (void)LoadVolumes(files, FlagFileUpper(inUse.strName[copy.position]), used);
    d = CompareFlags(used, copied, inUse.intSyo[copy.position]);
    d.unreadable = !bytes ? std::optional<Error>(bytes.error()) : read.unreadable ? read.failure : std::nullopt;
    return d;
}

} // namespace kav::storage
