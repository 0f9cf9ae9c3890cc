// Registering, editing and deleting titles, driven through the window with scripted dialogs.
#include "support/WindowFixture.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDirIterator>
#include <QFileInfo>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QToolButton>
#include <QWheelEvent>

using namespace kav;
using namespace kav::test;
using namespace Qt::StringLiterals;

namespace {

const QString TitleList = u"データ.TXT"_s;
const QByteArray Zeros = flagFile({});

const QString TitlePrompt = u"題名を入力して下さい"_s;
const QString TitleCaption = u"題名入力"_s;
const QString CountPrompt = u"トータル巻数を入力して下さい。（半角入力で）"_s;
const QString CountCaption = u"巻数入力"_s;
const QString ForbiddenPrompt = u"\\ / : , ; * ? < > |　の文字は使えません。"_s;
const QString DuplicatePrompt =
    u"既に同じ題名で登録されているものがあります。\r\n\r\n題名の後ろに作者名を入れるなどして区別して下さい"_s;
const QString SplitPrompt = u"自動的に５０巻ずつのデータに分けます"_s;
const QString LimitCaption = u"１データ５０件制限"_s;
const QString EditPrompt = u"トータル巻数を変更します。巻数を入力して下さい"_s;
const QString EditCaption = u"巻数に入力"_s;
const QString OverPrompt = u"最大５０をこえてはいけません"_s;

// Every entry of the folder: its bytes and time stamp, so that a rewrite with the
// same bytes shows too. A folder shows as <dir>.
QMap<QString, QString> folderState(const WindowFixture& f)
{
    QMap<QString, QString> out;
    QDirIterator it(f.dir.path(), QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        out.insert(info.fileName(), info.isDir() ? u"<dir>"_s
                                                 : QString::fromLatin1(f.read(info.fileName()).toHex()) + u" @"_s +
                                                       info.lastModified().toString(Qt::ISODateWithMs));
    }
    return out;
}

// Dates every file back, so that any later write moves its time stamp.
void ageFiles(const WindowFixture& f)
{
    const QDateTime old(QDate(2020, 1, 1), QTime(12, 0));
    for (const QString& name : QDir(f.dir.path()).entryList(QDir::Files | QDir::Hidden)) {
        QFile file(f.path(name));
        QVERIFY(file.open(QIODevice::Append));
        QVERIFY(file.setFileTime(old, QFileDevice::FileModificationTime));
    }
}

// The dialogs asked for, as I:caption (input box) or M:caption (message box).
QStringList dialogFlow(const ScriptedDialogs& dialogs)
{
    QStringList out;
    for (const ScriptedDialogs::Call& call : dialogs.calls)
        out << (call.kind == ScriptedDialogs::Call::Input ? u"I:"_s : u"M:"_s) + call.caption;
    return out;
}

QStringList selectorItems(const WindowFixture& f)
{
    QStringList out;
    for (int i = 0; i < f.cboName()->count(); ++i)
        out << f.cboName()->itemText(i);
    return out;
}

QStringList range(int first, int last)
{
    QStringList out;
    for (int v = first; v <= last; ++v)
        out << QString::number(v);
    return out;
}

// n titles T1..Tn of ten volumes each.
QByteArray manyTitles(int n)
{
    QByteArray out;
    for (int i = 1; i <= n; ++i)
        out += record("T" + QByteArray::number(i), 10, 0);
    return out;
}

// The records of a split of title into pieces of 50.
QByteArray pieces(const QByteArray& title, int n)
{
    QByteArray out;
    for (int first = 1; first <= n; first += 50) {
        const int last = std::min(n, first + 49);
        out += record(title + '(' + QByteArray::number(first) + '_' + QByteArray::number(last) + ')', last - first + 1,
                      first - 1);
    }
    return out;
}

void scriptInputs(WindowFixture& f, const QStringList& inputs)
{
    for (const QString& text : inputs)
        f.dialogs.answerInput(text);
}

} // namespace

class TestTitles : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Registration
    void registrationRefused_data();
    void registrationRefused();
    void registrationAccepted_data();
    void registrationAccepted();
    void forbiddenCharacter();
    void duplicateTitle();
    void showsNewTitle_data();
    void showsNewTitle();
    void registrationFailsPartWay_data();
    void registrationFailsPartWay();

    // Volume count and start volume
    void countCommand_data();
    void countCommand();
    void countHidesAndRestores();
    void countCaptionAfterBrowsing();
    void countSameNameTwice();
    void countTypedText_data();
    void countTypedText();
    void countEmptyCatalogue();
    void startVolume_data();
    void startVolume();
    void startVolumeOfNewTitle();
    void startVolumeTypedText();
    void typingIsNoPick_data();
    void typingIsNoPick();
    void pickingFromTheListActs_data();
    void pickingFromTheListActs();
    void editWriteFails_data();
    void editWriteFails();

    // Deletion
    void deleteQuestion();
    void deleteShowsNeighbour_data();
    void deleteShowsNeighbour();
    void deleteOnlyTitle();
    void deleteMissingFlagFile();
    void deleteSameNameTwice();
    void deleteTypedText_data();
    void deleteTypedText();
    void typedTextIsNotCompleted_data();
    void typedTextIsNotCompleted();
    void deleteEmptyCatalogue();
    void deleteRewriteFails();
};

// ---- Registration ----------------------------------------------------------

