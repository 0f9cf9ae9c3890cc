// Times the program's work against the same bytes read, converted and written the
// plainest way (no program logic), side by side, and prints both with their ratio.
// Not a test: it prints figures. Usage:
//   bench_kavurio [--only REGEX] [--runs N] [--scale X]
// --only runs the rows whose name matches the regular expression (for callgrind), --runs fixes the
// number of runs of every row, --scale stretches the time each row is given. The scratch folders go
// where TMPDIR says: TMPDIR=/dev/shm (tmpfs, where a flush costs nothing) shows the program's own work.
#include "frmMain.h"
#include "storage/Catalogue.h"
#include "storage/Record.h"
#include "support/WindowFixture.h"
#include "ui_frmMain.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStorageInfo>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QSysInfo>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

using namespace kav;
using namespace kav::test;

namespace {

// ---- Options and the machine ----------------------------------------------

struct Options
{
    QRegularExpression only;
    int runs = 0; // 0: as many as the row's time allows
    double scale = 1.0;
} options;

bool selected(const char* name)
{
    return options.only.pattern().isEmpty() || options.only.match(QString::fromUtf8(name)).hasMatch();
}

QString firstLineOf(const QString& path, const QString& key)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    // Files under /proc tell no size: read to the end.
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (const QString& raw : lines) {
        const QString line = raw.trimmed();
        if (key.isEmpty())
            return line;
        if (line.startsWith(key))
            return line.section(QLatin1Char(':'), 1).trimmed();
    }
    return QStringLiteral("?");
}

void printMachine(const QString& scratch)
{
    const QStorageInfo storage(scratch);
    std::printf("CPU:          %s (%d logical cores)\n",
                qPrintable(firstLineOf(QStringLiteral("/proc/cpuinfo"), QStringLiteral("model name"))),
                QThread::idealThreadCount());
    std::printf("Scratch:      %s on %s (%s)\n", qPrintable(scratch), qPrintable(QString::fromLatin1(storage.device())),
                storage.fileSystemType().constData());
    std::printf("System:       %s, kernel %s, Qt %s\n", qPrintable(QSysInfo::prettyProductName()),
                qPrintable(QSysInfo::kernelVersion()), qVersion());
    std::printf("Load average: %s\n\n", qPrintable(firstLineOf(QStringLiteral("/proc/loadavg"), {})));
}

// ---- Timing --------------------------------------------------------------

using Step = std::function<void()>;

struct Sample
{
    std::vector<double> ms;

    double at(double q) const
    {
        std::vector<double> s = ms;
        std::sort(s.begin(), s.end());
        const double pos = q * double(s.size() - 1);
        const auto lo = size_t(std::floor(pos));
        const auto hi = std::min(lo + 1, s.size() - 1);
        return s[lo] + (s[hi] - s[lo]) * (pos - double(lo));
    }
    double median() const { return at(0.5); }
    // Half the interquartile range, in percent of the median.
    double spread() const { return median() > 0 ? 50.0 * (at(0.75) - at(0.25)) / median() : 0.0; }
};

double timeOnce(const Step& setUp, const Step& work)
{
    if (setUp)
        setUp();
    QElapsedTimer timer;
    timer.start();
    work();
    return double(timer.nsecsElapsed()) / 1e6;
}

struct Row
{
    explicit Row(std::string rowName) : name(std::move(rowName)) {}
    std::string name;
    Step setUpOurs, ours;
    Step checkOurs; // after each run of ours, untimed: a refused command must not pass as a fast one
    Step setUpPlain, plain;
    int minRuns = 15;
    double budgetMs = 2000; // wall time for both sides together, set-up included
};

struct Figures
{
    Sample ours, plain;
};

int minRunsOf(const Row& row)
{
    return options.runs > 0 ? options.runs : std::max(3, int(row.minRuns * options.scale));
}

