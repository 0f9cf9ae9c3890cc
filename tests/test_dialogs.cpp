#include "ui/QtDialogs.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <memory>

using namespace Qt::StringLiterals;
using kav::QtDialogs;

namespace {

// How the user answers a message box.
enum Answer : int {
    PressEscape = -1,
    PressEnter = -2,
    CloseBox = -3,
    // otherwise a QMessageBox::StandardButton to click
};

// Calls `act` on the next modal dialog from inside its exec(). A dialog that is
// still open afterwards is rejected so a broken test fails instead of hanging.
struct ModalDriver
{
    bool seen = false;
    bool leftOpen = false;

    void onNextModal(std::function<void(QWidget*)> act)
    {
        auto* timer = new QTimer;
        auto tries = std::make_shared<int>(0);
        QObject::connect(timer, &QTimer::timeout, timer, [this, timer, tries, act] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal || !modal->isVisible()) {
                if (++*tries > 500) {
                    timer->stop();
                    timer->deleteLater();
                }
                return;
            }
            timer->stop();
            timer->deleteLater();
            seen = true;
            act(modal);
            if (auto* dialog = qobject_cast<QDialog*>(modal); dialog && dialog->isVisible()) {
                leftOpen = true;
                dialog->reject();
            }
        });
        timer->start(10);
    }
};

void answer(QMessageBox* box, int how)
{
    switch (how) {
    case PressEscape:
        QTest::keyClick(box, Qt::Key_Escape);
        break;
    case PressEnter:
        QTest::keyClick(box, Qt::Key_Return);
        break;
    case CloseBox:
        box->close();
        break;
    default:
        if (QAbstractButton* button = box->button(QMessageBox::StandardButton(how)))
            button->click();
    }
}

} // namespace

class TestDialogs final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void messageBoxButtons_data();
    void messageBoxButtons();
    void messageBoxText_data();
    void messageBoxText();
    void messageBoxParent();
    void buttonTexts_data();
    void buttonTexts();
    void linesStayWhole_data();
    void linesStayWhole();
    void inputBoxAnswer_data();
    void inputBoxAnswer();
    void inputBoxText();
};

void TestDialogs::messageBoxButtons_data()
{
    QTest::addColumn<int>("style");
    QTest::addColumn<int>("how");
    QTest::addColumn<int>("buttons");
    QTest::addColumn<int>("icon");
    QTest::addColumn<int>("defaultButton");
    QTest::addColumn<int>("result");

    const int ok = QMessageBox::Ok;
    const int okCancel = QMessageBox::Ok | QMessageBox::Cancel;
    const int yesNo = QMessageBox::Yes | QMessageBox::No;
    const int info = QMessageBox::Information;
    const int warn = QMessageBox::Warning;
    const int question = QMessageBox::Question;

    QTest::newRow("64 OK clicked") << 64 << ok << ok << info << ok << 1;
    QTest::newRow("64 Escape counts as OK") << 64 << int(PressEscape) << ok << info << ok << 1;
    QTest::newRow("48 closing counts as OK") << 48 << int(CloseBox) << ok << warn << ok << 1;
    QTest::newRow("0 plain OK, no icon") << 0 << int(PressEnter) << ok << int(QMessageBox::NoIcon) << ok << 1;
    QTest::newRow("49 OK clicked") << 49 << ok << okCancel << warn << ok << 1;
    QTest::newRow("49 Cancel clicked") << 49 << int(QMessageBox::Cancel) << okCancel << warn << ok << 2;
    QTest::newRow("49 Enter takes OK") << 49 << int(PressEnter) << okCancel << warn << ok << 1;
    QTest::newRow("49 Escape is Cancel") << 49 << int(PressEscape) << okCancel << warn << ok << 2;
    QTest::newRow("49 closing is Cancel") << 49 << int(CloseBox) << okCancel << warn << ok << 2;
    QTest::newRow("36 Yes clicked") << 36 << int(QMessageBox::Yes) << yesNo << question << int(QMessageBox::Yes) << 6;
    QTest::newRow("36 No clicked") << 36 << int(QMessageBox::No) << yesNo << question << int(QMessageBox::Yes) << 7;
    QTest::newRow("36 Enter takes Yes") << 36 << int(PressEnter) << yesNo << question << int(QMessageBox::Yes) << 6;
    QTest::newRow("36 Escape is No") << 36 << int(PressEscape) << yesNo << question << int(QMessageBox::Yes) << 7;
    QTest::newRow("36 closing is No") << 36 << int(CloseBox) << yesNo << question << int(QMessageBox::Yes) << 7;
    QTest::newRow("36+256 second button default")
        << 36 + 256 << int(PressEnter) << yesNo << question << int(QMessageBox::No) << 7;
}