void TestTitles::registrationRefused_data()
{
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<QStringList>("inputs");
    QTest::addColumn<QStringList>("flow");
    QTest::addColumn<QString>("mentions"); // in the last message's prompt

    const QByteArray two = record("A", 5, 0) + record("ABC", 5, 0);
    const QStringList titleOnly = {u"I:題名入力"_s};
    const QStringList countAsked = {u"I:題名入力"_s, u"I:巻数入力"_s};
    const QStringList clash = {u"I:題名入力"_s, u"I:巻数入力"_s, u"M:二重登録"_s};
    const QStringList badTitle = {u"I:題名入力"_s, u"M:入力制限"_s, u"I:題名入力"_s};

    QTest::newRow("title box cancelled") << two << QStringList{QString()} << titleOnly << QString();
    QTest::newRow("title entered empty") << two << QStringList{QString()} << titleOnly << QString();
    QTest::newRow("count box cancelled") << two << QStringList{u"T"_s, QString()} << countAsked << QString();
    for (const QString& count : {u"0"_s, u"0.9"_s, u"-1"_s, u"0.5"_s, u"-3"_s})
        QTest::addRow("count %s", qPrintable(count)) << two << QStringList{u"T"_s, count} << countAsked << QString();
    QTest::newRow("count 40000") << two << QStringList{u"T"_s, u"40000"_s}
                                 << QStringList{u"I:題名入力"_s, u"I:巻数入力"_s, u"M:巻数入力"_s} << u"32767"_s;

    // Titles that compare unequal but would share a file with a title or a data file.
    QTest::newRow("lower case twin of a title") << two << QStringList{u"abc"_s, u"3"_s} << clash << u"ABC.TXT"_s;
    QTest::newRow("piece named like a title's file")
        << record("t(1_50)", 50, 0) << QStringList{u"T"_s, u"60"_s} << clash << u"t(1_50).TXT"_s;
    QTest::newRow("last piece named like a title's file")
        << record("t(101_120)", 20, 100) << QStringList{u"T"_s, u"120"_s} << clash << u"t(101_120).TXT"_s;
    QTest::newRow("the title list's name") << two << QStringList{u"データ"_s, u"5"_s} << clash << u"データ.txt"_s;
    QTest::newRow("the report's name") << two << QStringList{u"残巻データ"_s, u"5"_s} << clash << u"残巻データ.txt"_s;

    // Titles that no Shift-JIS line or file name can hold.
    QTest::newRow("tab in the title") << two << QStringList{u"a\tb"_s, QString()} << badTitle << u"制御文字"_s;
    QTest::newRow("not in code page 932") << two << QStringList{u"한국"_s, QString()} << badTitle << u"シフトJIS"_s;
    QTest::newRow("231 characters") << two << QStringList{QString(231, u'x'), QString()} << badTitle << u"長すぎ"_s;

    // Names Windows cannot give a file.
    QTest::newRow("reserved name") << two << QStringList{u"CON"_s, QString()} << badTitle << u"ファイル名に使えない"_s;

    // Room for 2000 titles.
    QTest::newRow("split past 2000 titles")
        << manyTitles(1990) << QStringList{u"T"_s, u"600"_s}
        << QStringList{u"I:題名入力"_s, u"I:巻数入力"_s, u"M:登録制限"_s} << u"2000"_s;
    QTest::newRow("one title past 2000") << manyTitles(2000) << QStringList{u"T"_s, u"1"_s}
                                         << QStringList{u"I:題名入力"_s, u"I:巻数入力"_s, u"M:登録制限"_s} << u"2000"_s;
}

void TestTitles::registrationRefused()
{
    QFETCH(QByteArray, list);
    QFETCH(QStringList, inputs);
    QFETCH(QStringList, flow);
    QFETCH(QString, mentions);
    WindowFixture f;
    f.write(TitleList, list);
    f.write(u"ABC.TXT"_s, flagFile({1, 2}));
    f.write(u"t(1_50).TXT"_s, flagFile({7}));
    f.start();
    ageFiles(f);
    const QMap<QString, QString> before = folderState(f);
    const int count = f.window->catalogue().intKensu;

    scriptInputs(f, inputs);
    f.window->cmdNew_Click();

    QCOMPARE(dialogFlow(f.dialogs), flow);
    QVERIFY(f.dialogs.allAnswersUsed());
    if (!mentions.isEmpty()) {
        const auto message = *std::find_if(f.dialogs.calls.crbegin(), f.dialogs.calls.crend(), [](const auto& call) {
            return call.kind == ScriptedDialogs::Call::Message;
        });
        QCOMPARE(message.style, 48);
        QVERIFY2(message.prompt.contains(mentions), qPrintable(message.prompt));
    }
    // Nothing written, nothing replaced, no stray file.
    QCOMPARE(folderState(f), before);
    QCOMPARE(int(f.window->catalogue().intKensu), count);
    QCOMPARE(f.cboName()->count(), count);
    QCOMPARE(f.cboName()->currentText(), f.window->catalogue().strName[1]);
}

void TestTitles::registrationAccepted_data()
{
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<QStringList>("inputs");
    QTest::addColumn<QByteArray>("appended");
    QTest::addColumn<QStringList>("flagFiles");
    QTest::addColumn<bool>("split");

    const QByteArray one = record("A", 5, 0);
    QTest::newRow("count 3") << one << QStringList{u"T"_s, u"3"_s} << record("T", 3, 0) << QStringList{u"T"_s} << false;
    QTest::newRow("count 1.9 gives 1") << one << QStringList{u"T"_s, u"1.9"_s} << record("T", 1, 0)
                                       << QStringList{u"T"_s} << false;
    QTest::newRow("count 12.7 gives 12") << one << QStringList{u"T"_s, u"12.7"_s} << record("T", 12, 0)
                                         << QStringList{u"T"_s} << false;
    QTest::newRow("count with a leading blank")
        << one << QStringList{u"T"_s, u" 7"_s} << record("T", 7, 0) << QStringList{u"T"_s} << false;
    QTest::newRow("count 7巻") << one << QStringList{u"T"_s, u"7巻"_s} << record("T", 7, 0) << QStringList{u"T"_s}
                               << false;
    QTest::newRow("count 50, no split") << one << QStringList{u"T"_s, u"50"_s} << record("T", 50, 0)
                                        << QStringList{u"T"_s} << false;
    QTest::newRow("count 51") << one << QStringList{u"T"_s, u"51"_s}
                              << QByteArray("\"T(1_50)\",50,0\r\n\"T(51_51)\",1,50\r\n")
                              << QStringList{u"T(1_50)"_s, u"T(51_51)"_s} << true;
    QTest::newRow("count 120") << one << QStringList{u"T"_s, u"120"_s}
                               << QByteArray("\"T(1_50)\",50,0\r\n\"T(51_100)\",50,50\r\n\"T(101_120)\",20,100\r\n")
                               << QStringList{u"T(1_50)"_s, u"T(51_100)"_s, u"T(101_120)"_s} << true;
    QTest::newRow("Japanese title split")
        << one << QStringList{u"漫画"_s, u"51"_s}
        << QByteArray("\"\x96\x9f\x89\xe6(1_50)\",50,0\r\n\"\x96\x9f\x89\xe6(51_51)\",1,50\r\n")
        << QStringList{u"漫画(1_50)"_s, u"漫画(51_51)"_s} << true;

    // Titles that differ from a registered one pass the exact duplicate test.
    QTest::newRow("leading blank differs")
        << one << QStringList{u" A"_s, u"3"_s} << record(" A", 3, 0) << QStringList{u" A"_s} << false;
    QTest::newRow("full-width asterisk") << one << QStringList{u"Ｔ＊"_s, u"3"_s}
                                         << QByteArray("\"\x82\x73\x81\x96\",3,0\r\n") << QStringList{u"Ｔ＊"_s}
                                         << false;
    QTest::newRow("full-width question mark")
        << one << QStringList{u"？"_s, u"2"_s} << QByteArray("\"\x81\x48\",2,0\r\n") << QStringList{u"？"_s} << false;
    // A wave dash typed on Linux is stored as the character a Windows file holds (0x81 0x60).
    QTest::newRow("wave dash") << one << QStringList{u"A\u301CB"_s, u"2"_s}
                               << QByteArray("\"A\x81\x60"
                                             "B\",2,0\r\n")
                               << QStringList{u"A\uFF5EB"_s} << false;
    QTest::newRow("registration into an empty catalogue")
        << QByteArray() << QStringList{u"T"_s, u"4"_s} << record("T", 4, 0) << QStringList{u"T"_s} << false;

    // The longest title still leaves room in a file name for the longest piece suffix.
    const QString longest(230, u'x');
    QTest::newRow("230 characters") << one << QStringList{longest, u"3"_s} << record(longest.toLatin1(), 3, 0)
                                    << QStringList{longest} << false;
    QStringList longPieces;
    for (int first = 1; first <= 10050; first += 50)
        longPieces << longest + u"(%1_%2)"_s.arg(first).arg(first + 49);
    QTest::newRow("230 characters split into 201 pieces")
        << one << QStringList{longest, u"10050"_s} << pieces(longest.toLatin1(), 10050) << longPieces << true;

    QStringList tenPieces;
    for (int first = 1; first <= 500; first += 50)
        tenPieces << u"T(%1_%2)"_s.arg(first).arg(first + 49);
    QTest::newRow("split that fills 2000 titles")
        << manyTitles(1990) << QStringList{u"T"_s, u"500"_s} << pieces("T", 500) << tenPieces << true;
}

