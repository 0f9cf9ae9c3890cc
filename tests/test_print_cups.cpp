// Printing as it reaches paper: through the CUPS queues of scripts/start-cups.sh
// (kavurio-pdf writes PDF files, kavurio-reject refuses every job, kavurio-stopped
// holds them) or straight into a PDF file, read back with poppler.
#include "ui/QtPrinter.h"

#include "frmMain.h"
#include "support/WindowFixture.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QImage>
#include <QLabel>
#include <QPrinterInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QThread>

#include <cmath>
#include <optional>

using namespace Qt::StringLiterals;
using kav::QtPrinter;
using kav::test::flagFile;
using kav::test::WindowFixture;

namespace {

const QColor Pink(0xFF, 0xC0, 0xFF);
const QColor Green(0xC0, 0xFF, 0xC0);
const QString PdfQueue = u"kavurio-pdf"_s;
const QString RejectQueue = u"kavurio-reject"_s;
const QString StoppedQueue = u"kavurio-stopped"_s;
const QString Heading = u"2026年12月06日現在の未収集状況"_s;
const QString NoPrinterMessage = u"プリンタが見つかりません。プリンタの設定を確かめて下さい。"_s;
constexpr double PointsPerMm = 72 / 25.4;

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

QString pdfText(const QString& pdf)
{
    return QString::fromUtf8(run(u"pdftotext"_s, {u"-layout"_s, pdf, u"-"_s}).value_or(QByteArray()));
}

int pageCount(const QString& pdf)
{
    const QString info = QString::fromUtf8(run(u"pdfinfo"_s, {pdf}).value_or(QByteArray()));
    const QRegularExpressionMatch match =
        QRegularExpression(u"^Pages:\\s+(\\d+)"_s, QRegularExpression::MultilineOption).match(info);
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

// A page as poppler finds its words, in points from the top left.
struct Word
{
    QRectF box;
    QString text;
};
struct Page
{
    QSizeF size;
    QList<Word> words; // in reading order
};

QList<Page> pdfWords(const QString& pdf)
{
    const QString xml = QString::fromUtf8(run(u"pdftotext"_s, {u"-bbox"_s, pdf, u"-"_s}).value_or(QByteArray()));
    static const QRegularExpression pageRe(u"<page width=\"([0-9.]+)\" height=\"([0-9.]+)\">"_s);
    static const QRegularExpression wordRe(
        u"<word xMin=\"([0-9.]+)\" yMin=\"([0-9.]+)\" xMax=\"([0-9.]+)\" yMax=\"([0-9.]+)\">([^<]*)</word>"_s);
    QList<Page> pages;
    for (const QRegularExpressionMatch& m : pageRe.globalMatch(xml))
        pages.append(Page{QSizeF(m.captured(1).toDouble(), m.captured(2).toDouble()), {}});
    qsizetype page = -1;
    qsizetype nextPage = xml.indexOf(u"<page "_s);
    for (const QRegularExpressionMatch& m : wordRe.globalMatch(xml)) {
        while (nextPage >= 0 && nextPage < m.capturedStart()) {
            ++page;
            nextPage = xml.indexOf(u"<page "_s, nextPage + 1);
        }
        if (page < 0 || page >= pages.size())
            continue;
        const QPointF topLeft(m.captured(1).toDouble(), m.captured(2).toDouble());
        const QPointF bottomRight(m.captured(3).toDouble(), m.captured(4).toDouble());
        QString text = m.captured(5);
        text.replace(u"&amp;"_s, u"&"_s).replace(u"&lt;"_s, u"<"_s).replace(u"&gt;"_s, u">"_s);
        pages[page].words.append(Word{QRectF(topLeft, bottomRight), text});
    }
    return pages;
}

QImage renderPage(const QString& pdf, int page, int dpi)
{
    QTemporaryDir dir;
    const QString prefix = dir.filePath(u"page"_s);
    const QString number = QString::number(page);
    if (!run(u"pdftoppm"_s, {u"-png"_s, u"-r"_s, QString::number(dpi), u"-f"_s, number, u"-l"_s, number,
                             u"-singlefile"_s, pdf, prefix}))
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

QRect inkBox(const QImage& page)
{
    QRect box;
    for (int y = 0; y < page.height(); ++y)
        for (int x = 0; x < page.width(); ++x)
            if (page.pixelColor(x, y).lightness() < 250)
                box |= QRect(x, y, 1, 1);
    return box;
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
    QDeadlineTimer deadline(90000);
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
    // cups-pdf labels each file with its job number
    std::sort(done.begin(), done.end(), [](const QString& a, const QString& b) {
        static const QRegularExpression job(u"job_(\\d+)"_s);
        return job.match(a).captured(1).toInt() < job.match(b).captured(1).toInt();
    });
    return done;
}

// A catalogue's report as the window prints it: long lists, long titles, blanks in titles.
QList<QStringList> longReport()
{
    QStringList all;
    for (int i = 1; i <= 50; ++i)
        all << QString::number(i);
    QList<QStringList> lines{{Heading}, {QString()}};
    lines.append({u"こち亀(101_150)"_s, all.join(u'_')});
    lines.append({u"鋼の錬金術師"_s, u"7"_s});
    lines.append({u"とても長い題名のコミックでどこまでも続いていく物語の第一部から第二部までを収めた豪華版シリーズ"
                  u"(1_50)"_s,
                  u"1_2_50"_s});
    lines.append({u"ONE PIECE(51_100)"_s, all.mid(20).join(u'_')});
    for (int t = 1; t <= 130; ++t) {
        QStringList indexes;
        for (int i = 1 + t % 7; i <= 50; i += 1 + t % 5)
            indexes << QString::number(i);
        lines.append({u"題名%1"_s.arg(t), indexes.join(u'_')});
    }
    return lines;
}

QString withoutBlanks(QString text)
{
    return text.remove(u' ');
}

} // namespace

class TestPrintCups final : public QObject
{
    Q_OBJECT

private:
    QString cupsFolder() const { return qEnvironmentVariable("KAVURIO_CUPS_PDF_DIR"); }
    bool requireCups()
    {
        if (cupsFolder().isEmpty()) {
            QTest::qSkip("KAVURIO_CUPS_PDF_DIR is not set (run scripts/start-cups.sh)", __FILE__, __LINE__);
            return false;
        }
        return true;
    }

    // Prints with `print` on the target the test row names and returns the PDF that results.
    template <typename F> QString printed(const QString& target, F print, int documents = 1)
    {
        if (target == u"file"_s) {
            const QString pdf = m_dir.filePath(u"printed-%1.pdf"_s.arg(++m_files));
            QtPrinter printer(QtPrinter::Target::PdfFile, pdf);
            print(printer);
            return pdf;
        }
        const QSet<QString> before = pdfsIn(cupsFolder());
        QtPrinter printer(QtPrinter::Target::Queue, PdfQueue);
        print(printer);
        const QStringList pdfs = waitForNewPdfs(cupsFolder(), before, documents);
        return pdfs.size() == documents ? pdfs.last() : QString();
    }

    QTemporaryDir m_dir;
    int m_files = 0;

private Q_SLOTS:
    void initTestCase();
    void targets_data();
    void reportPrintsEveryItem_data() { targets_data(); }
    void reportPrintsEveryItem();
    void windowPrintoutHoldsTextAndColours_data() { targets_data(); }
    void windowPrintoutHoldsTextAndColours();
    void richTextPrintsEveryParagraph_data() { targets_data(); }
    void richTextPrintsEveryParagraph();
    void documentBoundaries();
    void closingReleasesAnOpenDocument();
    void defaultQueueIsTheNamedOne();
    void refusals_data();
    void refusals();
    void noPrinter();
    void noPrinterChild();
};

void TestPrintCups::initTestCase()
{
    QVERIFY(m_dir.isValid());
    for (const QString& tool : {u"pdftotext"_s, u"pdftoppm"_s, u"pdfinfo"_s, u"pdffonts"_s, u"pdfimages"_s})
        if (!haveTool(tool))
            QSKIP("poppler-utils (pdftotext, pdftoppm, pdfinfo, pdffonts, pdfimages) are not installed");
}

void TestPrintCups::targets_data()
{
    QTest::addColumn<QString>("target");
    QTest::newRow("PDF file") << u"file"_s;
    QTest::newRow("CUPS queue") << u"cups"_s;
}

void TestPrintCups::reportPrintsEveryItem()
{
    QFETCH(QString, target);
    if (target == u"cups"_s && !requireCups())
        return;
    const QList<QStringList> report = longReport();
    const QString pdf = printed(target, [&](QtPrinter& printer) {
        for (const QStringList& line : report)
            QVERIFY(printer.printLine(line).ok());
        // Nothing goes out before the document ends.
        if (target == u"file"_s)
            QVERIFY(!QFile::exists(m_dir.filePath(u"printed-%1.pdf"_s.arg(m_files))));
        const auto ended = printer.endDoc();
        QVERIFY2(ended.ok(), qPrintable(ended.ok() ? QString() : ended.error().message));
    });
    if (QTest::currentTestFailed())
        return;
    QVERIFY(!pdf.isEmpty());

    const QList<Page> pages = pdfWords(pdf);
    QVERIFY(pages.size() >= 3);
    QCOMPARE(pageCount(pdf), pages.size());
    const double margin = 15 * PointsPerMm;
    QString titles;
    QString lists;
    for (qsizetype p = 0; p < pages.size(); ++p) {
        const Page& page = pages[p];
        const QString where = u"page %1"_s.arg(p + 1);
        QVERIFY2(!page.words.isEmpty(), qPrintable(where));
        // The heading and "n / m" on the top line of every page.
        const double top = page.words.first().box.top();
        QStringList header;
        double headerBottom = 0;
        for (const Word& word : page.words) {
            if (word.box.top() < top + 2) {
                header << word.text;
                headerBottom = std::max(headerBottom, word.box.bottom());
            }
        }
        QCOMPARE(header, (QStringList{Heading, QString::number(p + 1), u"/"_s, QString::number(pages.size())}));

        // Margins of at least 15 mm all round.
        for (const Word& word : page.words) {
            QVERIFY2(word.box.left() >= margin && word.box.top() >= margin &&
                         word.box.right() <= page.size.width() - margin &&
                         word.box.bottom() <= page.size.height() - margin,
                     qPrintable(u"%1: %2 at %3,%4"_s.arg(where, word.text).arg(word.box.left()).arg(word.box.top())));
        }

        // Under the heading: the title column, then the list column.
        const double left = page.words.first().box.left();
        for (const Word& word : page.words) {
            if (word.box.top() > headerBottom)
                (word.text.front().isDigit() && word.box.left() > left + 1 ? lists : titles) += word.text;
        }
    }

    QString expectedTitles;
    QString expectedLists;
    for (const QStringList& line : report.mid(2)) {
        expectedTitles += withoutBlanks(line[0]);
        expectedLists += line[1];
    }
    // Every title and every number reaches the paper, in order.
    QCOMPARE(titles, expectedTitles);
    QCOMPARE(lists, expectedLists);
}

void TestPrintCups::windowPrintoutHoldsTextAndColours()
{
    QFETCH(QString, target);
    if (target == u"cups"_s && !requireCups())
        return;
    WindowFixture f;
    f.writeText(u"データ.txt"_s, u"\"鋼の錬金術師\",5,0\r\n"_s);
    f.write(u"鋼の錬金術師.TXT"_s, flagFile({2, 4}));
    f.start();
    f.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));

