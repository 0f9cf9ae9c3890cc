// The real binary on a real X server, with other programs writing to its folder:
// nothing they write is lost, and what they write shows without a click; and on a
// disk whose writes fail: nothing is said to be saved that is not.
#include "e2e/XSession.h"
#include "support/TestData.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QSaveFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <cstring>

#include <sys/mount.h>

using namespace kav::test;
using namespace Qt::StringLiterals;

namespace {

const QString TitleList = QStringLiteral("データ.TXT");

// A corner inside volume label i, clear of its number.
QPoint labelCorner(int i)
{
    return volumeLabelAt(i) + QPoint(4, 4);
}

// "G" light green, "P" light pink, "-" neither (hidden), one letter per label 1..n.
QString labels(const QImage& window, int n)
{
    QString out;
    for (int i = 1; i <= n; ++i) {
        const QColor c = window.pixelColor(labelCorner(i));
        out += c == QColor(0xC0, 0xFF, 0xC0)   ? QLatin1Char('G')
               : c == QColor(0xFF, 0xC0, 0xFF) ? QLatin1Char('P')
                                               : QLatin1Char('-');
    }
    return out;
}

// Written as another program writes: in one step, by rename.
void writeAsAnother(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
    QVERIFY(file.commit());
}

} // namespace

class TestX11Disk : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void twoWindowsOnOneFolder();
    void flagFileWithByteOrderMark();
    void conflictCopyAppearing();
    void failingCallKeepsTheOldFile_data();
    void failingCallKeepsTheOldFile();
    void folderGoneWhileRunning_data();
    void folderGoneWhileRunning();

private:
    QString path(const QString& name) const { return QDir(m_dir->path()).filePath(name); }
    QString waitForFile(const QString& name, const QByteArray& expected, int ms = 5000);
    QString waitForLabels(XSession& x, int n, const QString& expected, int ms, qint64* took = nullptr);
    QString answer(XSession& x, const QString& caption, const QString& text, const QString& keys);
    void clickOn(XSession& x, QPoint at);

    XSession m_x;
    XSession m_other; // a second X server: the second window is driven on its own
    std::unique_ptr<QTemporaryDir> m_dir;
};

#define CHECK_EMPTY(text)                                                                                              \
    do {                                                                                                               \
        const QString problem = (text);                                                                                \
        QVERIFY2(problem.isEmpty(), qPrintable(problem));                                                              \
    } while (false)

void TestX11Disk::initTestCase()
{
    QString why = m_x.start();
    if (why.isEmpty())
        why = m_other.start();
    if (!why.isEmpty())
        QSKIP(qPrintable(why));
}

void TestX11Disk::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

QString TestX11Disk::waitForFile(const QString& name, const QByteArray& expected, int ms)
{
    const QDeadlineTimer deadline(ms);
    QByteArray seen;
    do {
        seen = readFile(path(name));
        if (seen == expected)
            return {};
        QThread::msleep(50);
    } while (!deadline.hasExpired());
    return QStringLiteral("%1 holds \"%2\", not \"%3\"")
        .arg(name, QString::fromLatin1(seen.toPercentEncoding(" ,\"")),
             QString::fromLatin1(expected.toPercentEncoding(" ,\"")));
}

QString TestX11Disk::waitForLabels(XSession& x, int n, const QString& expected, int ms, qint64* took)
{
    QElapsedTimer timer;
    timer.start();
    QString seen;
    do {
        seen = labels(x.windowImage(), n);
        if (seen == expected) {
            if (took)
                *took = timer.elapsed();
            return {};
        }
    } while (timer.elapsed() < ms);
    return QStringLiteral("labels %1, not %2").arg(seen, expected);
}

QString TestX11Disk::answer(XSession& x, const QString& caption, const QString& text, const QString& keys)
{
    if (!x.waitForDialog(caption))
        return QStringLiteral("no box \"%1\" appeared (active: \"%2\")").arg(caption, x.activeWindowName());
    if (!text.isEmpty())
        x.type(text);
    x.key(keys);
    if (!x.waitForMainWindowActive())
        return QStringLiteral("the window is not active again after \"%1\"").arg(caption);
    return {};
}