void TestTitles::registrationAccepted()
{
    QFETCH(QByteArray, list);
    QFETCH(QStringList, inputs);
    QFETCH(QByteArray, appended);
    QFETCH(QStringList, flagFiles);
    QFETCH(bool, split);
    WindowFixture f;
    f.write(TitleList, list);
    f.write(u"A.TXT"_s, flagFile({5}));
    f.start();
    ageFiles(f);
    QMap<QString, QString> expected = folderState(f);

    scriptInputs(f, inputs);
    f.window->cmdNew_Click();

    QStringList flow = {u"I:題名入力"_s, u"I:巻数入力"_s};
    if (split)
        flow << u"M:１データ５０件制限"_s;
    QCOMPARE(dialogFlow(f.dialogs), flow);
    QCOMPARE(f.dialogs.calls[0].prompt, TitlePrompt);
    QCOMPARE(f.dialogs.calls[0].defaultText, QString());
    QCOMPARE(f.dialogs.calls[1].prompt, CountPrompt);
    QCOMPARE(f.dialogs.calls[1].defaultText, QString());
    if (split) {
        QCOMPARE(f.dialogs.calls[2].prompt, SplitPrompt);
        QCOMPARE(f.dialogs.calls[2].style, 64);
    }

    QCOMPARE(f.read(TitleList), list + appended);
    for (const QString& name : flagFiles) {
        QCOMPARE(f.readAnyCase(name + u".TXT"_s), Zeros);
        QCOMPARE(Zeros.size(), 105);
    }
    // Nothing else on disk changed.
    QMap<QString, QString> after = folderState(f);
    after.remove(TitleList);
    for (const QString& name : flagFiles) {
        const QString file = name + u".TXT"_s;
        const auto found = std::find_if(after.keyBegin(), after.keyEnd(), [&](const QString& key) {
            return key.compare(file, Qt::CaseInsensitive) == 0;
        });
        QVERIFY2(found != after.keyEnd(), qPrintable(file));
        const QString key = *found;
        after.remove(key);
    }
    expected.remove(TitleList);
    QCOMPARE(after, expected);

    // The catalogue holds the new records, read back from the file.
    const int added = int(appended.count("\r\n"));
    QCOMPARE(int(f.window->catalogue().intKensu), int(list.count("\r\n")) + added);
    QCOMPARE(selectorItems(f).mid(f.cboName()->count() - added), flagFiles);
}

void TestTitles::forbiddenCharacter()
{
    WindowFixture f;
    f.write(TitleList, record("A", 5, 0));
    f.start();
    scriptInputs(f, {u"A:B"_s, u"Good"_s, u"3"_s});
    f.window->cmdNew_Click();

    QCOMPARE(dialogFlow(f.dialogs), QStringList({u"I:題名入力"_s, u"M:入力制限"_s, u"I:題名入力"_s, u"I:巻数入力"_s}));
    const auto& calls = f.dialogs.calls;
    QCOMPARE(calls[1].prompt, ForbiddenPrompt);
    QCOMPARE(calls[1].style, 48);
    // The title box comes back with the default it had: empty.
    QCOMPARE(calls[2].prompt, TitlePrompt);
    QCOMPARE(calls[2].defaultText, QString());
    QCOMPARE(f.read(TitleList), record("A", 5, 0) + record("Good", 3, 0));
    QCOMPARE(f.readAnyCase(u"Good.TXT"_s), Zeros);
    QCOMPARE(QDir(f.dir.path()).entryList(QDir::Files).size(), 2);
}

void TestTitles::duplicateTitle()
{
    WindowFixture f;
    f.write(TitleList, record("A", 5, 0) + record("B", 6, 0));
    f.write(u"B.TXT"_s, flagFile({3}));
    f.start();
    scriptInputs(f, {u"B"_s, u"B*"_s, u"b2"_s, u"4"_s});
    f.window->cmdNew_Click();

    QCOMPARE(dialogFlow(f.dialogs), QStringList({u"I:題名入力"_s, u"M:二重登録"_s, u"I:題名入力"_s, u"M:入力制限"_s,
                                                 u"I:題名入力"_s, u"I:巻数入力"_s}));
    const auto& calls = f.dialogs.calls;
    QCOMPARE(calls[0].defaultText, QString());
    QCOMPARE(calls[1].prompt, DuplicatePrompt);
    QCOMPARE(calls[1].style, 48);
    // The rejected title is offered for editing ...
    QCOMPARE(calls[2].defaultText, u"B"_s);
    // ... and a forbidden-character rejection keeps that default.
    QCOMPARE(calls[4].defaultText, u"B"_s);
    QCOMPARE(f.read(TitleList), record("A", 5, 0) + record("B", 6, 0) + record("b2", 4, 0));
    QCOMPARE(f.read(u"B.TXT"_s), flagFile({3}));

    // The default does not outlive the command.
    f.dialogs.calls.clear();
    f.dialogs.answerInput(QString());
    f.window->cmdNew_Click();
    QCOMPARE(f.dialogs.calls.size(), 1);
    QCOMPARE(f.dialogs.calls[0].defaultText, QString());
}

