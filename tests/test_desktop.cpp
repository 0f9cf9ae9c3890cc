// The window as a desktop program: keyboard, dark themes, scale factors, screen
// readers and window-state requests. Run by CTest at several scale factors and
// on several platforms (offscreen, a headless weston, X).
#include "support/WindowFixture.h"

#include "VolumeCursor.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QWindow>

using namespace kav;
using namespace kav::test;
using namespace Qt::StringLiterals;

namespace {

const QByteArray TitleList = "\"T\",12,0\r\n\"U\",3,0\r\n\"V\",50,50\r\n";

int lightness(QRgb pixel)
{
    return QColor(pixel).lightness();
}

// Pixels inside r (device pixels of image) darker or lighter than a bound.
int countPixels(const QImage& image, const QRect& r, bool dark, int bound)
{
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) {
            const int l = lightness(image.pixel(x, y));
            n += dark ? l < bound : l > bound;
        }
    }
    return n;
}

// A widget's rectangle in the device pixels of an image of its window.
QRect deviceRect(const QWidget* widget, qreal dpr)
{
    const QPoint at = widget->mapTo(widget->window(), QPoint(0, 0));
    return QRectF(QPointF(at) * dpr, QSizeF(widget->size()) * dpr).toRect();
}

QImage windowImage(QWidget* window)
{
    return window->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

QPalette darkPalette()
{
    QPalette p;
    p.setColor(QPalette::Window, QColor(0x2A, 0x2A, 0x2A));
    p.setColor(QPalette::WindowText, QColor(0xEE, 0xEE, 0xEE));
    p.setColor(QPalette::Base, QColor(0x1E, 0x1E, 0x1E));
    p.setColor(QPalette::AlternateBase, QColor(0x33, 0x33, 0x33));
    p.setColor(QPalette::Text, QColor(0xEE, 0xEE, 0xEE));
    p.setColor(QPalette::Button, QColor(0x35, 0x35, 0x35));
    p.setColor(QPalette::ButtonText, QColor(0xEE, 0xEE, 0xEE));
    p.setColor(QPalette::Light, QColor(0x50, 0x50, 0x50));
    p.setColor(QPalette::Midlight, QColor(0x40, 0x40, 0x40));
    p.setColor(QPalette::Mid, QColor(0x25, 0x25, 0x25));
    p.setColor(QPalette::Dark, QColor(0x15, 0x15, 0x15));
    p.setColor(QPalette::Shadow, QColor(0x05, 0x05, 0x05));
    p.setColor(QPalette::Highlight, QColor(0x3D, 0xAE, 0xE9));
    p.setColor(QPalette::HighlightedText, Qt::white);
    return p;
}

QAccessibleInterface* accessible(QObject* object)
{
    return QAccessible::queryAccessibleInterface(object);
}

} // namespace

class TestDesktop : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void scrollBarKeys_data();
    void scrollBarKeys();
    void gridCursor_data();
    void gridCursor();
    void gridLeavesTabOrderAlone();
    void countKey();
    void logoForTheScreen();
    void darkTheme_data();
    void darkTheme();
    void bordersOnWholePixels_data();
    void bordersOnWholePixels();
    void positionLabelShowsWhole_data();
    void positionLabelShowsWhole();
    void accessibleNames_data();
    void accessibleNames();
    void pressAction_data();
    void pressAction();
    void windowStateRequests_data();
    void windowStateRequests();

private:
    // A shown, active window over the three titles of TitleList; T has flag 2 set.
    static void startShown(WindowFixture& f)
    {
        f.write(u"データ.TXT"_s, TitleList);
        f.write(u"T.TXT"_s, flagFile({2}));
        f.start();
        f.window->show();
        QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
    }
    static void press(const QStringList& keys);
};

void TestDesktop::press(const QStringList& keys)
{
    for (const QString& name : keys) {
        const QKeySequence sequence = QKeySequence::fromString(name);
        QWidget* focus = QApplication::focusWidget();
        QVERIFY2(focus, qPrintable(name));
        QTest::keyClick(focus, Qt::Key(sequence[0].key()), sequence[0].keyboardModifiers());
    }
}

void TestDesktop::scrollBarKeys_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QString>("shown");

    QTest::newRow("Right goes to the next title") << 1 << QStringList{u"Right"_s} << u"U"_s;
    QTest::newRow("twice Right") << 1 << QStringList{u"Right"_s, u"Right"_s} << u"V"_s;
    QTest::newRow("Left goes back") << 2 << QStringList{u"Left"_s} << u"T"_s;
    QTest::newRow("Right at the last title stays") << 3 << QStringList{u"Right"_s} << u"V"_s;
    QTest::newRow("Left at the first title stays") << 1 << QStringList{u"Left"_s} << u"T"_s;
    QTest::newRow("Right then Left") << 2 << QStringList{u"Right"_s, u"Left"_s} << u"U"_s;
}