void TestDialogs::messageBoxButtons()
{
    QFETCH(int, style);
    QFETCH(int, how);
    QFETCH(int, buttons);
    QFETCH(int, icon);
    QFETCH(int, defaultButton);
    QFETCH(int, result);

    int shownButtons = 0;
    int shownIcon = -1;
    int shownDefault = 0;
    ModalDriver driver;
    driver.onNextModal([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (!box)
            return;
        shownButtons = int(box->standardButtons());
        shownIcon = box->icon();
        shownDefault = box->standardButton(box->defaultButton());
        answer(box, how);
    });

    QtDialogs dialogs;
    const int pressed = dialogs.MsgBox(u"質問"_s, style, u"題"_s);

    QVERIFY(driver.seen);
    QVERIFY2(!driver.leftOpen, "the answer did not close the box");
    QCOMPARE(shownButtons, buttons);
    QCOMPARE(shownIcon, icon);
    QCOMPARE(shownDefault, defaultButton);
    QCOMPARE(pressed, result);
}

void TestDialogs::messageBoxText_data()
{
    QTest::addColumn<QString>("prompt");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("shown");

    QTest::newRow("CR LF become line breaks")
        << u"未収集分のデータを『残巻データ.txt』に保存します。\r\n\r\n印刷もしますか？"_s << u"残巻データ出力"_s
        << u"未収集分のデータを『残巻データ.txt』に保存します。\n\n印刷もしますか？"_s;
    QTest::newRow("markup shown as typed")
        << u"「<b>A</b> & B」を削除します。"_s << u"<i>削除</i>"_s << u"「<b>A</b> & B」を削除します。"_s;
    QTest::newRow("empty prompt") << QString() << u"題"_s << QString();
}

void TestDialogs::messageBoxText()
{
    QFETCH(QString, prompt);
    QFETCH(QString, caption);
    QFETCH(QString, shown);

    QString labelText;
    int labelFormat = -1;
    QString title;
    ModalDriver driver;
    driver.onNextModal([&](QWidget* modal) {
        title = modal->windowTitle();
        if (auto* label = modal->findChild<QLabel*>(u"qt_msgbox_label"_s)) {
            labelText = label->text();
            labelFormat = label->textFormat();
        }
        QTest::keyClick(modal, Qt::Key_Escape);
    });

    QtDialogs dialogs;
    QCOMPARE(dialogs.MsgBox(prompt, 64, caption), 1);
    QVERIFY(driver.seen);
    QCOMPARE(labelText, shown);
    QCOMPARE(labelFormat, int(Qt::PlainText));
    QCOMPARE(title, caption);
}

void TestDialogs::messageBoxParent()
{
    QtDialogs dialogs;
    QWidget* seenParent = nullptr;
    ModalDriver driver;
    auto note = [&](QWidget* modal) {
        seenParent = modal->parentWidget();
        QTest::keyClick(modal, Qt::Key_Escape);
    };

    auto window = std::make_unique<QWidget>();
    window->show();
    dialogs.setParentWindow(window.get());
    driver.onNextModal(note);
    QCOMPARE(dialogs.MsgBox(u"a"_s, 0, u"b"_s), 1);
    QCOMPARE(seenParent, window.get());

    // A window that went away must not leave a dangling parent behind.
    window.reset();
    driver = {};
    seenParent = reinterpret_cast<QWidget*>(1);
    driver.onNextModal(note);
    QCOMPARE(dialogs.MsgBox(u"a"_s, 0, u"b"_s), 1);
    QVERIFY(driver.seen);
    QCOMPARE(seenParent, nullptr);
}