// One run of each side, ours first in even rounds and plain first in odd ones.
void runBoth(const Row& row, Figures& f, int round)
{
    const auto ours = [&] {
        f.ours.ms.push_back(timeOnce(row.setUpOurs, row.ours));
        if (row.checkOurs)
            row.checkOurs();
    };
    if (round % 2 == 0)
        ours();
    if (row.plain)
        f.plain.ms.push_back(timeOnce(row.setUpPlain, row.plain));
    if (round % 2 != 0)
        ours();
}

// Runs the rows in turns, both sides of each in alternating order, so that a change in
// the machine's load or the disk's speed falls on all of them alike, until the rows'
// time is used and each made enough runs.
std::vector<Figures> measureInTurns(const std::vector<Row>& rows)
{
    std::vector<Figures> figures(rows.size());
    int minRuns = 0;
    double budgetMs = 0;
    for (const Row& row : rows) {
        minRuns = std::max(minRuns, minRunsOf(row));
        budgetMs += row.budgetMs * options.scale;
    }
    const int maxRuns = options.runs > 0 ? options.runs : 2000;
    QElapsedTimer wall;
    wall.start();
    for (int r = 0; r < maxRuns; ++r) {
        if (r >= minRuns && double(wall.elapsed()) >= budgetMs)
            break;
        for (size_t i = 0; i < rows.size(); ++i)
            runBoth(rows[i], figures[i], r);
    }
    return figures;
}

void printHeader()
{
    std::printf("%-40s %12s %7s %12s %7s %7s %6s\n", "", "kavurio", "±", "plain", "±", "ratio", "runs");
}

void printRow(const std::string& row, const Figures& f)
{
    const char* name = row.c_str();
    const double ours = f.ours.median();
    if (f.plain.ms.empty()) {
        std::printf("%-40s %9.3f ms %6.1f%% %12s %7s %7s %6zu\n", name, ours, f.ours.spread(), "", "", "",
                    f.ours.ms.size());
    } else {
        const double plain = f.plain.median();
        std::printf("%-40s %9.3f ms %6.1f%% %9.3f ms %6.1f%% %7.2f %6zu\n", name, ours, f.ours.spread(), plain,
                    f.plain.spread(), plain > 0 ? ours / plain : 0.0, f.ours.ms.size());
    }
    std::fflush(stdout);
}

Figures run(const Row& row)
{
    const Figures f = measureInTurns({row}).front();
    printRow(row.name, f);
    return f;
}

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "bench: %s\n", what);
    std::exit(1);
}

// ---- The plain side ----------------------------------------------------------

QByteArray readAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QString decode(const QByteArray& bytes)
{
    QStringDecoder decoder("windows-31j", QStringDecoder::Flag::Stateless);
    return decoder.decode(bytes);
}

QByteArray encode(const QString& text)
{
    QStringEncoder encoder("windows-31j", QStringEncoder::Flag::Stateless);
    return encoder.encode(text);
}

// A title list read the plainest way: the bytes, one decoding, split into lines.
[[gnu::noinline]] QStringList plainLoad(const QString& path)
{
    return decode(readAll(path)).split(QStringLiteral("\r\n"));
}

// Fifty flags the plainest way: split on commas and line ends.
int parseFlags(const QByteArray& bytes)
{
    int sum = 0;
    for (const QByteArray& field : QByteArray(bytes).replace("\r\n", ",").split(','))
        sum += field.toInt();
    return sum;
}

// QSaveFile, then an fsync of the folder: without it the rename itself may not survive
// a power cut, so this is the plainest save that keeps what the program's saves keep.
void saveBytes(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(bytes);
        file.commit();
    }
    const int folder = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), O_RDONLY | O_DIRECTORY);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
}

// A title list rewritten the plainest way: read, convert, convert back, replace.
void rewriteList(const QString& path, qsizetype dropLine = -1)
{
    QStringList lines = decode(readAll(path)).split(QStringLiteral("\r\n"));
    if (dropLine >= 0 && dropLine < lines.size())
        lines.removeAt(dropLine);
    saveBytes(path, encode(lines.join(QStringLiteral("\r\n"))));
}

// ---- The folders ---------------------------------------------------------------

