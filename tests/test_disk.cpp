// The disk is the truth: each command works on the files as they are now, and the
// window follows what other windows and programs write.
#include "support/WindowFixture.h"

#include "core/FileWatcher.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QSaveFile>
#include <QSignalSpy>
#include <QToolButton>

#include <fcntl.h>
#include <unistd.h>

using namespace kav;
using namespace kav::test;
using namespace Qt::StringLiterals;

namespace {

const QString TitleList = u"データ.TXT"_s;

QStringList selectorItems(const WindowFixture& f)
{
    QStringList out;
    for (int i = 0; i < f.cboName()->count(); ++i)
        out.append(f.cboName()->itemText(i));
    return out;
}

QStringList captions(const ScriptedDialogs& dialogs)
{
    QStringList out;
    for (const auto& call : dialogs.calls)
        out.append(call.caption);
    return out;
}

enum class Command { Click, Count, Start, Delete, Register };

void run(WindowFixture& f, Command command)
{
    switch (command) {
    case Command::Click:
        f.window->lblKan_Click(3);
        break;
    case Command::Count:
        f.dialogs.answerInput(u"20"_s);
        f.window->lblKansu_Click();
        break;
    case Command::Start:
        f.cboSyo()->setCurrentIndex(1);
        f.window->cboSyo_Click(1);
        break;
    case Command::Delete:
        f.dialogs.answerMessage(mb::OK);
        f.window->cmdDel_Click();
        break;
    case Command::Register:
        f.dialogs.answerInput(u"N"_s);
        f.dialogs.answerInput(u"3"_s);
        f.window->cmdNew_Click();
        break;
    }
}

} // namespace

Q_DECLARE_METATYPE(Command)

class TestDisk : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void commandsKeepOthersChanges_data();
    void commandsKeepOthersChanges();
    void registeredMeanwhileInAnotherWindow_data();
    void registeredMeanwhileInAnotherWindow();
    void titleGoneMeanwhile_data();
    void titleGoneMeanwhile();
    void followsOthersChanges_data();
    void followsOthersChanges();
    void ownSavesRaiseNothing();
    void waitsWhileItsDialogIsOpen();
    void unreadableListIsNotReloadedForNothing();
    void commandsReadTheListAsLoaded_data();
    void commandsReadTheListAsLoaded();
    void utf8TitleList();
    void titleNamedLikeAProgramFile();
    void diskWatcherNotices_data();
    void diskWatcherNotices();
    void diskWatcherIgnoresOtherFiles();
    void diskWatcherSettlesABurst();
};

// A window that has not looked since another program wrote: the command still keeps it.
void TestDisk::commandsKeepOthersChanges_data()
{
    QTest::addColumn<Command>("command");
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<QByteArray>("flagsOfA");
    const QByteArray bc = record(u"B"_s, 4, 0) + record(u"他で追加"_s, 5, 0);
    QTest::newRow("click") << Command::Click << record(u"A"_s, 10, 0) + bc << flagFile({3, 7});
    QTest::newRow("count") << Command::Count << record(u"A"_s, 20, 0) + bc << flagFile({7});
    QTest::newRow("start volume") << Command::Start << record(u"A"_s, 10, 50) + bc << flagFile({7});
    QTest::newRow("deletion") << Command::Delete << bc << QByteArray("<missing>");
    QTest::newRow("registration") << Command::Register << record(u"A"_s, 10, 0) + bc + record(u"N"_s, 3, 0)
                                  << flagFile({7});
}