    const QString pdf = printed(target, [&](QtPrinter& printer) {
        const auto done = printer.printWidget(*f.window);
        QVERIFY2(done.ok(), qPrintable(done.ok() ? QString() : done.error().message));
    });
    if (QTest::currentTestFailed())
        return;
    QVERIFY(!pdf.isEmpty());
    QCOMPARE(pageCount(pdf), 1);
    // The logo and the seven button pictures from their large variants, twice their screen size.
    const QString images = QString::fromUtf8(run(u"pdfimages"_s, {u"-list"_s, pdf}).value_or(QByteArray()));
    QVERIFY2(images.count(QRegularExpression(u"image +486 +122 "_s)) == 1, qPrintable(images));
    QVERIFY2(images.count(QRegularExpression(u"image +64 +64 "_s)) == 7, qPrintable(images));

    // Text, not a picture of it: fonts in the file, the captions found as words.
    const QString fonts = QString::fromUtf8(run(u"pdffonts"_s, {pdf}).value_or(QByteArray()));
    QVERIFY2(fonts.split(u'\n', Qt::SkipEmptyParts).size() > 2, qPrintable(fonts));
    const QString text = pdfText(pdf);
    for (const QString& caption : {u"登録"_s, u"未収集"_s, u"印刷"_s, u"ヘルプ"_s, u"終了"_s, u"鋼の錬金術師"_s})
        QVERIFY2(text.contains(caption), qPrintable(caption + u" not in:\n"_s + text));

