// The real binary in a real X server: what a user sees when it starts.
#include "e2e/XSession.h"
#include "support/TestData.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTest>

using namespace kav::test;

class TestX11Window : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void startsWithTheTitleShown();

private:
    XSession m_x;
};

void TestX11Window::initTestCase()
{
    const QString why = m_x.start();
    if (!why.isEmpty())
        QSKIP(qPrintable(why));
}

void TestX11Window::startsWithTheTitleShown()
{
    QTemporaryDir dir;
    auto write = [&](const QString& name, const QByteArray& bytes) {
        QFile file(QDir(dir.path()).filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    };
    write(QStringLiteral("データ.TXT"), "\"T\",12,0\r\n\"U\",3,0\r\n");
    write(QStringLiteral("T.TXT"),
          "0,1,0,0,0,0,0,0,0,0\r\n0,0,0,0,0,0,0,0,0,0\r\n0,0,0,0,0,0,0,0,0,0\r\n0,0,0,0,0,0,0,0,0,0\r\n"
          "0,0,0,0,0,0,0,0,0,0\r\n");
    QVERIFY(m_x.launch(QStringLiteral(KAVURIO_BINARY), dir.path()));

    const QRect geometry = m_x.windowGeometry();
    QCOMPARE(geometry.size(), QSize(631, 452));
    // Centred on the 1280 x 1024 screen, give or take the frame the window manager adds.
    QVERIFY2(qAbs(geometry.center().x() - 640) <= 20, qPrintable(QString::number(geometry.x())));
    QVERIFY2(qAbs(geometry.center().y() - 512) <= 40, qPrintable(QString::number(geometry.y())));

    const QImage shot = m_x.windowImage();
    QCOMPARE(shot.size(), QSize(631, 452));
    if (!qEnvironmentVariableIsEmpty("KAVURIO_SHOT_DIR"))
        shot.save(QDir(qEnvironmentVariable("KAVURIO_SHOT_DIR")).filePath(QStringLiteral("window.png")));

    // Volume label i sits in the frame at (10, 155); sample inside its border.
    auto labelColour = [&](int i) { return shot.pixelColor(volumeLabelAt(i) + QPoint(4, 20)); };
    QCOMPARE(labelColour(1), QColor(0xC0, 0xFF, 0xC0));
    QCOMPARE(labelColour(2), QColor(0xFF, 0xC0, 0xFF));
    QCOMPARE(labelColour(12), QColor(0xC0, 0xFF, 0xC0));
    // Label 13 is hidden for a 12-volume title: the frame's face shows through.
    QVERIFY(labelColour(13) != QColor(0xC0, 0xFF, 0xC0));
    // The count and the start-volume box keep their colours.
    QCOMPARE(shot.pixelColor(549 + 4, 98 + 4), QColor(0xC0, 0xFF, 0xFF));
    QCOMPARE(shot.pixelColor(518 + 4, 128 + 4), QColor(0xFF, 0xFF, 0xC0));

    // A real click on the scroll bar's right arrow shows the next title.
    m_x.click(QPoint(10 + 509 - 6, 426 + 8));
    QTest::qWait(1000);
    const QImage second = m_x.windowImage();
    auto colour = [&](const QImage& img, int i) { return img.pixelColor(volumeLabelAt(i) + QPoint(4, 20)); };
    QCOMPARE(colour(second, 2), QColor(0xC0, 0xFF, 0xC0));
    QVERIFY(colour(second, 4) != QColor(0xC0, 0xFF, 0xC0)); // U has three volumes
}

QTEST_GUILESS_MAIN(TestX11Window)
#include "test_x11_window.moc"