void TestX11Disk::clickOn(XSession& x, QPoint at)
{
    x.click(at);
    x.moveMouse(Logo);
}

// Two windows on one folder: both commands end up on disk, and each window shows
// the other's change within a second, with no click on it.
void TestX11Disk::twoWindowsOnOneFolder()
{
    writeAsAnother(path(TitleList), record(QStringLiteral("A"), 3, 0) + record(QStringLiteral("B"), 4, 0));
    QVERIFY2(m_x.launch(QStringLiteral(KAVURIO_BINARY), m_dir->path()), "the first window did not appear");
    QVERIFY2(m_other.launch(QStringLiteral(KAVURIO_BINARY), m_dir->path()), "the second window did not appear");
    CHECK_EMPTY(waitForLabels(m_x, 4, QStringLiteral("GGG-"), 5000));
    CHECK_EMPTY(waitForLabels(m_other, 4, QStringLiteral("GGG-"), 5000));

    // A registration in the first, a deletion in the second.
    clickOn(m_x, NewButton);
    QVERIFY(m_x.waitForDialog(QStringLiteral("題名入力")));
    m_x.type(QStringLiteral("N"));
    m_x.key(QStringLiteral("Return"));
    CHECK_EMPTY(answer(m_x, QStringLiteral("巻数入力"), QStringLiteral("6"), QStringLiteral("Return")));
    CHECK_EMPTY(waitForFile(TitleList, record(QStringLiteral("A"), 3, 0) + record(QStringLiteral("B"), 4, 0) +
                                           record(QStringLiteral("N"), 6, 0)));
    clickOn(m_other, DelButton);
    CHECK_EMPTY(answer(m_other, QStringLiteral("削除確認"), {}, QStringLiteral("Return")));
    CHECK_EMPTY(waitForFile(TitleList, record(QStringLiteral("B"), 4, 0) + record(QStringLiteral("N"), 6, 0)));
    QVERIFY(QFile::exists(path(QStringLiteral("N.TXT"))));
    QVERIFY(!QFile::exists(path(QStringLiteral("A.TXT"))));
    CHECK_EMPTY(waitForLabels(m_other, 5, QStringLiteral("GGGG-"), 5000)); // B in place of A

    // The second window moves to N and marks volume 2: the first, showing N, follows.
    clickOn(m_other, ScrollRight);
    CHECK_EMPTY(waitForLabels(m_other, 7, QStringLiteral("GGGGGG-"), 5000));
    CHECK_EMPTY(waitForLabels(m_x, 7, QStringLiteral("GGGGGG-"), 5000));
    clickOn(m_other, labelCorner(2));
    CHECK_EMPTY(waitForFile(QStringLiteral("N.TXT"), flagFile({2})));
    qint64 took = 0;
    CHECK_EMPTY(waitForLabels(m_x, 7, QStringLiteral("GPGGGG-"), 1000, &took));
    qInfo("the first window showed the second's click %lld ms after it was on disk", qlonglong(took));

    // The first changes N's count: the second follows.
    clickOn(m_x, CountLabel);
    CHECK_EMPTY(answer(m_x, QStringLiteral("巻数に入力"), QStringLiteral("3"), QStringLiteral("Return")));
    CHECK_EMPTY(waitForFile(TitleList, record(QStringLiteral("B"), 4, 0) + record(QStringLiteral("N"), 3, 0)));
    CHECK_EMPTY(waitForLabels(m_other, 4, QStringLiteral("GPG-"), 1000, &took));
    qInfo("the second window showed the first's count edit %lld ms after it was on disk", qlonglong(took));
    m_x.stopProgram();
    m_other.stopProgram();
}

