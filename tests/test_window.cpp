// The window as created and as it browses the catalogue.
#include "support/WindowFixture.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QCompleter>
#include <QFontInfo>
#include <QGroupBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QToolButton>

using namespace kav;
using namespace kav::test;
using namespace Qt::StringLiterals;

class TestWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void controlGeometry_data();
    void controlGeometry();
    void volumeGrid();
    void creationState();
    void fonts_data();
    void fonts();
    void tabOrder();
    void emptyCatalogue();
    void browseThreeTitles();
    void selectorPickAlreadyShown();
    void volumeDisplay_data();
    void volumeDisplay();
    void coloursOnScreen();
    void missingFlagFileCreatesNothing();
    void japaneseTitles();
    void largeCatalogue();
    void unreadableTitleListLocksWrites();
    void keys_data();
    void keys();
    void wideDigits_data();
    void wideDigits();
    void titleSearch_data();
    void titleSearch();
};

void TestWindow::controlGeometry_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("twips");
    // Twips as the window is drawn on paper; pixels are twips / 15.
    QTest::newRow("Image1") << "Image1" << QRect(150, 225, 3645, 915);
    QTest::newRow("cmdNew") << "cmdNew" << QRect(4050, 150, 765, 990);
    QTest::newRow("cmdDel") << "cmdDel" << QRect(4800, 150, 765, 990);
    QTest::newRow("cmdHozon") << "cmdHozon" << QRect(5550, 150, 765, 990);
    QTest::newRow("cmdPrint") << "cmdPrint" << QRect(6300, 150, 765, 990);
    QTest::newRow("cmdHelp") << "cmdHelp" << QRect(7050, 150, 765, 990);
    QTest::newRow("cmdShoukai") << "cmdShoukai" << QRect(7800, 150, 765, 990);
    QTest::newRow("cmdEnd") << "cmdEnd" << QRect(8550, 150, 765, 990);
    QTest::newRow("cboName") << "cboName" << QRect(150, 1575, 7530, 645);
    QTest::newRow("Label1(0)") << "Label1_0" << QRect(7770, 1470, 465, 390);
    QTest::newRow("lblKansu") << "lblKansu" << QRect(8235, 1470, 1065, 390);
    QTest::newRow("Label1(1)") << "Label1_1" << QRect(7770, 1920, 465, 390);
    QTest::newRow("cboSyo") << "cboSyo" << QRect(8235, 1920, 1065, 405);
    QTest::newRow("Frame1") << "Frame1" << QRect(150, 2325, 9165, 3885);
    QTest::newRow("hsbData") << "hsbData" << QRect(150, 6390, 7635, 240);
    QTest::newRow("lblKensu") << "lblKensu" << QRect(7920, 6390, 1320, 240);
}

void TestWindow::controlGeometry()
{
    QFETCH(QString, name);
    QFETCH(QRect, twips);
    WindowFixture f;
    f.start();
    const QRect pixels(twips.x() / 15, twips.y() / 15, twips.width() / 15, twips.height() / 15);
    QCOMPARE(f.child<QWidget>(name)->geometry(), pixels);
    QVERIFY(f.child<QWidget>(name)->isEnabled());
}

void TestWindow::volumeGrid()
{
    WindowFixture f;
    f.start();
    for (int i = 1; i <= 50; ++i) {
        QLabel* label = f.window->volumeLabel(i);
        QCOMPARE(label->parentWidget(), f.child<QWidget>(QStringLiteral("Frame1")));
        const int c = (i - 1) % 10, r = (i - 1) / 10;
        QCOMPARE(label->geometry(), QRect((465 + 825 * c) / 15, (345 + 675 * r) / 15, 51, 41));
    }
    // The grid ends 8655 twips right and 3660 below the frame's corner.
    QCOMPARE(f.window->volumeLabel(50)->geometry().bottomRight() + QPoint(1, 1), QPoint(8655 / 15, 3660 / 15));
}

