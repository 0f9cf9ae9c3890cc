// A user's sessions with the real kavurio binary on a real X server. Every step
// goes through real clicks and keys; after each, the window is read back from a
// screenshot and the folder is compared byte for byte.
//
// Texts on the screen are checked by drawing the expected text with the fonts the
// window uses and finding it, pixel for pixel, in the screenshot.
#include "e2e/XSession.h"
#include "support/TestData.h"

#include <QDate>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QMap>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <sys/stat.h>

#include <memory>
#include <optional>

using namespace kav::test;

namespace {

// Client-area places of the controls, in pixels, besides those shared.
const QPoint EndButton(595, 43);
const QPoint NameArrow(500, 126);

const QRect NameText(13, 107, 475, 39);   // the selector's text, inside its frame and before its arrow
const QRect NameList(10, 148, 502, 304);  // where the selector's list opens
const QRect FirstText(552, 130, 45, 23);  // the start-volume box's text
const QRect CountInside(550, 99, 69, 24); // the count label within its border
const QRect PositionLabel(528, 426, 88, 16);
const QPoint FrameFace(25, 170);      // inside the frame, left of the labels
const QPoint WindowFace(625, 446);    // the window's own background
const QPoint BelowFirstBox(595, 260); // covered by the start-volume list when it is open

const QColor Green(0xC0, 0xFF, 0xC0);
const QColor Pink(0xFF, 0xC0, 0xFF);
const QColor Black(0, 0, 0);
const QColor Cyan(0xC0, 0xFF, 0xFF);
const QColor Yellow(0xFF, 0xFF, 0xC0);
const QColor White(0xFF, 0xFF, 0xFF);

const QByteArray Zeros = "0,0,0,0,0,0,0,0,0,0\r\n";
const QByteArray NoFlags = flagFile({}); // 105 bytes

QRect volumeInside(int i)
{
    return {volumeLabelAt(i) + QPoint(1, 1), QSize(49, 39)};
}

QFont fontOf(const QString& family, int pixels)
{
    QFont font(family);
    font.setPixelSize(pixels);
    font.setWeight(QFont::Normal);
    return font;
}

// The fonts the window names, as this system provides them.
QFont gothic(int pixels)
{
    return fontOf(QStringLiteral("IPAPGothic"), pixels);
}

// The position label's font: letters closed up by quarter pixels until the widest
// caption ("dddd / dddd" with the widest digit) fits the label's 88 pixels.
QFont positionFont()
{
    QFont font = gothic(16);
    auto widest = [](const QFont& f) {
        const QFontMetrics metrics(f);
        int most = 0;
        for (char16_t d = u'0'; d <= u'9'; ++d) {
            const QString four(4, QChar(d));
            most = std::max(most, metrics.horizontalAdvance(four + QStringLiteral(" / ") + four));
        }
        return most;
    };
    for (qreal spacing = -0.25; widest(font) > PositionLabel.width() && spacing >= -2.0; spacing -= 0.25)
        font.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
    return font;
}

QFont serif()
{
    return fontOf(QStringLiteral("Liberation Serif"), 27);
}

bool near(QRgb a, QRgb b)
{
    return qAbs(qRed(a) - qRed(b)) <= 40 && qAbs(qGreen(a) - qGreen(b)) <= 40 && qAbs(qBlue(a) - qBlue(b)) <= 40;
}

// A label's inside as the window draws it: background, then the centred caption.
QImage drawnLabel(QSize size, const QColor& background, const QFont& font, const QString& text, int flags)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(background);
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(QRect(QPoint(0, 0), size), flags, text);
    return image;
}

int differing(const QImage& shot, const QRect& area, const QImage& expected)
{
    int count = 0;
    for (int y = 0; y < area.height(); ++y)
        for (int x = 0; x < area.width(); ++x)
            count += !near(shot.pixel(area.x() + x, area.y() + y), expected.pixel(x, y));
    return count;
}

// The pixels of a text drawn on a background, cut to where the text has ink.
struct Ink
{
    QSize size;
    QList<std::pair<QPoint, QRgb>> pixels; // ink first, so a wrong place fails fast
};

Ink inkOf(const QFont& font, const QString& text, const QColor& pen, const QColor& background)
{
    const QFontMetrics metrics(font);
    QImage image(metrics.horizontalAdvance(text) + 20, metrics.height() + 10, QImage::Format_RGB32);
    image.fill(background);
    {
        QPainter painter(&image);
        painter.setFont(font);
        painter.setPen(pen);
        painter.drawText(10, 5 + metrics.ascent(), text);
    }
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != background.rgb())
                box |= QRect(x, y, 1, 1);
    Ink ink;
    ink.size = box.size();
    QList<std::pair<QPoint, QRgb>> plain;
    for (int y = box.top(); y <= box.bottom(); ++y) {
        for (int x = box.left(); x <= box.right(); ++x) {
            const std::pair<QPoint, QRgb> p{QPoint(x, y) - box.topLeft(), image.pixel(x, y)};
            (p.second == background.rgb() ? plain : ink.pixels).append(p);
        }
    }
    ink.pixels += plain;
    return ink;
}