void TestTitles::showsNewTitle_data()
{
    QTest::addColumn<QString>("count");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("labels");
    QTest::addColumn<int>("maximum");
    QTest::newRow("one title") << u"12"_s << u"N"_s << u"12巻"_s << 12 << 4;
    QTest::newRow("split into three") << u"120"_s << u"N(1_50)"_s << u"50巻"_s << 50 << 6;
    QTest::newRow("split into two") << u"51"_s << u"N(1_50)"_s << u"50巻"_s << 50 << 5;
}

void TestTitles::showsNewTitle()
{
    QFETCH(QString, count);
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(int, labels);
    QFETCH(int, maximum);
    WindowFixture f;
    f.write(TitleList, record("A", 12, 0) + record("B", 50, 50) + record("C", 3, 0));
    f.write(u"B.TXT"_s, flagFile({1, 2, 3, 50}));
    f.start();
    f.hsbData()->setValue(2);
    QCOMPARE(f.cboSyo()->currentText(), u"51"_s);

    scriptInputs(f, {u"N"_s, count});
    f.window->cmdNew_Click();

    QCOMPARE(f.cboName()->currentText(), name);
    QCOMPARE(f.cboName()->currentIndex(), 3);
    QCOMPARE(f.cboName()->itemText(3), name);
    QCOMPARE(f.lblKansu()->text(), caption);
    QCOMPARE(f.cboSyo()->currentText(), u"1"_s);
    QCOMPARE(f.visibleCaptions(), range(1, labels));
    QCOMPARE(f.window->volumeFile(), name + u".TXT"_s);
    for (int i = 1; i <= labels; ++i)
        QCOMPARE(f.labelColour(i), QColor(0xC0, 0xFF, 0xC0));
    // The bar and the position label still stand where they were.
    QCOMPARE(f.hsbData()->value(), 2);
    QCOMPARE(f.hsbData()->maximum(), maximum);
    QCOMPARE(f.lblKensu()->text(), u"2 / 3"_s);
}

void TestTitles::registrationFailsPartWay_data()
{
    QTest::addColumn<int>("failAt"); // the file replaced that fails: the three flag files, then the list
    QTest::addColumn<QString>("file");
    QTest::newRow("first piece's flags") << 1 << u"T(1_50).TXT"_s;
    QTest::newRow("second piece's flags") << 2 << u"T(51_100).TXT"_s;
    QTest::newRow("last piece's flags") << 3 << u"T(101_150).TXT"_s;
    QTest::newRow("the list") << 4 << u"データ.txt"_s;
}

// All pieces or none: what is on disk and on display is the list as it was.
void TestTitles::registrationFailsPartWay()
{
    QFETCH(int, failAt);
    QFETCH(QString, file);

    WindowFixture f;
    f.write(TitleList, record("A", 5, 0));
    f.start();
    const auto before = f.dir.state();
    scriptInputs(f, {u"T"_s, u"150"_s});
    f.files.failWrite(failAt);
    f.window->cmdNew_Click();

    const ScriptedDialogs::Call& last = f.dialogs.calls.last();
    QCOMPARE(last.caption, u"保存エラー"_s);
    QVERIFY2(last.prompt.contains(file, Qt::CaseInsensitive), qPrintable(last.prompt));
    QCOMPARE(f.dir.state(), before);
    QCOMPARE(selectorItems(f), QStringList{u"A"_s});
    QCOMPARE(int(f.window->catalogue().intKensu), 1);
    QCOMPARE(f.hsbData()->maximum(), 1);
    QCOMPARE(f.cboName()->currentText(), u"A"_s);
}

// ---- Volume count ----------------------------------------------------------

void TestTitles::countCommand_data()
{
    QTest::addColumn<QStringList>("inputs");
    QTest::addColumn<bool>("over");  // the 最大５０ message
    QTest::addColumn<int>("stored"); // -1: nothing changes
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("labels");

    QTest::newRow("cancel") << QStringList{QString()} << false << -1 << u"30巻"_s << 30;
    QTest::newRow("empty") << QStringList{QString()} << false << -1 << u"30巻"_s << 30;
    for (const QString& entry : {u"0"_s, u"0.5"_s, u"-2"_s})
        QTest::addRow("%s changes nothing", qPrintable(entry)) << QStringList{entry} << false << -1 << u"30巻"_s << 30;
    QTest::newRow("1") << QStringList{u"1"_s} << false << 1 << u"1"_s << 1;
    QTest::newRow("20") << QStringList{u"20"_s} << false << 20 << u"20"_s << 20;
    QTest::newRow("50 without a message") << QStringList{u"50"_s} << false << 50 << u"50"_s << 50;
    QTest::newRow("51 becomes 50") << QStringList{u"51"_s} << true << 50 << u"50"_s << 50;
    QTest::newRow("50.5 becomes 50") << QStringList{u"50.5"_s} << true << 50 << u"50"_s << 50;
    QTest::newRow("30.7 stores 31, shows 30") << QStringList{u"30.7"_s} << false << 31 << u"30.7"_s << 30;
    QTest::newRow("2.5 rounds to even 2") << QStringList{u"2.5"_s} << false << 2 << u"2.5"_s << 2;
    QTest::newRow("3.5 rounds to even 4") << QStringList{u"3.5"_s} << false << 4 << u"3.5"_s << 3;
}

