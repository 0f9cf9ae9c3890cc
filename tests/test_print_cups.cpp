#include "ui/QtPrinter.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QHash>
#include <QImage>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <cmath>
#include <optional>

using namespace Qt::StringLiterals;
using kav::QtPrinter;

namespace {

const QColor Pink(0xFF, 0xC0, 0xFF);
const QColor Green(0xC0, 0xFF, 0xC0);
const QString NoPrinterMessage = u"プリンタが見つかりません。プリンタの設定を確かめて下さい。"_s;

bool haveTool(const QString& name)
{
    return !QStandardPaths::findExecutable(name).isEmpty();
}

// Runs a poppler tool and returns its standard output; an empty optional when it failed.
std::optional<QByteArray> run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        qWarning().noquote() << program << arguments.join(u' ') << "failed:" << process.readAllStandardError();
        return std::nullopt;
    }
    return process.readAllStandardOutput();
}

QString pdfText(const QString& pdf, bool layout = false)
{
    QStringList arguments;
    if (layout)
        arguments << u"-layout"_s;
    arguments << pdf << u"-"_s;
    return QString::fromUtf8(run(u"pdftotext"_s, arguments).value_or(QByteArray()));
}

int pageCount(const QString& pdf)
{
    const QString info = QString::fromUtf8(run(u"pdfinfo"_s, {pdf}).value_or(QByteArray()));
    const QRegularExpressionMatch match =
        QRegularExpression(u"^Pages:\\s+(\\d+)"_s, QRegularExpression::MultilineOption).match(info);
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

// First page of a PDF as an image at 50 dots per inch.
QImage renderFirstPage(const QString& pdf)
{
    QTemporaryDir dir;
    const QString prefix = dir.filePath(u"page"_s);
    if (!run(u"pdftoppm"_s, {u"-png"_s, u"-r"_s, u"50"_s, u"-f"_s, u"1"_s, u"-singlefile"_s, pdf, prefix}))
        return {};
    return QImage(prefix + u".png"_s);
}

bool near(QColor a, QColor b)
{
    return std::abs(a.red() - b.red()) <= 8 && std::abs(a.green() - b.green()) <= 8 &&
           std::abs(a.blue() - b.blue()) <= 8;
}

// The bounding box of the pixels close to a colour, and how many there are.
struct Area
{
    QRect box;
    int pixels = 0;
};

Area findColour(const QImage& page, QColor colour)
{
    Area area;
    for (int y = 0; y < page.height(); ++y)
        for (int x = 0; x < page.width(); ++x)
            if (near(page.pixelColor(x, y), colour)) {
                area.box |= QRect(x, y, 1, 1);
                ++area.pixels;
            }
    return area;
}

// Left half pink, right half green, like flagged and unflagged volume labels.
QImage twoBlocks(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.fillRect(0, 0, width / 2, height, Pink);
    painter.fillRect(width / 2, 0, width - width / 2, height, Green);
    return image;
}

QSet<QString> pdfsIn(const QString& folder)
{
    const QStringList names = QDir(folder).entryList({u"*.pdf"_s}, QDir::Files);
    return {names.begin(), names.end()};
}

// Waits for `count` new, completely written PDF files (the writer goes on until
// the trailer, so a file is done when it ends in %%EOF and stops growing).
QStringList waitForNewPdfs(const QString& folder, const QSet<QString>& before, int count)
{
    QHash<QString, qint64> lastSize;
    QStringList done;
    QDeadlineTimer deadline(60000);
    while (!deadline.hasExpired()) {
        for (const QString& name : pdfsIn(folder)) {
            const QString path = QDir(folder).filePath(name);
            if (before.contains(name) || done.contains(path))
                continue;
            const qint64 size = QFileInfo(path).size();
            QFile file(path);
            const bool ended = file.open(QIODevice::ReadOnly) && file.seek(std::max<qint64>(0, size - 32)) &&
                               file.readAll().contains("%%EOF");
            if (ended && size > 0 && lastSize.value(name, -1) == size)
                done << path;
            lastSize[name] = size;
        }
        if (done.size() >= count)
            break;
        QThread::msleep(250);
    }
    done.sort(); // cups-pdf labels each file with its job number
    return done;
}

} // namespace

class TestPrintCups final : public QObject
{
    Q_OBJECT

private:
    // The folder cups-pdf writes to, or a skip when no such printer is set up.
    QString cupsFolder() const { return qEnvironmentVariable("KAVURIO_CUPS_PDF_DIR"); }
    void requirePoppler()
    {
        if (!haveTool(u"pdftotext"_s) || !haveTool(u"pdftoppm"_s) || !haveTool(u"pdfinfo"_s))
            QSKIP("poppler-utils (pdftotext, pdftoppm, pdfinfo) are not installed");
    }

