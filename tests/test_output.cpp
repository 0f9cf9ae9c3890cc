// The uncollected-volume report, the window printout, help and exit, driven through the window.
#include "support/WindowFixture.h"

#include <QDirIterator>
#include <QFileInfo>

using namespace kav;
using namespace kav::test;
using namespace Qt::StringLiterals;

namespace {

const QString ReportName = u"残巻データ.txt"_s;
const QString Heading = u"2026年12月06日現在の未収集状況"_s;
const QString TitleList = u"データ.TXT"_s;

// The heading record and the empty record of a report written on 6 December 2026.
const QByteArray HeadingRecords =
    QByteArrayLiteral("\"2026\x94N12\x8c\x8e"
                      "06\x93\xfa\x8c\xbb\x8d\xdd\x82\xcc\x96\xa2\x8e\xfb\x8fW\x8f\xf3\x8b\xb5\"\r\n"
                      "\"\"\r\n");
const QByteArray ZeroLine = QByteArrayLiteral("0,0,0,0,0,0,0,0,0,0\r\n");

const QString Question = u"未収集分のデータを『残巻データ.txt』に保存します。\r\n\r\n印刷もしますか？"_s;
const QString Closing =
    u"まだ集めてない情報を <残巻データ.txt>として保存しました。\r\n\r\nデータはメモ帳などで開くことができます。"_s;

// Everything the user can see of the title on display.
QStringList windowState(const WindowFixture& f)
{
    QStringList out;
    out << u"selector=%1 #%2"_s.arg(f.cboName()->currentText()).arg(f.cboName()->currentIndex());
    out << u"items=%1"_s.arg(f.cboName()->count());
    out << u"kansu=%1"_s.arg(f.lblKansu()->text()) << u"kensu=%1"_s.arg(f.lblKensu()->text());
    out << u"syo=%1"_s.arg(f.cboSyo()->currentText()) << u"bar=%1"_s.arg(f.hsbData()->value());
    out << u"captions=%1"_s.arg(f.visibleCaptions().join(u' '));
    QStringList flags;
    for (qint16 flag : f.window->flags())
        flags << QString::number(flag);
    out << u"flags=%1"_s.arg(flags.join(u','));
    out << u"file=%1"_s.arg(f.window->volumeFile());
    QStringList colours;
    for (int i = 1; i <= 50; ++i)
        colours << f.window->volumeLabel(i)->palette().color(f.window->volumeLabel(i)->backgroundRole()).name();
    out << u"colours=%1"_s.arg(colours.join(u','));
    return out;
}

// Every file of the folder with its bytes.
QStringList folderState(const WindowFixture& f)
{
    QStringList out;
    QDirIterator it(f.dir.path(), QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        out << info.fileName() + u'=' +
                   (info.isDir() ? u"<dir>"_s : QString::fromLatin1(f.read(info.fileName()).toHex()));
    }
    out.sort();
    return out;
}

// A dialog double that notes how many help calls were made when each message box opened.
class SnapshotDialogs final : public Dialogs
{
public:
    struct Call
    {
        QString prompt;
        int style;
        QString caption;
        qsizetype helpCallsBefore;
    };

    explicit SnapshotDialogs(const RecordingHelpViewer& help) : m_help(help) {}

    int MsgBox(const QString& prompt, int style, const QString& caption) override
    {
        calls.append({prompt, style, caption, m_help.calls.size()});
        return mb::OK;
    }
    QString InputBox(const QString&, const QString&, const QString&) override
    {
        ++inputs;
        return {};
    }

    QList<Call> calls;
    int inputs = 0;

private:
    const RecordingHelpViewer& m_help;
};

} // namespace

class TestOutput : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void reportAnsweredNo();
    void reportTable_data();
    void reportTable();
    void answersOtherThanYesDoNotPrint_data();
    void answersOtherThanYesDoNotPrint();
    void missingFlagFileIsCreated();
    void missingFlagFileThatCannotBeCreated();
    void secondRunReplacesReport();
    void windowUnchangedByReport();
    void unwritableReport_data();
    void unwritableReport();
    void failingPrinterDuringReport();

    void printWindowImage();
    void printWindowFailingPrinter();

    void helpOpensOwnFile();
    void introductionThenCompanionHelp();
    void exitClosesHelpThenWindow();
};