void TestTitles::countCommand()
{
    QFETCH(QStringList, inputs);
    QFETCH(bool, over);
    QFETCH(int, stored);
    QFETCH(QString, caption);
    QFETCH(int, labels);
    WindowFixture f;
    const QByteArray list = record("A", 30, 0) + record("B", 5, 50);
    f.write(TitleList, list);
    f.write(u"A.TXT"_s, flagFile({25, 30}));
    f.start();
    ageFiles(f);
    QMap<QString, QString> before = folderState(f);

    scriptInputs(f, inputs);
    f.window->lblKansu_Click();

    QCOMPARE(dialogFlow(f.dialogs),
             over ? QStringList({u"I:巻数に入力"_s, u"M:１データ５０件制限"_s}) : QStringList({u"I:巻数に入力"_s}));
    QCOMPARE(f.dialogs.calls[0].prompt, EditPrompt);
    QCOMPARE(f.dialogs.calls[0].defaultText, QString());
    if (over) {
        QCOMPARE(f.dialogs.calls[1].prompt, OverPrompt);
        QCOMPARE(f.dialogs.calls[1].style, 64);
    }
    if (stored < 0) {
        QCOMPARE(folderState(f), before);
    } else {
        QCOMPARE(f.read(TitleList), record("A", stored, 0) + record("B", 5, 50));
        QCOMPARE(int(f.window->catalogue().intKansu[1]), stored);
        // The flag file is never written.
        before.remove(TitleList);
        QMap<QString, QString> after = folderState(f);
        after.remove(TitleList);
        QCOMPARE(after, before);
    }
    QCOMPARE(f.lblKansu()->text(), caption);
    QCOMPARE(f.visibleCaptions(), range(1, labels));
    QCOMPARE(f.cboName()->currentText(), u"A"_s);
    QCOMPARE(f.cboName()->currentIndex(), 0);
    QCOMPARE(f.hsbData()->value(), 1);
    QCOMPARE(f.lblKensu()->text(), u"1 / 2"_s);
}

void TestTitles::countHidesAndRestores()
{
    WindowFixture f;
    f.write(TitleList, record("A", 30, 0));
    f.write(u"A.TXT"_s, flagFile({25, 30}));
    f.start();
    scriptInputs(f, {u"20"_s, u"30"_s});

    f.window->lblKansu_Click();
    QCOMPARE(f.visibleCaptions(), range(1, 20));
    QVERIFY(f.window->volumeLabel(21)->isHidden());
    QVERIFY(f.window->volumeLabel(30)->isHidden());
    QCOMPARE(f.read(u"A.TXT"_s), flagFile({25, 30}));

    f.window->lblKansu_Click();
    QCOMPARE(f.visibleCaptions(), range(1, 30));
    QCOMPARE(f.labelColour(25), QColor(0xFF, 0xC0, 0xFF));
    QCOMPARE(f.labelColour(30), QColor(0xFF, 0xC0, 0xFF));
    QCOMPARE(f.labelColour(24), QColor(0xC0, 0xFF, 0xC0));
    QCOMPARE(f.read(TitleList), record("A", 30, 0));
}

void TestTitles::countCaptionAfterBrowsing()
{
    WindowFixture f;
    f.write(TitleList, record("A", 30, 0) + record("B", 5, 0));
    f.start();
    f.dialogs.answerInput(u"20"_s);
    f.window->lblKansu_Click();
    QCOMPARE(f.lblKansu()->text(), u"20"_s);
    f.hsbData()->setValue(2);
    QCOMPARE(f.lblKansu()->text(), u"5巻"_s);
    f.hsbData()->setValue(1);
    QCOMPARE(f.lblKansu()->text(), u"20巻"_s);
    QCOMPARE(f.visibleCaptions(), range(1, 20));
}

void TestTitles::countSameNameTwice()
{
    WindowFixture f;
    f.write(TitleList, record("A", 10, 0) + record("A", 20, 0) + record("B", 3, 0));
    f.start();
    f.hsbData()->setValue(2);
    f.dialogs.answerInput(u"5"_s);
    f.window->lblKansu_Click();
    QCOMPARE(f.read(TitleList), record("A", 5, 0) + record("A", 20, 0) + record("B", 3, 0));
}

void TestTitles::countTypedText_data()
{
    QTest::addColumn<QString>("typed");
    QTest::newRow("a name of no title") << u"Other"_s;
    QTest::newRow("another title") << u"B"_s;
    QTest::newRow("empty text") << QString();
}

void TestTitles::countTypedText()
{
    QFETCH(QString, typed);
    WindowFixture f;
    f.write(TitleList, record("A", 30, 0) + record("B", 5, 0));
    f.start();
    f.cboName()->setEditText(typed);
    f.dialogs.answerInput(u"12"_s);
    f.window->lblKansu_Click();
    // The count goes to the title on display.
    QCOMPARE(f.read(TitleList), record("A", 12, 0) + record("B", 5, 0));
    QCOMPARE(f.cboName()->currentText(), u"A"_s);
    QCOMPARE(f.cboName()->currentIndex(), 0);
    QCOMPARE(f.visibleCaptions(), range(1, 12));
    QCOMPARE(QDir(f.dir.path()).entryList(QDir::Files), QStringList{TitleList});
}

void TestTitles::countEmptyCatalogue()
{
    WindowFixture f;
    f.start();
    ageFiles(f);
    const QMap<QString, QString> before = folderState(f);
    f.dialogs.answerInput(u"12"_s);
    f.window->lblKansu_Click();
    QVERIFY(f.dialogs.calls.isEmpty());
    QCOMPARE(folderState(f), before);
    QCOMPARE(f.read(TitleList), QByteArray());
    QCOMPARE(f.lblKansu()->text(), u"0巻"_s);
    QCOMPARE(f.visibleCaptions(), QStringList());
}

// ---- Start volume ----------------------------------------------------------

void TestTitles::startVolume_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("offset");
    QTest::newRow("1") << 0 << 0;
    QTest::newRow("51") << 1 << 50;
    QTest::newRow("101") << 2 << 100;
    QTest::newRow("501") << 10 << 500;
}

void TestTitles::startVolume()
{
    QFETCH(int, index);
    QFETCH(int, offset);
    WindowFixture f;
    f.write(TitleList, record("A", 12, 0) + record("B", 5, 50) + record("C", 3, 0));
    f.write(u"B.TXT"_s, flagFile({2}));
    f.start();
    f.hsbData()->setValue(2);
    ageFiles(f);
    QMap<QString, QString> before = folderState(f);

    f.cboSyo()->setCurrentIndex(index);
    f.window->cboSyo_Click(index);

    QCOMPARE(f.read(TitleList), record("A", 12, 0) + record("B", 5, offset) + record("C", 3, 0));
    QCOMPARE(f.visibleCaptions(), range(offset + 1, offset + 5));
    QCOMPARE(f.labelColour(2), QColor(0xFF, 0xC0, 0xFF));
    QCOMPARE(f.hsbData()->value(), 2);
    QCOMPARE(f.lblKensu()->text(), u"2 / 3"_s);
    QCOMPARE(f.cboName()->currentText(), u"B"_s);
    QCOMPARE(f.cboName()->currentIndex(), 1);
    QCOMPARE(f.lblKansu()->text(), u"5巻"_s);
    QVERIFY(f.dialogs.calls.isEmpty());
    // The flag file is neither written nor touched.
    before.remove(TitleList);
    QMap<QString, QString> after = folderState(f);
    after.remove(TitleList);
    QCOMPARE(after, before);
}