QString titleName(int i)
{
    return QStringLiteral("コミック第%1集").arg(i);
}

// A window fixture over a folder of n titles of 50 volumes, each with its flag file.
std::unique_ptr<WindowFixture> folderOf(int n)
{
    auto f = std::make_unique<WindowFixture>();
    f->asProgram = true;
    QByteArray list;
    for (int i = 1; i <= n; ++i) {
        list += sjis(QStringLiteral("\"%1\",50,0\r\n").arg(titleName(i)));
        f->write(titleName(i) + QStringLiteral(".TXT"), flagFile({i % 50 + 1, 7, 33}));
    }
    f->write(QStringLiteral("データ.TXT"), list);
    return f;
}

constexpr int Pieces = 656; // a count of 32767 makes 656 pieces

QByteArray pieceName(int j)
{
    return "T(" + QByteArray::number((j - 1) * 50 + 1) + "_" + QByteArray::number(j < Pieces ? j * 50 : 32767) + ")";
}

// ---- Rows that also make the growth table ------------------------------------

Row loadTitlesRow(std::string name, WindowFixture& f, int titles)
{
    auto catalogue = std::make_shared<storage::Catalogue>();
    const QString list = f.path(QStringLiteral("データ.TXT"));
    Row row(std::move(name));
    row.ours = [&f, catalogue] { (void)storage::LoadTitles(f.files, *catalogue); };
    row.checkOurs = [catalogue, titles] {
        if (catalogue->intKensu != titles)
            fail("LoadTitles read another number of titles");
    };
    row.plain = [list] { (void)plainLoad(list); };
    row.minRuns = 31;
    return row;
}

// The title list read as Catalogue can read it with one decoding of the whole file.
[[gnu::noinline]] void loadTitlesWhole(FileService& files, storage::Catalogue& catalogue)
{
    static constexpr storage::FieldKind layout[] = {storage::FieldKind::String, storage::FieldKind::Integer,
                                                    storage::FieldKind::Integer};
    int n = 0;
    if (Result<QByteArray> bytes = files.readAll(storage::TitleListUpper())) {
        InputCursor in{std::move(bytes.value())};
        const storage::RecordsRead read = storage::ReadRecords(in, layout, storage::MaxTitles);
        n = read.records;
        for (int i = 0; i < n; ++i) {
            catalogue.strName[i + 1] = read.strings[i];
            catalogue.intKansu[i + 1] = read.integers[2 * i];
            catalogue.intSyo[i + 1] = read.integers[2 * i + 1];
        }
    }
    catalogue.intKensu = qint16(n);
}

Figures loadTitlesWholeRow(const char* name, WindowFixture& f)
{
    auto catalogue = std::make_shared<storage::Catalogue>();
    const QString list = f.path(QStringLiteral("データ.TXT"));
    Row row(name);
    row.ours = [&f, catalogue] { loadTitlesWhole(f.files, *catalogue); };
    row.plain = [list] { (void)plainLoad(list); };
    row.minRuns = 31;
    const Figures figures = run(row);
    storage::Catalogue byField;
    (void)storage::LoadTitles(f.files, byField);
    if (catalogue->intKensu != byField.intKensu || catalogue->strName != byField.strName ||
        catalogue->intKansu != byField.intKansu || catalogue->intSyo != byField.intSyo)
        fail("the whole-list decode read another catalogue");
    return figures;
}

Row reportRow(std::string name, WindowFixture& f, int titles)
{
    Row row(std::move(name));
    row.setUpOurs = [&f] {
        f.dialogs.answerMessage(mb::No); // no printing
        f.dialogs.answerMessage(mb::OK); // "saved"
    };
    row.ours = [&f] { f.window->cmdHozon_Click(); };
    row.plain = [&f, titles] {
        QByteArray report = "\"heading\"\r\n\"\"\r\n";
        for (int i = 1; i <= titles; ++i) {
            const QString name = titleName(i);
            const QByteArray bytes = readAll(f.path(name + QStringLiteral(".TXT")));
            report += '"' + sjis(name) + "\",\"" + QByteArray::number(parseFlags(bytes)) + "\"\r\n";
        }
        saveBytes(f.path(QStringLiteral("plain-report.txt")), report);
    };
    row.checkOurs = [&f, titles] {
        if (!f.dialogs.allAnswersUsed() || f.read(QStringLiteral("残巻データ.txt")).count("\r\n") != titles + 2)
            fail("the report did not run as scripted");
    };
    row.minRuns = 7;
    row.budgetMs = 3000;
    return row;
}