void TestDesktop::scrollBarKeys()
{
    QFETCH(int, start);
    QFETCH(QStringList, keys);
    QFETCH(QString, shown);

    WindowFixture f;
    startShown(f);
    f.hsbData()->setValue(start);
    QCOMPARE(QApplication::focusWidget(), f.hsbData());
    press(keys);
    QCOMPARE(f.cboName()->currentText(), shown);
    QCOMPARE(f.lblKensu()->text(), u"%1 / 3"_s.arg(f.hsbData()->value()));
    QCOMPARE(QApplication::focusWidget(), f.hsbData());
}

void TestDesktop::gridCursor_data()
{
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QByteArray>("file"); // T.TXT afterwards; flag 2 is set at the start
    QTest::addColumn<int>("cursor");      // 0: the cursor has left the grid

    const auto flags = [](std::initializer_list<int> set) { return flagFile(set); };
    QTest::newRow("Space toggles the first volume") << QStringList{u"F6"_s, u"Space"_s} << flags({1, 2}) << 1;
    QTest::newRow("Right moves on") << QStringList{u"F6"_s, u"Right"_s, u"Space"_s} << flags({}) << 2;
    QTest::newRow("Enter toggles too") << QStringList{u"F6"_s, u"Right"_s, u"Right"_s, u"Return"_s} << flags({2, 3})
                                       << 3;
    QTest::newRow("Down goes one row") << QStringList{u"F6"_s, u"Down"_s, u"Space"_s} << flags({2, 11}) << 11;
    QTest::newRow("no row below volume 12")
        << QStringList{u"F6"_s, u"Down"_s, u"Down"_s, u"Space"_s} << flags({2, 11}) << 11;
    QTest::newRow("End is the last shown volume") << QStringList{u"F6"_s, u"End"_s, u"Space"_s} << flags({2, 12}) << 12;
    QTest::newRow("Right stops at the last volume")
        << QStringList{u"F6"_s, u"End"_s, u"Right"_s, u"Space"_s} << flags({2, 12}) << 12;
    QTest::newRow("Left stops at the first") << QStringList{u"F6"_s, u"Left"_s, u"Space"_s} << flags({1, 2}) << 1;
    QTest::newRow("Up from the second row")
        << QStringList{u"F6"_s, u"Down"_s, u"Right"_s, u"Up"_s, u"Space"_s} << flags({}) << 2;
    QTest::newRow("twice Space restores the file") << QStringList{u"F6"_s, u"Space"_s, u"Space"_s} << flags({2}) << 1;
    QTest::newRow("Escape leaves before Space") << QStringList{u"F6"_s, u"Escape"_s, u"Space"_s} << flags({2}) << 0;
}

void TestDesktop::gridCursor()
{
    QFETCH(QStringList, keys);
    QFETCH(QByteArray, file);
    QFETCH(int, cursor);

    WindowFixture f;
    startShown(f);
    press(keys);
    QCOMPARE(f.read(u"T.TXT"_s), file);
    QCOMPARE(f.window->volumeCursor()->current(), cursor);
    for (int i = 1; i <= 12; ++i)
        QCOMPARE(f.labelColour(i), frmMain::flagColour(f.window->flags()[i]));
    if (cursor == 0)
        QCOMPARE(QApplication::focusWidget(), f.hsbData());
    QVERIFY(f.dialogs.calls.isEmpty());
}

void TestDesktop::gridLeavesTabOrderAlone()
{
    WindowFixture f;
    startShown(f);
    // Into the grid from cmdDel, out by Tab: on to cmdHozon, as if the grid had never been there.
    f.child<QWidget>(u"cmdDel"_s)->setFocus();
    press({u"F6"_s});
    QCOMPARE(QApplication::focusWidget(), f.child<QWidget>(u"Frame1"_s));
    QVERIFY(f.window->volumeCursor()->current() > 0);
    press({u"Tab"_s});
    QCOMPARE(QApplication::focusWidget(), f.child<QWidget>(u"cmdHozon"_s));
    press({u"F6"_s, u"Backtab"_s});
    QCOMPARE(QApplication::focusWidget(), f.child<QWidget>(u"cmdDel"_s));
    // The grid stays out of the Tab cycle.
    for (int i = 0; i < 12; ++i) {
        press({u"Tab"_s});
        QVERIFY(QApplication::focusWidget() != f.child<QWidget>(u"Frame1"_s));
    }
}