std::optional<QRect> findInk(const QImage& shot, const QRect& area, const Ink& ink)
{
    if (ink.size.isEmpty())
        return std::nullopt;
    const qsizetype budget = std::max<qsizetype>(2, ink.pixels.size() / 100);
    for (int y = area.top(); y + ink.size.height() <= area.bottom() + 1; ++y) {
        for (int x = area.left(); x + ink.size.width() <= area.right() + 1; ++x) {
            qsizetype wrong = 0;
            for (const auto& [at, rgb] : ink.pixels) {
                if (!near(shot.pixel(x + at.x(), y + at.y()), rgb) && ++wrong > budget)
                    break;
            }
            if (wrong <= budget)
                return QRect(QPoint(x, y), ink.size);
        }
    }
    return std::nullopt;
}

// An edit field shows exactly this text: the text is found, and everything else
// in the field is background, but for one column (the text cursor).
QString fieldShows(const QImage& shot, const QRect& area, const QFont& font, const QString& text,
                   const QColor& background)
{
    QRect found;
    if (!text.isEmpty()) {
        const std::optional<QRect> at = findInk(shot, area, inkOf(font, text, Qt::black, background));
        if (!at)
            return QStringLiteral("\"%1\" not found").arg(text);
        found = *at;
    }
    QList<int> columns;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (!found.contains(x, y) && !near(shot.pixel(x, y), background.rgb()) && !columns.contains(x))
                columns.append(x);
    if (columns.size() > 1)
        return QStringLiteral("more than \"%1\" shown (ink in %2 columns beside it)").arg(text).arg(columns.size());
    return {};
}

// What the window should show; a volume without a colour is hidden.
struct Volume
{
    QColor colour;
    QString caption;
};

struct Screen
{
    QString name;
    QString count;
    QString first;
    QString position;
    QList<Volume> volumes; // 50
    bool hint = false;     // an empty folder's line across the middle row
};

Screen titleScreen(const QString& name, int shown, int first, const QString& count, const QString& position,
                   const QList<int>& pink = {}, const QList<int>& black = {})
{
    Screen s{name, count, QString::number(first), position, {}, name.isEmpty() && shown == 0};
    for (int i = 1; i <= 50; ++i) {
        if (i > shown)
            s.volumes.append(Volume{});
        else
            s.volumes.append({pink.contains(i)    ? Pink
                              : black.contains(i) ? Black
                                                  : Green,
                              QString::number(first + i - 1)});
    }
    return s;
}

QString colourName(const QColor& c)
{
    if (c == Green)
        return QStringLiteral("green");
    if (c == Pink)
        return QStringLiteral("pink");
    return c.name();
}

QStringList differences(const QImage& shot, const Screen& s)
{
    if (shot.size() != QSize(631, 452))
        return {QStringLiteral("window image is %1 x %2").arg(shot.width()).arg(shot.height())};
    QStringList out;
    const QColor frameFace = shot.pixelColor(FrameFace);
    for (int i = 1; i <= 50; ++i) {
        const Volume& v = s.volumes[i - 1];
        const QRect r = volumeInside(i);
        const QString seen = colourName(shot.pixelColor(r.topLeft() + QPoint(1, 1)));
        if (!v.colour.isValid()) {
            if (s.hint && i > 20 && i <= 30)
                continue;
            if (differing(shot, r, drawnLabel(r.size(), frameFace, serif(), {}, 0)) > 0)
                out << QStringLiteral("label %1 shown (%2), should be hidden").arg(i).arg(seen);
        } else if (differing(shot, r, drawnLabel(r.size(), v.colour, serif(), v.caption, Qt::AlignCenter)) > 8) {
            out << QStringLiteral("label %1 should be %2 \"%3\" (is %4)")
                       .arg(i)
                       .arg(colourName(v.colour), v.caption, seen);
        }
    }
    if (s.hint &&
        differing(shot, volumeInside(21).united(volumeInside(30)),
                  drawnLabel(volumeInside(21).united(volumeInside(30)).size(), frameFace, serif(), {}, 0)) < 50)
        out << QStringLiteral("no hint in the empty frame");
    if (differing(shot, CountInside, drawnLabel(CountInside.size(), Cyan, gothic(21), s.count, Qt::AlignCenter)) > 4)
        out << QStringLiteral("count label should read \"%1\"").arg(s.count);
    if (differing(shot, PositionLabel,
                  drawnLabel(PositionLabel.size(), shot.pixelColor(WindowFace), positionFont(), s.position,
                             Qt::AlignLeft | Qt::AlignVCenter)) > 4)
        out << QStringLiteral("position label should read \"%1\"").arg(s.position);
    if (const QString why = fieldShows(shot, FirstText, gothic(19), s.first, Yellow); !why.isEmpty())
        out << QStringLiteral("start-volume box: ") + why;
    if (const QString why = fieldShows(shot, NameText, gothic(35), s.name, White); !why.isEmpty())
        out << QStringLiteral("title selector: ") + why;
    return out;
}

using Files = QMap<QString, QByteArray>;