// Deletes the title in the middle; before each run the folder and the window are
// put back as they were, so that every run deletes one title of the same catalogue.
Row deletionRow(std::string name, WindowFixture& f)
{
    const QString listName = QStringLiteral("データ.TXT");
    const QByteArray listBytes = f.read(listName);
    const int titles = f.window->catalogue().intKensu;
    const int middle = std::max(1, titles / 2);
    const QString victim = titleName(middle) + QStringLiteral(".TXT");
    const QByteArray victimBytes = f.read(victim);
    const QString spare = f.path(QStringLiteral("plain-spare.TXT"));
    Row row(std::move(name));
    row.setUpOurs = [&f, listName, listBytes, victim, victimBytes, middle] {
        f.write(listName, listBytes);
        f.write(victim, victimBytes);
        f.start();
        f.hsbData()->setValue(middle);
        f.dialogs.answerMessage(mb::OK);
    };
    row.ours = [&f] { f.window->cmdDel_Click(); };
    row.checkOurs = [&f, victim, titles] {
        if (f.exists(victim) || f.window->catalogue().intKensu != titles - 1)
            fail("a deletion did not delete");
    };
    row.setUpPlain = [&f, listName, listBytes, spare] {
        f.write(listName, listBytes);
        saveBytes(spare, flagFile({}));
    };
    row.plain = [&f, listName, spare, middle] {
        rewriteList(f.path(listName), middle - 1);
        QFile::remove(spare);
    };
    row.minRuns = 9;
    row.budgetMs = 3000;
    return row;
}

// A fresh folder of n titles for each run, then 656 pieces registered through the window.
Row registrationRow(std::string name, int titles)
{
    const auto g = std::make_shared<std::unique_ptr<WindowFixture>>();
    Row row(std::move(name));
    row.setUpOurs = [g, titles] {
        g->reset();
        *g = folderOf(titles);
        (*g)->start();
        (*g)->dialogs.answerInput(QStringLiteral("T"));
        (*g)->dialogs.answerInput(QStringLiteral("32767"));
        (*g)->dialogs.answerMessage(mb::OK); // "split into pieces of 50"
    };
    row.ours = [g] { (*g)->window->cmdNew_Click(); };
    row.checkOurs = [g, titles] {
        if ((*g)->window->catalogue().intKensu != titles + Pieces)
            fail("the registration did not register");
    };
    row.setUpPlain = [g, titles] {
        g->reset();
        *g = folderOf(titles);
    };
    row.plain = [g] {
        WindowFixture& h = **g;
        const QString list = h.path(QStringLiteral("データ.TXT"));
        const QByteArray zeros = flagFile({});
        QByteArray records;
        for (int j = 1; j <= Pieces; ++j) {
            saveBytes(h.path(QString::fromLatin1(pieceName(j) + ".TXT")), zeros);
            records += "\"" + pieceName(j) + "\",50," + QByteArray::number((j - 1) * 50) + "\r\n";
        }
        saveBytes(list, encode(decode(readAll(list))) + records);
    };
    row.minRuns = 5;
    row.budgetMs = 20000;
    return row;
}

// A title's flags read the plainest way and its fifty labels numbered.
[[gnu::noinline]] void plainShow(WindowFixture& f, const QString& name)
{
    const int sum = parseFlags(readAll(f.path(name + QStringLiteral(".TXT"))));
    for (int i = 1; i <= 50; ++i)
        f.window->volumeLabel(i)->setText(QString::number(i + sum % 2));
}

// ---- The rows on 2000 titles -------------------------------------------------