void TestTitles::startVolumeOfNewTitle()
{
    // After a registration the selection names the new title, not the one at the bar's position.
    WindowFixture f;
    f.write(TitleList, record("A", 12, 0));
    f.start();
    scriptInputs(f, {u"N"_s, u"4"_s});
    f.window->cmdNew_Click();
    f.cboSyo()->setCurrentIndex(1);
    f.window->cboSyo_Click(1);
    QCOMPARE(f.read(TitleList), record("A", 12, 0) + record("N", 4, 50));
    QCOMPARE(f.visibleCaptions(), range(51, 54));
    QCOMPARE(f.cboName()->currentText(), u"N"_s);
}

void TestTitles::startVolumeTypedText()
{
    WindowFixture f;
    f.write(TitleList, record("A", 12, 0) + record("B", 5, 0) + record("C", 3, 0));
    f.start();
    f.hsbData()->setValue(2);
    f.cboName()->setEditText(u"C"_s);
    f.cboSyo()->setCurrentIndex(2);
    f.window->cboSyo_Click(2);
    // The pick belongs to the title on display.
    QCOMPARE(f.read(TitleList), record("A", 12, 0) + record("B", 5, 100) + record("C", 3, 0));
    QCOMPARE(f.cboName()->currentText(), u"B"_s);
    QCOMPARE(f.visibleCaptions(), range(101, 105));
}

enum class Leave { Tab, Enter, HelpButton, DeleteButton, Wheel };

void TestTitles::typingIsNoPick_data()
{
    QTest::addColumn<bool>("startBox"); // else the title selector
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("leave"); // Leave
    QTest::newRow("start volume 51, Tab") << true << u"51"_s << int(Leave::Tab);
    QTest::newRow("start volume 101, Enter") << true << u"101"_s << int(Leave::Enter);
    QTest::newRow("start volume 51, a click on a button") << true << u"51"_s << int(Leave::HelpButton);
    QTest::newRow("title B, Tab") << false << u"B"_s << int(Leave::Tab);
    QTest::newRow("title B, Enter") << false << u"B"_s << int(Leave::Enter);
    QTest::newRow("title B, then 削除") << false << u"B"_s << int(Leave::DeleteButton);
    QTest::newRow("wheel over the start volume box") << true << QString() << int(Leave::Wheel);
    QTest::newRow("wheel over the title selector") << false << QString() << int(Leave::Wheel);
}

// Text typed into a selector that equals one of its items is still no pick, whatever
// takes the focus away: keys and clicks as the user makes them.
void TestTitles::typingIsNoPick()
{
    QFETCH(bool, startBox);
    QFETCH(QString, typed);
    QFETCH(int, leave);
    WindowFixture f;
    f.write(TitleList, record("A", 12, 0) + record("B", 5, 0));
    f.start();
    f.window->show();
    QApplication::setActiveWindow(f.window.get());
    QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
    const auto before = f.dir.state();

    QComboBox* box = startBox ? f.cboSyo() : f.cboName();
    QLineEdit* edit = box->lineEdit();
    edit->setFocus();
    if (!typed.isEmpty()) {
        edit->selectAll();
        QTest::keyClicks(edit, typed);
        QCOMPARE(box->currentText(), typed);
    }
    switch (Leave(leave)) {
    case Leave::Wheel: {
        // Turned down over the closed box: Qt would step to the next item ("51", "B").
        box->setCurrentIndex(0);
        const QPointF at(box->width() / 2.0, box->height() / 2.0);
        QWheelEvent wheel(at, box->mapToGlobal(at), {}, {0, -120}, Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                          false);
        QApplication::sendEvent(box, &wheel);
        f.child<QToolButton>(u"cmdHelp"_s)->setFocus();
        break;
    }
    case Leave::Tab:
        QTest::keyClick(edit, Qt::Key_Tab);
        break;
    case Leave::Enter:
        QTest::keyClick(edit, Qt::Key_Return);
        QTest::keyClick(edit, Qt::Key_Tab);
        break;
    case Leave::HelpButton:
        QTest::mouseClick(f.child<QToolButton>(u"cmdHelp"_s), Qt::LeftButton);
        break;
    case Leave::DeleteButton:
        f.dialogs.answerMessage(mb::Cancel);
        QTest::mouseClick(f.child<QToolButton>(u"cmdDel"_s), Qt::LeftButton);
        QCOMPARE(f.dialogs.calls.size(), 1);
        QCOMPARE(f.dialogs.calls[0].prompt, u"Aのデータを削除していいですか？"_s);
        break;
    }
    QVERIFY(!edit->hasFocus());
    QCOMPARE(f.dir.state(), before);
    QCOMPARE(f.hsbData()->value(), 1);
    QCOMPARE(f.lblKensu()->text(), u"1 / 2"_s);
    QCOMPARE(f.visibleCaptions(), range(1, 12));
    if (Leave(leave) != Leave::DeleteButton)
        QVERIFY(f.dialogs.calls.isEmpty());
}

void TestTitles::pickingFromTheListActs_data()
{
    QTest::addColumn<bool>("mouse");
    QTest::newRow("clicked in the open list") << true;
    QTest::newRow("chosen with the keys in the open list") << false;
}

void TestTitles::pickingFromTheListActs()
{
    QFETCH(bool, mouse);
    WindowFixture f;
    f.write(TitleList, record("A", 12, 0) + record("B", 5, 0));
    f.start();
    f.window->show();
    QApplication::setActiveWindow(f.window.get());
    QVERIFY(QTest::qWaitForWindowActive(f.window.get()));

    auto pick = [&](QComboBox* box, int row) {
        box->showPopup();
        QAbstractItemView* view = box->view();
        QTRY_VERIFY(view->isVisible());
        if (mouse) {
            const QPoint at = view->visualRect(view->model()->index(row, 0)).center();
            QTest::mouseMove(view->viewport(), at);
            QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
        } else {
            view->setCurrentIndex(view->model()->index(0, 0));
            for (int i = 0; i < row; ++i)
                QTest::keyClick(view, Qt::Key_Down);
            QTest::keyClick(view, Qt::Key_Return);
        }
        QTRY_VERIFY(!view->isVisible());
    };
    pick(f.cboSyo(), 2); // "101"
    QCOMPARE(f.read(TitleList), record("A", 12, 100) + record("B", 5, 0));
    QCOMPARE(f.visibleCaptions(), range(101, 112));
    pick(f.cboName(), 1); // "B"
    QCOMPARE(f.hsbData()->value(), 2);
    QCOMPARE(f.lblKensu()->text(), u"2 / 2"_s);
}