    // At its screen size (631 px at 96 dpi), centred, with the labels' colours.
    const int dpi = 100;
    const QImage page = renderPage(pdf, 1, dpi);
    QVERIFY(!page.isNull());
    const QRect ink = inkBox(page);
    const double wanted = f.window->width() * dpi / 96.0;
    QVERIFY2(std::abs(ink.width() - wanted) < wanted * 0.03, qPrintable(u"%1 px wide"_s.arg(ink.width())));
    QVERIFY(std::abs(ink.center().x() - page.width() / 2) < page.width() / 50);
    QVERIFY(std::abs(ink.center().y() - page.height() / 2) < page.height() / 50);
    const Area pink = findColour(page, Pink);
    const Area green = findColour(page, Green);
    const double scale = dpi / 96.0;
    for (int i = 1; i <= 5; ++i) {
        QLabel* label = f.window->volumeLabel(i);
        const QPoint onPage =
            ink.topLeft() + QPointF(label->mapTo(f.window.get(), QPoint(6, label->height() / 2)) * scale).toPoint();
        const QColor screen = f.labelColour(i);
        QVERIFY2(near(page.pixelColor(onPage), screen), qPrintable(u"label %1: %2 on paper, %3 on screen"_s.arg(i).arg(
                                                            page.pixelColor(onPage).name(), screen.name())));
    }
    QVERIFY(pink.pixels > 500 && green.pixels > 3 * pink.pixels / 2);
}