void mainTable()
{
    constexpr int Titles = 2000;
    std::unique_ptr<WindowFixture> owner = folderOf(Titles);
    WindowFixture& f = *owner;
    const QString list = f.path(QStringLiteral("データ.TXT"));
    std::printf("%d titles with their flag files; median of the runs, ± half the interquartile range\n\n", Titles);
    printHeader();

    if (selected("LoadTitles"))
        run(loadTitlesRow("LoadTitles", f, Titles));
    if (selected("LoadTitles, whole-list decode"))
        loadTitlesWholeRow("LoadTitles, whole-list decode", f);

    if (selected("title list encoded")) {
        // The catalogue made into the file's bytes, without the disk, as every edit does.
        storage::Catalogue catalogue;
        (void)storage::LoadTitles(f.files, catalogue);
        const QString text = decode(readAll(list));
        Row row("title list encoded");
        row.ours = [&catalogue] { (void)storage::EncodeTitles(catalogue); };
        row.plain = [text] { (void)encode(text); };
        row.minRuns = 31;
        run(row);
        if (storage::EncodeTitles(catalogue).value() != readAll(list))
            fail("the encoded list is not the file's bytes");
    }

    if (selected("start to first title shown")) {
        Row row("start to first title shown");
        row.setUpOurs = [&f] { f.window.reset(); };
        row.ours = [&f] {
            f.start();
            f.window->show();
            QApplication::processEvents();
        };
        // The same widgets and the same bytes, without the program's logic.
        row.plain = [&f, list] {
            QWidget window;
            Ui::frmMain ui;
            ui.setupUi(&window);
            for (int i = 1; i <= 50; ++i)
                new QLabel(ui.Frame1);
            ui.cboName->addItems(decode(readAll(list)).split(QStringLiteral("\r\n")));
            (void)parseFlags(readAll(f.path(titleName(1) + QStringLiteral(".TXT"))));
            window.show();
            QApplication::processEvents();
        };
        row.minRuns = 11;
        run(row);
    }
    if (!f.window)
        f.start();

    if (selected("ShowTitle")) {
        int p = 0;
        int q = 0;
        Row row("ShowTitle");
        row.ours = [&f, &p] { f.hsbData()->setValue(1 + (p++ * 37) % Titles); };
        row.plain = [&f, &q] { plainShow(f, titleName(1 + (q++ * 37) % Titles)); };
        row.minRuns = 101;
        run(row);
    }

    f.hsbData()->setValue(1);
    const QString flagPath = f.path(titleName(1) + QStringLiteral(".TXT"));
    if (selected("volume click to disk")) {
        Row row("volume click to disk");
        row.ours = [&f] { f.window->lblKan_Click(5); };
        row.plain = [flagPath] { saveBytes(flagPath, readAll(flagPath)); };
        row.minRuns = 31;
        run(row);
    }

    if (selected("count edit")) {
        int k = 0;
        Row row("count edit");
        row.setUpOurs = [&f, &k] { f.dialogs.answerInput(QString::number(40 + k++ % 10)); };
        row.ours = [&f] { f.window->lblKansu_Click(); };
        row.checkOurs = [&f, &k] {
            if (f.window->catalogue().intKansu[1] != 40 + (k - 1) % 10)
                fail("the count edit did not change the count");
        };
        row.plain = [list] { rewriteList(list); };
        row.minRuns = 21;
        run(row);
        if (!f.dialogs.allAnswersUsed())
            fail("the count edit did not run as scripted");
    }

    if (selected("start-volume pick")) {
        int k = 0;
        Row row("start-volume pick");
        row.setUpOurs = [&f, &k] { f.cboSyo()->setCurrentIndex(k++ % 2); };
        row.ours = [&f] { f.window->cboSyo_Click(f.cboSyo()->currentIndex()); };
        row.checkOurs = [&f, &k] {
            if (f.window->catalogue().intSyo[1] != ((k - 1) % 2) * 50)
                fail("the start-volume pick did not change the start");
        };
        row.plain = [list] { rewriteList(list); };
        row.minRuns = 21;
        run(row);
    }

    if (selected("report over all titles"))
        run(reportRow("report over all titles", f, Titles));

    if (selected("deletion"))
        run(deletionRow("deletion", f));

    if (selected("register 32767 volumes")) {
        // The most titles that leave room for 656 more.
        run(registrationRow("register 32767 volumes (656) in 1344", storage::MaxTitles - Pieces));
    }
}