void TestWindow::creationState()
{
    // Nothing in the folder is read until Load.
    WindowFixture f;
    f.window = std::make_unique<frmMain>(Services{f.dialogs, f.files, f.printer, f.help, f.clock});
    frmMain& w = *f.window;
    QCOMPARE(w.windowTitle(), QStringLiteral("カヴリオ"));
    QCOMPARE(w.minimumSize(), QSize(631, 452));
    QCOMPARE(w.maximumSize(), QSize(631, 452));
    QCOMPARE(f.cboName()->currentText(), QStringLiteral("Combo1"));
    QCOMPARE(f.cboName()->count(), 0);
    QCOMPARE(f.cboSyo()->currentText(), QStringLiteral("1"));
    QCOMPARE(f.cboSyo()->count(), 0);
    QCOMPARE(f.lblKansu()->text(), QStringLiteral("50"));
    QCOMPARE(f.lblKensu()->text(), QStringLiteral("1000/1000"));
    QCOMPARE(f.hsbData()->minimum(), 1);
    QCOMPARE(f.hsbData()->value(), 1);
    QCOMPARE(f.child<QToolButton>(QStringLiteral("cmdShoukai"))->toolTip(), QStringLiteral("カヴリオＰｒｏの紹介です"));
    QCOMPARE(f.child<QToolButton>(QStringLiteral("cmdNew"))->text(), QStringLiteral("登録"));
    QCOMPARE(f.child<QToolButton>(QStringLiteral("cmdNew"))->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    QVERIFY(!f.child<QToolButton>(QStringLiteral("cmdNew"))->icon().isNull());
    QVERIFY(!w.windowIcon().isNull());
    QVERIFY(!f.child<QLabel>(QStringLiteral("Image1"))->pixmap().isNull());
    QCOMPARE(f.child<QLabel>(QStringLiteral("Image1"))->pixmap().size(), QSize(243, 61));
    for (int i = 1; i <= 50; ++i) {
        QVERIFY(!w.volumeLabel(i)->isHidden());
        QVERIFY(w.volumeLabel(i)->text().isEmpty());
    }
    QVERIFY(!f.exists(QStringLiteral("データ.TXT")));

    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    // Load ran on show: the folder now holds the empty title list.
    QVERIFY(f.exists(QStringLiteral("データ.TXT")));
}

void TestWindow::fonts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("family");
    QTest::addColumn<int>("pixels");
    QTest::newRow("cboName") << "cboName"
                             << "IPAPGothic" << 35;
    QTest::newRow("lblKansu") << "lblKansu"
                              << "IPAPGothic" << 21;
    QTest::newRow("Label1(0)") << "Label1_0"
                               << "IPAPGothic" << 21;
    QTest::newRow("cboSyo") << "cboSyo"
                            << "IPAPGothic" << 19;
    QTest::newRow("lblKensu") << "lblKensu"
                              << "IPAPGothic" << 16;
    QTest::newRow("lblKan(1)") << "lblKan_1"
                               << "Liberation Serif" << 27;
}

void TestWindow::fonts()
{
    QFETCH(QString, name);
    QFETCH(QString, family);
    QFETCH(int, pixels);
    WindowFixture f;
    f.start();
    const QFont font = f.child<QWidget>(name)->font();
    QCOMPARE(font.pixelSize(), pixels);
    QCOMPARE(font.weight(), QFont::Normal);
    QVERIFY(!font.italic());
    // The family the window names is mapped onto the installed font.
    QCOMPARE(QFontInfo(font).family(), family);
}

void TestWindow::tabOrder()
{
    WindowFixture f;
    f.start();
    f.window->show();
    QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
    QCOMPARE(QApplication::focusWidget(), f.hsbData());
    const QStringList expected = {QStringLiteral("cmdNew"),   QStringLiteral("cmdDel"),  QStringLiteral("cmdHozon"),
                                  QStringLiteral("cmdPrint"), QStringLiteral("cmdHelp"), QStringLiteral("cmdEnd"),
                                  QStringLiteral("cboName"),  QStringLiteral("cboSyo"),  QStringLiteral("cmdShoukai"),
                                  QStringLiteral("hsbData")};
    for (const QString& name : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* focus = QApplication::focusWidget();
        // The combo boxes hand their focus to their line edit.
        while (focus && focus->objectName().isEmpty())
            focus = focus->parentWidget();
        QCOMPARE(focus ? focus->objectName() : QString(), name);
    }
}