// ---- Report ------------------------------------------------------------------

void TestOutput::reportAnsweredNo()
{
    WindowFixture f;
    f.writeText(TitleList, u"\"示丸\",10,0\r\n\"A\",12,0\r\n\"B(1_50)\",50,0\r\n\"B(51_100)\",50,50\r\n"_s);
    f.write(u"示丸.TXT"_s, flagFile({7}));
    f.write(u"A.TXT"_s, flagFile({3, 4, 12}));
    f.write(u"B(1_50).txt"_s, flagFile({}));
    f.write(u"B(51_100).TXT"_s, flagFile({1, 2, 50}));
    f.start();
    QVERIFY(f.dialogs.calls.isEmpty());

    f.dialogs.answerMessage(mb::No);
    f.window->cmdHozon_Click();

    QCOMPARE(f.read(ReportName), HeadingRecords + QByteArrayLiteral("\"\x8e\xa6\x8a\xdb\",\"7\"\r\n"
                                                                    "\"A\",\"3_4_12\"\r\n"
                                                                    "\"B(51_100)\",\"1_2_50\"\r\n"));
    QCOMPARE(f.dialogs.calls.size(), 2);
    QCOMPARE(f.dialogs.calls[0].kind, ScriptedDialogs::Call::Message);
    QCOMPARE(f.dialogs.calls[0].prompt, Question);
    QCOMPARE(f.dialogs.calls[0].caption, u"残巻データ出力"_s);
    QCOMPARE(f.dialogs.calls[0].style, 36);
    QCOMPARE(f.dialogs.calls[1].prompt, Closing);
    QCOMPARE(f.dialogs.calls[1].caption, u"保存終了"_s);
    QCOMPARE(f.dialogs.calls[1].style, 64);
    QVERIFY(f.dialogs.allAnswersUsed());
    QVERIFY(f.printer.documents.isEmpty());
}