    QTemporaryDir m_dir;

private Q_SLOTS:
    void initTestCase();
    // Through the CUPS queue that writes PDF files.
    void reportThroughCups();
    void imagesThroughCups();
    void noPrinter();
    void noPrinterChild();
    // Into a PDF file, to look at the page layout.
    void columns_data();
    void columns();
    void pageBreakKeepsEveryLine();
    void documentBoundaries();
    void closingReleasesAnOpenDocument();
    void imageFitsThePage_data();
    void imageFitsThePage();
    void nullImage();
};

void TestPrintCups::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

void TestPrintCups::reportThroughCups()
{
    const QString folder = cupsFolder();
    if (folder.isEmpty())
        QSKIP("KAVURIO_CUPS_PDF_DIR is not set (run scripts/start-cups.sh)");
    requirePoppler();
    QCOMPARE(QPrinterInfo::defaultPrinterName(), u"kavurio-pdf"_s);

    const QSet<QString> before = pdfsIn(folder);
    QtPrinter printer;
    const kav::Status heading = printer.printLine({u"2026年12月06日現在の未収集状況"_s});
    QVERIFY2(heading.ok(), qPrintable(heading.error().message));
    QVERIFY(printer.printLine({QString()}).ok());
    QVERIFY(printer.printLine({u"ＡＢＣ(51_100)"_s, u"1_2_50"_s}).ok());
    // Nothing goes to the printer before the document ends.
    QThread::msleep(500);
    QCOMPARE(pdfsIn(folder), before);
    const kav::Status ended = printer.endDoc();
    QVERIFY2(ended.ok(), qPrintable(ended.error().message));

    const QStringList pdfs = waitForNewPdfs(folder, before, 1);
    QCOMPARE(pdfs.size(), 1);
    const QStringList lines = pdfText(pdfs[0], true).split(u'\n');
    const auto lineWith = [&](const QString& text) {
        for (qsizetype i = 0; i < lines.size(); ++i)
            if (lines[i].contains(text))
                return i;
        return qsizetype(-1);
    };
    const qsizetype headingLine = lineWith(u"2026年12月06日現在の未収集状況"_s);
    const qsizetype titleLine = lineWith(u"ＡＢＣ(51_100)"_s);
    QVERIFY2(headingLine >= 0, qPrintable(lines.join(u'\n')));
    QVERIFY2(titleLine > headingLine, qPrintable(lines.join(u'\n')));
    QVERIFY2(lines[titleLine].contains(QRegularExpression(u"ＡＢＣ\\(51_100\\)\\s+1_2_50"_s)),
             qPrintable(lines[titleLine]));
    QCOMPARE(pageCount(pdfs[0]), 1);
}

void TestPrintCups::imagesThroughCups()
{
    const QString folder = cupsFolder();
    if (folder.isEmpty())
        QSKIP("KAVURIO_CUPS_PDF_DIR is not set (run scripts/start-cups.sh)");
    requirePoppler();

    const QSet<QString> before = pdfsIn(folder);
    const QImage image = twoBlocks(640, 320);
    QtPrinter printer;
    for (int i = 0; i < 2; ++i) {
        const kav::Status printed = printer.printImage(image);
        QVERIFY2(printed.ok(), qPrintable(printed.error().message));
    }

    // Each image is a document of its own.
    const QStringList pdfs = waitForNewPdfs(folder, before, 2);
    QCOMPARE(pdfs.size(), 2);
    for (const QString& pdf : pdfs) {
        const QImage page = renderFirstPage(pdf);
        QVERIFY(!page.isNull());
        const Area pink = findColour(page, Pink);
        const Area green = findColour(page, Green);
        QVERIFY2(pink.pixels > 2000, qPrintable(u"%1 pink pixels"_s.arg(pink.pixels)));
        QVERIFY2(green.pixels > 2000, qPrintable(u"%1 green pixels"_s.arg(green.pixels)));
        QVERIFY(pink.box.right() < green.box.left());
        QCOMPARE(pink.box.top(), green.box.top());
        QCOMPARE(pageCount(pdf), 1);
    }
}

// libcups reads CUPS_SERVER once per process, so the check runs in a child.
void TestPrintCups::noPrinter()
{
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"KAVURIO_NO_PRINTER_CHILD"_s, u"1"_s);
    environment.insert(u"CUPS_SERVER"_s, u"127.0.0.1:9"_s); // discard port: nothing answers
    environment.insert(u"HOME"_s, m_dir.path());            // no per-user lpoptions
    environment.insert(u"XDG_CONFIG_HOME"_s, m_dir.path());
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), {u"noPrinterChild"_s});
    QVERIFY(child.waitForFinished(120000));
    const QString output = QString::fromUtf8(child.readAll());
    if (output.contains(u"SKIP"_s))
        QSKIP(qPrintable(u"a printer is still found without a CUPS server:\n"_s + output));
    QVERIFY2(child.exitCode() == 0 && output.contains(u"PASS   : TestPrintCups::noPrinterChild()"_s),
             qPrintable(output));
}