// A flag file a Windows editor saved as UTF-8: the marks stay where they stand, the user
// is told once, and a click writes code page 932 without the mark.
void TestX11Disk::flagFileWithByteOrderMark()
{
    writeAsAnother(path(TitleList), record(QStringLiteral("B"), 1, 0) + record(QStringLiteral("A"), 15, 0));
    writeAsAnother(path(QStringLiteral("A.TXT")), "\xEF\xBB\xBF" + flagFile({3, 13}));
    QVERIFY2(m_x.launch(QStringLiteral(KAVURIO_BINARY), m_dir->path()), "the window did not appear");
    CHECK_EMPTY(waitForLabels(m_x, 2, QStringLiteral("G-"), 5000));
    clickOn(m_x, ScrollRight);
    QVERIFY(m_x.waitForDialog(QStringLiteral("文字コード")));
    const QString told = m_x.dialogText();
    QVERIFY2(told.contains(QStringLiteral("「A.TXT」はUTF-8で保存されています")), qPrintable(told));
    m_x.key(QStringLiteral("Return"));
    CHECK_EMPTY(waitForLabels(m_x, 15, QStringLiteral("GGPGGGGGGGGGPGG"), 5000));
    // Read again when another program marks volume 14 the same way: not told again.
    writeAsAnother(path(QStringLiteral("A.TXT")), "\xEF\xBB\xBF" + flagFile({3, 13, 14}));
    CHECK_EMPTY(waitForLabels(m_x, 15, QStringLiteral("GGPGGGGGGGGGPPG"), 5000));
    QVERIFY(!m_x.waitForDialog(1000));
    clickOn(m_x, labelCorner(1));
    CHECK_EMPTY(waitForFile(QStringLiteral("A.TXT"), flagFile({1, 3, 13, 14})));
    m_x.stopProgram();
}

// A sync service's conflict copy that appears while the window runs is named with the
// titles that differ, once, and is neither taken as the list nor written.
void TestX11Disk::conflictCopyAppearing()
{
    const QByteArray list = record(QStringLiteral("A"), 5, 0) + record(QStringLiteral("B"), 4, 0);
    writeAsAnother(path(TitleList), list);
    QVERIFY2(m_x.launch(QStringLiteral(KAVURIO_BINARY), m_dir->path()), "the window did not appear");
    CHECK_EMPTY(waitForLabels(m_x, 6, QStringLiteral("GGGGG-"), 5000));
    const QString copy = QStringLiteral("データ.sync-conflict-20261209-123456-ABCDEFG.TXT");
    const QByteArray copied = record(QStringLiteral("A"), 7, 0) + record(QStringLiteral("漫画"), 3, 0);
    writeAsAnother(path(copy), copied);
    QVERIFY(m_x.waitForDialog(QStringLiteral("同期の競合")));
    const QString told = m_x.dialogText();
    for (const QString& part :
         {QStringLiteral("「%1」（「データ.txt」のコピー）").arg(copy),
          QStringLiteral("コピーにだけある題名：「漫画」"), QStringLiteral("「データ.txt」にだけある題名：「B」"),
          QStringLiteral("「A」（5巻・1巻から、コピーでは7巻・1巻から）")})
        QVERIFY2(told.contains(part), qPrintable(told));
    m_x.key(QStringLiteral("Return"));
    writeAsAnother(path(TitleList), list + record(QStringLiteral("C"), 2, 0));
    QVERIFY(!m_x.waitForDialog(3000)); // told once
    QCOMPARE(readFile(path(copy)), copied);
    m_x.stopProgram();
}