void TestOutput::reportTable_data()
{
    QTest::addColumn<QString>("titles");
    QTest::addColumn<QStringList>("flagNames");
    QTest::addColumn<QByteArrayList>("flagBytes");
    QTest::addColumn<QString>("records"); // after the heading and the empty record
    QTest::addColumn<QList<QStringList>>("lines");

    QTest::newRow("empty catalogue") << QString() << QStringList() << QByteArrayList() << QString()
                                     << QList<QStringList>();
    QTest::newRow("no flag 1 anywhere") << u"\"A\",12,0\r\n\"B\",3,0\r\n"_s << QStringList{u"A.TXT"_s, u"b.txt"_s}
                                        << QByteArrayList{flagFile({}), flagFile({})} << QString()
                                        << QList<QStringList>();
    QTest::newRow("first, tenth and last")
        << u"\"T\",50,0\r\n"_s << QStringList{u"T.TXT"_s} << QByteArrayList{flagFile({1, 10, 50})}
        << u"\"T\",\"1_10_50\"\r\n"_s << QList<QStringList>{{u"T"_s, u"1_10_50"_s}};
    QTest::newRow("single flag, no separator")
        << u"\"T\",50,0\r\n"_s << QStringList{u"T.txt"_s} << QByteArrayList{flagFile({7})} << u"\"T\",\"7\"\r\n"_s
        << QList<QStringList>{{u"T"_s, u"7"_s}};
    QTest::newRow("only the value 1 counts")
        << u"\"P\",50,0\r\n\"Q\",50,0\r\n"_s << QStringList{u"P.TXT"_s, u"Q.TXT"_s}
        << QByteArrayList{QByteArray("0,0,2,-1,0,0,0,0,0,0\r\n") + ZeroLine + ZeroLine + ZeroLine + ZeroLine,
                          QByteArray("2,0,0,0,0,0,0,0,1,0\r\n") + ZeroLine + ZeroLine + ZeroLine +
                              "0,0,0,0,0,0,0,0,0,-1\r\n"}
        << u"\"Q\",\"9\"\r\n"_s << QList<QStringList>{{u"Q"_s, u"9"_s}};
    QTest::newRow("three titles") << u"\"A\",12,0\r\n\"B(1_50)\",50,0\r\n\"B(51_100)\",50,50\r\n"_s
                                  << QStringList{u"A.TXT"_s, u"B(1_50).TXT"_s, u"B(51_100).TXT"_s}
                                  << QByteArrayList{flagFile({3, 4, 12}), flagFile({}), flagFile({1, 2, 50})}
                                  << u"\"A\",\"3_4_12\"\r\n\"B(51_100)\",\"1_2_50\"\r\n"_s
                                  << QList<QStringList>{{u"A"_s, u"3_4_12"_s}, {u"B(51_100)"_s, u"1_2_50"_s}};
    QTest::newRow("second piece by index, not volume")
        << u"\"T(1_50)\",50,0\r\n\"T(51_100)\",50,50\r\n"_s << QStringList{u"T(1_50).TXT"_s, u"T(51_100).TXT"_s}
        << QByteArrayList{flagFile({50}), flagFile({1, 2})} << u"\"T(1_50)\",\"50\"\r\n\"T(51_100)\",\"1_2\"\r\n"_s
        << QList<QStringList>{{u"T(1_50)"_s, u"50"_s}, {u"T(51_100)"_s, u"1_2"_s}};
    QTest::newRow("out-of-range value keeps the flags before it")
        << u"\"S\",50,0\r\n\"U\",50,0\r\n"_s << QStringList{u"S.TXT"_s, u"U.TXT"_s}
        << QByteArrayList{QByteArray("1,0,1,0,99999,1,1,1,1,1\r\n") + ZeroLine + ZeroLine + ZeroLine + ZeroLine,
                          flagFile({2})}
        << u"\"S\",\"1_3\"\r\n\"U\",\"2\"\r\n"_s << QList<QStringList>{{u"S"_s, u"1_3"_s}, {u"U"_s, u"2"_s}};
    QTest::newRow("text field reads 0, reading goes on")
        << u"\"S\",50,0\r\n"_s << QStringList{u"S.TXT"_s}
        << QByteArrayList{QByteArray("1,abc,1,0,0,0,0,0,0,0\r\n0,0,0,0,0,0,0,0,0,1\r\n") + ZeroLine + ZeroLine +
                          ZeroLine}
        << u"\"S\",\"1_3_20\"\r\n"_s << QList<QStringList>{{u"S"_s, u"1_3_20"_s}};
    QTest::newRow("file ending early") << u"\"S\",50,0\r\n\"V\",50,0\r\n"_s << QStringList{u"S.TXT"_s, u"V.TXT"_s}
                                       << QByteArrayList{QByteArray("1,0,0,1\r\n"), flagFile({50})}
                                       << u"\"S\",\"1_4\"\r\n\"V\",\"50\"\r\n"_s
                                       << QList<QStringList>{{u"S"_s, u"1_4"_s}, {u"V"_s, u"50"_s}};
    QTest::newRow("japanese title") << u"\"コミック～\",10,0\r\n"_s << QStringList{u"コミック～.TXT"_s}
                                    << QByteArrayList{flagFile({1, 2, 3})} << u"\"コミック～\",\"1_2_3\"\r\n"_s
                                    << QList<QStringList>{{u"コミック～"_s, u"1_2_3"_s}};
}