void TestPrintCups::noPrinterChild()
{
    if (!qEnvironmentVariableIsSet("KAVURIO_NO_PRINTER_CHILD"))
        QSKIP("run by noPrinter()");
    if (!QPrinterInfo::defaultPrinter().isNull())
        QSKIP("a default printer is configured without the server");

    QtPrinter printer;
    const kav::Status line = printer.printLine({u"A"_s, u"1"_s});
    QVERIFY(!line.ok());
    QCOMPARE(line.error().message, NoPrinterMessage);
    // A line that failed to begin a document leaves none open.
    QVERIFY(printer.endDoc().ok());
    const kav::Status image = printer.printImage(twoBlocks(20, 10));
    QVERIFY(!image.ok());
    QCOMPARE(image.error().message, NoPrinterMessage);
    // Every call looks again and fails again.
    QCOMPARE(printer.printLine({u"A"_s}).error().message, NoPrinterMessage);
}

void TestPrintCups::columns_data()
{
    QTest::addColumn<QStringList>("items");

    QTest::newRow("short title") << QStringList{u"A"_s, u"3_4_12"_s};
    QTest::newRow("longer short title") << QStringList{u"ABCDEFG"_s, u"1_2"_s};
    QTest::newRow("title longer than a column") << QStringList{u"WWWWWWWWWWWWWWWWWWWW"_s, u"7"_s};
    // With IPAPGothic this title ends right on a column boundary: only the blank moves the list on.
    QTest::newRow("title ending on a boundary") << QStringList{u"ＡＢＣ(51_100)"_s, u"1_2_50"_s};
    QTest::newRow("three items") << QStringList{u"A"_s, u"B"_s, u"C"_s};
}

void TestPrintCups::columns()
{
    requirePoppler();
    QFETCH(QStringList, items);

    const QString pdf = m_dir.filePath(u"columns.pdf"_s);
    {
        QtPrinter printer(pdf);
        QVERIFY(printer.printLine(items).ok());
        QVERIFY(printer.endDoc().ok());
    }

    // Word boxes in points, as poppler finds them.
    const QString boxes = QString::fromUtf8(run(u"pdftotext"_s, {u"-bbox"_s, pdf, u"-"_s}).value_or(QByteArray()));
    const QRegularExpression word(
        u"<word xMin=\"([0-9.]+)\" yMin=\"[0-9.]+\" xMax=\"([0-9.]+)\"[^>]*>([^<]*)</word>"_s);
    QList<double> left;
    QList<double> right;
    QStringList words;
    for (const QRegularExpressionMatch& match : word.globalMatch(boxes)) {
        left << match.captured(1).toDouble();
        right << match.captured(2).toDouble();
        words << match.captured(3);
    }
    QCOMPARE(words, items);

    // The same font on a PDF page, in points.
    QPrinter device(QPrinter::HighResolution);
    device.setOutputFormat(QPrinter::PdfFormat);
    device.setOutputFileName(m_dir.filePath(u"unused.pdf"_s));
    QFont font(u"IPAPGothic"_s);
    font.setPointSize(10);
    const QFontMetricsF metrics(font, &device);
    const double scale = 72.0 / device.resolution();
    const double column = QtPrinter::ColumnChars * metrics.averageCharWidth() * scale;
    const double blank = metrics.horizontalAdvance(u' ') * scale;
    QVERIFY(column > 10 * blank);

    // Every item but the first starts on the first column boundary at least a blank after the one before.
    const double margin = left[0];
    double previousEnd = right[0];
    for (qsizetype i = 1; i < left.size(); ++i) {
        const double offset = left[i] - margin;
        const double columns = offset / column;
        const QString where =
            u"item %1 at %2 pt, column %3 pt, previous end %4 pt"_s.arg(i).arg(offset).arg(column).arg(previousEnd -
                                                                                                       margin);
        QVERIFY2(std::abs(columns - std::round(columns)) * column < 0.5, qPrintable(where));
        QVERIFY2(left[i] >= previousEnd + blank - 0.5, qPrintable(where));
        QVERIFY2(left[i] < previousEnd + blank + column, qPrintable(where));
        previousEnd = right[i];
    }
}