void TestX11Disk::failingCallKeepsTheOldFile_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("call");
    QTest::addColumn<QString>("shown"); // <reason>: the system's text
    QTest::addColumn<bool>("replaced");
    const auto unsaved = [](const QString& file) {
        return QStringLiteral("「%1」に保存できませんでした。\n\n書き込めませんでした（<reason>）。").arg(file);
    };
    const QString unsure = QStringLiteral("の保存を確かめられませんでした。\n\n書き込みましたが、ディスクに残ったか"
                                          "確かめられませんでした（<reason>）。");
    for (const QByteArray call : {"write", "fdatasync", "close", "rename"}) {
        QTest::addRow("click, %s", call.constData()) << "click" << call << unsaved(u"A.txt"_s) << false;
        QTest::addRow("count, %s", call.constData()) << "count" << call << unsaved(u"データ.txt"_s) << false;
        QTest::addRow("register, %s", call.constData()) << "register" << call << unsaved(u"N.TXT"_s) << false;
    }
    // Only the folder's flush fails: the file was replaced; a registration is taken back.
    QTest::newRow("click, fsync") << "click" << QByteArray("fsync") << u"「A.txt」"_s + unsure << true;
    QTest::newRow("count, fsync") << "count" << QByteArray("fsync") << u"「データ.txt」"_s + unsure << true;
    QTest::newRow("register, fsync") << "register" << QByteArray("fsync")
                                     << u"「データ.txt」に保存できませんでした。\n\n登録を取り消しました。"
                                        u"新しい巻データファイルは書き込みましたが"_s
                                     << false;
}

// The real calls fail on a folder of the real binary: the message says so, and the
// files hold exactly their old bytes (or, when only the folder's flush failed, the new).
void TestX11Disk::failingCallKeepsTheOldFile()
{
    QFETCH(QString, command);
    QFETCH(QByteArray, call);
    QFETCH(QString, shown);
    QFETCH(bool, replaced);
    const QByteArray list = record(QStringLiteral("A"), 10, 0);
    writeAsAnother(path(TitleList), list);
    writeAsAnother(path(QStringLiteral("A.TXT")), flagFile({2}));
    const QString folder = QDir(m_dir->path()).canonicalPath();
    const QString control = m_dir->path() + QStringLiteral(".fail");
    QFile::remove(control);
    const QStringList failing{
        QStringLiteral("LD_PRELOAD=") + QStringLiteral(KAVURIO_FAILING_IO),
        QStringLiteral("KAVURIO_FAIL_DIR=") + folder, QStringLiteral("KAVURIO_FAIL_CONTROL=") + control,
        // Beside the address sanitizer's runtime, which wants to come first.
        QStringLiteral("ASAN_OPTIONS=%1:verify_asan_link_order=0").arg(qEnvironmentVariable("ASAN_OPTIONS"))};
    QVERIFY2(m_x.launch(QStringLiteral(KAVURIO_BINARY), m_dir->path(), failing), "the window did not appear");
    CHECK_EMPTY(waitForLabels(m_x, 5, QStringLiteral("GPGGG"), 5000));
    writeAsAnother(control, call);

    if (command == u"click") {
        clickOn(m_x, labelCorner(5));
    } else if (command == u"count") {
        clickOn(m_x, CountLabel);
        QVERIFY(m_x.waitForDialog(QStringLiteral("巻数に入力")));
        m_x.type(QStringLiteral("7"));
    } else {
        clickOn(m_x, NewButton);
        QVERIFY(m_x.waitForDialog(QStringLiteral("題名入力")));
        m_x.type(QStringLiteral("N"));
        m_x.key(QStringLiteral("Return"));
        QVERIFY(m_x.waitForDialog(QStringLiteral("巻数入力")));
        m_x.type(QStringLiteral("6"));
    }
    if (command != u"click")
        m_x.key(QStringLiteral("Return"));
    QVERIFY2(m_x.waitForDialog(QStringLiteral("保存エラー")), qPrintable(m_x.activeWindowName()));
    const QString copied = m_x.dialogText().replace(u"\r\n"_s, u"\n"_s);
    QFile::remove(control);
    m_x.key(QStringLiteral("Return"));
    const QString reason = QString::fromLocal8Bit(std::strerror(EIO));
    QVERIFY2(copied.contains(shown.replace(u"<reason>"_s, reason)) && copied.contains(reason), qPrintable(copied));
    m_x.stopProgram();

    const bool flagsReplaced = replaced && command == u"click";
    const bool listReplaced = replaced && command == u"count";
    QCOMPARE(readFile(path(QStringLiteral("A.TXT"))), flagsReplaced ? flagFile({2, 5}) : flagFile({2}));
    QCOMPARE(readFile(path(TitleList)), listReplaced ? record(QStringLiteral("A"), 7, 0) : list);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden),
             QStringList({QStringLiteral("A.TXT"), TitleList}));
}

