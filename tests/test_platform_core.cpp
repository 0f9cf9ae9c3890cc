#include "core/Clock.h"
#include "core/Codec.h"
#include "core/Conversions.h"
#include "core/DiskFileService.h"
#include "support/ScratchFolder.h"
#include "support/TestData.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <optional>

#include "support/ExfatMount.h"

#include <QProcess>

#include <cmath>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <limits>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace kav::test;
using kav::DiskFileService;
using kav::ErrorKind;

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

// Folder entries by their raw names: a file's bytes, a link as "-> target", else <dir> or <special>.
using Entries = QMap<QByteArray, QByteArray>;

QByteArray utf8(const QString& text)
{
    return text.toUtf8();
}

QByteArray entryPath(const QString& folder, const QByteArray& entry)
{
    return QFile::encodeName(folder) + '/' + entry;
}

bool putEntry(const QString& folder, const QByteArray& entry, const QByteArray& bytes)
{
    const int fd = ::open(entryPath(folder, entry).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const bool written = fd >= 0 && ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    return ::close(fd) == 0 && written;
}

Entries entriesOf(const QString& folder)
{
    Entries out;
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    while (const dirent* e = dir ? ::readdir(dir) : nullptr) {
        const QByteArray name(e->d_name);
        if (name == "." || name == "..")
            continue;
        const QByteArray path = entryPath(folder, name);
        struct stat st;
        ::lstat(path.constData(), &st);
        if (S_ISLNK(st.st_mode)) {
            char text[PATH_MAX];
            const ssize_t length = ::readlink(path.constData(), text, sizeof text);
            out[name] = "-> " + QByteArray(text, std::max<ssize_t>(0, length));
        } else if (S_ISDIR(st.st_mode)) {
            out[name] = "<dir>";
        } else if (S_ISREG(st.st_mode)) {
            QByteArray bytes(int(st.st_size), '\0');
            const int fd = ::open(path.constData(), O_RDONLY);
            const bool read = fd >= 0 && ::read(fd, bytes.data(), size_t(bytes.size())) == bytes.size();
            ::close(fd);
            out[name] = read ? bytes : QByteArray("<unreadable>");
        } else {
            out[name] = "<special>";
        }
    }
    if (dir)
        ::closedir(dir);
    return out;
}

qint64 modifiedNs(const QString& path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0
               ? st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec
               : -1;
}

// A tmpfs mounted over a folder for as long as this lives (needs root).
class Tmpfs
{
public:
    Tmpfs(const QString& folder, const char* options) : m_path(QFile::encodeName(folder))
    {
        m_mounted = ::mount("tmpfs", m_path.constData(), "tmpfs", MS_NOSUID | MS_NODEV, options) == 0;
    }
    ~Tmpfs()
    {
        if (m_mounted)
            ::umount2(m_path.constData(), MNT_DETACH);
    }
    Q_DISABLE_COPY_MOVE(Tmpfs)
    bool mounted() const { return m_mounted; }
    bool setReadOnly()
    {
        return ::mount(nullptr, m_path.constData(), nullptr, MS_REMOUNT | MS_NOSUID | MS_NODEV | MS_RDONLY, nullptr) ==
               0;
    }

private:
    QByteArray m_path;
    bool m_mounted = false;
};

int removeOne(const char* path, const struct stat*, int, FTW*)
{
    return ::remove(path);
}

// The start time /proc gives a process, as the file service names its temporary files.
QByteArray processStart(qint64 pid)
{
    QFile stat(u"/proc/%1/stat"_s.arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return {};
    const QByteArray line = stat.readAll();
    return line.mid(line.lastIndexOf(')') + 2).split(' ').value(19);
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
    // QTemporaryDir cannot remove names that are not UTF-8; these go by their bytes first.
    void cleanup()
    {
        ::nftw(QFile::encodeName(m_dir->path()).constData(), removeOne, 16, FTW_DEPTH | FTW_PHYS);
        m_dir.reset();
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
        const kav::Result<QByteArray> read = files.readAll(name);
        QVERIFY(!read.ok());
        for (const kav::Status& refused : {kav::Status(read.error()), files.replace(name, "x")}) {
            QVERIFY(!refused.ok());
            QCOMPARE(refused.error().file, name);
            QCOMPARE(refused.error().line, 0);
        }
        QVERIFY(!files.remove(name).ok());
        QVERIFY(!files.exists(name));
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
        QCOMPARE(files.readAll(asked).value(), QByteArray("old\r\n"));

        QVERIFY(files.replace(asked, "new\r\n").ok());
        QCOMPARE(m_dir->entries(), QStringList{onDisk});
        QCOMPARE(m_dir->contents(onDisk), QByteArray("new\r\n"));

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
        QVERIFY(files.replace(u"Ab.TXT"_s, "").ok());
        QVERIFY(files.replace(u"Cd.txt"_s, "").ok());
        QCOMPARE(m_dir->entries(), (QStringList{u"Ab.TXT"_s, u"Cd.txt"_s}));
        QCOMPARE(files.resolve(u"AB.txt"_s), u"Ab.TXT"_s);
    }

    void vanishedFolderFails()
    {
        const QString folder = m_dir->filePath(u"gone"_s);
        QVERIFY(QDir().mkpath(folder));
        DiskFileService files(folder);
        QVERIFY(QDir(folder).removeRecursively());
        QCOMPARE(files.replace(u"a.txt"_s, "x").error().kind, ErrorKind::Unreachable);
        QCOMPARE(files.readAll(u"a.txt"_s).error().kind, ErrorKind::Unreachable);
        QVERIFY(!QFileInfo::exists(folder));
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
        QVERIFY(files.replace(u"a.txt"_s, "ours").ok());
        QCOMPARE(m_dir->entries(), QStringList{u"A.TXT"_s});
        QCOMPARE(m_dir->contents(u"A.TXT"_s), QByteArray("ours"));

        QVERIFY(QFile::remove(m_dir->filePath(u"A.TXT"_s)));
        QVERIFY(!files.exists(u"a.txt"_s));
        QVERIFY(files.replace(u"a.txt"_s, "").ok());
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

    void folderIsFixedAtConstruction()
    {
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_dir->path()));
        DiskFileService files;
        QVERIFY(QDir::setCurrent(QDir::tempPath()));
        QVERIFY(files.replace(u"here.txt"_s, "").ok());
        QVERIFY(QDir::setCurrent(before));
        QCOMPARE(m_dir->entries(), QStringList{u"here.txt"_s});
        QCOMPARE(files.folder(), QDir(m_dir->path()).absolutePath());
    }

    // ---- One file per name, whatever its spelling ----------------------------------

    void spellings_data()
    {
        QTest::addColumn<Entries>("before");
        QTest::addColumn<QString>("asked");
        QTest::addColumn<QByteArray>("read"); // "<clash>": the name is refused
        QTest::addColumn<Entries>("after");   // once "NEW" replaced asked
        const QByteArray upper = utf8(u"データ.TXT"_s), lower = utf8(u"データ.txt"_s);
        const QByteArray sjisUpper = sjis(u"データ.TXT"_s);
        QTest::newRow("list in lower case, an empty upper-case one beside it")
            << Entries{{upper, ""}, {lower, "LIST"}} << u"データ.TXT"_s << QByteArray("LIST")
            << Entries{{upper, ""}, {lower, "NEW"}};
        QTest::newRow("list in upper case, an empty lower-case one beside it")
            << Entries{{upper, "LIST"}, {lower, ""}} << u"データ.txt"_s << QByteArray("LIST")
            << Entries{{upper, "NEW"}, {lower, ""}};
        QTest::newRow("both hold data") << Entries{{upper, "ONE"}, {lower, "TWO"}} << u"データ.txt"_s
                                        << QByteArray("<clash>") << Entries{{upper, "ONE"}, {lower, "TWO"}};
        for (const QString& asked : {u"データ.txt"_s, u"データ.TXT"_s})
            QTest::addRow("both empty, asked as %s", qPrintable(asked))
                << Entries{{upper, ""}, {lower, ""}} << asked << QByteArray() << Entries{{upper, "NEW"}, {lower, ""}};
        QTest::newRow("three spellings of a flag file, one with data")
            << Entries{{utf8(u"A(1_50).TXT"_s), ""}, {utf8(u"a(1_50).txt"_s), ""}, {utf8(u"A(1_50).txt"_s), "F"}}
            << u"a(1_50).TXT"_s << QByteArray("F")
            << Entries{{utf8(u"A(1_50).TXT"_s), ""}, {utf8(u"a(1_50).txt"_s), ""}, {utf8(u"A(1_50).txt"_s), "NEW"}};
        QTest::newRow("code page 932 name with data, an empty UTF-8 one beside it")
            << Entries{{sjisUpper, "LIST"}, {upper, ""}} << u"データ.txt"_s << QByteArray("LIST")
            << Entries{{sjisUpper, "NEW"}, {upper, ""}};
        QTest::newRow("code page 932 and UTF-8 names both with data")
            << Entries{{sjisUpper, "OLD"}, {lower, "MINE"}} << u"データ.TXT"_s << QByteArray("<clash>")
            << Entries{{sjisUpper, "OLD"}, {lower, "MINE"}};
        QTest::newRow("code page 932 name only, other letter case asked")
            << Entries{{sjis(u"残巻データ.txt"_s), "R"}} << u"残巻データ.TXT"_s << QByteArray("R")
            << Entries{{sjis(u"残巻データ.txt"_s), "NEW"}};
        QTest::newRow("a link to the other spelling is the same file")
            << Entries{{upper, "-> データ.txt"}, {lower, "LIST"}} << u"データ.TXT"_s << QByteArray("LIST")
            << Entries{{upper, "-> データ.txt"}, {lower, "NEW"}};
        QTest::newRow("a link to a third file with data clashes")
            << Entries{{upper, "-> other"}, {lower, "LIST"}, {"other", "OTHER"}} << u"データ.TXT"_s
            << QByteArray("<clash>") << Entries{{upper, "-> other"}, {lower, "LIST"}, {"other", "OTHER"}};
        QTest::newRow("junk bytes beside are never touched")
            << Entries{{"\xFF\xFE.TXT", "J"}, {"X.TXT", "x"}} << u"x.txt"_s << QByteArray("x")
            << Entries{{"\xFF\xFE.TXT", "J"}, {"X.TXT", "NEW"}};
    }
    void spellings()
    {
        QFETCH(Entries, before);
        QFETCH(QString, asked);
        QFETCH(QByteArray, read);
        QFETCH(Entries, after);
        for (auto it = before.cbegin(); it != before.cend(); ++it) {
            if (it.value().startsWith("-> "))
                QCOMPARE(::symlink(it.value().mid(3).constData(), entryPath(m_dir->path(), it.key()).constData()), 0);
            else
                QVERIFY(putEntry(m_dir->path(), it.key(), it.value()));
        }
        DiskFileService files(m_dir->path());
        QVERIFY(files.exists(asked));
        QVERIFY(files.exists(asked.toUpper()));

        if (read == "<clash>") {
            const kav::Result<QByteArray> got = files.readAll(asked);
            QVERIFY(!got.ok());
            QCOMPARE(got.error().kind, ErrorKind::Clash);
            for (auto it = before.cbegin(); it != before.cend(); ++it) {
                if (it.key() == "other")
                    continue;
                const QString shown = QString::fromUtf8(it.key()).toUtf8() == it.key()
                                          ? QString::fromUtf8(it.key())
                                          : kav::cp932::decode(it.key()).value();
                QVERIFY2(got.error().message.contains(shown), qPrintable(got.error().message));
            }
            for (const kav::Status& refused : {files.replace(asked, "NEW"), files.remove(asked)})
                QCOMPARE(refused.error().kind, ErrorKind::Clash);
            QCOMPARE(entriesOf(m_dir->path()), before);
            return;
        }
        for (const QString& spelling : {asked, asked.toUpper(), asked.toLower()})
            QCOMPARE(files.readAll(spelling).value(), read);
        QVERIFY(files.replace(asked, "NEW").ok());
        QCOMPARE(entriesOf(m_dir->path()), after);
        QCOMPARE(files.readAll(asked.toLower()).value(), QByteArray("NEW"));
        QCOMPARE(files.readAll(asked.toUpper()).value(), QByteArray("NEW"));
        // Removing takes the entry that was written, and only that one.
        QVERIFY(files.remove(asked.toUpper()).ok());
        Entries removed = after;
        removed.erase(std::find(removed.begin(), removed.end(), QByteArray("NEW")));
        QCOMPARE(entriesOf(m_dir->path()), removed);
    }

    void systemSpelling_data()
    {
        QTest::addColumn<Entries>("before");
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<Entries>("after"); // every listed name renamed
        QTest::addColumn<int>("refused");   // renames that fail
        const QByteArray list = sjis(u"データ.TXT"_s), flags = sjis(u"ドラゴン(51_100).TXT"_s);
        QTest::newRow("list and flag file; other files stay")
            << Entries{{list, "L"}, {flags, "F"}, {"ascii.TXT", "a"}, {"\xFF.txt", "junk"}, {sjis(u"メモ.doc"_s), "m"}}
            << QStringList{u"データ.TXT"_s, u"ドラゴン(51_100).TXT"_s}
            << Entries{{utf8(u"データ.TXT"_s), "L"},
                       {utf8(u"ドラゴン(51_100).TXT"_s), "F"},
                       {"ascii.TXT", "a"},
                       {"\xFF.txt", "junk"},
                       {sjis(u"メモ.doc"_s), "m"}}
            << 0;
        QTest::newRow("an empty UTF-8 file of that name gives way")
            << Entries{{list, "L"}, {utf8(u"データ.TXT"_s), ""}} << QStringList{u"データ.TXT"_s}
            << Entries{{utf8(u"データ.TXT"_s), "L"}} << 0;
        QTest::newRow("a UTF-8 file of that name with data is never overwritten")
            << Entries{{list, "L"}, {utf8(u"データ.TXT"_s), "M"}} << QStringList{u"データ.TXT"_s}
            << Entries{{list, "L"}, {utf8(u"データ.TXT"_s), "M"}} << 1;
        QTest::newRow("an empty one in other letter case stays the lesser")
            << Entries{{list, "L"}, {utf8(u"データ.txt"_s), ""}} << QStringList{u"データ.TXT"_s}
            << Entries{{utf8(u"データ.TXT"_s), "L"}, {utf8(u"データ.txt"_s), ""}} << 0;
    }
    void systemSpelling()
    {
        QFETCH(Entries, before);
        QFETCH(QStringList, listed);
        QFETCH(Entries, after);
        QFETCH(int, refused);
        for (auto it = before.cbegin(); it != before.cend(); ++it)
            QVERIFY(putEntry(m_dir->path(), it.key(), it.value()));
        DiskFileService files(m_dir->path());
        QCOMPARE(files.foreignNames(), listed);
        int failed = 0;
        for (const QString& name : listed) {
            const kav::Status renamed = files.renameToSystemSpelling(name);
            if (!renamed) {
                ++failed;
                QCOMPARE(renamed.error().kind, ErrorKind::Clash);
                QCOMPARE(renamed.error().file, name);
            }
        }
        QCOMPARE(failed, refused);
        QCOMPARE(entriesOf(m_dir->path()), after);
        QCOMPARE(files.foreignNames().size(), refused);
        if (refused == 0)
            QCOMPARE(files.readAll(listed.first().toLower()).value(), before.value(sjis(listed.first())));
        QCOMPARE(files.renameToSystemSpelling(u"ascii.TXT"_s).error().kind, ErrorKind::NotFound);
    }

    // ---- Links and things that are not files --------------------------------------------

    void links_data()
    {
        QTest::addColumn<QByteArray>("link");    // what data/X.TXT leads to; VICTIM: the outside file's full path
        QTest::addColumn<QByteArray>("written"); // the file a write reaches, in data/; empty: refused
        QTest::newRow("up and out") << QByteArray("../victim.txt") << QByteArray();
        QTest::newRow("absolute, out") << QByteArray("VICTIM") << QByteArray();
        QTest::newRow("out, to a file not there yet") << QByteArray("../new.txt") << QByteArray();
        QTest::newRow("out, through a link inside") << QByteArray("hop") << QByteArray();
        QTest::newRow("inside") << QByteArray("real.dat") << QByteArray("real.dat");
        QTest::newRow("inside, a subfolder") << QByteArray("sub/deep.dat") << QByteArray("sub/deep.dat");
        QTest::newRow("inside, out and back in") << QByteArray("../data/real.dat") << QByteArray("real.dat");
        QTest::newRow("inside, to a file not there yet") << QByteArray("later.dat") << QByteArray("later.dat");
    }
    void links()
    {
        QFETCH(QByteArray, link);
        QFETCH(QByteArray, written);
        const QString folder = m_dir->filePath(u"data"_s);
        QVERIFY(QDir().mkpath(folder + u"/sub"_s));
        m_dir->put(u"victim.txt"_s, "VICTIM");
        setFolderTime(m_dir->filePath(u"victim.txt"_s), time(nullptr) - 3600);
        QVERIFY(putEntry(folder, "real.dat", "REAL"));
        QVERIFY(putEntry(folder, "sub/deep.dat", "DEEP"));
        QVERIFY(::symlink("../victim.txt", entryPath(folder, "hop").constData()) == 0);
        if (link == "VICTIM")
            link = QFile::encodeName(m_dir->filePath(u"victim.txt"_s));
        QVERIFY(::symlink(link.constData(), entryPath(folder, "X.TXT").constData()) == 0);
        const qint64 victimTime = modifiedNs(m_dir->filePath(u"victim.txt"_s));
        const QStringList outside = m_dir->entries();
        const Entries before = entriesOf(folder);
        DiskFileService files(folder);

        if (written.isEmpty()) {
            for (const kav::Status& refused : {files.replace(u"x.txt"_s, "NEW"), files.remove(u"x.txt"_s)}) {
                QCOMPARE(refused.error().kind, ErrorKind::Unsafe);
                QVERIFY2(refused.error().message.contains(u"X.TXT"), qPrintable(refused.error().message));
            }
            QCOMPARE(entriesOf(folder), before);
        } else {
            QVERIFY(files.replace(u"x.txt"_s, "NEW").ok());
            QCOMPARE(entriesOf(folder).value("X.TXT"), before.value("X.TXT")); // still the same link
            QCOMPARE(m_dir->contents(u"data/"_s + QString::fromUtf8(written)), QByteArray("NEW"));
            QCOMPARE(files.readAll(u"X.TXT"_s).value(), QByteArray("NEW"));
            QVERIFY(files.remove(u"x.txt"_s).ok()); // the link goes, not what it leads to
            QVERIFY(!entriesOf(folder).contains("X.TXT"));
            QCOMPARE(m_dir->contents(u"data/"_s + QString::fromUtf8(written)), QByteArray("NEW"));
        }
        QCOMPARE(m_dir->contents(u"victim.txt"_s), QByteArray("VICTIM"));
        QCOMPARE(modifiedNs(m_dir->filePath(u"victim.txt"_s)), victimTime);
        QCOMPARE(m_dir->entries(), outside);
    }

    void folderReachedThroughLink()
    {
        const QString real = m_dir->filePath(u"real"_s);
        QVERIFY(QDir().mkpath(real));
        QVERIFY(QFile::link(real, m_dir->filePath(u"link"_s)));
        DiskFileService files(m_dir->filePath(u"link"_s));
        QVERIFY(files.replace(u"データ.TXT"_s, "A").ok());
        QVERIFY(files.replace(u"データ.txt"_s, "B").ok());
        QCOMPARE(files.readAll(u"データ.TXT"_s).value(), QByteArray("B"));
        QCOMPARE(entriesOf(real), (Entries{{utf8(u"データ.TXT"_s), "B"}}));
        QVERIFY(files.remove(u"データ.txt"_s).ok());
        QVERIFY(entriesOf(real).isEmpty());
    }

    void notAFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("said");
        QTest::newRow("folder") << u"folder"_s << u"フォルダー"_s;
        QTest::newRow("FIFO") << u"fifo"_s << u"名前付きパイプ"_s;
        QTest::newRow("socket") << u"socket"_s << u"ソケット"_s;
        QTest::newRow("device") << u"device"_s << u"デバイス"_s;
        QTest::newRow("link to a FIFO inside") << u"link"_s << u"名前付きパイプ"_s;
    }
    void notAFile()
    {
        QFETCH(QString, kind);
        QFETCH(QString, said);
        const QByteArray path = entryPath(m_dir->path(), "X.TXT");
        if (kind == u"folder") {
            QCOMPARE(::mkdir(path.constData(), 0755), 0);
        } else if (kind == u"fifo") {
            QCOMPARE(::mkfifo(path.constData(), 0644), 0);
        } else if (kind == u"socket") {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            if (size_t(path.size()) >= sizeof address.sun_path)
                QSKIP("the scratch folder's path is too long for a socket");
            std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
            QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
            ::close(fd);
        } else if (kind == u"device") {
            if (::mknod(path.constData(), S_IFCHR | 0644, makedev(1, 3)) != 0)
                QSKIP("cannot make a device node here (needs root)");
        } else {
            QCOMPARE(::mkfifo(entryPath(m_dir->path(), "pipe").constData(), 0644), 0);
            QCOMPARE(::symlink("pipe", path.constData()), 0);
        }
        const Entries before = entriesOf(m_dir->path());
        DiskFileService files(m_dir->path());
        const kav::Result<QByteArray> read = files.readAll(u"x.txt"_s);
        QVERIFY(!read.ok());
        QCOMPARE(read.error().kind, ErrorKind::NotAFile);
        QVERIFY2(read.error().message.contains(said), qPrintable(read.error().message));
        QVERIFY(read.error().message.contains(u"X.TXT"));
        for (const kav::Status& refused : {files.replace(u"x.txt"_s, "NEW"), files.remove(u"X.txt"_s)})
            QCOMPARE(refused.error().kind, ErrorKind::NotAFile);
        QVERIFY(files.exists(u"x.txt"_s));
        QCOMPARE(entriesOf(m_dir->path()), before);
    }

    // ---- What a failure says --------------------------------------------------------------

    void failureMessages_data()
    {
        QTest::addColumn<QString>("disk"); // read-only, full, limit
        QTest::addColumn<bool>("existing");
        QTest::addColumn<QStringList>("said");
        const QStringList readOnlyNew{u"作成できませんでした"_s, u"フォルダーに書き込めるか確かめて下さい"_s};
        const QStringList readOnlyOld{u"書き込めませんでした"_s, u"書き込めるか確かめて下さい"_s};
        const QStringList full{u"ディスクがいっぱい"_s, u"空きを作る"_s};
        QTest::newRow("new file, read-only folder") << u"read-only"_s << false << readOnlyNew;
        QTest::newRow("existing file, read-only folder") << u"read-only"_s << true << readOnlyOld;
        QTest::newRow("new file, full disk") << u"full"_s << false << full;
        QTest::newRow("existing file, full disk") << u"full"_s << true << full;
        QTest::newRow("existing file, file-size limit") << u"limit"_s << true << full;
    }
    void failureMessages()
    {
        QFETCH(QString, disk);
        QFETCH(bool, existing);
        QFETCH(QStringList, said);
        const QString folder = m_dir->filePath(u"mnt"_s);
        QVERIFY(QDir().mkpath(folder));
        std::optional<Tmpfs> mount;
        if (disk != u"limit") {
            mount.emplace(folder, "size=64k");
            if (!mount->mounted())
                QSKIP("mounting a tmpfs needs root");
        }
        if (existing)
            QVERIFY(putEntry(folder, utf8(u"データ.TXT"_s), "OLD"));
        if (disk == u"read-only")
            QVERIFY(mount->setReadOnly());
        const Entries before = entriesOf(folder);
        DiskFileService files(folder);
        kav::Status status;
        {
            const FileSizeLimit limit(disk == u"limit" ? 4096 : RLIM_INFINITY);
            status = files.replace(u"データ.txt"_s, QByteArray(200 * 1024, 'x'));
        }
        QVERIFY(!status.ok());
        QCOMPARE(status.error().kind, ErrorKind::Write);
        QCOMPARE(status.error().file, u"データ.txt"_s);
        for (const QString& words : said)
            QVERIFY2(status.error().message.contains(words), qPrintable(status.error().message));
        QCOMPARE(entriesOf(folder), before);
    }

    void readMissing()
    {
        DiskFileService files(m_dir->path());
        const kav::Result<QByteArray> read = files.readAll(u"データ.TXT"_s);
        QCOMPARE(read.error().kind, ErrorKind::NotFound);
        QVERIFY(read.error().message.contains(u"見つかりません"));
        QCOMPARE(files.remove(u"データ.TXT"_s).error().kind, ErrorKind::NotFound);
        QCOMPARE(files.readAll(u"../x"_s).error().kind, ErrorKind::Unsafe);
        QVERIFY(m_dir->entries().isEmpty());
    }

    // Without the signal ignored, the kernel ends a process that writes past its limit.
    void fileSizeSignal_data()
    {
        QTest::addColumn<bool>("ignored");
        QTest::newRow("ignored, as main() does") << true;
        QTest::newRow("default") << false;
    }
    void fileSizeSignal()
    {
        QFETCH(bool, ignored);
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            std::signal(SIGXFSZ, SIG_DFL);
            if (ignored)
                kav::IgnoreFileSizeSignal();
            const rlimit limit{4096, RLIM_INFINITY};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            DiskFileService files(m_dir->path());
            const kav::Status saved = files.replace(u"big.txt"_s, QByteArray(100000, 'x'));
            ::_exit(saved.ok() ? 1 : saved.error().message.contains(u"ディスクがいっぱい") ? 0 : 2);
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        if (ignored) {
            QVERIFY(WIFEXITED(status));
            QCOMPARE(WEXITSTATUS(status), 0);
        } else {
            QVERIFY(WIFSIGNALED(status));
            QCOMPARE(WTERMSIG(status), SIGXFSZ);
        }
    }

    // ---- The first listing, made beside the start ----------------------------------------

    void changesWhileFirstListed_data()
    {
        QTest::addColumn<int>("waitMs");
        QTest::newRow("while the folder is listed") << 0;
        QTest::newRow("after it is listed") << 100;
    }
    void changesWhileFirstListed()
    {
        QFETCH(int, waitMs);
        const QString folder = m_dir->path();
        for (int i = 0; i < 2000; ++i) // long enough to list that the changes below may fall into it
            QVERIFY(putEntry(folder, "title" + QByteArray::number(i) + ".txt", "x"));
        QVERIFY(putEntry(folder, utf8(u"消える.txt"_s), "removed"));
        QVERIFY(putEntry(folder, utf8(u"旧名.txt"_s), "renamed"));
        QVERIFY(putEntry(folder, sjis(u"シフト.txt"_s), "removed"));

        DiskFileService files(folder);
        QThread::msleep(waitMs);
        QCOMPARE(::unlink(entryPath(folder, utf8(u"消える.txt"_s)).constData()), 0);
        QCOMPARE(::unlink(entryPath(folder, sjis(u"シフト.txt"_s)).constData()), 0);
        QCOMPARE(::rename(entryPath(folder, utf8(u"旧名.txt"_s)).constData(),
                          entryPath(folder, utf8(u"新名.txt"_s)).constData()),
                 0);
        QVERIFY(putEntry(folder, utf8(u"新規.txt"_s), "made"));
        QVERIFY(putEntry(folder, sjis(u"窓.txt"_s), "made"));

        // Each asked for in other letter case, so only the index can find it; the first look-up
        // is of a name the listing may not have seen.
        const kav::Result<QByteArray> made = files.readAll(u"新規.TXT"_s);
        QVERIFY2(made.ok(), qPrintable(made.ok() ? QString() : made.error().message));
        QCOMPARE(made.value(), "made"_ba);
        QVERIFY(!files.exists(u"消える.TXT"_s));
        QVERIFY(!files.exists(u"旧名.TXT"_s));
        const kav::Result<QByteArray> renamed = files.readAll(u"新名.TXT"_s);
        QVERIFY(renamed.ok());
        QCOMPARE(renamed.value(), "renamed"_ba);
        QVERIFY(files.exists(u"TITLE1999.TXT"_s));
        QCOMPARE(files.foreignNames(), QStringList{u"窓.txt"_s});
    }

    // ---- Temporary files ------------------------------------------------------------------

    void leftoversRemovedAtStart()
    {
        QProcess sleeper;
        sleeper.start(u"sleep"_s, {u"60"_s});
        QVERIFY(sleeper.waitForStarted());
        const QByteArray alive = QByteArray::number(sleeper.processId());
        const QByteArray aliveStart = processStart(sleeper.processId());
        QVERIFY(!aliveStart.isEmpty());
        const pid_t gone = ::fork();
        if (gone == 0)
            ::_exit(0);
        QCOMPARE(::waitpid(gone, nullptr, 0), gone);
        const QByteArray dead = QByteArray::number(gone);

        const Entries kept{{".kavurio-" + alive + "-" + aliveStart + "-1.tmp", "saving now"},
                           {"データ.TXT.Cccahb", "not ours"},
                           {".kavurio-notes.txt", "not ours"},
                           {".kavurio-" + dead + "-99-5.tmp.Ab12C", "not ours: a short suffix"},
                           {".kavurio-" + dead + "-99.tmp", "not ours: two numbers"},
                           {utf8(u"データ.TXT"_s), "LIST"}};
        const Entries removed{{".kavurio-" + dead + "-99-1.tmp", "killed"},
                              {".kavurio-" + dead + "-99-2.tmp.Ab12Cd", "killed"},
                              {".kavurio-" + alive + "-1-3.tmp", "an older process with the same id"}};
        for (const Entries& entries : {kept, removed}) {
            for (auto it = entries.cbegin(); it != entries.cend(); ++it)
                QVERIFY(putEntry(m_dir->path(), it.key(), it.value()));
        }
        QCOMPARE(::mkdir(entryPath(m_dir->path(), ".kavurio-" + dead + "-99-4.tmp").constData(), 0755), 0);
        Entries expected = kept;
        expected.insert(".kavurio-" + dead + "-99-4.tmp", "<dir>");
        DiskFileService files(m_dir->path());
        // The folder is listed, and the leftovers removed, beside the start: the first look-up waits for both.
        QVERIFY(files.exists(u"データ.txt"_s));
        QCOMPARE(entriesOf(m_dir->path()), expected);
        sleeper.kill();
        sleeper.waitForFinished();
    }

    // ---- exFAT through FUSE: a file system that ignores letter case ------------------------

    void exfatOneSpelling_data()
    {
        QTest::addColumn<QString>("created");
        QTest::addColumn<QStringList>("edits");
        QTest::newRow("title list") << u"データ.TXT"_s
                                    << QStringList{u"データ.txt"_s, u"データ.TXT"_s, u"データ.txt"_s};
        QTest::newRow("flag file") << u"A(51_100).TXT"_s
                                   << QStringList{u"a(51_100).txt"_s, u"A(51_100).txt"_s, u"a(51_100).TXT"_s};
    }
    void exfatOneSpelling()
    {
        QFETCH(QString, created);
        QFETCH(QStringList, edits);
        const kav::test::ExfatMount exfat(m_dir->filePath(u"exfat"_s));
        if (!exfat.skipReason().isEmpty())
            QSKIP(qPrintable(exfat.skipReason()));
        QVERIFY2(exfat.mounted(), qPrintable(exfat.error()));
        DiskFileService files(exfat.path());
        QVERIFY(files.replace(created, "0").ok());
        QString onDisk = created;
        for (int i = 0; i < edits.size(); ++i) {
            const QByteArray bytes = QByteArray::number(i + 1);
            QVERIFY(files.replace(edits[i], bytes).ok());
            QCOMPARE(QDir(exfat.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                     QStringList{onDisk});
            for (const QString& spelling : {created, edits[i], created.toLower()}) {
                QCOMPARE(files.readAll(spelling).value(), bytes);
                QProcess cat;
                cat.start(u"cat"_s, {exfat.path() + u'/' + spelling});
                QVERIFY(cat.waitForFinished());
                QCOMPARE(cat.readAllStandardOutput(), bytes);
            }
            // Another program replaces it under the other spelling: read at once, its bytes, not the old pages.
            const QByteArray theirs = "theirs" + bytes;
            QProcess writer;
            writer.start(u"sh"_s, {u"-c"_s, u"printf %s \"$1\" > \"$2.new\" && mv \"$2.new\" \"$2\""_s, u"sh"_s,
                                   QString::fromLatin1(theirs), exfat.path() + u'/' + edits[i].toLower()});
            QVERIFY(writer.waitForFinished());
            QCOMPARE(writer.exitCode(), 0);
            onDisk = edits[i].toLower(); // the name it was renamed to
            const kav::Result<QByteArray> got = files.readAll(created);
            if (!got)
                QFAIL(qPrintable(got.error().message));
            QCOMPARE(got.value(), theirs);
        }
        QVERIFY(files.remove(edits.last().toUpper()).ok());
        QCOMPARE(QDir(exfat.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
        // Not the spelling only the other program used: through FUSE the kernel may remember it for a second.
        QVERIFY(!QFile::exists(exfat.path() + u'/' + onDisk));
        QVERIFY(!files.exists(created));
    }
};

QTEST_GUILESS_MAIN(TestPlatformCore)
#include "test_platform_core.moc"