void TestWindow::emptyCatalogue()
{
    WindowFixture f;
    f.start();
    QCOMPARE(f.read(QStringLiteral("データ.TXT")), QByteArray());
    QCOMPARE(f.cboName()->count(), 0);
    QCOMPARE(f.cboName()->currentText(), QString());
    QCOMPARE(f.lblKansu()->text(), QStringLiteral("0巻"));
    QCOMPARE(f.cboSyo()->currentText(), QStringLiteral("1"));
    QCOMPARE(f.visibleCaptions(), QStringList());
    QCOMPARE(f.lblKensu()->text(), QStringLiteral("1 / 0"));
    QCOMPARE(f.hsbData()->minimum(), 1);
    QCOMPARE(f.hsbData()->value(), 1);
    QCOMPARE(f.cboSyo()->count(), 11);
    QCOMPARE(f.cboSyo()->itemText(10), QStringLiteral("501"));
    QVERIFY(f.dialogs.calls.isEmpty());
    auto* hint = f.window->findChild<QLabel*>(u"hint"_s); // for a screen reader too
    QCOMPARE(QAccessible::queryAccessibleInterface(hint)->text(QAccessible::Name),
             u"「登録」ボタンで最初の題名を登録して下さい。"_s);
    QVERIFY(!hint->isHidden());
    f.dialogs.answerInput(u"T"_s);
    f.dialogs.answerInput(u"3"_s);
    f.window->cmdNew_Click();
    QVERIFY(hint->isHidden());
}

void TestWindow::browseThreeTitles()
{
    WindowFixture f;
    f.writeText(QStringLiteral("データ.txt"), QStringLiteral("\"A\",12,0\r\n\"B\",50,50\r\n\"C\",3,0\r\n"));
    f.write(QStringLiteral("B.TXT"), flagFile({1, 50}));
    f.start();
    QCOMPARE(f.cboName()->count(), 3);
    QCOMPARE(f.cboName()->currentText(), QStringLiteral("A"));
    QCOMPARE(f.cboName()->currentIndex(), 0);
    QCOMPARE(f.lblKensu()->text(), QStringLiteral("1 / 3"));
    QCOMPARE(f.lblKansu()->text(), QStringLiteral("12巻"));
    QCOMPARE(f.visibleCaptions().size(), 12);
    QCOMPARE(f.hsbData()->maximum(), 3);

    // One step of the bar shows the next title; the selector follows.
    f.hsbData()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    QCOMPARE(f.lblKensu()->text(), QStringLiteral("2 / 3"));
    QCOMPARE(f.cboName()->currentText(), QStringLiteral("B"));
    QCOMPARE(f.cboName()->currentIndex(), 1);
    QCOMPARE(f.cboSyo()->currentText(), QStringLiteral("51"));
    QCOMPARE(f.window->volumeFile(), QStringLiteral("B.TXT"));
    QCOMPARE(f.visibleCaptions().first(), QStringLiteral("51"));
    QCOMPARE(f.visibleCaptions().last(), QStringLiteral("100"));
    QCOMPARE(f.window->flags()[1], qint16(1));
    QCOMPARE(f.window->flags()[50], qint16(1));

    // A pick in the selector moves the bar, which shows the title.
    f.window->cboName_Click(2);
    QCOMPARE(f.hsbData()->value(), 3);
    QCOMPARE(f.lblKensu()->text(), QStringLiteral("3 / 3"));
    QCOMPARE(f.cboName()->currentText(), QStringLiteral("C"));
    // Flags of the earlier title never survive into the next one.
    QCOMPARE(f.window->flags()[1], qint16(0));
}

void TestWindow::selectorPickAlreadyShown()
{
    WindowFixture f;
    f.writeText(QStringLiteral("データ.txt"), QStringLiteral("\"A\",12,0\r\n\"B\",5,0\r\n"));
    f.start();
    QSignalSpy changes(f.hsbData(), &QScrollBar::valueChanged);
    f.cboName()->setEditText(QStringLiteral("typed"));
    f.window->cboName_Click(0);
    QCOMPARE(changes.count(), 0);
    // Nothing was shown again, so the typed text stands.
    QCOMPARE(f.cboName()->currentText(), QStringLiteral("typed"));
    QCOMPARE(f.lblKensu()->text(), QStringLiteral("1 / 2"));
}

void TestWindow::volumeDisplay_data()
{
    QTest::addColumn<QString>("record");
    QTest::addColumn<QStringList>("captions");
    QTest::addColumn<QString>("start");
    auto range = [](int first, int last) {
        QStringList out;
        for (int v = first; v <= last; ++v)
            out.append(QString::number(v));
        return out;
    };
    QTest::newRow("count 12") << "\"T\",12,0" << range(1, 12) << "1";
    QTest::newRow("count 50") << "\"T\",50,0" << range(1, 50) << "1";
    QTest::newRow("offset 50") << "\"T\",50,50" << range(51, 100) << "51";
    QTest::newRow("count 0 shows none") << "\"T\",0,0" << QStringList() << "1";
    QTest::newRow("count above 50 shows 50") << "\"T\",120,0" << range(1, 50) << "1";
    QTest::newRow("negative count shows none") << "\"T\",-4,0" << QStringList() << "1";
    QTest::newRow("offset 500") << "\"T\",3,500" << range(501, 503) << "501";
}