QString printable(const QByteArray& bytes)
{
    QString out;
    for (const char ch : bytes) {
        const uchar u = static_cast<uchar>(ch);
        if (u == '\r')
            out += QStringLiteral("\\r");
        else if (u == '\n')
            out += QStringLiteral("\\n");
        else if (u >= 0x20 && u < 0x7F)
            out += QLatin1Char(char(u));
        else
            out += QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
    }
    return out;
}

Files readFolder(const QString& path)
{
    Files files;
    const QDir dir(path);
    for (const QString& name : dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        QFile file(dir.filePath(name));
        files.insert(name, file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArrayLiteral("<unreadable>"));
    }
    return files;
}

QString folderDifference(const Files& actual, const Files& expected)
{
    QStringList out;
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        if (!actual.contains(it.key()))
            out << QStringLiteral("%1 missing").arg(it.key());
        else if (actual[it.key()] != it.value())
            out << QStringLiteral("%1 holds \"%2\", expected \"%3\"")
                       .arg(it.key(), printable(actual[it.key()]), printable(it.value()));
    }
    for (auto it = actual.cbegin(); it != actual.cend(); ++it) {
        if (!expected.contains(it.key()))
            out << QStringLiteral("unexpected file %1 (\"%2\")").arg(it.key(), printable(it.value()));
    }
    return out.join(QStringLiteral("; "));
}

// Inode and modification time: a rewrite with the same bytes still changes them.
using Stamps = QMap<QString, std::pair<quint64, qint64>>;

Stamps stampsOf(const QString& path)
{
    Stamps stamps;
    const QDir dir(path);
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        struct stat st
        {
        };
        if (::stat(QFile::encodeName(dir.filePath(name)).constData(), &st) == 0)
            stamps.insert(name, {quint64(st.st_ino), qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec});
    }
    return stamps;
}

QStringList rewritten(const Stamps& before, const Stamps& after, const QString& except = {})
{
    QStringList names;
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        if (it.key() != except && after.value(it.key()) != it.value())
            names << it.key();
    }
    return names;
}

// The heading of a report written on day d, in code page 932.
QByteArray reportHeading(const QDate& d)
{
    return "\"" + QByteArray::number(d.year()) + "\x94\x4e" + d.toString(u"MM").toLatin1() + "\x8c\x8e" +
           d.toString(u"dd").toLatin1() +
           "\x93\xfa\x8c\xbb\x8d\xdd\x82\xcc\x96\xa2\x8e\xfb\x8f\x57\x8f\xf3\x8b\xb5\"\r\n";
}

} // namespace

class TestX11Scenario : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();

    // One session on an empty folder, step by step.
    void startsOnAnEmptyFolder();
    void registeringA120VolumeSeriesSplitsItInThree();
    void clickingVolumesMarksThem();
    void clickingAMarkedVolumeAgainUnmarksIt();
    void theCountBoxShowsThatManyLabels();
    void pickingAStartVolumeRenumbersTheLabels();
    void theScrollBarArrowShowsTheNextPiece();
    void theSelectorListPicksATitle();
    void deletingAPieceShowsTheOneAfterIt();
    void theReportListsIndexesOfMarkedVolumes();
    void theEndButtonEndsTheProgram();

    // Japanese titles typed through the X keyboard.
    void aTypedJapaneseTitleIsStoredInCodePage932();

    // Files written by another program.
    void foreignTitleShowsAsWritten_data();
    void foreignTitleShowsAsWritten();
    void theSelectorListsForeignTitlesInFileOrder();
    void aClickRewritesOnlyThatTitlesFlagFile();
    void aClickOnATitleWithoutFlagFileCreatesIt();

private:
    bool launchIn(const QString& folder);
    QString folder() const { return m_dir->path(); }
    void clickOn(QPoint at);
    QString answer(const QString& caption, const QString& text, const QString& keys);
    QString backAtTheWindow();
    QStringList waitForScreen(const Screen& expected, int ms = 8000);
    QString waitForFolder(const Files& expected, int ms = 5000);
    QString waitForColour(QPoint at, const QColor& colour, int ms = 5000);
    QString openTitleList(const QStringList& names, QList<QRect>* rows, int ms = 5000);
    QString writeCp932(const QString& name, const QString& text);

    XSession m_x;
    std::unique_ptr<QTemporaryDir> m_dir;
    Files m_files;         // what the folder holds after the last step
    Screen m_screen;       // what the window shows after the last step
    bool m_broken = false; // a step failed: the later steps of its session cannot run
};

#define REQUIRE_SESSION()                                                                                              \
    do {                                                                                                               \
        if (m_broken)                                                                                                  \
            QSKIP("an earlier step of this session failed");                                                           \
    } while (false)

#define CHECK_SCREEN(expected)                                                                                         \
    do {                                                                                                               \
        const QStringList problems = waitForScreen(expected);                                                          \
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QStringLiteral("; "))));                                 \
        m_screen = (expected);                                                                                         \
    } while (false)

#define CHECK_FOLDER(expected)                                                                                         \
    do {                                                                                                               \
        const QString problem = waitForFolder(expected);                                                               \
        QVERIFY2(problem.isEmpty(), qPrintable(problem));                                                              \
        m_files = (expected);                                                                                          \
    } while (false)