void TestTitles::editWriteFails_data()
{
    QTest::addColumn<bool>("count"); // else the start volume
    QTest::newRow("count") << true;
    QTest::newRow("start volume") << false;
}

void TestTitles::editWriteFails()
{
    QFETCH(bool, count);
    WindowFixture f;
    const QByteArray list = record("A", 30, 0) + record("B", 5, 0);
    f.write(TitleList, list);
    f.start();
    f.files.setFull(true);
    if (count) {
        f.dialogs.answerInput(u"12"_s);
        f.window->lblKansu_Click();
    } else {
        f.cboSyo()->setCurrentIndex(2);
        f.window->cboSyo_Click(2);
    }
    QCOMPARE(f.dialogs.calls.last().caption, u"保存エラー"_s);
    QVERIFY(f.dialogs.calls.last().prompt.contains(u"データ.txt"_s, Qt::CaseInsensitive));
    // The window shows what the file still holds.
    QCOMPARE(f.read(TitleList), list);
    QCOMPARE(int(f.window->catalogue().intKansu[1]), 30);
    QCOMPARE(int(f.window->catalogue().intSyo[1]), 0);
    QCOMPARE(f.lblKansu()->text(), u"30巻"_s);
    QCOMPARE(f.cboSyo()->currentText(), u"1"_s);
    QCOMPARE(f.visibleCaptions(), range(1, 30));
}

// ---- Deletion --------------------------------------------------------------

void TestTitles::deleteQuestion()
{
    WindowFixture f;
    f.write(TitleList, record("ABC", 3, 0) + record("B", 4, 0));
    f.write(u"ABC.TXT"_s, flagFile({1}));
    f.start();
    ageFiles(f);
    const QMap<QString, QString> before = folderState(f);

    f.dialogs.answerMessage(mb::Cancel);
    f.window->cmdDel_Click();
    QCOMPARE(f.dialogs.calls.size(), 1);
    QCOMPARE(f.dialogs.calls[0].prompt, u"ABCのデータを削除していいですか？"_s);
    QCOMPARE(f.dialogs.calls[0].caption, u"削除確認"_s);
    QCOMPARE(f.dialogs.calls[0].style, 49);
    QCOMPARE(folderState(f), before);
    QCOMPARE(f.cboName()->currentText(), u"ABC"_s);
    QCOMPARE(f.cboName()->count(), 2);
    QCOMPARE(f.visibleCaptions(), range(1, 3));
}

void TestTitles::deleteShowsNeighbour_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("kensu");
    QTest::addColumn<int>("labels");
    QTest::newRow("first of three") << 1 << record("B", 4, 0) + record("C", 5, 50) << u"B"_s << u"1 / 2"_s << 4;
    QTest::newRow("middle of three") << 2 << record("A", 3, 0) + record("C", 5, 50) << u"C"_s << u"2 / 2"_s << 5;
    QTest::newRow("last of three") << 3 << record("A", 3, 0) + record("B", 4, 0) << u"B"_s << u"2 / 2"_s << 4;
}

void TestTitles::deleteShowsNeighbour()
{
    QFETCH(int, position);
    QFETCH(QByteArray, list);
    QFETCH(QString, shown);
    QFETCH(QString, kensu);
    QFETCH(int, labels);
    WindowFixture f;
    f.write(TitleList, record("A", 3, 0) + record("B", 4, 0) + record("C", 5, 50));
    const QStringList names = {u"A"_s, u"B"_s, u"C"_s};
    for (int i = 0; i < 3; ++i)
        f.write(names[i] + u".TXT"_s, flagFile({i + 1}));
    f.start();
    f.hsbData()->setValue(position);
    const QString deleted = names[position - 1];

    f.dialogs.answerMessage(mb::OK);
    f.window->cmdDel_Click();
    QCOMPARE(f.dialogs.calls.size(), 1);
    QCOMPARE(f.read(TitleList), list);
    QVERIFY(!f.exists(deleted + u".TXT"_s));
    for (const QString& name : names) {
        if (name != deleted)
            QCOMPARE(f.read(name + u".TXT"_s), flagFile({int(names.indexOf(name)) + 1}));
    }
    QCOMPARE(f.cboName()->currentText(), shown);
    QCOMPARE(f.cboName()->currentIndex(), f.hsbData()->value() - 1);
    QCOMPARE(f.lblKensu()->text(), kensu);
    QCOMPARE(f.hsbData()->maximum(), 2);
    QCOMPARE(f.lblKansu()->text(), QString::number(labels) + u"巻"_s);
    const int offset = shown == u"C"_s ? 50 : 0;
    QCOMPARE(f.visibleCaptions(), range(offset + 1, offset + labels));
    QCOMPARE(f.window->volumeFile(), shown + u".TXT"_s);
}

void TestTitles::deleteOnlyTitle()
{
    WindowFixture f;
    f.write(TitleList, record("A", 3, 50));
    f.write(u"A.TXT"_s, Zeros);
    f.start();
    f.dialogs.answerMessage(mb::OK);
    f.window->cmdDel_Click();
    QCOMPARE(f.read(TitleList), QByteArray());
    QVERIFY(!f.exists(u"A.TXT"_s));
    QCOMPARE(f.visibleCaptions(), QStringList());
    QCOMPARE(f.lblKansu()->text(), QString());
    QCOMPARE(f.cboSyo()->currentText(), QString());
    QCOMPARE(f.cboName()->currentText(), QString());
    QCOMPARE(f.cboName()->count(), 0);
    QCOMPARE(f.hsbData()->value(), 1);
    QCOMPARE(f.hsbData()->maximum(), 1);
    QCOMPARE(f.hsbData()->minimum(), 1);
    QCOMPARE(int(f.window->catalogue().intKensu), 0);
}

void TestTitles::deleteMissingFlagFile()
{
    WindowFixture f;
    f.write(TitleList, record("A", 3, 0) + record("B", 4, 0));
    f.start();
    f.dialogs.answerMessage(mb::OK);
    f.window->cmdDel_Click();
    QCOMPARE(f.dialogs.calls.size(), 1);
    QCOMPARE(f.read(TitleList), record("B", 4, 0));
    QCOMPARE(f.cboName()->currentText(), u"B"_s);
}