// A help page: laid out on the paper, every line once, the picture at its screen size.
void TestPrintCups::richTextPrintsEveryParagraph()
{
    QFETCH(QString, target);
    if (target == u"cups"_s && !requireCups())
        return;
    QString html = u"<p><img src=\"pink.png\"></p>"_s;
    for (int i = 1; i <= 150; ++i)
        html += u"<p>第%1段落の本文です。</p>"_s.arg(i);
    QTextDocument page;
    page.setHtml(html);
    QImage picture(96, 48, QImage::Format_RGB32);
    picture.fill(Pink);
    page.addResource(QTextDocument::ImageResource, QUrl(u"pink.png"_s), picture);

    const QString pdf = printed(target, [&](QtPrinter& printer) {
        const kav::Result<kav::Printed> done = printer.printDocument(page, u"ボタンの働き"_s);
        QVERIFY2(done.ok(), qPrintable(done ? QString() : done.error().message));
    });
    if (QTest::currentTestFailed())
        return;
    QVERIFY(pageCount(pdf) >= 3);
    const QString text = withoutBlanks(pdfText(pdf));
    for (int i = 1; i <= 150; ++i)
        QVERIFY2(text.count(u"第%1段落の本文です。"_s.arg(i)) == 1, qPrintable(QString::number(i)));
    // 96 pixels on a 96 dpi screen are an inch, 72 pixels at 72 dpi.
    const Area pink = findColour(renderPage(pdf, 1, 72), Pink);
    QVERIFY2(std::abs(pink.box.width() - 72) <= 2 && std::abs(pink.box.height() - 36) <= 2,
             qPrintable(u"%1x%2"_s.arg(pink.box.width()).arg(pink.box.height())));
}