void TestDesktop::countKey()
{
    WindowFixture f;
    startShown(f);
    f.dialogs.answerInput(u"30"_s);
    press({u"F2"_s});
    QCOMPARE(f.dialogs.captions(), QStringList{u"巻数に入力"_s});
    QCOMPARE(f.read(u"データ.TXT"_s), QByteArray("\"T\",30,0\r\n\"U\",3,0\r\n\"V\",50,50\r\n"));
    QCOMPARE(f.visibleCaptions().size(), 30);
}

// At 100 % the logo is the GIF itself; on a scaled screen it is drawn from the large
// picture, with as many pixels as the screen shows, at the same place and size.
void TestDesktop::logoForTheScreen()
{
    WindowFixture f;
    startShown(f);
    const QPixmap logo = f.child<QLabel>(u"Image1"_s)->pixmap();
    const qreal ratio = f.window->devicePixelRatioF();
    QCOMPARE(logo.deviceIndependentSize().toSize(), QSize(243, 61));
    if (ratio == 1) {
        const QImage gif(u":/pictures/logo.gif"_s);
        // Premultiplied: a transparent pixel is transparent whatever colour it carries.
        QCOMPARE(logo.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied),
                 gif.convertToFormat(QImage::Format_ARGB32_Premultiplied));
    } else {
        // Drawn from the large picture: as many pixels as the screen has for it.
        QCOMPARE(logo.size(), (QSizeF(243, 61) * ratio).toSize());
        QCOMPARE(logo.devicePixelRatio(), ratio);
    }
}

void TestDesktop::darkTheme_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<bool>("dark"); // the text is dark (on the program's colours) or light (the theme's)

    QTest::newRow("volume number") << u"lblKan_1"_s << true;
    QTest::newRow("flagged volume number") << u"lblKan_2"_s << true;
    QTest::newRow("count") << u"lblKansu"_s << true;
    QTest::newRow("全") << u"Label1_0"_s << true;
    QTest::newRow("初") << u"Label1_1"_s << true;
    QTest::newRow("start volume") << u"cboSyo"_s << true;
    QTest::newRow("position keeps the theme's colour") << u"lblKensu"_s << false;
    QTest::newRow("title keeps the theme's colour") << u"cboName"_s << false;
}

void TestDesktop::darkTheme()
{
    QFETCH(QString, control);
    QFETCH(bool, dark);

    const QPalette before = QApplication::palette();
    QApplication::setPalette(darkPalette());
    WindowFixture f;
    startShown(f);
    const QImage image = windowImage(f.window.get());
    QApplication::setPalette(before);

    const qreal dpr = f.window->devicePixelRatioF();
    QWidget* widget = f.child<QWidget>(control);
    if (auto* box = qobject_cast<QComboBox*>(widget))
        widget = box->lineEdit(); // the text, not the theme's arrow button
    // Inside the border, where the text is.
    const QRect inside = deviceRect(widget, dpr).adjusted(int(3 * dpr), int(3 * dpr), int(-3 * dpr), int(-3 * dpr));
    const int strokes = int(8 * dpr * dpr);
    if (dark) {
        QVERIFY2(countPixels(image, inside, true, 90) >= strokes,
                 qPrintable(u"%1 dark pixels"_s.arg(countPixels(image, inside, true, 90))));
        // Nothing lighter than the light backgrounds (lightness 223): no theme-coloured text.
        QCOMPARE(countPixels(image, inside, false, 226), 0);
    } else {
        QVERIFY2(countPixels(image, inside, false, 200) >= strokes,
                 qPrintable(u"%1 light pixels"_s.arg(countPixels(image, inside, false, 200))));
    }
    // The black line of the separator stays black.
    const QRect line = deviceRect(f.child<QWidget>(u"Line1_0"_s), dpr);
    QCOMPARE(QColor(image.pixel(line.center())), QColor(Qt::black));
}

void TestDesktop::bordersOnWholePixels_data()
{
    QTest::addColumn<bool>("dark");
    QTest::newRow("default theme") << false;
    QTest::newRow("dark theme") << true;
}