#define CHECK_EMPTY(text)                                                                                              \
    do {                                                                                                               \
        const QString problem = (text);                                                                                \
        QVERIFY2(problem.isEmpty(), qPrintable(problem));                                                              \
    } while (false)

void TestX11Scenario::initTestCase()
{
    for (const QString& family : {QStringLiteral("IPAPGothic"), QStringLiteral("Liberation Serif")}) {
        if (QFontInfo(fontOf(family, 20)).family() != family)
            QSKIP(qPrintable(QStringLiteral("font %1 is not installed; the screen cannot be read").arg(family)));
    }
    const QString why = m_x.start();
    if (!why.isEmpty())
        QSKIP(qPrintable(why));
}

void TestX11Scenario::cleanup()
{
    if (!QTest::currentTestFailed())
        return;
    m_broken = true;
    const QString dir = qEnvironmentVariableIsEmpty("KAVURIO_SHOT_DIR") ? QDir::currentPath()
                                                                        : qEnvironmentVariable("KAVURIO_SHOT_DIR");
    QString name = QString::fromLatin1(QTest::currentTestFunction());
    if (const char* tag = QTest::currentDataTag())
        name += QLatin1Char('-') + QString::fromUtf8(tag).replace(QLatin1Char(' '), QLatin1Char('_'));
    const QString file = QDir(dir).filePath(name + QStringLiteral("-failed.png"));
    if (m_x.screenshot().save(file))
        qWarning("screen at the failure saved to %s", qPrintable(file));
}

bool TestX11Scenario::launchIn(const QString& path)
{
    return m_x.launch(QStringLiteral(KAVURIO_BINARY), path);
}

void TestX11Scenario::clickOn(QPoint at)
{
    m_x.click(at);
    m_x.moveMouse(Logo);
}

// Waits for the box with this caption, types text into it and presses keys.
QString TestX11Scenario::answer(const QString& caption, const QString& text, const QString& keys)
{
    if (!m_x.waitForDialog(caption))
        return QStringLiteral("no box \"%1\" appeared (active: \"%2\")").arg(caption, m_x.activeWindowName());
    if (!text.isEmpty())
        m_x.type(text);
    m_x.key(keys);
    return {};
}

QString TestX11Scenario::backAtTheWindow()
{
    if (!m_x.waitForMainWindowActive())
        return QStringLiteral("the window is not active again (active: \"%1\")").arg(m_x.activeWindowName());
    return {};
}

QStringList TestX11Scenario::waitForScreen(const Screen& expected, int ms)
{
    const QDeadlineTimer deadline(ms);
    QStringList problems;
    do {
        problems = differences(m_x.windowImage(), expected);
        if (problems.isEmpty())
            return {};
        QThread::msleep(100);
    } while (!deadline.hasExpired());
    return problems;
}

QString TestX11Scenario::waitForFolder(const Files& expected, int ms)
{
    const QDeadlineTimer deadline(ms);
    QString problem;
    do {
        problem = folderDifference(readFolder(folder()), expected);
        if (problem.isEmpty())
            return {};
        QThread::msleep(100);
    } while (!deadline.hasExpired());
    return problem;
}

QString TestX11Scenario::waitForColour(QPoint at, const QColor& colour, int ms)
{
    const QDeadlineTimer deadline(ms);
    QColor seen;
    do {
        seen = m_x.windowImage().pixelColor(at);
        if (seen == colour)
            return {};
        QThread::msleep(100);
    } while (!deadline.hasExpired());
    return QStringLiteral("(%1, %2) is %3, not %4").arg(at.x()).arg(at.y()).arg(seen.name(), colour.name());
}

// Opens the selector's list and finds the names in it, top to bottom; the item of
// the title shown is drawn highlighted.
QString TestX11Scenario::openTitleList(const QStringList& names, QList<QRect>* rows, int ms)
{
    clickOn(NameArrow);
    const QDeadlineTimer deadline(ms);
    QString problem;
    do {
        const QImage shot = m_x.windowImage();
        QColor highlight;
        for (int y = NameList.top(); y <= NameList.bottom() && !highlight.isValid(); ++y) {
            const QColor c = shot.pixelColor(NameList.left() + 4, y);
            if (c.blue() > c.red() + 60)
                highlight = c;
        }
        rows->clear();
        problem.clear();
        for (const QString& name : names) {
            std::optional<QRect> at = findInk(shot, NameList, inkOf(gothic(35), name, Qt::black, White));
            if (!at && highlight.isValid())
                at = findInk(shot, NameList, inkOf(gothic(35), name, Qt::white, highlight));
            if (!at) {
                problem = QStringLiteral("\"%1\" not in the list").arg(name);
                break;
            }
            if (!rows->isEmpty() && at->top() <= rows->last().top()) {
                problem = QStringLiteral("\"%1\" is not below the item before it").arg(name);
                break;
            }
            rows->append(*at);
        }
        if (problem.isEmpty())
            return {};
        QThread::msleep(100);
    } while (!deadline.hasExpired());
    return problem;
}