void TestWindow::volumeDisplay()
{
    QFETCH(QString, record);
    QFETCH(QStringList, captions);
    QFETCH(QString, start);
    WindowFixture f;
    f.writeText(QStringLiteral("データ.TXT"), record + QStringLiteral("\r\n"));
    f.start();
    QCOMPARE(f.visibleCaptions(), captions);
    QCOMPARE(f.cboSyo()->currentText(), start);
}

void TestWindow::coloursOnScreen()
{
    WindowFixture f;
    f.writeText(QStringLiteral("データ.TXT"), QStringLiteral("\"T\",5,0\r\n"));
    QByteArray flags = flagFile({2});
    flags.replace(0, 1, "2"); // flag 1 holds 2, flag 2 holds 1
    f.write(QStringLiteral("T.TXT"), flags);
    f.start();
    f.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
    QCOMPARE(f.labelColour(1), QColor(0, 0, 0));
    QCOMPARE(f.labelColour(2), QColor(0xFF, 0xC0, 0xFF));
    QCOMPARE(f.labelColour(3), QColor(0xC0, 0xFF, 0xC0));

    // The two start colours of a window that has not loaded yet.
    WindowFixture fresh;
    fresh.window =
        std::make_unique<frmMain>(Services{fresh.dialogs, fresh.files, fresh.printer, fresh.help, fresh.clock});
    QCOMPARE(fresh.labelColour(9), QColor(0xFF, 0xC0, 0xFF));
    QCOMPARE(fresh.labelColour(10), QColor(0xC0, 0xFF, 0xC0));
    QVERIFY(fresh.labelColour(8) != QColor(0xC0, 0xFF, 0xC0));
    QVERIFY(fresh.labelColour(8) != QColor(0xFF, 0xC0, 0xFF));
}

void TestWindow::missingFlagFileCreatesNothing()
{
    WindowFixture f;
    f.writeText(QStringLiteral("データ.TXT"), QStringLiteral("\"T\",5,0\r\n"));
    f.start();
    for (int i = 1; i <= 5; ++i)
        QCOMPARE(f.labelColour(i), QColor(0xC0, 0xFF, 0xC0));
    QCOMPARE(QDir(f.dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("データ.TXT")});
}

void TestWindow::japaneseTitles()
{
    WindowFixture f;
    // Bytes as a Windows editor saves them: 0x81 0x60 is the wave dash of code page 932.
    const QByteArray list = QByteArrayLiteral("\"\x83\x52\x83\x7e\x83\x62\x83\x4e\x81\x60\",10,0\r\n"
                                              "\"\x8e\xa6\x8a\xdb(51_100)\",50,50\r\n");
    f.write(QStringLiteral("データ.txt"), list);
    f.write(QStringLiteral("コミック～.TXT"), flagFile({3}));
    f.start();
    QCOMPARE(f.cboName()->itemText(0), QStringLiteral("コミック～"));
    QCOMPARE(f.cboName()->itemText(1), QStringLiteral("示丸(51_100)"));
    QCOMPARE(f.window->flags()[3], qint16(1));
    f.window->cboName_Click(1);
    QCOMPARE(f.cboSyo()->currentText(), QStringLiteral("51"));
    QCOMPARE(f.lblKansu()->text(), QStringLiteral("50巻"));
    // Loading never rewrites the list.
    QCOMPARE(f.read(QStringLiteral("データ.txt")), list);
}

void TestWindow::largeCatalogue()
{
    WindowFixture f;
    QByteArray list;
    for (int i = 1; i <= 2000; ++i)
        list += "\"T" + QByteArray::number(i) + "\",10,0\r\n";
    f.write(QStringLiteral("データ.TXT"), list);
    f.start();
    QCOMPARE(f.window->catalogue().intKensu, qint16(2000));
    QCOMPARE(f.cboName()->count(), 2000);
    QCOMPARE(f.hsbData()->maximum(), 2000);
    f.hsbData()->setValue(2000);
    QCOMPARE(f.lblKensu()->text(), QStringLiteral("2000 / 2000"));
    QCOMPARE(f.cboName()->currentText(), QStringLiteral("T2000"));
    QVERIFY(f.dialogs.calls.isEmpty());
    QVERIFY(!f.window->titlesLocked());
}