void TestPrintCups::documentBoundaries()
{
    const QString pdf = m_dir.filePath(u"boundaries.pdf"_s);
    QtPrinter printer(QtPrinter::Target::PdfFile, pdf);

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
    QCOMPARE(pageCount(pdf), 1);
    QCOMPARE(withoutBlanks(pdfText(pdf).simplified()), u"SECONDDOC1/1AFTERBLANK"_s);
    QVERIFY(printer.endDoc().ok());
}

void TestPrintCups::closingReleasesAnOpenDocument()
{
    const QString pdf = m_dir.filePath(u"unended.pdf"_s);
    {
        QtPrinter printer(QtPrinter::Target::PdfFile, pdf);
        QVERIFY(printer.printLine({u"UNENDED"_s}).ok());
    }
    QVERIFY(pdfText(pdf).contains(u"UNENDED"_s));
}

// No system default is set: the queue is named by PRINTER, which CUPS and Qt both honour.
void TestPrintCups::defaultQueueIsTheNamedOne()
{
    if (!requireCups())
        return;
    const QByteArray old = qgetenv("PRINTER");
    const auto restore = qScopeGuard([&] { qputenv("PRINTER", old); });
    QWidget widget;
    widget.resize(40, 20);

    qputenv("PRINTER", RejectQueue.toLocal8Bit());
    QCOMPARE(QPrinterInfo::defaultPrinterName(), RejectQueue);
    QtPrinter printer;
    QVERIFY(printer.printLine({Heading}).ok());
    const auto refused = printer.endDoc();
    QVERIFY(!refused.ok());
    QVERIFY2(refused.error().message.contains(RejectQueue), qPrintable(refused.error().message));

    qputenv("PRINTER", "kavurio-no-such-queue"); // told with its name and where it came from
    QVERIFY(printer.printLine({Heading}).ok());
    const auto unknown = printer.endDoc();
    QCOMPARE(
        unknown.ok() ? QString() : unknown.error().message,
        u"環境変数 PRINTER の指すプリンタ「kavurio-no-such-queue」が見つかりません。プリンタの設定を確かめて下さい。"_s);

    qputenv("PRINTER", PdfQueue.toLocal8Bit());
    QCOMPARE(QPrinterInfo::defaultPrinterName(), PdfQueue);
    const QSet<QString> before = pdfsIn(cupsFolder());
    const auto done = printer.printWidget(widget);
    QVERIFY2(done.ok(), qPrintable(done.ok() ? QString() : done.error().message));
    QCOMPARE(waitForNewPdfs(cupsFolder(), before, 1).size(), 1);
}