enum class Gone { Unmounted, RenamedAway, Replaced };

void TestX11Disk::folderGoneWhileRunning_data()
{
    QTest::addColumn<Gone>("gone");
    QTest::newRow("its drive unmounted (umount -l)") << Gone::Unmounted;
    QTest::newRow("renamed away") << Gone::RenamedAway;
    QTest::newRow("replaced by another folder") << Gone::Replaced;
}

// The data folder gone while the window runs: every command is refused with one message,
// nothing is written anywhere, and once the same folder is back the window shows it again.
void TestX11Disk::folderGoneWhileRunning()
{
    QFETCH(Gone, gone);
    const QString data = path(QStringLiteral("data")), away = path(QStringLiteral("away"));
    QVERIFY(QDir().mkpath(data) && (gone != Gone::Unmounted || QDir().mkpath(away)));
    // The drive is a tmpfs of its own, bound at the folder so that the very same one can come back.
    const auto bind = [&] { return ::mount(qPrintable(away), qPrintable(data), nullptr, MS_BIND, nullptr) == 0; };
    const auto unmount =
        qScopeGuard([&] { ::umount2(qPrintable(data), MNT_DETACH), ::umount2(qPrintable(away), MNT_DETACH); });
    if (gone == Gone::Unmounted && (::mount("tmpfs", qPrintable(away), "tmpfs", 0, "size=1m") != 0 || !bind()))
        QSKIP("mounting a tmpfs is not allowed here (needs root)");
    writeAsAnother(data + u'/' + TitleList, record(QStringLiteral("A"), 5, 0) + record(QStringLiteral("B"), 4, 0));
    writeAsAnother(data + QStringLiteral("/A.TXT"), flagFile({2}));
    QVERIFY2(m_x.launch(QStringLiteral(KAVURIO_BINARY), data), "the window did not appear");
    CHECK_EMPTY(waitForLabels(m_x, 6, QStringLiteral("GPGGG-"), 5000));

    QVERIFY(gone == Gone::Unmounted ? ::umount2(qPrintable(data), MNT_DETACH) == 0 : QDir().rename(data, away));
    if (gone == Gone::Replaced && QDir().mkpath(data)) // another folder at its path, with a list of its own
        writeAsAnother(data + u'/' + TitleList, record(QStringLiteral("他"), 3, 0));
    const QString caption = QStringLiteral("接続エラー");
    CHECK_EMPTY(answer(m_x, caption, {}, QStringLiteral("Return")));
    CHECK_EMPTY(waitForLabels(m_x, 6, QStringLiteral("GPGGG-"), 500)); // what was read, not an empty list
    writeAsAnother(away + QStringLiteral("/A.TXT"), flagFile({2, 4})); // the drive used elsewhere meanwhile
    // Every file below the test's folder, through mount points, with its size and time of change.
    const QStringList find = QStringLiteral("find %1 -type f -printf %p_%s_%T@\n").arg(m_dir->path()).split(u' ');
    const QString before = m_x.run(find);
    for (const QPoint at : {labelCorner(3), NewButton, ReportButton}) {
        clickOn(m_x, at);
        CHECK_EMPTY(answer(m_x, caption, {}, QStringLiteral("Return")));
    }
    QCOMPARE(m_x.run(find), before);

    if (gone == Gone::Replaced)
        QVERIFY(QDir().rename(data, path(QStringLiteral("other"))));
    QVERIFY(gone == Gone::Unmounted ? bind() : QDir().rename(away, data));
    CHECK_EMPTY(waitForLabels(m_x, 6, QStringLiteral("GPGPG-"), 5000));
    m_x.stopProgram();
}

QTEST_MAIN(TestX11Disk)
#include "test_x11_disk.moc"