// Writes text as another program would: UTF-8 through iconv into code page 932.
QString TestX11Scenario::writeCp932(const QString& name, const QString& text)
{
    QProcess iconv;
    iconv.setStandardOutputFile(QDir(folder()).filePath(name));
    iconv.start(QStringLiteral("iconv"),
                {QStringLiteral("-f"), QStringLiteral("UTF-8"), QStringLiteral("-t"), QStringLiteral("CP932")});
    if (!iconv.waitForStarted(5000))
        return QStringLiteral("iconv did not start");
    iconv.write(text.toUtf8());
    iconv.closeWriteChannel();
    if (!iconv.waitForFinished(10000) || iconv.exitStatus() != QProcess::NormalExit || iconv.exitCode() != 0)
        return QStringLiteral("iconv failed on %1").arg(name);
    return {};
}

// ---- One session on an empty folder ----------------------------------------

void TestX11Scenario::startsOnAnEmptyFolder()
{
    m_broken = false;
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QVERIFY2(launchIn(folder()), "the window did not appear");

    CHECK_SCREEN(titleScreen({}, 0, 1, QStringLiteral("0巻"), QStringLiteral("1 / 0")));
    CHECK_FOLDER((Files{{QStringLiteral("データ.TXT"), {}}}));
    // Centred on the 1280 x 1024 screen, give or take the frame the window manager adds.
    const QRect geometry = m_x.windowGeometry();
    QVERIFY2(qAbs(geometry.center().x() - 640) <= 20, qPrintable(QString::number(geometry.x())));
    QVERIFY2(qAbs(geometry.center().y() - 512) <= 40, qPrintable(QString::number(geometry.y())));
}

void TestX11Scenario::registeringA120VolumeSeriesSplitsItInThree()
{
    REQUIRE_SESSION();
    m_x.key(QStringLiteral("ctrl+n")); // the button is clicked in the next session
    CHECK_EMPTY(answer(QStringLiteral("題名入力"), QStringLiteral("Kagami"), QStringLiteral("Return")));
    // As an input method types it: full-width digits.
    CHECK_EMPTY(answer(QStringLiteral("巻数入力"), QStringLiteral("１２０"), QStringLiteral("Return")));
    CHECK_EMPTY(answer(QStringLiteral("１データ５０件制限"), {}, QStringLiteral("Return")));
    CHECK_EMPTY(backAtTheWindow());

    // The first piece is shown; the position label still tells the earlier position.
    CHECK_SCREEN(titleScreen(QStringLiteral("Kagami(1_50)"), 50, 1, QStringLiteral("50巻"), QStringLiteral("1 / 0")));
    CHECK_FOLDER((Files{
        {QStringLiteral("データ.TXT"),
         "\"Kagami(1_50)\",50,0\r\n\"Kagami(51_100)\",50,50\r\n\"Kagami(101_120)\",20,100\r\n"},
        {QStringLiteral("Kagami(1_50).TXT"), NoFlags},
        {QStringLiteral("Kagami(51_100).TXT"), NoFlags},
        {QStringLiteral("Kagami(101_120).TXT"), NoFlags},
    }));
    QCOMPARE(NoFlags.size(), 105);
}

void TestX11Scenario::clickingVolumesMarksThem()
{
    REQUIRE_SESSION();
    clickOn(volumeInside(1).center());
    CHECK_SCREEN(
        titleScreen(QStringLiteral("Kagami(1_50)"), 50, 1, QStringLiteral("50巻"), QStringLiteral("1 / 0"), {1}));
    Files files = m_files;
    files[QStringLiteral("Kagami(1_50).TXT")] = "1,0,0,0,0,0,0,0,0,0\r\n" + Zeros + Zeros + Zeros + Zeros;
    CHECK_FOLDER(files);

    clickOn(volumeInside(12).center());
    CHECK_SCREEN(
        titleScreen(QStringLiteral("Kagami(1_50)"), 50, 1, QStringLiteral("50巻"), QStringLiteral("1 / 0"), {1, 12}));
    files[QStringLiteral("Kagami(1_50).TXT")] =
        "1,0,0,0,0,0,0,0,0,0\r\n0,1,0,0,0,0,0,0,0,0\r\n" + Zeros + Zeros + Zeros;
    CHECK_FOLDER(files);
}

void TestX11Scenario::clickingAMarkedVolumeAgainUnmarksIt()
{
    REQUIRE_SESSION();
    clickOn(volumeInside(1).center());
    CHECK_SCREEN(
        titleScreen(QStringLiteral("Kagami(1_50)"), 50, 1, QStringLiteral("50巻"), QStringLiteral("1 / 0"), {12}));
    Files files = m_files;
    files[QStringLiteral("Kagami(1_50).TXT")] = Zeros + "0,1,0,0,0,0,0,0,0,0\r\n" + Zeros + Zeros + Zeros;
    CHECK_FOLDER(files);
}