void TestDisk::commandsKeepOthersChanges()
{
    QFETCH(Command, command);
    QFETCH(QByteArray, list);
    QFETCH(QByteArray, flagsOfA);
    WindowFixture f;
    f.write(TitleList, record(u"A"_s, 10, 0) + record(u"B"_s, 4, 0));
    f.start();
    // Another program appends a title and sets a flag; no notice reaches the window.
    f.write(TitleList, record(u"A"_s, 10, 0) + record(u"B"_s, 4, 0) + record(u"他で追加"_s, 5, 0));
    f.write(u"A.TXT"_s, flagFile({7}));

    run(f, command);
    QCOMPARE(f.read(TitleList), list);
    QCOMPARE(f.read(u"A.TXT"_s), flagsOfA);
    QVERIFY2(!captions(f.dialogs).contains(u"保存エラー"_s), qPrintable(captions(f.dialogs).join(u", "_s)));
    // The window shows what is on disk.
    if (command != Command::Click)
        QVERIFY(selectorItems(f).contains(u"他で追加"_s));
    else
        QCOMPARE(f.window->flags()[7], qint16(1));
}

void TestDisk::registeredMeanwhileInAnotherWindow_data()
{
    QTest::addColumn<QString>("other"); // what the other window registered
    QTest::addColumn<QString>("count");
    QTest::addColumn<QString>("prompt"); // how the message starts
    QTest::newRow("the same title") << u"N"_s << u"3"_s << u"既に同じ題名"_s;
    QTest::newRow("the same title, split") << u"N"_s << u"60"_s << u"既に同じ題名"_s;
    QTest::newRow("its letter-case twin") << u"n"_s << u"3"_s << u"「N.TXT」は「n.TXT」"_s;
    QTest::newRow("a piece's name") << u"N(51_60)"_s << u"60"_s << u"「N(51_60).TXT」は"_s;
}

// Checked against the window's catalogue while typing, and again against the disk.
void TestDisk::registeredMeanwhileInAnotherWindow()
{
    QFETCH(QString, other);
    QFETCH(QString, count);
    QFETCH(QString, prompt);
    WindowFixture f;
    f.write(TitleList, record(u"A"_s, 3, 0));
    f.start();
    f.write(TitleList, record(u"A"_s, 3, 0) + record(other, 2, 0));
    f.write(other + u".TXT"_s, flagFile({1}));
    const auto before = f.dir.state();
    f.dialogs.answerInput(u"N"_s);
    f.dialogs.answerInput(count);
    f.window->cmdNew_Click();
    QCOMPARE(f.dir.state(), before);
    QCOMPARE(captions(f.dialogs).last(), u"二重登録"_s);
    QVERIFY2(f.dialogs.calls.last().prompt.startsWith(prompt), qPrintable(f.dialogs.calls.last().prompt));
    QCOMPARE(selectorItems(f), (QStringList{u"A"_s, other}));
    QCOMPARE(f.cboName()->currentText(), u"A"_s);
}

void TestDisk::titleGoneMeanwhile_data()
{
    QTest::addColumn<Command>("command");
    QTest::newRow("click") << Command::Click;
    QTest::newRow("count") << Command::Count;
    QTest::newRow("start volume") << Command::Start;
    QTest::newRow("deletion") << Command::Delete;
}

void TestDisk::titleGoneMeanwhile()
{
    QFETCH(Command, command);
    WindowFixture f;
    f.write(TitleList, record(u"A"_s, 10, 0) + record(u"B"_s, 4, 0));
    f.start();
    // Deleted in another window.
    f.write(TitleList, record(u"B"_s, 4, 0));
    const auto before = f.dir.state();

    run(f, command);
    QCOMPARE(f.dir.state(), before);
    QCOMPARE(captions(f.dialogs).last(), u"データ更新"_s);
    QVERIFY(f.dialogs.calls.last().prompt.contains(u"「A」"_s));
    QCOMPARE(selectorItems(f), QStringList{u"B"_s});
    QCOMPARE(f.cboName()->currentText(), u"B"_s);
    QCOMPARE(f.lblKansu()->text(), u"4巻"_s);
    QCOMPARE(f.lblKensu()->text(), u"1 / 1"_s);
}