void TestWindow::unreadableTitleListLocksWrites()
{
    // Where reading stops and why is the storage's; the window shows it and keeps what it read.
    const QByteArray list("\"A\",1,0\r\n\"B\",2\r\n");
    const int kept = 1;
    const QString line = QStringLiteral("2行目");
    WindowFixture f;
    f.write(QStringLiteral("データ.TXT"), list);
    f.start();
    QCOMPARE(int(f.window->catalogue().intKensu), kept);
    QCOMPARE(f.cboName()->count(), kept);
    QCOMPARE(f.hsbData()->maximum(), kept);
    QVERIFY(f.window->titlesLocked());
    QCOMPARE(f.dialogs.calls.size(), 1);
    QCOMPARE(f.dialogs.calls[0].caption, QStringLiteral("読み込みエラー"));
    QVERIFY2(f.dialogs.calls[0].prompt.contains(line), qPrintable(f.dialogs.calls[0].prompt));
    QVERIFY(f.dialogs.calls[0].prompt.contains(QStringLiteral("データ.TXT")));

    // Every command that would write the list refuses; the file stays as it was.
    f.dialogs.calls.clear();
    f.window->cmdNew_Click();
    f.window->lblKansu_Click();
    f.window->cmdDel_Click();
    QCOMPARE(f.dialogs.captions(), QStringList(3, QStringLiteral("読み込みエラー")));
    QCOMPARE(f.read(QStringLiteral("データ.TXT")), list);

    // Marking volumes goes on.
    f.window->lblKan_Click(1);
    QCOMPARE(f.read(f.window->catalogue().strName[1] + QStringLiteral(".txt")), flagFile({1}));
}

void TestWindow::keys_data()
{
    QTest::addColumn<QKeySequence>("key");
    QTest::addColumn<bool>("inSelector"); // the selector's text field has the focus
    QTest::addColumn<QString>("trace");   // dialog captions | help commands | pages printed | title text
    QTest::newRow("Ctrl+N registers") << QKeySequence(u"Ctrl+N"_s) << false << u"題名入力||0|A"_s;
    QTest::newRow("Delete deletes") << QKeySequence(Qt::Key_Delete) << false << u"削除確認||0|A"_s;
    QTest::newRow("Delete in a text field") << QKeySequence(Qt::Key_Delete) << true << u"||0|"_s;
    QTest::newRow("Ctrl+P prints") << QKeySequence(u"Ctrl+P"_s) << false << u"||1|A"_s;
    QTest::newRow("F1 helps") << QKeySequence(Qt::Key_F1) << true << u"|0|0|A"_s;
    QTest::newRow("Ctrl+Q quits") << QKeySequence(u"Ctrl+Q"_s) << true << u"|1818|0|A"_s;
}

void TestWindow::keys()
{
    QFETCH(QKeySequence, key);
    QFETCH(bool, inSelector);
    QFETCH(QString, trace);
    WindowFixture f;
    f.writeText(u"データ.txt"_s, u"\"A\",12,0\r\n"_s);
    f.start();
    f.window->show();
    QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
    f.dialogs.answerInput(QString());
    f.dialogs.answerMessage(mb::Cancel);
    QWidget* target = inSelector ? static_cast<QWidget*>(f.cboName()->lineEdit()) : f.hsbData();
    target->setFocus();
    f.cboName()->lineEdit()->setCursorPosition(0);
    QTest::keySequence(target, key);
    QString help;
    for (const auto& call : f.help.calls)
        help += QString::number(call.command);
    QCOMPARE(QStringList({f.dialogs.captions().join(u','), help, QString::number(f.printer.documents.size()),
                          f.cboName()->currentText()})
                 .join(u'|'),
             trace);
}

void TestWindow::wideDigits_data()
{
    QTest::addColumn<bool>("edit"); // the count edit, else a registration's count
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<int>("count"); // stored; 0: nothing registered or changed
    QTest::addColumn<qsizetype>("told");
    for (const bool edit : {false, true}) {
        const char* k = edit ? "edit " : "new ";
        QTest::addRow("%sfull width", k) << edit << QStringList{u"１２"_s} << 12 << qsizetype(0);
        QTest::addRow("%sideographic space", k) << edit << QStringList{u"　３"_s} << 3 << qsizetype(0);
        QTest::addRow("%smixed", k) << edit << QStringList{u"1２"_s} << 12 << qsizetype(0);
        QTest::addRow("%sabc, asked again", k) << edit << QStringList{u"abc"_s, u"５"_s} << 5 << qsizetype(1);
        QTest::addRow("%sabc, then cancel", k) << edit << QStringList{u"abc"_s, QString()} << 0 << qsizetype(1);
    }
    // The count edit takes a whole number only (a registration reads 7巻 as 7).
    QTest::newRow("edit 7巻") << true << QStringList{u"７巻"_s, QString()} << 0 << qsizetype(1);
}