// ---- Growth ------------------------------------------------------------------

struct Fit
{
    double slope = 0; // ms per 1000 titles
    double intercept = 0;
};

Fit leastSquares(const std::vector<double>& x, const std::vector<double>& y)
{
    const double n = double(x.size());
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        sx += x[i];
        sy += y[i];
        sxx += x[i] * x[i];
        sxy += x[i] * y[i];
    }
    const double d = n * sxx - sx * sx;
    if (d == 0)
        return {};
    const double slope = (n * sxy - sx * sy) / d;
    return {slope * 1000, (sy - slope * sx) / n};
}

void growthTable()
{
    const int sizes[] = {100, 500, 1000, 2000};
    const char* what[] = {"LoadTitles", "report", "deletion", "registration of 656"};
    std::printf("\nGrowth with the catalogue, the four sizes of each row measured in turns (registration\n"
                "needs room for 656 titles, so its largest catalogue is 1344):\n\n");
    printHeader();
    std::vector<std::unique_ptr<WindowFixture>> folders;
    for (const int n : sizes) {
        folders.push_back(folderOf(n));
        folders.back()->start();
    }
    std::vector<double> x[4], ours[4];
    for (int k = 0; k < 4; ++k) {
        std::vector<Row> rows;
        std::vector<int> titles;
        for (size_t i = 0; i < std::size(sizes); ++i) {
            const int n = k == 3 ? std::min(sizes[i], storage::MaxTitles - Pieces) : sizes[i];
            char label[64];
            std::snprintf(label, sizeof label, "%-22s %5d titles", what[k], n);
            if (!selected(label))
                continue;
            WindowFixture& f = *folders[i];
            rows.push_back(k == 0   ? loadTitlesRow(label, f, n)
                           : k == 1 ? reportRow(label, f, n)
                           : k == 2 ? deletionRow(label, f)
                                    : registrationRow(label, n));
            titles.push_back(n);
        }
        const std::vector<Figures> figures = measureInTurns(rows);
        for (size_t i = 0; i < rows.size(); ++i) {
            printRow(rows[i].name, figures[i]);
            x[k].push_back(titles[i]);
            ours[k].push_back(figures[i].ours.median());
        }
    }
    std::printf("\nLeast-squares line through the kavurio medians (ms = intercept + slope x titles):\n");
    for (int k = 0; k < 4; ++k) {
        if (x[k].size() < 2)
            continue;
        const Fit fit = leastSquares(x[k], ours[k]);
        double worst = 0; // the largest distance of a point from the line, in percent of the point
        for (size_t i = 0; i < x[k].size(); ++i) {
            const double line = fit.intercept + fit.slope * x[k][i] / 1000;
            worst = std::max(worst, 100.0 * std::abs(ours[k][i] - line) / ours[k][i]);
        }
        std::printf("  %-20s slope %9.3f ms per 1000 titles, intercept %8.3f ms, farthest point %5.1f%% off\n", what[k],
                    fit.slope, fit.intercept, worst);
    }
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (!std::strcmp(argv[i], "--only") && hasValue)
            options.only = QRegularExpression(QString::fromLocal8Bit(argv[++i]));
        else if (!std::strcmp(argv[i], "--runs") && hasValue)
            options.runs = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--scale") && hasValue)
            options.scale = std::max(0.1, std::atof(argv[++i]));
        else
            fail("usage: bench_kavurio [--only REGEX] [--runs N] [--scale X]");
    }
    {
        const WindowFixture probe; // where the scratch folders go
        printMachine(probe.dir.path());
    }
    mainTable();
    growthTable();
    return 0;
}