void TestDisk::followsOthersChanges_data()
{
    QTest::addColumn<QByteArray>("list");  // the list another program leaves
    QTest::addColumn<QByteArray>("flags"); // B's flag file it leaves
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("position");
    QTest::addColumn<int>("flag2");
    const QByteArray a = record(u"A"_s, 3, 0);
    const QByteArray b = record(u"B"_s, 4, 0);
    const QByteArray c = record(u"C"_s, 5, 0);
    const QByteArray none = flagFile({});
    QTest::newRow("title appended") << a + b + c + record(u"D"_s, 6, 0) << none << u"B"_s << u"2 / 4"_s << 0;
    QTest::newRow("title inserted before") << record(u"X"_s, 1, 0) + a + b + c << none << u"B"_s << u"3 / 4"_s << 0;
    QTest::newRow("shown title deleted") << a + c << none << u"C"_s << u"2 / 2"_s << 0;
    QTest::newRow("shown title renamed, last") << a + c + record(u"B2"_s, 4, 0) << none << u"C"_s << u"2 / 3"_s << 0;
    QTest::newRow("flag set") << a + b + c << flagFile({2}) << u"B"_s << u"2 / 3"_s << 1;
    QTest::newRow("everything deleted") << QByteArray() << none << QString() << u"2 / 3"_s << 0;
}

void TestDisk::followsOthersChanges()
{
    QFETCH(QByteArray, list);
    QFETCH(QByteArray, flags);
    QFETCH(QString, shown);
    QFETCH(QString, position);
    QFETCH(int, flag2);
    WindowFixture f;
    f.write(TitleList, record(u"A"_s, 3, 0) + record(u"B"_s, 4, 0) + record(u"C"_s, 5, 0));
    f.write(u"B.TXT"_s, flagFile({}));
    f.start();
    f.window->show();
    QApplication::setActiveWindow(f.window.get());
    f.hsbData()->setValue(2);
    QCOMPARE(f.watcher.watched, (QStringList{TitleList, u"B.TXT"_s}));
    QToolButton* button = f.child<QToolButton>(u"cmdHozon"_s);
    button->setFocus();
    QWidget* focused = QApplication::focusWidget();

    f.write(TitleList, list);
    f.write(u"B.TXT"_s, flags);
    f.watcher.fire();
    QCOMPARE(f.cboName()->currentText(), shown);
    QCOMPARE(f.window->flags()[2], qint16(flag2));
    if (!shown.isEmpty()) {
        QCOMPARE(f.lblKensu()->text(), position);
        QCOMPARE(f.cboName()->currentIndex() + 1, position.section(u' ', 0, 0).toInt());
        QCOMPARE(f.visibleCaptions().size(), int(shown.back().unicode() - u'A' + 3));
    } else {
        QCOMPARE(f.cboName()->count(), 0);
        QVERIFY(f.visibleCaptions().isEmpty());
    }
    QCOMPARE(QApplication::focusWidget(), focused);
    QVERIFY(f.dialogs.calls.isEmpty());
}

// A notice of the window's own save, or of nothing, changes nothing on display.
void TestDisk::ownSavesRaiseNothing()
{
    WindowFixture f;
    f.write(TitleList, record(u"A"_s, 3, 0) + record(u"B"_s, 4, 0));
    f.start();
    f.window->lblKan_Click(2);
    f.dialogs.answerInput(u"30"_s);
    f.window->lblKansu_Click();
    // Text typed into the selector goes with any reload: it stays while nothing changed.
    f.cboName()->setEditText(u"typed"_s);
    f.watcher.fire();
    QCOMPARE(f.cboName()->currentText(), u"typed"_s);
    QCOMPARE(f.lblKansu()->text(), u"30"_s);

    f.write(TitleList, record(u"A"_s, 30, 0) + record(u"B"_s, 4, 0) + record(u"C"_s, 1, 0));
    f.watcher.fire();
    QCOMPARE(f.cboName()->currentText(), u"A"_s);
    QCOMPARE(f.cboName()->count(), 3);
    QCOMPARE(f.window->flags()[2], qint16(1));
}