// At any scale factor every edge of every boxed label is drawn: look for a black
// pixel where each edge must be, across the row or column through the middle.
void TestDesktop::bordersOnWholePixels()
{
    QFETCH(bool, dark);
    const QPalette before = QApplication::palette();
    if (dark)
        QApplication::setPalette(darkPalette());
    WindowFixture f;
    f.write(u"データ.TXT"_s, "\"T\",50,0\r\n");
    f.start();
    f.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
    const QImage image = windowImage(f.window.get());
    QApplication::setPalette(before);
    const qreal dpr = f.window->devicePixelRatioF();

    QList<QLabel*> labels = {f.child<QLabel>(u"Label1_0"_s), f.lblKansu(), f.child<QLabel>(u"Label1_1"_s)};
    for (int i = 1; i <= 50; ++i)
        labels.append(f.window->volumeLabel(i));
    QStringList missing;
    for (QLabel* label : labels) {
        const QRectF r = QRectF(QPointF(label->mapTo(f.window.get(), QPoint(0, 0))) * dpr, QSizeF(label->size()) * dpr);
        const int midY = int(r.center().y()), midX = int(r.center().x());
        auto blackIn = [&](int x0, int x1, int y0, int y1) {
            for (int y = std::max(0, y0); y <= std::min(image.height() - 1, y1); ++y)
                for (int x = std::max(0, x0); x <= std::min(image.width() - 1, x1); ++x)
                    if (lightness(image.pixel(x, y)) < 40)
                        return true;
            return false;
        };
        // Each edge within a pixel of where the label's rectangle puts it.
        const int left = int(std::floor(r.left())), right = int(std::ceil(r.right())) - 1;
        const int top = int(std::floor(r.top())), bottom = int(std::ceil(r.bottom())) - 1;
        if (!blackIn(left - 1, left + 1, midY, midY))
            missing.append(label->objectName() + u" left"_s);
        if (!blackIn(right - 1, right + 1, midY, midY))
            missing.append(label->objectName() + u" right"_s);
        if (!blackIn(midX - 2, midX - 2, top - 1, top + 1))
            missing.append(label->objectName() + u" top"_s);
        if (!blackIn(midX - 2, midX - 2, bottom - 1, bottom + 1))
            missing.append(label->objectName() + u" bottom"_s);
    }
    QVERIFY2(missing.isEmpty(), qPrintable(u"scale %1: "_s.arg(dpr) + missing.join(u", "_s)));
}

void TestDesktop::positionLabelShowsWhole_data()
{
    QTest::addColumn<int>("titles");
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("text");

    QTest::newRow("2000 / 2000") << 2000 << 2000 << u"2000 / 2000"_s;
    QTest::newRow("1000 / 1000") << 1000 << 1000 << u"1000 / 1000"_s;
    QTest::newRow("888 / 1888") << 1888 << 888 << u"888 / 1888"_s;
    QTest::newRow("1 / 3") << 3 << 1 << u"1 / 3"_s;
}

void TestDesktop::positionLabelShowsWhole()
{
    QFETCH(int, titles);
    QFETCH(int, position);
    QFETCH(QString, text);

    WindowFixture f;
    QByteArray list;
    for (int i = 1; i <= titles; ++i)
        list += "\"T" + QByteArray::number(i) + "\",1,0\r\n";
    f.write(u"データ.TXT"_s, list);
    f.start();
    f.hsbData()->setValue(position);
    QLabel* label = f.lblKensu();
    QCOMPARE(label->text(), text);
    QVERIFY2(
        label->fontMetrics().horizontalAdvance(text) <= label->contentsRect().width(),
        qPrintable(u"%1 > %2"_s.arg(label->fontMetrics().horizontalAdvance(text)).arg(label->contentsRect().width())));
    // No control moved or grew for it.
    QCOMPARE(label->geometry(), QRect(528, 426, 88, 16));
    QCOMPARE(label->font().pixelSize(), 16);
}

void TestDesktop::accessibleNames_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("role");

    QTest::newRow("scroll bar") << u"hsbData"_s << u"表示中の題名の位置"_s << int(QAccessible::ScrollBar);
    QTest::newRow("title selector") << u"cboName"_s << u"題名"_s << int(QAccessible::ComboBox);
    QTest::newRow("start volume") << u"cboSyo"_s << u"開始巻"_s << int(QAccessible::ComboBox);
    QTest::newRow("count") << u"lblKansu"_s << u"巻数 50巻"_s << int(QAccessible::Button);
    QTest::newRow("collected volume") << u"lblKan_1"_s << u"51巻 収集済み"_s << int(QAccessible::Button);
    QTest::newRow("uncollected volume") << u"lblKan_2"_s << u"52巻 未収集"_s << int(QAccessible::Button);
    QTest::newRow("odd flag value") << u"lblKan_3"_s << u"53巻 不明な値"_s << int(QAccessible::Button);
    QTest::newRow("button keeps its caption") << u"cmdNew"_s << u"登録"_s << int(QAccessible::Button);
    QTest::newRow("position") << u"lblKensu"_s << u"3 / 3"_s << int(QAccessible::StaticText);
}