void TestOutput::reportTable()
{
    QFETCH(QString, titles);
    QFETCH(QStringList, flagNames);
    QFETCH(QByteArrayList, flagBytes);
    QFETCH(QString, records);
    QFETCH(QList<QStringList>, lines);
    QCOMPARE(flagNames.size(), flagBytes.size());

    WindowFixture f;
    f.writeText(TitleList, titles);
    for (qsizetype i = 0; i < flagNames.size(); ++i)
        f.write(flagNames[i], flagBytes[i]);
    f.start();
    f.dialogs.answerMessage(mb::Yes);
    f.window->cmdHozon_Click();

    QCOMPARE(f.read(ReportName), HeadingRecords + sjis(records));
    QCOMPARE(f.dialogs.captions(), (QStringList{u"残巻データ出力"_s, u"保存終了"_s}));

    QCOMPARE(f.printer.documents.size(), 1);
    const RecordingPrinter::Document& doc = f.printer.documents[0];
    QVERIFY(doc.ended);
    QVERIFY(doc.image.isNull());
    QCOMPARE(doc.lines, QList<QStringList>({QStringList{Heading}, QStringList{QString()}}) + lines);

    // Reading never rewrites a flag file.
    for (qsizetype i = 0; i < flagNames.size(); ++i)
        QCOMPARE(f.read(flagNames[i]), flagBytes[i]);
}

void TestOutput::answersOtherThanYesDoNotPrint_data()
{
    QTest::addColumn<int>("answer");
    QTest::newRow("No") << mb::No;
    QTest::newRow("closed (Cancel)") << mb::Cancel;
    QTest::newRow("OK") << mb::OK;
}

void TestOutput::answersOtherThanYesDoNotPrint()
{
    QFETCH(int, answer);
    WindowFixture f;
    f.writeText(TitleList, u"\"A\",5,0\r\n"_s);
    f.write(u"A.TXT"_s, flagFile({2}));
    f.start();
    f.dialogs.answerMessage(answer);
    f.window->cmdHozon_Click();
    QVERIFY(f.printer.documents.isEmpty());
    QCOMPARE(f.read(ReportName), HeadingRecords + "\"A\",\"2\"\r\n");
    QCOMPARE(f.dialogs.captions(), (QStringList{u"残巻データ出力"_s, u"保存終了"_s}));
}

void TestOutput::missingFlagFileIsCreated()
{
    WindowFixture f;
    f.writeText(TitleList, u"\"M\",5,0\r\n\"N\",5,0\r\n"_s);
    f.write(u"N.TXT"_s, flagFile({5}));
    f.start();
    QVERIFY(!f.exists(u"M.txt"_s));

    f.dialogs.answerMessage(mb::Yes);
    f.window->cmdHozon_Click();

    const QByteArray zeros = flagFile({});
    QCOMPARE(zeros.size(), 105);
    QCOMPARE(f.read(u"M.txt"_s), zeros);
    QCOMPARE(f.read(ReportName), HeadingRecords + "\"N\",\"5\"\r\n");
    QCOMPARE(f.printer.documents.size(), 1);
    QCOMPARE(f.printer.documents[0].lines.size(), 3);
    QCOMPARE(f.dialogs.captions(), (QStringList{u"残巻データ出力"_s, u"保存終了"_s}));
}

void TestOutput::missingFlagFileThatCannotBeCreated()
{
    WindowFixture f;
    f.writeText(TitleList, u"\"X\",5,0\r\n\"Y\",5,0\r\n"_s);
    QVERIFY(QDir(f.dir.path()).mkdir(u"X.txt"_s));
    f.write(u"Y.TXT"_s, flagFile({4}));
    f.start();
    f.dialogs.calls.clear();

    f.dialogs.answerMessage(mb::No);
    f.window->cmdHozon_Click();

    QCOMPARE(f.read(ReportName), HeadingRecords + "\"Y\",\"4\"\r\n");
    QCOMPARE(f.dialogs.captions(), (QStringList{u"残巻データ出力"_s, u"保存エラー"_s, u"保存終了"_s}));
    QVERIFY2(f.dialogs.calls[1].prompt.contains(u"X.txt"_s), qPrintable(f.dialogs.calls[1].prompt));
    QVERIFY2(!f.dialogs.calls[1].prompt.contains(u"Y.txt"_s), qPrintable(f.dialogs.calls[1].prompt));
    QVERIFY(QFileInfo(f.path(u"X.txt"_s)).isDir());
}