void TestDisk::waitsWhileItsDialogIsOpen()
{
    WindowFixture f;
    f.write(TitleList, record(u"A"_s, 3, 0) + record(u"B"_s, 4, 0));
    f.start();
    int shownWhileOpen = -1;
    f.dialogs.onAsk = [&](const ScriptedDialogs::Call&) {
        f.write(TitleList, record(u"A"_s, 3, 0) + record(u"B"_s, 4, 0) + record(u"C"_s, 1, 0));
        f.watcher.fire();
        shownWhileOpen = f.cboName()->count();
    };
    f.dialogs.answerInput(QString()); // the count box, cancelled
    f.window->lblKansu_Click();
    QCOMPARE(shownWhileOpen, 2);
    // Once the command has ended, the change shows.
    QTRY_COMPARE(f.cboName()->count(), 3);
    QCOMPARE(f.cboName()->currentText(), u"A"_s);
}

void TestDisk::unreadableListIsNotReloadedForNothing()
{
    WindowFixture f;
    f.write(TitleList, record(u"A"_s, 3, 0) + "\"B\",4"_ba);
    f.start();
    QVERIFY(f.window->titlesLocked());
    QCOMPARE(captions(f.dialogs), QStringList{u"読み込みエラー"_s});
    f.cboName()->setEditText(u"typed"_s);
    f.watcher.fire();
    QCOMPARE(f.cboName()->currentText(), u"typed"_s);

    // Mended by hand: shown, still without writing until the restart the message asked for.
    f.write(TitleList, record(u"A"_s, 3, 0) + record(u"B"_s, 4, 0));
    f.watcher.fire();
    QCOMPARE(f.cboName()->count(), 2);
    QCOMPARE(captions(f.dialogs), QStringList{u"読み込みエラー"_s});
}

// A command finding the list in the bytes the window loaded takes the window's reading of
// them: it must be what parsing them gives, a list that could not be read to its end included.
void TestDisk::commandsReadTheListAsLoaded_data()
{
    QTest::addColumn<QByteArray>("first"); // the list at the start
    QTest::addColumn<QByteArray>("then");  // the list another program leaves before the command (empty: none)
    const QByteArray three = record(u"A"_s, 3, 0) + record(u"進撃の巨人"_s, 34, 10) + record(u"C"_s, 50, 500);
    QTest::newRow("as started") << three << QByteArray();
    QTest::newRow("followed to fewer titles") << three << record(u"A"_s, 7, 0);
    QTest::newRow("cut short") << three + "\"D\",1\r\n" << QByteArray();
    QTest::newRow("followed to a list cut short") << three << record(u"A"_s, 7, 0) + "\"D\",40000,0\r\n";
}

void TestDisk::commandsReadTheListAsLoaded()
{
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, then);
    WindowFixture f;
    f.write(TitleList, first);
    f.start();
    f.dialogs.calls.clear();
    if (!then.isEmpty()) {
        f.write(TitleList, then);
        f.watcher.fire();
    }
    f.dialogs.calls.clear();
    // A command that reads the list and leaves it as it is.
    f.window->lblKan_Click(1);
    const QByteArray bytes = f.read(TitleList);
    QCOMPARE(bytes, then.isEmpty() ? first : then);
    QCOMPARE(f.read(u"A.txt"_s), flagFile({1}));

    // What the window shows is what a fresh read of the list gives.
    storage::Catalogue parsed;
    (void)storage::ParseTitles(bytes, parsed);
    const storage::Catalogue& shown = f.window->catalogue();
    QCOMPARE(shown.intKensu, parsed.intKensu);
    for (int p = 1; p <= parsed.intKensu; ++p) {
        QCOMPARE(shown.strName[p], parsed.strName[p]);
        QCOMPARE(shown.intKansu[p], parsed.intKansu[p]);
        QCOMPARE(shown.intSyo[p], parsed.intSyo[p]);
    }
}

