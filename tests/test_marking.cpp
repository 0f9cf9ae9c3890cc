// Marking volumes: a click on a volume label, driven through the window.
#include "support/WindowFixture.h"

#include <unistd.h>

using namespace kav;
using namespace kav::test;
using namespace Qt::StringLiterals;

namespace {

const QColor Green(0xC0, 0xFF, 0xC0);
const QColor Pink(0xFF, 0xC0, 0xFF);
const QString TitleList = u"データ.TXT"_s;

} // namespace

class TestMarking : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void twoClicksRestore();
    void offsetTitleWritesSecondLine();
    void flagValues_data();
    void flagValues();
    void typedSelectorText_data();
    void typedSelectorText();
    void newTitleAfterRegistration();
    void failedWrite_data();
    void failedWrite();
};

void TestMarking::twoClicksRestore()
{
    WindowFixture f;
    f.writeText(TitleList, u"\"T\",10,0\r\n"_s);
    const QByteArray original = flagFile({3});
    f.write(u"T.TXT"_s, original);
    f.start();

    f.window->lblKan_Click(5);
    QCOMPARE(f.window->flags()[5], qint16(1));
    QCOMPARE(f.labelColour(5), Pink);
    QCOMPARE(f.read(u"T.TXT"_s), flagFile({3, 5}));
    // ".txt" and ".TXT" name one file: no second spelling appears.
    QCOMPARE(f.dir.state().keys(), QStringList({u"T.TXT"_s, TitleList}));

    f.window->lblKan_Click(5);
    QCOMPARE(f.window->flags()[5], qint16(0));
    QCOMPARE(f.labelColour(5), Green);
    QCOMPARE(f.read(u"T.TXT"_s), original);
    // The caption and the neighbours stay as they were.
    QCOMPARE(f.window->volumeLabel(5)->text(), u"5"_s);
    QCOMPARE(f.labelColour(3), Pink);
    QCOMPARE(f.labelColour(4), Green);
    QVERIFY(f.dialogs.calls.isEmpty());
}

void TestMarking::offsetTitleWritesSecondLine()
{
    WindowFixture f;
    f.writeText(TitleList, u"\"T\",50,50\r\n"_s);
    f.start();
    QCOMPARE(f.window->volumeLabel(12)->text(), u"62"_s);
    f.window->lblKan_Click(12);
    QCOMPARE(f.readAnyCase(u"T.TXT"_s), QByteArrayLiteral("0,0,0,0,0,0,0,0,0,0\r\n"
                                                          "0,1,0,0,0,0,0,0,0,0\r\n"
                                                          "0,0,0,0,0,0,0,0,0,0\r\n"
                                                          "0,0,0,0,0,0,0,0,0,0\r\n"
                                                          "0,0,0,0,0,0,0,0,0,0\r\n"));
    QCOMPARE(f.labelColour(12), Pink);
}

void TestMarking::flagValues_data()
{
    QTest::addColumn<int>("loaded");
    QTest::addColumn<int>("after");
    QTest::addColumn<QColor>("colour");
    QTest::newRow("0 becomes 1") << 0 << 1 << Pink;
    QTest::newRow("1 becomes 0") << 1 << 0 << Green;
    QTest::newRow("2 becomes 0") << 2 << 0 << Green;
    QTest::newRow("-2 becomes -1") << -2 << -1 << Pink;
    QTest::newRow("-1 becomes 0") << -1 << 0 << Green;
    QTest::newRow("32767 becomes 0") << 32767 << 0 << Green;
    QTest::newRow("-32768 becomes -32767") << -32768 << -32767 << Pink;
}

void TestMarking::flagValues()
{
    QFETCH(int, loaded);
    QFETCH(int, after);
    QFETCH(QColor, colour);
    WindowFixture f;
    f.writeText(TitleList, u"\"T\",10,0\r\n"_s);
    f.write(u"T.TXT"_s, flagFile({7}, loaded));
    f.start();
    QCOMPARE(f.window->flags()[7], qint16(loaded));

    f.window->lblKan_Click(7);
    QCOMPARE(f.window->flags()[7], qint16(after));
    QCOMPARE(f.labelColour(7), colour);
    QCOMPARE(f.read(u"T.TXT"_s), flagFile({7}, after));
    QVERIFY(f.dialogs.calls.isEmpty());
}