void TestOutput::secondRunReplacesReport()
{
    WindowFixture f;
    f.write(ReportName, QByteArray(4000, 'x'));
    f.writeText(TitleList, u"\"A\",10,0\r\n"_s);
    f.write(u"A.TXT"_s, flagFile({3}));
    f.start();

    f.dialogs.answerMessage(mb::No);
    f.window->cmdHozon_Click();
    const QByteArray first = HeadingRecords + "\"A\",\"3\"\r\n";
    QCOMPARE(f.read(ReportName), first);

    f.dialogs.answerMessage(mb::No);
    f.window->cmdHozon_Click();
    QCOMPARE(f.read(ReportName), first);

    // Marks changed in the window and a new day: the third report holds only what is true now.
    f.window->lblKan_Click(3);
    f.window->lblKan_Click(5);
    f.clock.set(QDate(2027, 1, 5));
    f.dialogs.answerMessage(mb::No);
    f.window->cmdHozon_Click();
    QCOMPARE(f.read(ReportName), sjis(u"\"2027年01月05日現在の未収集状況\"\r\n\"\"\r\n\"A\",\"5\"\r\n"_s));
    QCOMPARE(f.dialogs.captions().count(u"保存終了"_s), 3);
}

void TestOutput::windowUnchangedByReport()
{
    WindowFixture f;
    f.writeText(TitleList, u"\"A\",12,0\r\n\"B\",50,50\r\n"_s);
    f.write(u"A.TXT"_s, flagFile({1}));
    f.write(u"B.TXT"_s, flagFile({3, 50}));
    f.start();
    f.hsbData()->setValue(2);
    QCOMPARE(f.cboName()->currentText(), u"B"_s);
    const QStringList before = windowState(f);

    // The report reads each flag file afresh but works from the catalogue in memory.
    f.write(u"B.TXT"_s, flagFile({7}));
    f.writeText(TitleList, u"\"A\",12,0\r\n\"B\",50,50\r\n\"C\",1,0\r\n"_s);
    f.write(u"C.TXT"_s, flagFile({1}));

    f.dialogs.answerMessage(mb::Yes);
    f.window->cmdHozon_Click();

    QCOMPARE(f.read(ReportName), HeadingRecords + "\"A\",\"1\"\r\n\"B\",\"7\"\r\n");
    QCOMPARE(windowState(f), before);
    QCOMPARE(f.window->volumeFile(), u"B.TXT"_s);
    QCOMPARE(f.window->flags()[3], qint16(1));
    QCOMPARE(f.window->flags()[7], qint16(0));
    QCOMPARE(f.window->catalogue().intKensu, qint16(2));
}

void TestOutput::unwritableReport_data()
{
    QTest::addColumn<bool>("diskFull");
    QTest::newRow("disk full") << true;
    QTest::newRow("directory in the way") << false;
}

void TestOutput::unwritableReport()
{
    QFETCH(bool, diskFull);
    WindowFixture f;
    f.writeText(TitleList, u"\"A\",5,0\r\n"_s);
    f.write(u"A.TXT"_s, flagFile({2}));
    const QByteArray old = "an earlier report\r\n";
    if (diskFull)
        f.write(ReportName, old);
    else
        QVERIFY(QDir(f.dir.path()).mkdir(ReportName));
    f.start();
    if (diskFull)
        f.files.setFull(true);

    f.dialogs.answerMessage(mb::No);
    f.window->cmdHozon_Click();

    QCOMPARE(f.dialogs.captions(), (QStringList{u"残巻データ出力"_s, u"保存エラー"_s}));
    QVERIFY2(f.dialogs.calls[1].prompt.contains(ReportName), qPrintable(f.dialogs.calls[1].prompt));
    QCOMPARE(f.dialogs.calls[1].style, 48);
    if (diskFull)
        QCOMPARE(f.read(ReportName), old); // the earlier report survives a failed run
    else
        QVERIFY(QFileInfo(f.path(ReportName)).isDir());
    QCOMPARE(f.read(u"A.TXT"_s), flagFile({2}));

    // Once the cause is gone the next run succeeds.
    if (diskFull)
        f.files.setFull(false);
    else
        QVERIFY(QDir(f.dir.path()).rmdir(ReportName));
    f.dialogs.calls.clear();
    f.dialogs.answerMessage(mb::No);
    f.window->cmdHozon_Click();
    QCOMPARE(f.read(ReportName), HeadingRecords + "\"A\",\"2\"\r\n");
    QCOMPARE(f.dialogs.captions(), (QStringList{u"残巻データ出力"_s, u"保存終了"_s}));
}