// A list a Linux editor saved as UTF-8 reads as the titles it holds, and is saved
// in Shift-JIS at the next change.
void TestDisk::utf8TitleList()
{
    WindowFixture f;
    const QByteArray utf8 = u"\"名探偵コナン\",5,0\n\"呪術廻戦\",3,0\n\"鋼の錬金術師\",2,0\n"_s.toUtf8();
    f.write(TitleList, utf8);
    f.write(u"名探偵コナン.TXT"_s, flagFile({4}));
    f.start();
    QCOMPARE(selectorItems(f), (QStringList{u"名探偵コナン"_s, u"呪術廻戦"_s, u"鋼の錬金術師"_s}));
    QCOMPARE(captions(f.dialogs), QStringList{u"文字コード"_s});
    QVERIFY(f.dialogs.calls[0].prompt.contains(u"シフトJIS"_s));
    QCOMPARE(f.window->flags()[4], qint16(1));
    QVERIFY(!f.window->titlesLocked());

    // Told once: browsing and notices say nothing more; the report makes no file of a garbled name.
    f.dialogs.calls.clear();
    f.hsbData()->setValue(2);
    f.watcher.fire();
    f.dialogs.answerMessage(mb::No);
    f.window->cmdHozon_Click();
    QCOMPARE(captions(f.dialogs), (QStringList{u"残巻データ出力"_s, u"保存終了"_s}));
    QStringList entries = f.dir.entries();
    entries.sort();
    QStringList expected{u"名探偵コナン.TXT"_s, u"呪術廻戦.txt"_s, u"鋼の錬金術師.txt"_s, TitleList,
                         u"残巻データ.txt"_s};
    expected.sort();
    QCOMPARE(entries, expected);
    QCOMPARE(f.read(u"残巻データ.txt"_s),
             sjis(u"\"2026年12月06日現在の未収集状況\"\r\n\"\"\r\n\"名探偵コナン\",\"4\"\r\n"_s));

    f.dialogs.answerInput(u"7"_s);
    f.window->lblKansu_Click();
    QCOMPARE(f.read(TitleList),
             record(u"名探偵コナン"_s, 5, 0) + record(u"呪術廻戦"_s, 7, 0) + record(u"鋼の錬金術師"_s, 2, 0));
}

// A hand-edited list naming a title after the list or the report: shown with zero
// flags, never read, written or deleted as its flag file. Which names those are is the storage's.
void TestDisk::titleNamedLikeAProgramFile()
{
    const QString title = u"データ"_s;
    WindowFixture f;
    const QByteArray report = "\"old report\"\r\n";
    f.write(TitleList, record(u"A"_s, 3, 0) + record(title, 5, 0));
    f.write(u"残巻データ.txt"_s, report);
    f.start();
    f.hsbData()->setValue(2);
    QCOMPARE(f.cboName()->currentText(), title);
    QCOMPARE(f.visibleCaptions().size(), 5);
    QCOMPARE(f.window->flags(), storage::Flags{});
    const auto before = f.dir.state();

    f.window->lblKan_Click(1);
    QCOMPARE(captions(f.dialogs), QStringList{u"保存エラー"_s});
    QVERIFY(f.dialogs.calls[0].prompt.contains(u"データファイル"_s));
    QCOMPARE(f.dir.state(), before);
    QCOMPARE(f.window->flags()[1], qint16(0));

    f.dialogs.answerInput(u"4"_s);
    f.window->lblKansu_Click();
    QCOMPARE(f.read(TitleList), record(u"A"_s, 3, 0) + record(title, 4, 0));
    QCOMPARE(f.read(u"残巻データ.txt"_s), report);

    f.dialogs.answerMessage(mb::OK);
    f.window->cmdDel_Click();
    QCOMPARE(f.read(TitleList), record(u"A"_s, 3, 0));
    QCOMPARE(f.read(u"残巻データ.txt"_s), report);
}

