#include "core/Clock.h"
#include "core/Codec.h"
#include "core/Conversions.h"
#include "core/DiskFileService.h"
#include "support/ScratchFolder.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <limits>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace Qt::StringLiterals;
using kav::DiskFileService;
using kav::FileMode;

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double Inf = std::numeric_limits<double>::infinity();

// Files past this size cannot be written, even by root: a dependable disk-full stand-in.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_old); }
    Q_DISABLE_COPY_MOVE(FileSizeLimit)

private:
    rlimit m_old{};
};

// Sets a folder's modification time, as a coarse or lagging clock would leave it.
void setFolderTime(const QString& path, time_t seconds)
{
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    QCOMPARE(utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
}

} // namespace

class TestPlatformCore final : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<kav::test::ScratchFolder> m_dir;

private Q_SLOTS:
    void initTestCase() { std::signal(SIGXFSZ, SIG_IGN); }
    void init()
    {
        m_dir = std::make_unique<kav::test::ScratchFolder>();
        QVERIFY(m_dir->isValid());
    }

    void leadingValue_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("value");
        QTest::newRow("count caption") << u"50巻"_s << 50.0;
        QTest::newRow("empty") << QString() << 0.0;
        QTest::newRow("leading blank") << u" 7"_s << 7.0;
        QTest::newRow("leading tab and blank") << u"\t 8x"_s << 8.0;
        QTest::newRow("decimal") << u"12.7"_s << 12.7;
        QTest::newRow("no number") << u"abc"_s << 0.0;
        QTest::newRow("negative") << u"-3"_s << -3.0;
        QTest::newRow("second point stops") << u"1.2.3"_s << 1.2;
        QTest::newRow("point first") << u".5"_s << 0.5;
        QTest::newRow("point last") << u"5."_s << 5.0;
        QTest::newRow("plus sign") << u"+4"_s << 4.0;
        QTest::newRow("sign alone") << u"-"_s << 0.0;
        QTest::newRow("blank after sign") << u"- 5"_s << 0.0;
        QTest::newRow("no exponent") << u"1e3"_s << 1.0;
        QTest::newRow("full-width digits") << u"５０"_s << 0.0;
        QTest::newRow("long digits") << u"12345678901234567890"_s << 12345678901234567890.0;
    }
    void leadingValue()
    {
        QFETCH(QString, text);
        QFETCH(double, value);
        QCOMPARE(kav::LeadingValue(text), value);
    }

    void strictValue_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<double>("value");
        QTest::newRow("integer") << u"7"_s << true << 7.0;
        QTest::newRow("blanks around") << u" \t7 "_s << true << 7.0;
        QTest::newRow("negative decimal") << u"-2.5"_s << true << -2.5;
        QTest::newRow("plus sign") << u"+4"_s << true << 4.0;
        QTest::newRow("point first") << u".5"_s << true << 0.5;
        QTest::newRow("point last") << u"5."_s << true << 5.0;
        QTest::newRow("exponent") << u"1e3"_s << true << 1000.0;
        QTest::newRow("signed exponent") << u"15E-1"_s << true << 1.5;
        QTest::newRow("unit after number") << u"7巻"_s << false << 0.0;
        QTest::newRow("letters") << u"abc"_s << false << 0.0;
        QTest::newRow("empty") << QString() << false << 0.0;
        QTest::newRow("blanks only") << u"  "_s << false << 0.0;
        QTest::newRow("point only") << u"."_s << false << 0.0;
        QTest::newRow("exponent without digits") << u"1e"_s << false << 0.0;
        QTest::newRow("two points") << u"1.2.3"_s << false << 0.0;
        QTest::newRow("two signs") << u"--1"_s << false << 0.0;
        QTest::newRow("blank inside") << u"1 2"_s << false << 0.0;
        QTest::newRow("infinity word") << u"inf"_s << false << 0.0;
        QTest::newRow("nan word") << u"nan"_s << false << 0.0;
        QTest::newRow("hex") << u"0x10"_s << false << 0.0;
        QTest::newRow("overflow") << u"1e999"_s << false << 0.0;
    }
    void strictValue()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(double, value);
        const std::optional<double> result = kav::StrictValue(text);
        QCOMPARE(result.has_value(), valid);
        if (valid)
            QCOMPARE(*result, value);
    }

    void toInt16_data()
    {
        QTest::addColumn<double>("x");
        QTest::addColumn<int>("floored"); // INT_MIN: no value
        QTest::addColumn<int>("rounded");
        constexpr int none = std::numeric_limits<int>::min();
        QTest::newRow("2.5") << 2.5 << 2 << 2;
        QTest::newRow("3.5") << 3.5 << 3 << 4;
        QTest::newRow("-2.5") << -2.5 << -3 << -2;
        QTest::newRow("30.7") << 30.7 << 30 << 31;
        QTest::newRow("-0.5") << -0.5 << -1 << 0;
        QTest::newRow("just below one half") << 0.49999999999999994 << 0 << 0;
        QTest::newRow("top") << 32767.4 << 32767 << 32767;
        QTest::newRow("top, rounds past it") << 32767.5 << 32767 << none;
        QTest::newRow("past top") << 32768.0 << none << none;
        QTest::newRow("bottom") << -32768.0 << -32768 << -32768;
        QTest::newRow("bottom tie rounds to even bottom") << -32768.5 << none << -32768;
        QTest::newRow("past bottom") << -32768.6 << none << none;
        QTest::newRow("NaN") << NaN << none << none;
        QTest::newRow("infinity") << Inf << none << none;
        QTest::newRow("minus infinity") << -Inf << none << none;
    }
    void toInt16()
    {
        QFETCH(double, x);
        QFETCH(int, floored);
        QFETCH(int, rounded);
        const auto asInt = [](std::optional<qint16> v) { return v ? int(*v) : std::numeric_limits<int>::min(); };
        QCOMPARE(asInt(kav::FloorToInt16(x)), floored);
        QCOMPARE(asInt(kav::RoundToInt16(x)), rounded);
    }

    void realText_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("whole") << 3.0 << u"3"_s;
        QTest::newRow("label number") << 62.0 << u"62"_s;
        QTest::newRow("tenth") << 0.1 << u"0.1"_s;
        QTest::newRow("negative") << -2.25 << u"-2.25"_s;
        QTest::newRow("minus zero") << -0.0 << u"0"_s;
        QTest::newRow("hundred thousand") << 100000.0 << u"100000"_s;
        QTest::newRow("third") << 1.0 / 3 << u"0.3333333333333333"_s;
        QTest::newRow("huge") << 1e20 << u"1e+20"_s;
        QTest::newRow("tiny") << 1.5e-7 << u"1.5e-07"_s;
        QTest::newRow("int16 bottom") << -32768.0 << u"-32768"_s;
        QTest::newRow("largest whole in digits") << 999999999999999.0 << u"999999999999999"_s;
        QTest::newRow("first whole in exponent") << 1e15 << u"1e+15"_s;
        QTest::newRow("whole and negative") << -51.0 << u"-51"_s;
    }
    void realText()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(kav::RealText(value), text);
        QCOMPARE(text.toDouble(), value);
    }

    void formatDate_data()
    {
        QTest::addColumn<QDate>("date");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("text");
        const QDate day(2026, 12, 6);
        QTest::newRow("report heading") << day << u"yyyy年mm月dd日現在の未収集状況"_s
                                        << u"2026年12月06日現在の未収集状況"_s;
        QTest::newRow("slashes") << day << u"yyyy/mm/dd"_s << u"2026/12/06"_s;
        QTest::newRow("short runs copied") << day << u"yyy y m d"_s << u"yyy y m d"_s;
        QTest::newRow("five y") << day << u"yyyyy"_s << u"2026y"_s;
        QTest::newRow("upper case copied") << day << u"YYYY MM DD"_s << u"YYYY MM DD"_s;
        QTest::newRow("four mm") << QDate(2026, 1, 2) << u"mmmm"_s << u"0101"_s;
        QTest::newRow("early year padded") << QDate(5, 3, 4) << u"yyyy-mm-dd"_s << u"0005-03-04"_s;
        QTest::newRow("empty") << day << QString() << QString();
    }
    void formatDate()
    {
        QFETCH(QDate, date);
        QFETCH(QString, pattern);
        QFETCH(QString, text);
        QCOMPARE(kav::FormatDate(date, pattern), text);
    }

    void codecRoundTrip_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("full-width tilde") << QByteArray("\x81\x60") << u"\uFF5E"_s;
        QTest::newRow("full-width minus") << QByteArray("\x81\x7C") << u"\uFF0D"_s;
        QTest::newRow("NEC circled one") << QByteArray("\x87\x40") << u"①"_s;
        QTest::newRow("IBM small roman one") << QByteArray("\xFA\x40") << u"\u2170"_s;
        QTest::newRow("half-width katakana") << QByteArray("\xB6\xDE\xD8\xB5") << u"ｶﾞﾘｵ"_s;
        QTest::newRow("ASCII record") << QByteArray("\"A(51_100)\",50,50\r\n") << u"\"A(51_100)\",50,50\r\n"_s;
        QTest::newRow("file name") << QByteArray("\x83\x66\x81\x5B\x83\x5E.TXT") << u"データ.TXT"_s;
        QTest::newRow("empty") << QByteArray() << QString();
    }
    void codecRoundTrip()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        const kav::Result<QByteArray> encoded = kav::cp932::encode(text);
        QVERIFY(encoded.ok());
        QCOMPARE(encoded.value(), bytes);
        const kav::Result<QString> decoded = kav::cp932::decode(bytes);
        QVERIFY(decoded.ok());
        QCOMPARE(decoded.value(), text);
        QVERIFY(kav::cp932::canEncode(text));
    }

    void encodeFails_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("Hangul") << u"A한B"_s;
        QTest::newRow("emoji") << u"a😀"_s;
        QTest::newRow("lone surrogate") << QString(QChar(0xD800));
        QTest::newRow("replacement character") << u"\uFFFD"_s;
    }
    void encodeFails()
    {
        QFETCH(QString, text);
        const kav::Result<QByteArray> encoded = kav::cp932::encode(text);
        QVERIFY(!encoded.ok());
        QVERIFY(encoded.error().message.contains(u"シフトJIS"));
        QVERIFY(!kav::cp932::canEncode(text));
    }

    void decodeFails_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("lead byte alone") << QByteArray("\x81");
        QTest::newRow("lead byte cut off at the end") << QByteArray("A\x81");
        QTest::newRow("0xFF") << QByteArray("\xFF\x41");
        QTest::newRow("bad trail byte") << QByteArray("\x81\x20");
        QTest::newRow("0xFD") << QByteArray("\xFD");
    }
    void decodeFails()
    {
        QFETCH(QByteArray, bytes);
        const kav::Result<QString> decoded = kav::cp932::decode(bytes);
        QVERIFY(!decoded.ok());
        QVERIFY(decoded.error().message.contains(u"シフトJIS"));
    }

    // Converters are kept from call to call: no call may see anything of an earlier
    // one, neither its bytes nor its failure.
    void codecCallsStandAlone_data()
    {
        QTest::addColumn<QList<QByteArray>>("calls");
        QTest::newRow("good after good") << QList<QByteArray>{"\x90\x69", "\x83\x52\x83\x7e", "\xB6\xDE"};
        QTest::newRow("good after a cut-off lead byte") << QList<QByteArray>{"\x90\x69", "A\x81", "\x69\x90\x69"};
        QTest::newRow("good after bad bytes") << QList<QByteArray>{"\x85\x40", "\x90\x69", "\xFD", "\x83\\"};
        QTest::newRow("bad after good") << QList<QByteArray>{"\x90\x69", "\x81\x20", "\x90"};
        QTest::newRow("lead byte, then its trail first") << QList<QByteArray>{"\x90", "\x69\x90\x69"};
    }
    void codecCallsStandAlone()
    {
        QFETCH(QList<QByteArray>, calls);
        for (const QByteArray& bytes : calls) {
            QVERIFY(!kav::cp932::encode(u"a한"_s).ok()); // the kept encoder fails in between
            QStringDecoder fresh("windows-31j", QStringDecoder::Flag::Stateless);
            const QString text = fresh.decode(bytes);
            const kav::Result<QString> decoded = kav::cp932::decode(bytes);
            QCOMPARE(decoded.ok(), !fresh.hasError());
            if (decoded.ok()) {
                QCOMPARE(decoded.value(), text);
                // and back, through the kept encoder
                const kav::Result<QByteArray> encoded = kav::cp932::encode(text);
                QVERIFY(encoded.ok());
                QCOMPARE(encoded.value(), bytes);
            } else {
                QVERIFY(decoded.error().message.contains(u"シフトJIS"));
            }
        }
    }

    void cursorLine_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("pos");
        QTest::addColumn<int>("line");
        QTest::newRow("start") << QByteArray("a\r\nb") << 0 << 1;
        QTest::newRow("on the LF of CR LF") << QByteArray("a\r\nb") << 2 << 1;
        QTest::newRow("after CR LF") << QByteArray("a\r\nb") << 3 << 2;
        QTest::newRow("LF only") << QByteArray("a\nb\nc") << 4 << 3;
        QTest::newRow("lone CR") << QByteArray("a\rb") << 2 << 2;
        QTest::newRow("CR at the end") << QByteArray("a\r") << 2 << 2;
        QTest::newRow("past the end") << QByteArray("a\r\n") << 9 << 2;
    }
    void cursorLine()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, pos);
        QFETCH(int, line);
        QCOMPARE((kav::InputCursor{bytes, pos}.line()), line);
    }

    void refusedNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("empty") << QString();
        QTest::newRow("passwd") << u"/etc/passwd"_s;
        QTest::newRow("sub-folder") << u"a/b"_s;
        QTest::newRow("up") << u".."_s;
        QTest::newRow("here") << u"."_s;
        QTest::newRow("up and over") << u"../victim.txt"_s;
        QTest::newRow("NUL") << (u"a"_s + QChar(0) + u"b"_s);
        QTest::newRow("absolute to a real file") << u"ABSOLUTE"_s;
    }
    void refusedNames()
    {
        QFETCH(QString, name);
        // The service's folder sits beside a file it must never reach.
        const QString folder = m_dir->filePath(u"data"_s);
        QVERIFY(QDir().mkpath(folder));
        m_dir->put(u"victim.txt"_s, "keep");
        if (name == u"ABSOLUTE")
            name = m_dir->filePath(u"victim.txt"_s);

        QVERIFY(!kav::FileService::isSafeName(name));
        DiskFileService files(folder);
        for (FileMode mode : {FileMode::Input, FileMode::Output, FileMode::Append}) {
            const kav::Status opened = files.open(1, name, mode);
            QVERIFY(!opened.ok());
            QCOMPARE(opened.error().file, name);
            QCOMPARE(opened.error().line, 0);
        }
        QVERIFY(!files.remove(name).ok());
        QVERIFY(!files.exists(name));
        QVERIFY(files.closeAll().ok());
        QCOMPARE(m_dir->contents(u"victim.txt"_s), QByteArray("keep"));
        QVERIFY(QDir(folder).isEmpty());
    }

    void safeNames()
    {
        for (const QString& name :
             {u"データ.TXT"_s, u"a b.txt"_s, u"..a"_s, u"a.."_s, u".hidden"_s, u"A(51_100).TXT"_s})
            QVERIFY2(kav::FileService::isSafeName(name), qPrintable(name));
    }

    void letterCase_data()
    {
        QTest::addColumn<QString>("onDisk");
        QTest::addColumn<QString>("asked");
        QTest::newRow("title list, upper on disk") << u"データ.TXT"_s << u"データ.txt"_s;
        QTest::newRow("title list, lower on disk") << u"データ.txt"_s << u"データ.TXT"_s;
        QTest::newRow("ASCII") << u"abc.txt"_s << u"ABC.TXT"_s;
        QTest::newRow("mixed") << u"a.TXT"_s << u"A.txt"_s;
        QTest::newRow("full-width Latin") << u"ＡＢＣ.txt"_s << u"ａｂｃ.TXT"_s;
        QTest::newRow("Greek") << u"Ωμέγα.txt"_s << u"ΩΜΈΓΑ.txt"_s;
    }
    void letterCase()
    {
        QFETCH(QString, onDisk);
        QFETCH(QString, asked);
        m_dir->put(onDisk, "old\r\n");
        DiskFileService files(m_dir->path());

        QCOMPARE(files.resolve(asked), onDisk);
        QVERIFY(files.exists(asked));
        QVERIFY(files.open(1, asked, FileMode::Input).ok());
        QCOMPARE(files.input(1)->bytes, QByteArray("old\r\n"));
        QVERIFY(files.close(1).ok());

        QVERIFY(files.open(1, asked, FileMode::Output).ok());
        QVERIFY(files.write(1, "new\r\n").ok());
        QVERIFY(files.close(1).ok());
        QCOMPARE(m_dir->entries(), QStringList{onDisk});
        QCOMPARE(m_dir->contents(onDisk), QByteArray("new\r\n"));

        QVERIFY(files.open(2, asked, FileMode::Append).ok());
        QVERIFY(files.write(2, "more\r\n").ok());
        QVERIFY(files.close(2).ok());
        QCOMPARE(m_dir->entries(), QStringList{onDisk});
        QCOMPARE(m_dir->contents(onDisk), QByteArray("new\r\nmore\r\n"));

        QVERIFY(files.remove(asked).ok());
        QVERIFY(m_dir->entries().isEmpty());
        QVERIFY(!files.exists(asked));
    }

    void differentNamesStayApart()
    {
        m_dir->put(u"データ.TXT"_s, "x");
        DiskFileService files(m_dir->path());
        QVERIFY(!files.exists(u"テータ.TXT"_s)); // voiced and unvoiced kana are different letters
        QVERIFY(!files.exists(u"データ.TXT.bak"_s));
    }

    void newFileKeepsCallersSpelling()
    {
        DiskFileService files(m_dir->path());
        QVERIFY(files.open(1, u"Ab.TXT"_s, FileMode::Output).ok());
        QVERIFY(files.open(2, u"Cd.txt"_s, FileMode::Append).ok());
        QVERIFY(files.closeAll().ok());
        QCOMPARE(m_dir->entries(), (QStringList{u"Ab.TXT"_s, u"Cd.txt"_s}));
        QCOMPARE(files.resolve(u"AB.txt"_s), u"Ab.TXT"_s);
    }

    void inputMissingFails()
    {
        DiskFileService files(m_dir->path());
        const kav::Status opened = files.open(1, u"データ.TXT"_s, FileMode::Input);
        QVERIFY(!opened.ok());
        QCOMPARE(opened.error().file, u"データ.TXT"_s);
        QVERIFY(opened.error().message.contains(u"見つかりません"));
        QCOMPARE(opened.error().line, 0);
        QCOMPARE(files.input(1), nullptr);
        QVERIFY(files.open(1, u"other.txt"_s, FileMode::Output).ok()); // the number stayed free
        files.discard(1);
        QVERIFY(m_dir->entries().isEmpty());
    }

    void inputOfDirectoryFails()
    {
        QVERIFY(QDir(m_dir->path()).mkdir(u"d.txt"_s));
        DiskFileService files(m_dir->path());
        QVERIFY(!files.open(1, u"D.TXT"_s, FileMode::Input).ok());
        QCOMPARE(files.input(1), nullptr);
    }

    void outputReplacesOnlyOnClose()
    {
        m_dir->put(u"a.txt"_s, "old");
        DiskFileService files(m_dir->path());
        QVERIFY(files.open(1, u"a.txt"_s, FileMode::Output).ok());
        QVERIFY(files.write(1, "new").ok());
        QCOMPARE(m_dir->contents(u"a.txt"_s), QByteArray("old"));
        QVERIFY(files.open(2, u"A.TXT"_s, FileMode::Input).ok());
        QCOMPARE(files.input(2)->bytes, QByteArray("old"));
        QVERIFY(files.closeAll().ok());
        QCOMPARE(m_dir->contents(u"a.txt"_s), QByteArray("new"));
        QCOMPARE(m_dir->entries(), QStringList{u"a.txt"_s});
    }

    void outputWithNoWritesEmptiesFile()
    {
        m_dir->put(u"a.txt"_s, "old");
        DiskFileService files(m_dir->path());
        QVERIFY(files.open(1, u"a.txt"_s, FileMode::Output).ok());
        QVERIFY(files.close(1).ok());
        QCOMPARE(m_dir->contents(u"a.txt"_s), QByteArray());
    }

    void discardKeepsOldFile()
    {
        m_dir->put(u"a.txt"_s, "old");
        DiskFileService files(m_dir->path());
        QVERIFY(files.open(1, u"a.txt"_s, FileMode::Output).ok());
        QVERIFY(files.write(1, "new").ok());
        files.discard(1);
        QVERIFY(files.close(1).ok()); // nothing left to close
        QCOMPARE(m_dir->contents(u"a.txt"_s), QByteArray("old"));
        QCOMPARE(m_dir->entries(), QStringList{u"a.txt"_s});
    }

    void outputOverDirectoryFails()
    {
        QVERIFY(QDir(m_dir->path()).mkdir(u"d.txt"_s));
        DiskFileService files(m_dir->path());
        kav::Status status = files.open(1, u"D.TXT"_s, FileMode::Output);
        if (status.ok()) {
            QVERIFY(files.write(1, "x").ok());
            status = files.close(1);
        }
        QVERIFY(!status.ok());
        QCOMPARE(status.error().file, u"D.TXT"_s);
        QVERIFY(status.error().message.startsWith(u"書き込めませんでした"));
        QVERIFY(QFileInfo(m_dir->filePath(u"d.txt"_s)).isDir());
        QCOMPARE(m_dir->entries(), QStringList{u"d.txt"_s});
    }

    void failedWriteKeepsOldFile_data()
    {
        QTest::addColumn<FileMode>("mode");
        QTest::addColumn<int>("limit");  // bytes any file may grow to
        QTest::addColumn<int>("writes"); // of 1000 bytes each
        for (const auto& [name, mode] :
             {std::pair{"output", FileMode::Output}, std::pair{"append", FileMode::Append}}) {
            QTest::addRow("%s, full after 4 KiB", name) << mode << 4096 << 100;
            // Small enough to stay in a write buffer until the file is closed.
            QTest::addRow("%s, one small write on a full disk", name) << mode << 0 << 1;
        }
    }
    void failedWriteKeepsOldFile()
    {
        QFETCH(FileMode, mode);
        QFETCH(int, limit);
        QFETCH(int, writes);
        const QByteArray old = QByteArray("\"A\",5,0\r\n").repeated(20);
        m_dir->put(u"データ.TXT"_s, old);
        DiskFileService files(m_dir->path());
        {
            const FileSizeLimit fileSizeLimit(limit);
            QVERIFY(files.open(1, u"データ.txt"_s, mode).ok());
            kav::Status status;
            for (int i = 0; i < writes && status.ok(); ++i)
                status = files.write(1, QByteArray(1000, 'x'));
            const kav::Status closed = files.close(1);
            QVERIFY(!closed.ok());
            QCOMPARE(closed.error().file, u"データ.txt"_s);
            QVERIFY(closed.error().message.startsWith(u"書き込めませんでした"));
        }
        QCOMPARE(m_dir->contents(u"データ.TXT"_s), old);
        QCOMPARE(m_dir->entries(), QStringList{u"データ.TXT"_s});
        QVERIFY(files.open(1, u"データ.txt"_s, mode).ok()); // the number is free again
        files.discard(1);
    }

    void closeAllClosesBothAndReportsFirstFailure()
    {
        m_dir->put(u"one.txt"_s, "old");
        DiskFileService files(m_dir->path());
        {
            const FileSizeLimit limit(4096);
            QVERIFY(files.open(1, u"one.txt"_s, FileMode::Output).ok());
            QVERIFY(files.open(2, u"two.txt"_s, FileMode::Output).ok());
            (void)files.write(1, QByteArray(100000, 'x'));
            QVERIFY(files.write(2, "two").ok());
            const kav::Status closed = files.closeAll();
            QVERIFY(!closed.ok());
            QCOMPARE(closed.error().file, u"one.txt"_s);
        }
        QCOMPARE(m_dir->contents(u"one.txt"_s), QByteArray("old"));
        QCOMPARE(m_dir->contents(u"two.txt"_s), QByteArray("two"));
        QVERIFY(files.open(1, u"one.txt"_s, FileMode::Input).ok());
        QVERIFY(files.open(2, u"two.txt"_s, FileMode::Input).ok());
        QVERIFY(files.closeAll().ok());
        QCOMPARE(files.input(1), nullptr);
        QCOMPARE(files.input(2), nullptr);
    }

    void vanishedFolderFails()
    {
        const QString folder = m_dir->filePath(u"gone"_s);
        QVERIFY(QDir().mkpath(folder));
        DiskFileService files(folder);
        QVERIFY(QDir(folder).removeRecursively());
        kav::Status output = files.open(1, u"a.txt"_s, FileMode::Output);
        if (output.ok())
            output = files.close(1);
        QVERIFY(!output.ok());
        QVERIFY(!files.open(2, u"a.txt"_s, FileMode::Append).ok());
        QVERIFY(!files.open(2, u"a.txt"_s, FileMode::Input).ok());
        QVERIFY(!QFileInfo::exists(folder));
    }

    void appendCreatesAndAppends()
    {
        DiskFileService files(m_dir->path());
        QVERIFY(files.open(1, u"log.txt"_s, FileMode::Append).ok());
        QVERIFY(files.write(1, "a\r\n").ok());
        QCOMPARE(m_dir->contents(u"log.txt"_s), QByteArray("a\r\n")); // appending writes through at once
        QVERIFY(files.close(1).ok());
        QVERIFY(files.open(1, u"LOG.TXT"_s, FileMode::Append).ok());
        QVERIFY(files.write(1, "b\r\n").ok());
        QVERIFY(files.close(1).ok());
        QCOMPARE(m_dir->contents(u"log.txt"_s), QByteArray("a\r\nb\r\n"));
    }

    void appendDiscardRestores()
    {
        m_dir->put(u"log.txt"_s, "a");
        DiskFileService files(m_dir->path());
        QVERIFY(files.open(1, u"log.txt"_s, FileMode::Append).ok());
        QVERIFY(files.open(2, u"new.txt"_s, FileMode::Append).ok());
        QVERIFY(files.write(1, "bc").ok());
        QVERIFY(files.write(2, "x").ok());
        files.discard(1);
        files.discard(2);
        QCOMPARE(m_dir->contents(u"log.txt"_s), QByteArray("a"));
        QCOMPARE(m_dir->entries(), QStringList{u"log.txt"_s});
        QVERIFY(!files.exists(u"new.txt"_s));
    }

    void numbers()
    {
        DiskFileService files(m_dir->path());
        for (int number : {0, 3, -1}) {
            QVERIFY(!files.open(number, u"a.txt"_s, FileMode::Output).ok());
            QVERIFY(!files.write(number, "x").ok());
            QVERIFY(!files.close(number).ok());
            QCOMPARE(files.input(number), nullptr);
            files.discard(number);
        }
        QVERIFY(files.open(1, u"a.txt"_s, FileMode::Output).ok());
        const kav::Status again = files.open(1, u"b.txt"_s, FileMode::Output);
        QVERIFY(!again.ok());
        QCOMPARE(again.error().file, u"b.txt"_s);
        QCOMPARE(files.input(1), nullptr);
        QVERIFY(!files.write(2, "x").ok()); // not open
        QVERIFY(files.write(1, "a").ok());
        QVERIFY(files.closeAll().ok());
        QCOMPARE(m_dir->entries(), QStringList{u"a.txt"_s});
    }

    void removeMissingFails()
    {
        DiskFileService files(m_dir->path());
        const kav::Status removed = files.remove(u"none.TXT"_s);
        QVERIFY(!removed.ok());
        QCOMPARE(removed.error().file, u"none.TXT"_s);
    }

    void indexFollowsOtherWriters()
    {
        DiskFileService files(m_dir->path());
        QVERIFY(!files.exists(u"a.txt"_s));
        m_dir->put(u"A.TXT"_s, "theirs"); // another program, within the same second
        QVERIFY(files.exists(u"a.txt"_s));
        QVERIFY(files.open(1, u"a.txt"_s, FileMode::Output).ok());
        QVERIFY(files.write(1, "ours").ok());
        QVERIFY(files.close(1).ok());
        QCOMPARE(m_dir->entries(), QStringList{u"A.TXT"_s});
        QCOMPARE(m_dir->contents(u"A.TXT"_s), QByteArray("ours"));

        QVERIFY(QFile::remove(m_dir->filePath(u"A.TXT"_s)));
        QVERIFY(!files.exists(u"a.txt"_s));
        QVERIFY(files.open(1, u"a.txt"_s, FileMode::Output).ok());
        QVERIFY(files.close(1).ok());
        QCOMPARE(m_dir->entries(), QStringList{u"a.txt"_s});
    }

    void settledIndexFollowsOtherWriters()
    {
        const time_t past = time(nullptr) - 3600;
        m_dir->put(u"C.TXT"_s, "c");
        setFolderTime(m_dir->path(), past);
        DiskFileService files(m_dir->path());
        QCOMPARE(files.resolve(u"c.txt"_s), u"C.TXT"_s); // the index is built on a settled time stamp

        m_dir->put(u"B.TXT"_s, "b"); // moves the folder's time stamp
        QCOMPARE(files.resolve(u"b.txt"_s), u"B.TXT"_s);

        // A deletion the time stamp does not show must not leave the old spelling in use.
        setFolderTime(m_dir->path(), past);
        QCOMPARE(files.resolve(u"b.txt"_s), u"B.TXT"_s);
        QVERIFY(QFile::remove(m_dir->filePath(u"C.TXT"_s)));
        setFolderTime(m_dir->path(), past);
        QCOMPARE(files.resolve(u"c.txt"_s), u"c.txt"_s);
        QVERIFY(!files.exists(u"C.txt"_s));
    }

    void otherSpellingFoundAfterOneIsRemoved()
    {
        DiskFileService files(m_dir->path());
        QVERIFY(!files.exists(u"k.txt"_s)); // the index is built on an empty folder
        m_dir->put(u"K.TXT"_s, "upper");
        m_dir->put(u"k.Txt"_s, "mixed");
        QVERIFY(QFile::remove(m_dir->filePath(u"K.TXT"_s)));
        QCOMPARE(files.resolve(u"k.txt"_s), u"k.Txt"_s);
        QVERIFY(files.remove(u"K.txt"_s).ok());
        QCOMPARE(m_dir->entries(), QStringList());
        QVERIFY(!files.exists(u"k.txt"_s));
    }

    void folderMovedAwayAndMadeAgain()
    {
        const QString folder = m_dir->filePath(u"data"_s);
        QVERIFY(QDir().mkpath(folder));
        DiskFileService files(folder);
        QVERIFY(!files.exists(u"q.txt"_s));
        QVERIFY(QDir().rename(folder, m_dir->filePath(u"old"_s)));
        QVERIFY(QDir().mkpath(folder));
        QFile theirs(folder + u"/Q.TXT"_s);
        QVERIFY(theirs.open(QIODevice::WriteOnly));
        theirs.close();
        QCOMPARE(files.resolve(u"q.txt"_s), u"Q.TXT"_s);
    }

    void folderIsFixedAtConstruction()
    {
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_dir->path()));
        DiskFileService files;
        QVERIFY(QDir::setCurrent(QDir::tempPath()));
        QVERIFY(files.open(1, u"here.txt"_s, FileMode::Append).ok());
        QVERIFY(files.close(1).ok());
        QVERIFY(QDir::setCurrent(before));
        QCOMPARE(m_dir->entries(), QStringList{u"here.txt"_s});
        QCOMPARE(files.folder(), QDir(m_dir->path()).absolutePath());
    }
};

QTEST_GUILESS_MAIN(TestPlatformCore)
#include "test_platform_core.moc"