void TestDialogs::buttonTexts_data()
{
    QTest::addColumn<int>("style"); // -1: the input box
    QTest::addColumn<QStringList>("texts");

    QTest::newRow("OK") << 64 << QStringList{u"OK"_s};
    QTest::newRow("OK and Cancel") << 49 << QStringList{u"OK"_s, u"キャンセル"_s};
    QTest::newRow("Yes and No") << 36 << QStringList{u"はい"_s, u"いいえ"_s};
    QTest::newRow("Abort, Retry, Ignore") << 2 << QStringList{u"中止"_s, u"再試行"_s, u"無視"_s};
    QTest::newRow("input box") << -1 << QStringList{u"OK"_s, u"キャンセル"_s};
}

// Japanese buttons whatever the locale the desktop runs in.
void TestDialogs::buttonTexts()
{
    QFETCH(int, style);
    QFETCH(QStringList, texts);

    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QStringList shown;
    ModalDriver driver;
    driver.onNextModal([&](QWidget* modal) {
        QList<QAbstractButton*> buttons = modal->findChild<QDialogButtonBox*>()->buttons();
        // The order on screen is the platform's; compare by position from the left.
        std::sort(buttons.begin(), buttons.end(),
                  [](QAbstractButton* a, QAbstractButton* b) { return a->x() < b->x(); });
        for (QAbstractButton* button : buttons)
            shown.append(button->text());
        QTest::keyClick(modal, Qt::Key_Escape);
    });
    QtDialogs dialogs;
    if (style < 0)
        dialogs.InputBox(u"題名を入力して下さい"_s, u"題名入力"_s, {});
    else
        dialogs.MsgBox(u"質問"_s, style, u"題"_s);
    QLocale::setDefault(before);

    QVERIFY(driver.seen);
    shown.sort();
    texts.sort();
    QCOMPARE(shown, texts);
}

void TestDialogs::linesStayWhole_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<bool>("whole");

    QTest::newRow("introduction of seven lines") << QStringList{
        u"よりコレクション性を重視した「カヴリオＰｒｏ」をぜひどうぞ！"_s,
        QString(),
        u"コミック本の表紙やお気に入りのページを画像として表示させたり"_s,
        u"著者名や掲載雑誌名、発行日､自己評価などを記録することができます。"_s,
        u"より楽しく便利にコミック本の管理ができます。"_s,
        QString(),
        u"どんなことができるソフトなのかはカヴリオＰｒｏのヘルプをぜひご覧ください。"_s,
    } << true;
    QTest::newRow("short lines") << QStringList{u"削除していいですか？"_s} << true;
    // Wider than any screen: wrapped, so the box still fits.
    QTest::newRow("a line wider than the screen") << QStringList{QString(120, u'あ')} << false;
}

void TestDialogs::linesStayWhole()
{
    QFETCH(QStringList, lines);
    QFETCH(bool, whole);

    int labelWidth = 0;
    int labelHeight = 0;
    int boxWidth = 0;
    QFontMetrics metrics(QApplication::font());
    ModalDriver driver;
    driver.onNextModal([&](QWidget* modal) {
        if (auto* label = modal->findChild<QLabel*>(u"qt_msgbox_label"_s)) {
            labelWidth = label->contentsRect().width();
            labelHeight = label->contentsRect().height();
            metrics = label->fontMetrics();
        }
        boxWidth = modal->frameGeometry().width();
        QTest::keyClick(modal, Qt::Key_Escape);
    });
    QtDialogs dialogs;
    dialogs.MsgBox(lines.join(u"\r\n"_s), 64, u"カヴリオＰｒｏのご紹介"_s);
    QVERIFY(driver.seen);

    int widest = 0;
    for (const QString& line : lines)
        widest = std::max(widest, metrics.horizontalAdvance(line));
    const int screenWidth = QApplication::primaryScreen()->availableGeometry().width();
    QVERIFY2(boxWidth <= screenWidth, qPrintable(u"%1 > %2"_s.arg(boxWidth).arg(screenWidth)));
    if (whole) {
        QVERIFY2(widest <= labelWidth, qPrintable(u"%1 > %2"_s.arg(widest).arg(labelWidth)));
        // One line of the label per line of the prompt: none wrapped.
        QVERIFY2(labelHeight < (lines.size() + 1) * metrics.lineSpacing(), qPrintable(QString::number(labelHeight)));
    } else {
        QVERIFY(widest > labelWidth);
    }
}