void TestDisk::diskWatcherNotices_data()
{
    QTest::addColumn<int>("change");
    QTest::newRow("list replaced by a rename") << 0;
    QTest::newRow("flag file written in place") << 1;
    QTest::newRow("flag file created in another spelling") << 2;
    QTest::newRow("list deleted") << 3;
    QTest::newRow("flag file in code page 932 bytes written in place") << 4;
}

// The real watcher, with its slow timer off: the kernel's notices alone bring the
// news within half a second, also after the watched file was replaced.
void TestDisk::diskWatcherNotices()
{
    QFETCH(int, change);
    ScratchFolder dir;
    dir.put(TitleList, record(u"A"_s, 3, 0));
    dir.put(u"A.TXT"_s, flagFile({}));
    // 漫画.TXT as a Windows archive unpacks it.
    const QByteArray foreign = QFile::encodeName(dir.path()) + "/\x96\x9f\x89\xe6.TXT";
    if (change == 4) {
        const int fd = ::open(foreign.constData(), O_WRONLY | O_CREAT, 0644);
        QVERIFY(fd >= 0);
        ::close(fd);
    }
    DiskFileWatcher watcher(dir.path(), 100, 0);
    watcher.watch({TitleList, u"A.TXT"_s, u"漫画.txt"_s});
    QSignalSpy spy(&watcher, &FileWatcher::changed);
    for (int round = 0; round < 2; ++round) {
        QElapsedTimer timer;
        timer.start();
        switch (change) {
        case 0: {
            QSaveFile file(dir.filePath(TitleList));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(record(u"B"_s, round + 1, 0));
            QVERIFY(file.commit());
            break;
        }
        case 1: {
            QFile file(dir.filePath(u"A.TXT"_s));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(flagFile({round + 1}));
            break;
        }
        case 2:
            dir.put(round == 0 ? u"a.txt"_s : u"a.Txt"_s, flagFile({2}));
            break;
        case 3:
            if (round == 0)
                QVERIFY(QFile::remove(dir.filePath(TitleList)));
            else
                dir.put(TitleList, record(u"C"_s, 1, 0));
            break;
        case 4: {
            const int fd = ::open(foreign.constData(), O_WRONLY | O_TRUNC);
            QVERIFY(fd >= 0);
            QCOMPARE(::write(fd, "1", 1), 1);
            ::close(fd);
            break;
        }
        }
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), round + 1, 500);
        QVERIFY2(timer.elapsed() < 500, qPrintable(QString::number(timer.elapsed())));
    }
}

// Other titles' files, and the program's own temporary files, raise nothing.
void TestDisk::diskWatcherIgnoresOtherFiles()
{
    ScratchFolder dir;
    dir.put(TitleList, record(u"A"_s, 3, 0));
    DiskFileWatcher watcher(dir.path(), 50, 0);
    watcher.watch({TitleList, u"A.TXT"_s});
    QSignalSpy spy(&watcher, &FileWatcher::changed);
    dir.put(u"B.TXT"_s, flagFile({1}));
    dir.put(u"AA.TXT"_s, flagFile({1}));
    QVERIFY(QFile::remove(dir.filePath(u"B.TXT"_s)));
    QTest::qWait(300);
    QCOMPARE(spy.count(), 0);
    // The same watcher still hears a watched name.
    dir.put(u"a.txt"_s, flagFile({2}));
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 1, 500);
}

void TestDisk::diskWatcherSettlesABurst()
{
    ScratchFolder dir;
    dir.put(TitleList, record(u"A"_s, 3, 0));
    DiskFileWatcher watcher(dir.path(), 150, 0);
    watcher.watch({TitleList});
    QSignalSpy spy(&watcher, &FileWatcher::changed);
    for (int i = 0; i < 20; ++i) {
        dir.put(TitleList, record(u"A"_s, i, 0));
        QTest::qWait(5);
    }
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 1, 1000);
    QTest::qWait(400);
    QCOMPARE(spy.count(), 1);
}

QTEST_MAIN(TestDisk)
#include "test_disk.moc"