void TestDesktop::accessibleNames()
{
    QFETCH(QString, control);
    QFETCH(QString, name);
    QFETCH(int, role);

    WindowFixture f;
    QByteArray flags = flagFile({2});
    flags.replace(4, 1, "2"); // volume 3 holds 2
    f.write(u"データ.TXT"_s, TitleList);
    f.write(u"V.TXT"_s, flags);
    f.start();
    f.hsbData()->setValue(3);

    QAccessibleInterface* iface = accessible(f.child<QWidget>(control));
    QVERIFY(iface);
    QCOMPARE(iface->text(QAccessible::Name), name);
    QCOMPARE(int(iface->role()), role);
    if (auto* box = qobject_cast<QComboBox*>(f.child<QWidget>(control)))
        QCOMPARE(iface->text(QAccessible::Value), box->currentText());
}

void TestDesktop::pressAction_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QByteArray>("flagsAfter"); // V.TXT afterwards
    QTest::addColumn<QString>("nameAfter");

    QTest::newRow("collected becomes uncollected") << u"lblKan_1"_s << flagFile({1, 2}) << u"51巻 未収集"_s;
    QTest::newRow("uncollected becomes collected") << u"lblKan_2"_s << flagFile({}) << u"52巻 収集済み"_s;
    QTest::newRow("volume 50") << u"lblKan_50"_s << flagFile({2, 50}) << u"100巻 未収集"_s;
}

void TestDesktop::pressAction()
{
    QFETCH(QString, control);
    QFETCH(QByteArray, flagsAfter);
    QFETCH(QString, nameAfter);

    WindowFixture f;
    f.write(u"データ.TXT"_s, TitleList);
    f.write(u"V.TXT"_s, flagFile({2}));
    f.start();
    f.hsbData()->setValue(3);

    QAccessibleInterface* iface = accessible(f.child<QWidget>(control));
    QVERIFY(iface && iface->actionInterface());
    QAccessibleActionInterface* actions = iface->actionInterface();
    QCOMPARE(actions->actionNames(), QStringList{QAccessibleActionInterface::pressAction()});
    actions->doAction(QAccessibleActionInterface::pressAction());
    QTRY_COMPARE(f.read(u"V.TXT"_s), flagsAfter);
    QCOMPARE(iface->text(QAccessible::Name), nameAfter);
}

void TestDesktop::windowStateRequests_data()
{
    QTest::addColumn<int>("states");
    QTest::addColumn<int>("times");

    QTest::newRow("maximize") << int(Qt::WindowMaximized) << 1;
    QTest::newRow("full screen") << int(Qt::WindowFullScreen) << 1;
    QTest::newRow("maximize twice") << int(Qt::WindowMaximized) << 2;
}

// A maximize request (as a title bar's button makes it) leaves the window at its
// size and working: a real click on a volume label afterwards reaches the disk.
void TestDesktop::windowStateRequests()
{
    QFETCH(int, states);
    QFETCH(int, times);
    const Qt::WindowStates request(states);

    WindowFixture f;
    f.write(u"データ.TXT"_s, TitleList);
    f.start();
    f.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
    QWindow* window = f.window->windowHandle();
    const QSize fixed(631, 452);

    for (int k = 0; k < times; ++k) {
        window->setWindowStates(window->windowStates() | request);
        // The platform's answer, and the window's own request back, take a few turns.
        QTest::qWait(400);
        QTRY_VERIFY_WITH_TIMEOUT(!(window->windowStates() & (Qt::WindowMaximized | Qt::WindowFullScreen)), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(f.window->size(), fixed, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(window->maximumSize(), fixed, 5000);
        QCOMPARE(window->minimumSize(), fixed);
    }

    QLabel* label = f.window->volumeLabel(1);
    QTest::mouseClick(label, Qt::LeftButton, {}, label->rect().center());
    f.window->repaint();
    QTest::qWait(300); // a compositor that objects to a frame ends the process here
    QCOMPARE(f.read(u"T.txt"_s), flagFile({1}));
    QCOMPARE(f.window->size(), fixed);
    QVERIFY(f.window->isVisible());
}

QTEST_MAIN(TestDesktop)
#include "test_desktop.moc"