void TestOutput::failingPrinterDuringReport()
{
    WindowFixture f;
    f.writeText(TitleList, u"\"A\",5,0\r\n"_s);
    f.write(u"A.TXT"_s, flagFile({1, 5}));
    f.start();
    f.printer.failing = true;

    f.dialogs.answerMessage(mb::Yes);
    f.window->cmdHozon_Click();

    QCOMPARE(f.read(ReportName), HeadingRecords + "\"A\",\"1_5\"\r\n");
    QCOMPARE(f.dialogs.captions(), (QStringList{u"残巻データ出力"_s, u"印刷エラー"_s, u"保存終了"_s}));
    QVERIFY(f.printer.documents.isEmpty());

    // A printer that is back prints the next report as one document.
    f.printer.failing = false;
    f.dialogs.answerMessage(mb::Yes);
    f.window->cmdHozon_Click();
    QCOMPARE(f.printer.documents.size(), 1);
    QVERIFY(f.printer.documents[0].ended);
    QCOMPARE(f.printer.documents[0].lines.last(), (QStringList{u"A"_s, u"1_5"_s}));
}

// ---- Window printout -----------------------------------------------------------

void TestOutput::printWindowImage()
{
    WindowFixture f;
    f.writeText(TitleList, u"\"T\",5,0\r\n"_s);
    f.write(u"T.TXT"_s, flagFile({2, 4}));
    f.start();
    f.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
    const QStringList files = folderState(f);

    const QColor pink(0xFF, 0xC0, 0xFF);
    const QColor green(0xC0, 0xFF, 0xC0);
    auto colourAt = [&](const QImage& image, int index) {
        QLabel* label = f.window->volumeLabel(index);
        return image.pixelColor(label->mapTo(f.window.get(), QPoint(4, label->height() / 2)));
    };

    f.window->cmdPrint_Click();
    QCOMPARE(f.printer.documents.size(), 1);
    const QImage first = f.printer.documents[0].image;
    QVERIFY(f.printer.documents[0].lines.isEmpty());
    QVERIFY(f.printer.documents[0].ended);
    QCOMPARE(first.size(), QSize(631, 452));
    QCOMPARE(first.size(), f.window->size());
    const QColor expected[] = {green, pink, green, pink, green};
    for (int i = 1; i <= 5; ++i) {
        QCOMPARE(colourAt(first, i), expected[i - 1]);
        QCOMPARE(colourAt(first, i), f.labelColour(i)); // as on the screen
    }
    // Label 6 is hidden: no volume colour is drawn there.
    QVERIFY(colourAt(first, 6) != pink);
    QVERIFY(colourAt(first, 6) != green);
    QCOMPARE(folderState(f), files);

    // The second click prints the window as it is then, as a document of its own.
    f.window->lblKan_Click(1);
    f.window->cmdPrint_Click();
    QCOMPARE(f.printer.documents.size(), 2);
    QCOMPARE(colourAt(f.printer.documents[1].image, 1), pink);
    QCOMPARE(colourAt(f.printer.documents[0].image, 1), green);
    QVERIFY(f.dialogs.calls.isEmpty());
}

void TestOutput::printWindowFailingPrinter()
{
    WindowFixture f;
    f.writeText(TitleList, u"\"T\",5,0\r\n"_s);
    f.write(u"T.TXT"_s, flagFile({2}));
    f.start();
    const QStringList window = windowState(f);
    const QStringList files = folderState(f);
    f.printer.failing = true;

    f.window->cmdPrint_Click();
    QCOMPARE(f.dialogs.captions(), QStringList{u"印刷エラー"_s});
    QVERIFY(f.printer.documents.isEmpty());
    QCOMPARE(windowState(f), window);
    QCOMPARE(folderState(f), files);

    f.printer.failing = false;
    f.window->cmdPrint_Click();
    QCOMPARE(f.printer.documents.size(), 1);
    QCOMPARE(f.dialogs.calls.size(), 1);
}