void TestX11Scenario::theCountBoxShowsThatManyLabels()
{
    REQUIRE_SESSION();
    clickOn(CountLabel);
    CHECK_EMPTY(answer(QStringLiteral("巻数に入力"), QStringLiteral("20"), QStringLiteral("Return")));
    CHECK_EMPTY(backAtTheWindow());

    // The label takes the entry as typed; the flags beyond 20 stay in the file.
    CHECK_SCREEN(
        titleScreen(QStringLiteral("Kagami(1_50)"), 20, 1, QStringLiteral("20"), QStringLiteral("1 / 0"), {12}));
    Files files = m_files;
    files[QStringLiteral("データ.TXT")] =
        "\"Kagami(1_50)\",20,0\r\n\"Kagami(51_100)\",50,50\r\n\"Kagami(101_120)\",20,100\r\n";
    CHECK_FOLDER(files);
}

void TestX11Scenario::pickingAStartVolumeRenumbersTheLabels()
{
    REQUIRE_SESSION();
    clickOn(FirstArrow);
    CHECK_EMPTY(waitForColour(BelowFirstBox, Yellow));
    m_x.key(QStringLiteral("Home"));
    m_x.key(QStringLiteral("Down"));
    m_x.key(QStringLiteral("Return"));

    CHECK_SCREEN(
        titleScreen(QStringLiteral("Kagami(1_50)"), 20, 51, QStringLiteral("20"), QStringLiteral("1 / 0"), {12}));
    Files files = m_files;
    files[QStringLiteral("データ.TXT")] =
        "\"Kagami(1_50)\",20,50\r\n\"Kagami(51_100)\",50,50\r\n\"Kagami(101_120)\",20,100\r\n";
    CHECK_FOLDER(files);
}

void TestX11Scenario::theScrollBarArrowShowsTheNextPiece()
{
    REQUIRE_SESSION();
    const Stamps before = stampsOf(folder());
    clickOn(ScrollRight);
    CHECK_SCREEN(
        titleScreen(QStringLiteral("Kagami(51_100)"), 50, 51, QStringLiteral("50巻"), QStringLiteral("2 / 3")));
    CHECK_FOLDER(m_files);
    QCOMPARE(rewritten(before, stampsOf(folder())), QStringList());
}

void TestX11Scenario::theSelectorListPicksATitle()
{
    REQUIRE_SESSION();
    const Stamps before = stampsOf(folder());
    const QStringList names = {QStringLiteral("Kagami(1_50)"), QStringLiteral("Kagami(51_100)"),
                               QStringLiteral("Kagami(101_120)")};
    QList<QRect> rows;

    // By the keyboard: the third item.
    CHECK_EMPTY(openTitleList(names, &rows));
    m_x.key(QStringLiteral("Home"));
    m_x.key(QStringLiteral("Down"));
    m_x.key(QStringLiteral("Down"));
    m_x.key(QStringLiteral("Return"));
    CHECK_SCREEN(
        titleScreen(QStringLiteral("Kagami(101_120)"), 20, 101, QStringLiteral("20巻"), QStringLiteral("3 / 3")));

    // By a click on the first item: its count now carries the unit again.
    CHECK_EMPTY(openTitleList(names, &rows));
    clickOn(rows.first().center());
    CHECK_SCREEN(
        titleScreen(QStringLiteral("Kagami(1_50)"), 20, 51, QStringLiteral("20巻"), QStringLiteral("1 / 3"), {12}));

    CHECK_FOLDER(m_files);
    QCOMPARE(rewritten(before, stampsOf(folder())), QStringList());
}

void TestX11Scenario::deletingAPieceShowsTheOneAfterIt()
{
    REQUIRE_SESSION();
    clickOn(ScrollRight);
    CHECK_SCREEN(
        titleScreen(QStringLiteral("Kagami(51_100)"), 50, 51, QStringLiteral("50巻"), QStringLiteral("2 / 3")));

    clickOn(DelButton);
    CHECK_EMPTY(answer(QStringLiteral("削除確認"), {}, QStringLiteral("Return")));
    CHECK_EMPTY(backAtTheWindow());

    CHECK_SCREEN(
        titleScreen(QStringLiteral("Kagami(101_120)"), 20, 101, QStringLiteral("20巻"), QStringLiteral("2 / 2")));
    Files files = m_files;
    files.remove(QStringLiteral("Kagami(51_100).TXT"));
    files[QStringLiteral("データ.TXT")] = "\"Kagami(1_50)\",20,50\r\n\"Kagami(101_120)\",20,100\r\n";
    CHECK_FOLDER(files);
}

void TestX11Scenario::theReportListsIndexesOfMarkedVolumes()
{
    REQUIRE_SESSION();
    // Volume 120 is index 20 of its piece; the report names the index.
    clickOn(volumeInside(20).center());
    const Screen marked =
        titleScreen(QStringLiteral("Kagami(101_120)"), 20, 101, QStringLiteral("20巻"), QStringLiteral("2 / 2"), {20});
    CHECK_SCREEN(marked);
    Files files = m_files;
    files[QStringLiteral("Kagami(101_120).TXT")] = Zeros + "0,0,0,0,0,0,0,0,0,1\r\n" + Zeros + Zeros + Zeros;
    CHECK_FOLDER(files);

    const QDate before = QDate::currentDate();
    clickOn(ReportButton);
    // Escape answers No: no printing, the report is written all the same.
    CHECK_EMPTY(answer(QStringLiteral("残巻データ出力"), {}, QStringLiteral("Escape")));
    CHECK_EMPTY(answer(QStringLiteral("保存終了"), {}, QStringLiteral("Return")));
    CHECK_EMPTY(backAtTheWindow());
    const QDate after = QDate::currentDate();

    const QByteArray body = "\"\"\r\n\"Kagami(1_50)\",\"12\"\r\n\"Kagami(101_120)\",\"20\"\r\n";
    files[QStringLiteral("残巻データ.txt")] = reportHeading(before) + body;
    if (before != after && !folderDifference(readFolder(folder()), files).isEmpty())
        files[QStringLiteral("残巻データ.txt")] = reportHeading(after) + body; // written across midnight
    CHECK_FOLDER(files);
    CHECK_SCREEN(marked);
}