void TestPrintCups::refusals_data()
{
    QTest::addColumn<QString>("queue");
    QTest::addColumn<QStringList>("captions"); // of the messages after each printout
    QTest::addColumn<QStringList>("says");     // by the window printout's messages
    QTest::addColumn<QList<int>>("answers");   // to them
    QTest::addColumn<bool>("goneMeanwhile");   // the job cancelled elsewhere while the question is open
    QTest::addColumn<int>("left");             // jobs left waiting in kavurio-stopped
    const QStringList error{u"印刷エラー"_s}, held{u"印刷待ち"_s};
    QTest::newRow("rejecting") << RejectQueue << error
                               << QStringList{u"「kavurio-reject」は今、印刷を受け付けていません"_s} << QList<int>{}
                               << false << 0;
    QTest::newRow("removed") << u"kavurio-no-such-queue"_s << error
                             << QStringList{u"「kavurio-no-such-queue」が見つかりません"_s} << QList<int>{} << false
                             << 0;
    // A stopped queue takes the job and holds it until it is started again.
    const QStringList stopped{u"プリンタ「kavurio-stopped」は一時停止しています（kavurio test queue: stopped）。"_s};
    QTest::newRow("stopped, cancel") << StoppedQueue << held << stopped << QList<int>{kav::mb::Yes} << false << 0;
    QTest::newRow("stopped, wait") << StoppedQueue << held << stopped << QList<int>{kav::mb::No} << false << 2;
    QTest::newRow("stopped, gone") << StoppedQueue << held + error << stopped + QStringList{u"を取り消せませんでした"_s}
                                   << QList<int>{kav::mb::Yes, kav::mb::OK} << true << 0;
}

// Both buttons tell the user why, through the window's own message; the report
// file is written all the same.
void TestPrintCups::refusals()
{
    QFETCH(QString, queue);
    QFETCH(QStringList, captions);
    QFETCH(QStringList, says);
    QFETCH(QList<int>, answers);
    QFETCH(bool, goneMeanwhile);
    QFETCH(int, left);
    if (!requireCups())
        return;
    const auto cancelAll = [] { QProcess::execute(u"cancel"_s, {u"-a"_s, StoppedQueue}); };
    cancelAll();
    const auto cleanUp = qScopeGuard(cancelAll);
    WindowFixture f;
    f.writeText(u"データ.txt"_s, u"\"A\",5,0\r\n"_s);
    f.write(u"A.TXT"_s, flagFile({1, 5}));
    QtPrinter printer(QtPrinter::Target::Queue, queue);
    f.window = std::make_unique<kav::frmMain>(kav::Services{f.dialogs, f.files, printer, f.help, f.clock});
    f.window->Form_Load();
    f.dialogs.onAsk = [&](const auto& call) {
        if (goneMeanwhile && call.caption == u"印刷待ち"_s)
            cancelAll();
    };

    // A message takes the next answer whatever its buttons, so each is queued just before.
    for (int answer : answers)
        f.dialogs.answerMessage(answer);
    f.window->cmdPrint_Click();
    for (int answer : QList<int>{kav::mb::Yes} + answers)
        f.dialogs.answerMessage(answer);
    f.window->cmdHozon_Click();
    QCOMPARE(f.dialogs.captions(), captions + QStringList{u"残巻データ出力"_s} + captions + QStringList{u"保存終了"_s});
    const QString shown = f.dialogs.calls[0].prompt + f.dialogs.calls.value(1).prompt;
    for (const QString& part : says)
        QVERIFY2(shown.contains(part), qPrintable(shown));
    QVERIFY(f.read(u"残巻データ.txt"_s).endsWith("\"A\",\"1_5\"\r\n"));
    const QString queued = QString::fromUtf8(run(u"lpstat"_s, {u"-o"_s, StoppedQueue}).value_or(QByteArray()));
    QCOMPARE(queued.count(StoppedQueue + u'-'), left);
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
    environment.remove(u"PRINTER"_s);
    environment.remove(u"LPDEST"_s);
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
    QVERIFY(printer.printLine({u"A"_s, u"1"_s}).ok());
    const auto ended = printer.endDoc();
    QVERIFY(!ended.ok());
    QCOMPARE(ended.error().message, NoPrinterMessage);
    // A document that failed is gone; ending again does nothing.
    QVERIFY(printer.endDoc().ok());
    QWidget widget;
    widget.resize(20, 10);
    const auto window = printer.printWidget(widget);
    QVERIFY(!window.ok());
    QCOMPARE(window.error().message, NoPrinterMessage);
}

QTEST_MAIN(TestPrintCups)
#include "test_print_cups.moc"