void TestMarking::typedSelectorText_data()
{
    QTest::addColumn<QString>("typed");
    QTest::newRow("a name of no title") << u"Other"_s;
    QTest::newRow("another title") << u"B"_s;
    QTest::newRow("another title in lower case") << u"b"_s;
    QTest::newRow("the title list's name") << u"データ"_s;
    QTest::newRow("empty text") << QString();
    QTest::newRow("not a file name") << u"x/y"_s;
    QTest::newRow("shown title with a blank") << u"A "_s;
}

void TestMarking::typedSelectorText()
{
    QFETCH(QString, typed);
    WindowFixture f;
    f.writeText(TitleList, u"\"A\",5,0\r\n\"B\",5,0\r\n"_s);
    f.write(u"A.TXT"_s, flagFile({}));
    f.write(u"B.TXT"_s, flagFile({2}));
    f.start();
    QMap<QString, QByteArray> expected = f.dir.state();
    expected[u"A.TXT"_s] = flagFile({1});

    f.cboName()->setEditText(typed);
    f.window->lblKan_Click(1);
    // The flags belong to the title on display, and only its file changes.
    QCOMPARE(f.dir.state(), expected);
    QCOMPARE(f.cboName()->currentText(), u"A"_s);
    QCOMPARE(f.cboName()->currentIndex(), 0);
    QCOMPARE(f.labelColour(1), Pink);
    QVERIFY(f.dialogs.calls.isEmpty());
}

void TestMarking::newTitleAfterRegistration()
{
    // The new title is shown while the bar stays on the old one: a click marks the new title.
    WindowFixture f;
    f.writeText(TitleList, u"\"A\",5,0\r\n"_s);
    f.write(u"A.TXT"_s, flagFile({}));
    f.start();
    f.dialogs.answerInput(u"N"_s);
    f.dialogs.answerInput(u"4"_s);
    f.window->cmdNew_Click();
    QCOMPARE(f.hsbData()->value(), 1);
    QCOMPARE(f.cboName()->currentText(), u"N"_s);

    f.window->lblKan_Click(2);
    QCOMPARE(f.read(u"N.TXT"_s), flagFile({2}));
    QCOMPARE(f.read(u"A.TXT"_s), flagFile({}));
}

void TestMarking::failedWrite_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("a write fails") << u"write"_s;
    QTest::newRow("disk full") << u"full"_s;
    QTest::newRow("a folder in the file's place") << u"folder"_s;
    QTest::newRow("read-only folder") << u"readonly"_s;
}

void TestMarking::failedWrite()
{
    QFETCH(QString, how);
    if (how == u"readonly"_s && geteuid() == 0)
        QSKIP("root writes into a read-only folder all the same");
    WindowFixture f;
    f.writeText(TitleList, u"\"T\",10,0\r\n"_s);
    f.write(u"T.TXT"_s, flagFile({4}));
    f.start();

    if (how == u"write"_s) {
        f.files.failWrite(1);
    } else if (how == u"full"_s) {
        f.files.setFull(true);
    } else if (how == u"folder"_s) {
        QVERIFY(QFile::remove(f.path(u"T.TXT"_s)));
        QVERIFY(QDir(f.dir.path()).mkdir(u"T.TXT"_s));
    } else {
        QVERIFY(QFile::setPermissions(f.dir.path(), QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup |
                                                        QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther));
    }
    const QMap<QString, QByteArray> before = f.dir.state();

    f.window->lblKan_Click(5);
    if (how == u"readonly"_s)
        QVERIFY(QFile::setPermissions(f.dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

    QCOMPARE(f.dialogs.calls.size(), 1);
    const ScriptedDialogs::Call& call = f.dialogs.calls[0];
    QCOMPARE(call.kind, ScriptedDialogs::Call::Message);
    QCOMPARE(call.caption, u"保存エラー"_s);
    QCOMPARE(call.style, 48);
    QVERIFY2(call.prompt.contains(u"T.txt"_s, Qt::CaseInsensitive), qPrintable(call.prompt));
    // Memory, screen and disk agree on the old flag.
    QCOMPARE(f.window->flags()[5], qint16(0));
    QCOMPARE(f.labelColour(5), Green);
    QCOMPARE(f.dir.state(), before);

    if (how == u"write"_s || how == u"full"_s) {
        // Once the disk takes writes again, the next click is stored with the flags kept.
        f.files.setFull(false);
        f.window->lblKan_Click(5);
        QCOMPARE(f.read(u"T.TXT"_s), flagFile({4, 5}));
        QCOMPARE(f.dialogs.calls.size(), 1);
    }
}

QTEST_MAIN(TestMarking)
#include "test_marking.moc"
