// The pictures are fixed in format and size, and the script that draws them
// must give the same bytes again.
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QIcon>
#include <QImageReader>
#include <QPainter>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <cstdlib>

class TestPictures : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void icons_data();
    void icons();
    void logo();
    void sharpVariants_data();
    void sharpVariants();
    void scalableIcon_data();
    void scalableIcon();
    void buttonsTakeTheSharpVariant_data();
    void buttonsTakeTheSharpVariant();
    void scriptReproducesTheFiles();
};

namespace {
QString picture(const QString& name)
{
    return QStringLiteral(KAVURIO_PICTURES "/") + name;
}

struct PixelCount
{
    int transparent = 0;
    int opaque = 0;
    QSet<QRgb> colours; // of the opaque pixels
};

PixelCount countPixels(const QImage& image)
{
    PixelCount count;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (qAlpha(pixel) == 0) {
                ++count.transparent;
            } else {
                ++count.opaque;
                count.colours.insert(pixel);
            }
        }
    return count;
}
// Outline and colours agree but for a few edge pixels.
void verifySamePicture(const QImage& expected, const QImage& actual)
{
    QCOMPARE(actual.size(), expected.size());
    int outlineMismatch = 0;
    double colourDistance = 0;
    int bothOpaque = 0;
    for (int y = 0; y < expected.height(); ++y)
        for (int x = 0; x < expected.width(); ++x) {
            const QRgb a = expected.pixel(x, y);
            const QRgb b = actual.pixel(x, y);
            if (std::abs(qAlpha(a) - qAlpha(b)) > 128) {
                ++outlineMismatch;
            } else if (qAlpha(a) >= 250 && qAlpha(b) >= 250) {
                ++bothOpaque;
                colourDistance +=
                    std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b));
            }
        }
    const int pixels = expected.width() * expected.height();
    QVERIFY2(outlineMismatch <= pixels / 50,
             qPrintable(QStringLiteral("%1 pixels differ in outline").arg(outlineMismatch)));
    QVERIFY(bothOpaque > pixels / 4);
    const double meanDistance = colourDistance / bothOpaque;
    QVERIFY2(meanDistance < 40, qPrintable(QStringLiteral("mean colour distance %1").arg(meanDistance)));
}
} // namespace

void TestPictures::icons_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QList<int>>("sizes");
    QTest::addColumn<int>("colours");
    for (const char* name : {"kavurio", "new", "del", "hozon", "print", "help", "end"})
        QTest::newRow(name) << QString::fromLatin1(name) + QStringLiteral(".ico") << qint64(1078) << QList<int>{32, 16}
                            << 16;
    QTest::newRow("pro") << QStringLiteral("pro.ico") << qint64(2238) << QList<int>{32} << 256;
}

void TestPictures::icons()
{
    QFETCH(QString, file);
    QFETCH(qint64, bytes);
    QFETCH(QList<int>, sizes);
    QFETCH(int, colours);
    QFile raw(picture(file));
    QVERIFY(raw.open(QIODevice::ReadOnly));
    QCOMPARE(raw.size(), bytes);
    const QByteArray data = raw.readAll();
    // ICONDIR: reserved 0, type 1, then the image count.
    QCOMPARE(data.left(4), QByteArray("\0\0\1\0", 4));
    QCOMPARE(int(uchar(data[4])), int(sizes.size()));
    for (int i = 0; i < sizes.size(); ++i) {
        const QByteArray entry = data.mid(6 + 16 * i, 16);
        QCOMPARE(int(uchar(entry[0])), sizes[i]);
        QCOMPARE(int(uchar(entry[2])), colours % 256);
        // The bit count of the image's own header: 4 for 16 colours, 8 for 256.
        const int offset = qFromLittleEndian<quint32>(entry.constData() + 12);
        QCOMPARE(int(qFromLittleEndian<quint16>(data.constData() + offset + 14)), colours == 16 ? 4 : 8);
    }
    QImageReader reader(picture(file));
    QCOMPARE(reader.imageCount(), int(sizes.size()));
    for (int i = 0; i < sizes.size(); ++i) {
        QVERIFY(reader.jumpToImage(i));
        const QImage image = reader.read();
        QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
        QCOMPARE(image.size(), QSize(sizes[i], sizes[i]));
        // Something is drawn, something is left transparent, and the palette bounds the colours.
        const PixelCount count = countPixels(image);
        QVERIFY(count.transparent > 0);
        QVERIFY(count.opaque > image.width() * image.height() / 4);
        QVERIFY(count.colours.size() <= colours);
        if (colours > 16)
            QVERIFY2(count.colours.size() > 16, "a 256-colour icon that could have been a 16-colour one");
    }
    // As the window and its buttons load them.
    const QIcon icon(picture(file));
    QList<QSize> expected;
    for (int size : sizes)
        expected << QSize(size, size);
    QCOMPARE(icon.availableSizes(), expected);
}

void TestPictures::logo()
{
    QFile raw(picture(QStringLiteral("logo.gif")));
    QVERIFY(raw.open(QIODevice::ReadOnly));
    QCOMPARE(raw.size(), qint64(4349));
    const QByteArray data = raw.readAll();
    QCOMPARE(data.left(6), QByteArray("GIF89a"));
    QCOMPARE(qFromLittleEndian<quint16>(data.constData() + 6), quint16(243));
    QCOMPARE(qFromLittleEndian<quint16>(data.constData() + 8), quint16(61));
    // A global table of 32 colours.
    QCOMPARE(uchar(data[10]) & 0x87, 0x84);
    // The graphic control extension marks colour 31 transparent.
    const qsizetype gce = data.indexOf(QByteArray("\x21\xF9\x04", 3));
    QVERIFY(gce > 0);
    QCOMPARE(uchar(data[gce + 3]) & 1, 1);
    QCOMPARE(int(uchar(data[gce + 6])), 31);
    QImageReader reader(picture(QStringLiteral("logo.gif")));
    QCOMPARE(reader.imageCount(), 1);
    const QImage image = reader.read();
    QCOMPARE(image.size(), QSize(243, 61));
    QCOMPARE(qAlpha(image.pixel(0, 0)), 0); // the rounded corner is colour 31
    QCOMPARE(qAlpha(image.pixel(242, 60)), 0);
    QCOMPARE(qAlpha(image.pixel(120, 30)), 255);
    // Only the corners are cut out; the lettering adds colours to the background's gradient.
    const PixelCount count = countPixels(image);
    QVERIFY(count.transparent < 400);
    QVERIFY(count.colours.size() > 16 && count.colours.size() <= 31);
}