void TestPrintCups::pageBreakKeepsEveryLine()
{
    requirePoppler();
    const QString pdf = m_dir.filePath(u"pages.pdf"_s);
    const int count = 150;
    {
        QtPrinter printer(pdf);
        for (int i = 1; i <= count; ++i)
            QVERIFY(printer.printLine({u"TITLE%1"_s.arg(i), u"%1_50"_s.arg(i)}).ok());
        QVERIFY(printer.endDoc().ok());
    }
    const int pages = pageCount(pdf);
    QVERIFY2(pages >= 2 && pages <= 4, qPrintable(QString::number(pages)));

    const QString text = pdfText(pdf, true);
    qsizetype from = 0;
    for (int i = 1; i <= count; ++i) {
        const qsizetype at = text.indexOf(u"TITLE%1 "_s.arg(i), from);
        QVERIFY2(at >= 0, qPrintable(u"line %1 missing or out of order"_s.arg(i)));
        from = at;
    }
    // No line is cut at the foot of a page: each page ends on a whole line.
    for (int page = 1; page <= pages; ++page) {
        const QString one = QString::fromUtf8(run(u"pdftotext"_s, {u"-layout"_s, u"-f"_s, QString::number(page),
                                                                   u"-l"_s, QString::number(page), pdf, u"-"_s})
                                                  .value_or(QByteArray()));
        QCOMPARE(one.count(u"TITLE"_s), one.count(u"_50"_s));
    }
}

void TestPrintCups::documentBoundaries()
{
    requirePoppler();
    const QString pdf = m_dir.filePath(u"boundaries.pdf"_s);
    QtPrinter printer(pdf);

    // Ending when nothing was begun does nothing.
    QVERIFY(printer.endDoc().ok());
    QVERIFY(!QFile::exists(pdf));

    QVERIFY(printer.printLine({u"FIRSTDOC"_s}).ok());
    QVERIFY(printer.endDoc().ok());
    QVERIFY(pdfText(pdf).contains(u"FIRSTDOC"_s));

    // The next line begins a new document; the first one is closed.
    QVERIFY(printer.printLine({u"SECONDDOC"_s}).ok());
    QVERIFY(printer.printLine({}).ok());
    QVERIFY(printer.printLine({u"AFTERBLANK"_s}).ok());
    QVERIFY(printer.endDoc().ok());
    const QString text = pdfText(pdf, true);
    QVERIFY(!text.contains(u"FIRSTDOC"_s));
    QVERIFY(text.contains(QRegularExpression(u"SECONDDOC\\s*\\n\\s*\\n\\s*AFTERBLANK"_s)));
    QVERIFY(printer.endDoc().ok());
}

void TestPrintCups::closingReleasesAnOpenDocument()
{
    requirePoppler();
    const QString pdf = m_dir.filePath(u"unended.pdf"_s);
    {
        QtPrinter printer(pdf);
        QVERIFY(printer.printLine({u"UNENDED"_s}).ok());
    }
    QVERIFY(pdfText(pdf).contains(u"UNENDED"_s));
}

void TestPrintCups::imageFitsThePage_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("wide window grab") << QSize(640, 320);
    QTest::newRow("tall image") << QSize(100, 1000);
    QTest::newRow("tiny image") << QSize(8, 4);
}

void TestPrintCups::imageFitsThePage()
{
    requirePoppler();
    QFETCH(QSize, size);
    const QString pdf = m_dir.filePath(u"image.pdf"_s);
    QtPrinter printer(pdf);
    QVERIFY(printer.printImage(twoBlocks(size.width(), size.height())).ok());

    const QImage page = renderFirstPage(pdf);
    QVERIFY(!page.isNull());
    const QRect box = findColour(page, Pink).box | findColour(page, Green).box;
    QVERIFY(!box.isEmpty());
    // Whole, at the top left, not touching the paper's edge.
    QVERIFY(box.left() > 0 && box.top() > 0 && box.right() < page.width() - 1 && box.bottom() < page.height() - 1);
    QVERIFY(box.left() < page.width() / 8 && box.top() < page.height() / 8);
    // Scaled up or down until it meets the page's width or height, with its shape kept.
    QVERIFY(box.width() > page.width() * 3 / 4 || box.height() > page.height() * 3 / 4);
    const double aspect = double(box.width()) / box.height();
    const double wanted = double(size.width()) / size.height();
    QVERIFY2(std::abs(aspect / wanted - 1) < 0.05, qPrintable(u"%1 vs %2"_s.arg(aspect).arg(wanted)));
}

void TestPrintCups::nullImage()
{
    const QString pdf = m_dir.filePath(u"null.pdf"_s);
    QtPrinter printer(pdf);
    const kav::Status printed = printer.printImage(QImage());
    QVERIFY(!printed.ok());
    QVERIFY(!printed.error().message.isEmpty());
    QVERIFY(!QFile::exists(pdf));
}

QTEST_MAIN(TestPrintCups)
#include "test_print_cups.moc"