void TestX11Scenario::theEndButtonEndsTheProgram()
{
    REQUIRE_SESSION();
    clickOn(EndButton);
    QVERIFY2(m_x.waitForExit(10000), "the program is still running");
    CHECK_FOLDER(m_files);
}

// ---- Japanese titles ---------------------------------------------------------

void TestX11Scenario::aTypedJapaneseTitleIsStoredInCodePage932()
{
    const QString title = QStringLiteral("かがみ漫画");
    const QByteArray record("\"\x82\xa9\x82\xaa\x82\xdd\x96\x9f\x89\xe6\",12,0\r\n");
    m_broken = false;
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QVERIFY2(launchIn(folder()), "the window did not appear");
    CHECK_SCREEN(titleScreen({}, 0, 1, QStringLiteral("0巻"), QStringLiteral("1 / 0")));

    clickOn(NewButton);
    CHECK_EMPTY(answer(QStringLiteral("題名入力"), title, QStringLiteral("Return")));
    CHECK_EMPTY(answer(QStringLiteral("巻数入力"), QStringLiteral("12"), QStringLiteral("Return")));
    CHECK_EMPTY(backAtTheWindow());

    CHECK_SCREEN(titleScreen(title, 12, 1, QStringLiteral("12巻"), QStringLiteral("1 / 0")));
    CHECK_FOLDER((Files{{QStringLiteral("データ.TXT"), record}, {title + QStringLiteral(".TXT"), NoFlags}}));
    m_x.stopProgram();
}

// ---- Files written by another program ----------------------------------------

void TestX11Scenario::foreignTitleShowsAsWritten_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("shown");
    QTest::addColumn<int>("first");
    QTest::addColumn<QString>("count");
    QTest::addColumn<QList<int>>("pink");
    QTest::addColumn<QList<int>>("black");

    QTest::newRow("1 twelve volumes, a flag 2 shows black")
        << 1 << QStringLiteral("竜の国") << 12 << 1 << QStringLiteral("12巻") << QList<int>{2, 5, 11} << QList<int>{7};
    QTest::newRow("2 first piece of a split series")
        << 2 << QStringLiteral("Foo(1_50)") << 50 << 1 << QStringLiteral("50巻") << QList<int>{1, 50} << QList<int>{};
    // Flag 15 is set in the file but lies beyond the ten volumes.
    QTest::newRow("3 second piece, ten volumes from 51")
        << 3 << QStringLiteral("Foo(51_60)") << 10 << 51 << QStringLiteral("10巻") << QList<int>{3} << QList<int>{};
    // The fourth (flags on one line, a -1) and the fifth (no flag file) are shown by the steps below.
}

void TestX11Scenario::foreignTitleShowsAsWritten()
{
    QFETCH(int, position);
    QFETCH(QString, name);
    QFETCH(int, shown);
    QFETCH(int, first);
    QFETCH(QString, count);
    QFETCH(QList<int>, pink);
    QFETCH(QList<int>, black);

    Stamps before;
    if (position == 1) {
        m_broken = false;
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        const QString crlf = QStringLiteral("\r\n");
        const QString zeros = QStringLiteral("0,0,0,0,0,0,0,0,0,0") + crlf;
        CHECK_EMPTY(writeCp932(QStringLiteral("データ.txt"), QStringLiteral("\"竜の国\",12,0\r\n"
                                                                            "\"Foo(1_50)\",50,0\r\n"
                                                                            "\"Foo(51_60)\",10,50\r\n"
                                                                            "\"ねこ日和\",50,0\r\n"
                                                                            "\"月の森\",30,0\r\n")));
        CHECK_EMPTY(
            writeCp932(QStringLiteral("竜の国.txt"),
                       QStringLiteral("0,1,0,0,1,0,2,0,0,0\r\n1,0,0,0,0,0,0,0,0,0\r\n") + zeros + zeros + zeros));
        CHECK_EMPTY(writeCp932(QStringLiteral("Foo(1_50).TXT"), QStringLiteral("1,0,0,0,0,0,0,0,0,0\r\n") + zeros +
                                                                    zeros + zeros +
                                                                    QStringLiteral("0,0,0,0,0,0,0,0,0,1\r\n")));
        CHECK_EMPTY(
            writeCp932(QStringLiteral("Foo(51_60).TXT"),
                       QStringLiteral("0,0,1,0,0,0,0,0,0,0\r\n0,0,0,0,1,0,0,0,0,0\r\n") + zeros + zeros + zeros));
        CHECK_EMPTY(writeCp932(QStringLiteral("ねこ日和.TXT"), QStringLiteral("1,1,1,0,0,0,0,0,0,0,"
                                                                              "0,0,0,0,0,0,0,0,0,0,"
                                                                              "0,0,0,0,0,0,0,0,0,-1,"
                                                                              "0,0,0,0,0,0,0,0,0,0,"
                                                                              "0,0,0,0,0,0,0,0,1,0\r\n")));
        m_files = readFolder(folder());
        // iconv wrote the code page 932 bytes we mean.
        QCOMPARE(m_files[QStringLiteral("データ.txt")].left(40),
                 QByteArray("\"\x97\xb3\x82\xcc\x8d\x91\",12,0\r\n\"Foo(1_50)\",50,0\r\n\"Foo(51"));
        QVERIFY(m_files[QStringLiteral("データ.txt")].endsWith("\"\x8c\x8e\x82\xcc\x90\x58\",30,0\r\n"));
        QCOMPARE(m_files.size(), 5);
        before = stampsOf(folder());
        QVERIFY2(launchIn(folder()), "the window did not appear");
    } else {
        REQUIRE_SESSION();
        before = stampsOf(folder());
        clickOn(ScrollRight);
    }
    CHECK_SCREEN(titleScreen(name, shown, first, count, QStringLiteral("%1 / 5").arg(position), pink, black));
    CHECK_FOLDER(m_files);
    QCOMPARE(rewritten(before, stampsOf(folder())), QStringList());
}