void TestWindow::wideDigits()
{
    QFETCH(bool, edit);
    QFETCH(QStringList, entries);
    QFETCH(int, count);
    QFETCH(qsizetype, told);
    WindowFixture f;
    f.writeText(u"データ.txt"_s, u"\"A\",30,0\r\n"_s);
    f.start();
    for (const QString& entry : (edit ? QStringList() : QStringList{u"T"_s}) + entries)
        f.dialogs.answerInput(entry);
    edit ? f.window->lblKansu_Click() : f.window->cmdNew_Click();
    const int p = edit ? 1 : storage::FindTitle(f.window->catalogue(), u"T"_s);
    QCOMPARE(p == 0 ? 0 : int(f.window->catalogue().intKansu[p]), count == 0 && edit ? 30 : count);
    // Every answer was asked for; the rest of the dialogs are the message.
    QCOMPARE(f.dialogs.captions().size() - entries.size() - (edit ? 0 : 1), told);
}

void TestWindow::titleSearch_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("offered");
    QTest::addColumn<int>("down"); // Down presses before Enter on the offer
    QTest::addColumn<QString>("shown");
    const QStringList kana = {u"かなりや日和"_s, u"カナリア"_s, u"ｶﾅﾘｱ2"_s};
    const QStringList latin = {u"Kana Days"_s, u"ＫＡＮＡ"_s};
    QTest::newRow("hiragana") << u"かな"_s << kana << 2 << kana[1];
    QTest::newRow("katakana") << u"カナ"_s << kana << 3 << kana[2];
    QTest::newRow("half width") << u"ｶﾅ"_s << kana << 1 << kana[0];
    QTest::newRow("case and width") << u"kana"_s << latin << 2 << latin[1];
    QTest::newRow("inside a name") << u"ＤＡＹ"_s << QStringList{latin[0]} << 1 << latin[0];
    // Typed text equal to a title is no pick, nor is Enter on the offer with nothing chosen.
    QTest::newRow("typed, no pick") << u"ＫＡＮＡ"_s << latin << 0 << u"Z1"_s;
    QTest::newRow("nothing") << u"zz"_s << QStringList() << 0 << u"Z1"_s;
}

void TestWindow::titleSearch()
{
    QFETCH(QString, typed);
    QFETCH(QStringList, offered);
    QFETCH(QString, shown);
    WindowFixture f;
    QStringList names = {u"かなりや日和"_s, u"カナリア"_s, u"ｶﾅﾘｱ2"_s, u"Kana Days"_s, u"ＫＡＮＡ"_s};
    for (int i = 1995; i >= 1; --i)
        names.prepend(u"Z%1"_s.arg(i));
    f.writeText(u"データ.txt"_s, u"\"%1\",1,0\r\n"_s.arg(names.join(u"\",1,0\r\n\""_s)));
    f.start();
    f.window->show(); // the offer is a window of its own
    QLineEdit* edit = f.cboName()->lineEdit();
    edit->clear();
    QInputMethodEvent typing; // as an input method commits it
    typing.setCommitString(typed);
    QCoreApplication::sendEvent(edit, &typing);
    QCoreApplication::processEvents(); // the user reads the offer
    auto* completer = edit->findChild<QCompleter*>();
    QStringList seen;
    for (int r = 0; completer->popup()->isVisible() && r < completer->completionModel()->rowCount(); ++r)
        seen.append(completer->completionModel()->index(r, 0).data().toString());
    QCOMPARE(seen, offered);
    QFETCH(int, down);
    for (int d = 0; d < down && !offered.isEmpty(); ++d)
        QTest::keyClick(completer->popup(), Qt::Key_Down);
    QTest::keyClick(offered.isEmpty() ? static_cast<QWidget*>(edit) : completer->popup(), Qt::Key_Return);
    QCOMPARE(f.window->catalogue().strName[f.hsbData()->value()], shown);
    QCOMPARE(edit->text(), shown == u"Z1"_s ? typed : shown);
}

QTEST_MAIN(TestWindow)
#include "test_window.moc"