void TestTitles::deleteSameNameTwice()
{
    WindowFixture f;
    f.write(TitleList, record("A", 10, 0) + record("A", 20, 0) + record("B", 3, 0));
    f.write(u"A.TXT"_s, flagFile({1}));
    f.write(u"B.TXT"_s, flagFile({2}));
    f.start();
    f.dialogs.answerMessage(mb::OK);
    f.window->cmdDel_Click();
    QCOMPARE(f.read(TitleList), record("A", 20, 0) + record("B", 3, 0));
    QVERIFY(!f.exists(u"A.TXT"_s));
    QCOMPARE(f.read(u"B.TXT"_s), flagFile({2}));
    QCOMPARE(f.cboName()->currentText(), u"A"_s);
    QCOMPARE(f.lblKansu()->text(), u"20巻"_s);
}

void TestTitles::deleteTypedText_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("answer");
    QTest::newRow("a name with a file but no title") << u"Other"_s << mb::Cancel;
    QTest::newRow("another title's name, cancelled") << u"B"_s << mb::Cancel;
    QTest::newRow("another title's name, confirmed") << u"B"_s << mb::OK;
    QTest::newRow("lower case of a title") << u"b"_s << mb::OK;
    QTest::newRow("empty text") << QString() << mb::OK;
}

// Text typed into the selector is no pick: the question and the command are about the
// title on display, whose name the selector shows again.
void TestTitles::deleteTypedText()
{
    QFETCH(QString, typed);
    QFETCH(int, answer);
    WindowFixture f;
    f.write(TitleList, record("A", 3, 0) + record("B", 4, 0));
    f.write(u"A.TXT"_s, flagFile({1}));
    f.write(u"B.TXT"_s, flagFile({2}));
    f.write(u"Other.TXT"_s, flagFile({3}));
    f.write(u".TXT"_s, flagFile({4}));
    f.start();
    ageFiles(f);
    QMap<QString, QString> expected = folderState(f);
    if (answer == mb::OK)
        expected.remove(u"A.TXT"_s);

    f.cboName()->setEditText(typed);
    f.dialogs.answerMessage(answer);
    f.window->cmdDel_Click();
    QCOMPARE(f.dialogs.calls.size(), 1);
    QCOMPARE(f.dialogs.calls[0].prompt, u"Aのデータを削除していいですか？"_s);
    QCOMPARE(f.read(TitleList), answer == mb::OK ? record("B", 4, 0) : record("A", 3, 0) + record("B", 4, 0));
    const QMap<QString, QString> after = folderState(f);
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        if (it.key() != TitleList)
            QCOMPARE(after.value(it.key()), it.value());
    }
    QCOMPARE(after.size(), expected.size());
    QCOMPARE(f.cboName()->currentText(), answer == mb::OK ? u"B"_s : u"A"_s);
    QCOMPARE(f.cboName()->currentIndex(), 0);
    QCOMPARE(f.visibleCaptions(), answer == mb::OK ? range(1, 4) : range(1, 3));
}

void TestTitles::typedTextIsNotCompleted_data()
{
    QTest::addColumn<QString>("typed");
    QTest::newRow("lower case of a title") << u"b"_s;
    QTest::newRow("start of a Japanese title") << u"コミ"_s;
}

// Typed keys stay what was typed: a completed name would be a title the user never named.
void TestTitles::typedTextIsNotCompleted()
{
    QFETCH(QString, typed);
    WindowFixture f;
    f.write(TitleList, record("A", 3, 0) + record("B", 4, 0) + sjis(u"\"コミック\",5,0\r\n"_s));
    f.write(u"B.TXT"_s, flagFile({2}));
    f.write(u"コミック.TXT"_s, flagFile({3}));
    f.start();
    ageFiles(f);
    const QMap<QString, QString> before = folderState(f);

    f.window->show();
    QApplication::setActiveWindow(f.window.get());
    QLineEdit* edit = f.cboName()->lineEdit();
    edit->setFocus();
    edit->clear();
    // Letters as key presses, Japanese as an input method hands it over.
    for (const QChar c : typed) {
        if (c.unicode() < 0x80) {
            QTest::keyClick(edit, char(c.unicode()));
        } else {
            QInputMethodEvent commit;
            commit.setCommitString(QString(c));
            QApplication::sendEvent(edit, &commit);
        }
    }
    QCOMPARE(f.cboName()->currentText(), typed);
    f.dialogs.answerMessage(mb::Cancel);
    f.window->cmdDel_Click();
    QCOMPARE(f.dialogs.calls.size(), 1);
    QCOMPARE(f.dialogs.calls[0].prompt, u"Aのデータを削除していいですか？"_s);
    QCOMPARE(folderState(f), before);
}

void TestTitles::deleteEmptyCatalogue()
{
    WindowFixture f;
    f.write(u".TXT"_s, Zeros);
    f.start();
    ageFiles(f);
    const QMap<QString, QString> before = folderState(f);
    f.dialogs.answerMessage(mb::OK);
    f.window->cmdDel_Click();
    QCOMPARE(f.dialogs.calls.size(), 1);
    QCOMPARE(f.dialogs.calls[0].prompt, u"のデータを削除していいですか？"_s);
    QCOMPARE(folderState(f), before);
    QCOMPARE(f.visibleCaptions(), QStringList());
    QCOMPARE(f.lblKansu()->text(), QString());
    QCOMPARE(f.cboSyo()->currentText(), QString());
    QCOMPARE(f.hsbData()->value(), 1);
    QCOMPARE(f.hsbData()->maximum(), 1);
}

void TestTitles::deleteRewriteFails()
{
    WindowFixture f;
    const QByteArray list = record("A", 3, 0) + record("B", 4, 0);
    f.write(TitleList, list);
    f.write(u"B.TXT"_s, flagFile({2}));
    f.start();
    f.hsbData()->setValue(2);
    f.files.setFull(true);
    f.dialogs.answerMessage(mb::OK);
    f.window->cmdDel_Click();

    QCOMPARE(dialogFlow(f.dialogs), QStringList({u"M:削除確認"_s, u"M:保存エラー"_s}));
    QVERIFY(f.dialogs.calls[1].prompt.contains(u"データ.TXT"_s, Qt::CaseInsensitive));
    // The list is written before the flag file goes, so the title keeps its flags.
    QCOMPARE(f.read(TitleList), list);
    QCOMPARE(f.read(u"B.TXT"_s), flagFile({2}));
    QCOMPARE(f.cboName()->currentText(), u"B"_s);
    QCOMPARE(f.cboName()->count(), 2);
    QCOMPARE(f.lblKensu()->text(), u"2 / 2"_s);
}

QTEST_MAIN(TestTitles)
#include "test_titles.moc"