void TestX11Scenario::theSelectorListsForeignTitlesInFileOrder()
{
    REQUIRE_SESSION();
    const Stamps before = stampsOf(folder());
    const QStringList names = {QStringLiteral("竜の国"), QStringLiteral("Foo(1_50)"), QStringLiteral("Foo(51_60)"),
                               QStringLiteral("ねこ日和"), QStringLiteral("月の森")};
    QList<QRect> rows;
    CHECK_EMPTY(openTitleList(names, &rows));
    clickOn(rows.first().center());
    CHECK_SCREEN(titleScreen(names[0], 12, 1, QStringLiteral("12巻"), QStringLiteral("1 / 5"), {2, 5, 11}, {7}));

    CHECK_EMPTY(openTitleList(names, &rows));
    m_x.key(QStringLiteral("Home"));
    for (int i = 0; i < 3; ++i)
        m_x.key(QStringLiteral("Down"));
    m_x.key(QStringLiteral("Return"));
    CHECK_SCREEN(titleScreen(names[3], 50, 1, QStringLiteral("50巻"), QStringLiteral("4 / 5"), {1, 2, 3, 49}, {30}));

    CHECK_FOLDER(m_files);
    QCOMPARE(rewritten(before, stampsOf(folder())), QStringList());
}

void TestX11Scenario::aClickRewritesOnlyThatTitlesFlagFile()
{
    REQUIRE_SESSION();
    const Stamps before = stampsOf(folder());
    clickOn(volumeInside(10).center());
    CHECK_SCREEN(titleScreen(QStringLiteral("ねこ日和"), 50, 1, QStringLiteral("50巻"), QStringLiteral("4 / 5"),
                             {1, 2, 3, 10, 49}, {30}));

    // The one-line file comes back as five lines of ten, its -1 kept.
    Files files = m_files;
    files[QStringLiteral("ねこ日和.TXT")] =
        "1,1,1,0,0,0,0,0,0,1\r\n" + Zeros + "0,0,0,0,0,0,0,0,0,-1\r\n" + Zeros + "0,0,0,0,0,0,0,0,1,0\r\n";
    CHECK_FOLDER(files);
    QCOMPARE(rewritten(before, stampsOf(folder()), QStringLiteral("ねこ日和.TXT")), QStringList());
}

void TestX11Scenario::aClickOnATitleWithoutFlagFileCreatesIt()
{
    REQUIRE_SESSION();
    Stamps before = stampsOf(folder());
    clickOn(ScrollRight);
    CHECK_SCREEN(titleScreen(QStringLiteral("月の森"), 30, 1, QStringLiteral("30巻"), QStringLiteral("5 / 5")));
    CHECK_FOLDER(m_files);
    QCOMPARE(rewritten(before, stampsOf(folder())), QStringList());

    before = stampsOf(folder());
    clickOn(volumeInside(30).center());
    CHECK_SCREEN(titleScreen(QStringLiteral("月の森"), 30, 1, QStringLiteral("30巻"), QStringLiteral("5 / 5"), {30}));
    Files files = m_files;
    files[QStringLiteral("月の森.txt")] = Zeros + Zeros + "0,0,0,0,0,0,0,0,0,1\r\n" + Zeros + Zeros;
    CHECK_FOLDER(files);
    QCOMPARE(rewritten(before, stampsOf(folder())), QStringList());
    m_x.stopProgram();
}

int main(int argc, char* argv[])
{
    // This process only draws reference texts; the program under test gets the X server.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    TestX11Scenario test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_x11_scenario.moc"