// ---- Help and exit -------------------------------------------------------------

void TestOutput::helpOpensOwnFile()
{
    WindowFixture f;
    f.start();
    f.window->cmdHelp_Click();
    f.window->cmdHelp_Click(); // the viewer gets the same file again
    QCOMPARE(f.help.calls.size(), 2);
    for (const RecordingHelpViewer::Call& call : f.help.calls) {
        QCOMPARE(call.owner.data(), f.window.get());
        QCOMPARE(call.file, u"QvHelp.chm"_s);
        QCOMPARE(call.command, 0);
        QCOMPARE(call.data, quintptr(0));
    }
    QCOMPARE(f.window->helpFile(), u"QvHelp.chm"_s);
    QVERIFY(f.dialogs.calls.isEmpty());
}

void TestOutput::introductionThenCompanionHelp()
{
    WindowFixture f;
    SnapshotDialogs dialogs(f.help);
    f.window = std::make_unique<frmMain>(Services{dialogs, f.files, f.printer, f.help, f.clock});
    f.window->Form_Load();

    f.window->cmdShoukai_Click();

    const QString prompt = u"よりコレクション性を重視した「カヴリオＰｒｏ」をぜひどうぞ！\r\n"
                           u"\r\n"
                           u"コミック本の表紙やお気に入りのページを画像として表示させたり\r\n"
                           u"著者名や掲載雑誌名、発行日､自己評価などを記録することができます。\r\n"
                           u"より楽しく便利にコミック本の管理ができます。\r\n"
                           u"\r\n"
                           u"どんなことができるソフトなのかはカヴリオＰｒｏのヘルプをぜひご覧ください。"_s;
    QCOMPARE(dialogs.calls.size(), 1);
    QCOMPARE(dialogs.calls[0].prompt, prompt);
    QCOMPARE(dialogs.calls[0].caption, u"カヴリオＰｒｏのご紹介"_s);
    QCOMPARE(dialogs.calls[0].style, 64);
    const QStringList lines = dialogs.calls[0].prompt.split(u"\r\n"_s);
    QCOMPARE(lines.size(), 7);
    QVERIFY(lines[3].contains(QChar(0x3001)) && lines[3].contains(QChar(0xFF64)));
    QVERIFY(!dialogs.calls[0].prompt.endsWith(u'\n'));

    // The companion help is opened only once the message box is closed.
    QCOMPARE(dialogs.calls[0].helpCallsBefore, 0);
    QCOMPARE(f.help.calls.size(), 1);
    QCOMPARE(f.help.calls[0].owner.data(), f.window.get());
    QCOMPARE(f.help.calls[0].file, u"TandrelHelp.chm"_s);
    QCOMPARE(f.help.calls[0].command, 0);
    QCOMPARE(f.help.calls[0].data, quintptr(0));
    QCOMPARE(f.window->helpFile(), u"TandrelHelp.chm"_s);
    QCOMPARE(dialogs.inputs, 0);
}

void TestOutput::exitClosesHelpThenWindow()
{
    WindowFixture f;
    f.start();
    f.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
    f.window->cmdHelp_Click();

    f.window->cmdEnd_Click();

    QCOMPARE(f.help.calls.size(), 3);
    const QString files[] = {u"QvHelp.chm"_s, u"TandrelHelp.chm"_s};
    for (int k = 0; k < 2; ++k) {
        const RecordingHelpViewer::Call& call = f.help.calls[k + 1];
        QCOMPARE(call.owner.data(), f.window.get());
        QCOMPARE(call.file, files[k]);
        QCOMPARE(call.command, 18);
        QCOMPARE(call.data, quintptr(0));
    }
    QVERIFY(!f.window->isVisible());
    QVERIFY(f.dialogs.calls.isEmpty());
}

QTEST_MAIN(TestOutput)
#include "test_output.moc"