void TestDialogs::inputBoxAnswer_data()
{
    QTest::addColumn<QString>("defaultText");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("how"); // QDialogButtonBox::Ok / Cancel, or PressEscape / CloseBox
    QTest::addColumn<QString>("result");

    const int ok = QDialogButtonBox::Ok;
    const int cancel = QDialogButtonBox::Cancel;
    QTest::newRow("OK keeps the default") << u"50"_s << QString() << ok << u"50"_s;
    QTest::newRow("typing replaces the preselected default") << u"50"_s << u"120"_s << ok << u"120"_s;
    QTest::newRow("typing into an empty box") << QString() << u"Title X"_s << ok << u"Title X"_s;
    QTest::newRow("OK on an empty box") << QString() << QString() << ok << QString();
    QTest::newRow("Cancel drops the edit") << u"50"_s << u"120"_s << cancel << QString();
    QTest::newRow("Cancel drops the default") << u"50"_s << QString() << cancel << QString();
    QTest::newRow("Escape is Cancel") << u"50"_s << u"7"_s << int(PressEscape) << QString();
    QTest::newRow("closing is Cancel") << u"50"_s << u"7"_s << int(CloseBox) << QString();
}

void TestDialogs::inputBoxAnswer()
{
    QFETCH(QString, defaultText);
    QFETCH(QString, typed);
    QFETCH(int, how);
    QFETCH(QString, result);

    QString selected;
    ModalDriver driver;
    driver.onNextModal([&](QWidget* modal) {
        auto* edit = modal->findChild<QLineEdit*>();
        auto* buttons = modal->findChild<QDialogButtonBox*>();
        if (!edit || !buttons)
            return;
        selected = edit->selectedText();
        if (!typed.isEmpty())
            QTest::keyClicks(edit, typed);
        if (how == PressEscape)
            QTest::keyClick(modal, Qt::Key_Escape);
        else if (how == CloseBox)
            modal->close();
        else
            buttons->button(QDialogButtonBox::StandardButton(how))->click();
    });

    QtDialogs dialogs;
    const QString entered = dialogs.InputBox(u"巻数を入力して下さい。"_s, u"巻数"_s, defaultText);
    QVERIFY(driver.seen);
    QVERIFY2(!driver.leftOpen, "the answer did not close the box");
    QCOMPARE(selected, defaultText);
    QCOMPARE(entered, result);
}

void TestDialogs::inputBoxText()
{
    QString labelText;
    int labelFormat = -1;
    QString title;
    ModalDriver driver;
    driver.onNextModal([&](QWidget* modal) {
        title = modal->windowTitle();
        for (QLabel* label : modal->findChildren<QLabel*>()) {
            if (label->text().isEmpty())
                continue;
            labelText = label->text();
            labelFormat = label->textFormat();
        }
        QTest::keyClick(modal, Qt::Key_Escape);
    });

    QtDialogs dialogs;
    const QString entered = dialogs.InputBox(u"題名を入力して下さい。\r\n<>は使えません。"_s, u"新規登録"_s, u"A"_s);
    QVERIFY(driver.seen);
    QCOMPARE(entered, QString());
    QCOMPARE(title, u"新規登録"_s);
    QCOMPARE(labelText, u"題名を入力して下さい。\n<>は使えません。"_s);
    QCOMPARE(labelFormat, int(Qt::PlainText));
}

QTEST_MAIN(TestDialogs)
#include "test_dialogs.moc"