void TestPictures::sharpVariants_data()
{
    QTest::addColumn<QString>("plain");
    QTest::addColumn<QString>("sharp");
    QTest::addColumn<QSize>("size");
    for (const char* name : {"kavurio", "new", "del", "hozon", "print", "help", "end", "pro"})
        QTest::newRow(name) << QString::fromLatin1(name) + QStringLiteral(".ico")
                            << QString::fromLatin1(name) + QStringLiteral("@2x.ico") << QSize(64, 64);
    QTest::newRow("logo") << QStringLiteral("logo.gif") << QStringLiteral("logo@2x.png") << QSize(486, 122);
    for (int size : {48, 64, 128, 256})
        QTest::newRow(qPrintable(QStringLiteral("menu icon %1").arg(size)))
            << QStringLiteral("kavurio-32.png") << QStringLiteral("kavurio-%1.png").arg(size) << QSize(size, size);
}

// A larger variant must show the same picture: brought down to the plain size, its
// outline and colours match the plain one's, but for its smoother edges.
void TestPictures::sharpVariants()
{
    QFETCH(QString, plain);
    QFETCH(QString, sharp);
    QFETCH(QSize, size);
    const QImage small = QImage(picture(plain)).convertToFormat(QImage::Format_ARGB32);
    QImageReader reader(picture(sharp));
    QCOMPARE(reader.imageCount() > 1 ? reader.imageCount() : 1, 1);
    const QImage large = reader.read().convertToFormat(QImage::Format_ARGB32);
    QVERIFY2(!large.isNull(), qPrintable(reader.errorString()));
    QCOMPARE(large.size(), size);

    verifySamePicture(small, large.scaled(small.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
}

void TestPictures::scalableIcon_data()
{
    QTest::addColumn<int>("size");
    for (int size : {32, 48, 256})
        QTest::newRow(qPrintable(QString::number(size))) << size;
}

// The menu's scalable icon is the same picture as the fixed sizes, drawn by Qt's own
// SVG renderer, as a Qt desktop's icon theme would.
void TestPictures::scalableIcon()
{
    QFETCH(int, size);
    QSvgRenderer svg(picture(QStringLiteral("kavurio.svg")));
    QVERIFY(svg.isValid());
    QCOMPARE(svg.viewBox(), QRect(0, 0, 32, 32));
    QImage drawn(size, size, QImage::Format_ARGB32);
    drawn.fill(Qt::transparent);
    QPainter painter(&drawn);
    svg.render(&painter);
    painter.end();
    const QImage fixed =
        QImage(picture(QStringLiteral("kavurio-%1.png").arg(size))).convertToFormat(QImage::Format_ARGB32);
    verifySamePicture(fixed, drawn);
}

void TestPictures::buttonsTakeTheSharpVariant_data()
{
    QTest::addColumn<QString>("file");
    for (const char* name : {"kavurio", "new", "del", "hozon", "print", "help", "end", "pro"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

// The window and the buttons load "name.ico"; on a screen scaled to 200 % (run again
// with QT_SCALE_FACTOR=2) Qt must find "name@2x.ico" beside it and draw from that.
void TestPictures::buttonsTakeTheSharpVariant()
{
    QFETCH(QString, file);
    const qreal ratio = qApp->devicePixelRatio();
    const QIcon icon(picture(file + QStringLiteral(".ico")));
    const QPixmap shown = icon.pixmap(QSize(32, 32), ratio);
    const QString expected = ratio >= 2 ? file + QStringLiteral("@2x.ico") : file + QStringLiteral(".ico");
    QImageReader reader(picture(expected)); // the first image is the 32 x 32 one, or the only one
    const QImage source = reader.read().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QCOMPARE(shown.size(), QSize(32, 32) * (ratio >= 2 ? 2 : 1));
    QCOMPARE(shown.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied), source);
}

void TestPictures::scriptReproducesTheFiles()
{
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (python.isEmpty())
        QSKIP("python3 is not installed");
    QTemporaryDir dir;
    QProcess script;
    script.start(python, {QStringLiteral(KAVURIO_PICTURE_SCRIPT), dir.path()});
    QVERIFY(script.waitForFinished(60000));
    QCOMPARE(script.exitCode(), 0);
    const QStringList files = QDir(dir.path()).entryList(QDir::Files);
    // Every kept picture comes from the script, and the script makes nothing else.
    QCOMPARE(files, QDir(QStringLiteral(KAVURIO_PICTURES)).entryList(QDir::Files));
    for (const QString& name : files) {
        QFile made(QDir(dir.path()).filePath(name));
        QFile kept(picture(name));
        QVERIFY(made.open(QIODevice::ReadOnly));
        QVERIFY2(kept.open(QIODevice::ReadOnly), qPrintable(name));
        QVERIFY2(made.readAll() == kept.readAll(), qPrintable(name));
    }
}

QTEST_MAIN(TestPictures)
#include "test_pictures.moc"
