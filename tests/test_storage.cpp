#include "core/DiskFileService.h"
#include "storage/Catalogue.h"
#include "storage/Collection.h"
#include "storage/Conflicts.h"
#include "storage/Record.h"
#include "storage/Titles.h"
#include "storage/VolumeFlags.h"
#include "support/ScratchFolder.h"
#include "support/TestData.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace kav;
using namespace kav::storage;
using namespace kav::test;

Q_DECLARE_METATYPE(QList<kav::storage::Field>)
Q_DECLARE_METATYPE(kav::storage::Flags)
Q_DECLARE_METATYPE(kav::storage::TitleProblem)
Q_DECLARE_METATYPE(kav::storage::ListEncoding)
Q_DECLARE_METATYPE(kav::storage::Outcome::Kind)

namespace {

// The disk service, counting replacements and failing the chosen one as a full disk would.
class FlakyFiles final : public FileService
{
public:
    explicit FlakyFiles(const QString& folder) : m_disk(folder) {}

    int writes = 0;
    int failAt = 0; // the replacement that fails, counted from 1

    Result<QByteArray> readAll(const QString& name) override { return m_disk.readAll(name); }
    Status replace(const QString& name, QByteArrayView bytes) override
    {
        if (++writes == failAt)
            return Error{name, u"full"_s, 0};
        return m_disk.replace(name, bytes);
    }
    Status remove(const QString& name) override { return m_disk.remove(name); }
    bool exists(const QString& name) override { return m_disk.exists(name); }

private:
    DiskFileService m_disk;
};

const QString Unencodable = u"A😀"_s;

QByteArray zeroLines(int lines)
{
    return QByteArray("0,0,0,0,0,0,0,0,0,0\r\n").repeated(lines);
}

QByteArray titleRecords(int count)
{
    QByteArray bytes;
    for (int p = 1; p <= count; ++p)
        bytes += "\"T" + QByteArray::number(p) + "\"," + QByteArray::number(p % 50) + ",0\r\n";
    return bytes;
}

Flags flagsOf(std::initializer_list<std::pair<int, int>> set)
{
    Flags flags{};
    for (const auto& [index, value] : set)
        flags[index] = qint16(value);
    return flags;
}

} // namespace

class TestStorage final : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<kav::test::ScratchFolder> m_dir;
    std::unique_ptr<FlakyFiles> m_files;

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<kav::test::ScratchFolder>();
        QVERIFY(m_dir->isValid());
        m_files = std::make_unique<FlakyFiles>(m_dir->path());
    }

    void encodeRecord_data()
    {
        QTest::addColumn<QList<Field>>("fields");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("title record") << QList<Field>{u"A"_s, qint16(5), qint16(0)} << "\"A\",5,0\r\n"_ba;
        QTest::newRow("negative") << QList<Field>{qint16(-3)} << "-3\r\n"_ba;
        QTest::newRow("16-bit limits") << QList<Field>{qint16(-32768), qint16(32767)} << "-32768,32767\r\n"_ba;
        QTest::newRow("empty string") << QList<Field>{QString()} << "\"\"\r\n"_ba;
        QTest::newRow("Japanese piece") << QList<Field>{u"進撃(51_100)"_s, qint16(50), qint16(50)}
                                        << "\"\x90\x69\x8c\x82(51_100)\",50,50\r\n"_ba;
        QTest::newRow("second byte 0x5C") << QList<Field>{u"ソ表"_s, u"1_3"_s} << "\"\x83\\\x95\\\",\"1_3\"\r\n"_ba;
    }
    void encodeRecord()
    {
        QFETCH(QList<Field>, fields);
        QFETCH(QByteArray, bytes);
        const Result<QByteArray> record = EncodeRecord(fields);
        QVERIFY(record);
        QCOMPARE(record.value(), bytes);
    }

    // Many records encoded at once give the bytes, or the failure, of encoding them one by one.
    void encodeRecordsMatchesOneByOne_data()
    {
        QTest::addColumn<QList<Field>>("fields");
        QTest::addColumn<int>("perRecord");
        QTest::newRow("title list") << QList<Field>{u"A(1_50)"_s, qint16(50), qint16(0),
                                                    u"進撃"_s,    qint16(-1), qint16(32767)}
                                    << 3;
        QTest::newRow("flag lines") << QList<Field>(20, qint16(1)) << 10;
        QTest::newRow("no records") << QList<Field>{} << 3;
        QTest::newRow("not in CP932 in the second") << QList<Field>{u"A"_s, u"한"_s} << 1;
        QTest::newRow("quote in the first, not in CP932 after") << QList<Field>{u"a\"b"_s, u"한"_s} << 1;
        QTest::newRow("not in CP932 first, quote after") << QList<Field>{u"한"_s, u"a\"b"_s} << 1;

        const QList<Field> choices = {u"A"_s,   u"進撃の①"_s, QString(),  u"ｶﾞﾘｵ"_s,  u" , "_s,      u"a\"b"_s,
                                      u"x한"_s, qint16(0),    qint16(-1), qint16(50), qint16(-32768)};
        QRandomGenerator random(1207);
        for (int row = 0; row < 60; ++row) {
            const int perRecord = random.bounded(1, 4);
            QList<Field> fields;
            const int records = random.bounded(0, 6);
            for (int k = 0; k < records * perRecord; ++k)
                fields.append(choices[random.bounded(row % 2 ? 5 : choices.size())]);
            QTest::addRow("random %d", row) << fields << perRecord;
        }
    }
    void encodeRecordsMatchesOneByOne()
    {
        QFETCH(QList<Field>, fields);
        QFETCH(int, perRecord);
        QByteArray expected;
        QString failure;
        for (qsizetype i = 0; i < fields.size() && failure.isEmpty(); i += perRecord) {
            const Result<QByteArray> record = EncodeRecord(std::span<const Field>(fields).subspan(i, perRecord));
            record ? void(expected += record.value()) : void(failure = record.error().message);
        }
        const Result<QByteArray> got = EncodeRecords(fields, perRecord);
        QCOMPARE(got.ok(), failure.isEmpty());
        if (got)
            QCOMPARE(got.value(), expected);
        else
            QCOMPARE(got.error().message, failure);
    }

    void unwritableStringsWriteNothing_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("not in CP932") << Unencodable;
        QTest::newRow("double quote") << u"a\"b"_s;
    }
    void unwritableStringsWriteNothing()
    {
        QFETCH(QString, text);
        const Result<QByteArray> written = EncodeRecord({qint16(1), text});
        QVERIFY(!written);
        QVERIFY(!written.error().message.isEmpty());
    }

    // reads: S string, I integer. expected: one value per read, or "!n" for a failure on line n.
    void readField_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("reads");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<bool>("atEnd");
        QTest::newRow("comma inside quotes")
            << "\"A,B\",5,0\r\n"_ba << u"SII"_s << QStringList{u"A,B"_s, u"5"_s, u"0"_s} << true;
        QTest::newRow("leading blanks") << "  5,0\r\n"_ba << u"II"_s << QStringList{u"5"_s, u"0"_s} << true;
        QTest::newRow("blank line as string") << "\r\n"_ba << u"S"_s << QStringList{QString()} << true;
        QTest::newRow("blank line as integer") << "\r\n5"_ba << u"I"_s << QStringList{u"0"_s} << false;
        QTest::newRow("letters as integer") << "abc\r\n"_ba << u"I"_s << QStringList{u"0"_s} << true;
        QTest::newRow("digits then letters") << "12abc\r\n"_ba << u"I"_s << QStringList{u"0"_s} << true;
        QTest::newRow("quoted integer") << "\"12\",-0\r\n"_ba << u"II"_s << QStringList{u"12"_s, u"0"_s} << true;
        QTest::newRow("32767 and -32768")
            << "32767,-32768"_ba << u"II"_s << QStringList{u"32767"_s, u"-32768"_s} << true;
        QTest::newRow("32768 fails") << "1\r\n32768\r\n"_ba << u"II"_s << QStringList{u"1"_s, u"!2"_s} << true;
        QTest::newRow("-32769 fails") << "-32769"_ba << u"I"_s << QStringList{u"!1"_s} << true;
        QTest::newRow("huge value fails")
            << "99999999999999999999,7"_ba << u"II"_s << QStringList{u"!1"_s, u"7"_s} << true;
        QTest::newRow("empty file") << QByteArray() << u"S"_s << QStringList{u"!1"_s} << true;
        QTest::newRow("past the last field") << "5\r\n"_ba << u"II"_s << QStringList{u"5"_s, u"!1"_s} << true;
        QTest::newRow("blank line after record")
            << "\"A\",5,0\r\n\r\n"_ba << u"SIISS"_s << QStringList{u"A"_s, u"5"_s, u"0"_s, QString(), u"!2"_s} << true;
        QTest::newRow("ten on one line") << "1,2,3,4,5,6,7,8,9,10\r\n"_ba << u"IIIIIIIIII"_s
                                         << QStringList{u"1"_s, u"2"_s, u"3"_s, u"4"_s, u"5"_s,
                                                        u"6"_s, u"7"_s, u"8"_s, u"9"_s, u"10"_s}
                                         << true;
        QTest::newRow("ten over two lines")
            << "1,2,3,4,5\r\n6,7,8,9,10\r\n"_ba << u"IIIIIIIIII"_s
            << QStringList{u"1"_s, u"2"_s, u"3"_s, u"4"_s, u"5"_s, u"6"_s, u"7"_s, u"8"_s, u"9"_s, u"10"_s} << true;
        QTest::newRow("LF line ends") << "\"A\",5\n7\n"_ba << u"SII"_s << QStringList{u"A"_s, u"5"_s, u"7"_s} << true;
        QTest::newRow("CR line ends") << "\"A\",5\r7\r"_ba << u"SII"_s << QStringList{u"A"_s, u"5"_s, u"7"_s} << true;
        QTest::newRow("unquoted trailing blanks")
            << "ab c \t,x\r\n"_ba << u"SS"_s << QStringList{u"ab c"_s, u"x"_s} << true;
        QTest::newRow("quoted blanks kept") << "\" a \",1"_ba << u"SI"_s << QStringList{u" a "_s, u"1"_s} << true;
        QTest::newRow("junk after closing quote") << "\"A\"xy,5"_ba << u"SI"_s << QStringList{u"A"_s, u"5"_s} << true;
        QTest::newRow("unclosed quote") << "\"AB"_ba << u"S"_s << QStringList{u"AB"_s} << true;
        QTest::newRow("end-of-file marker")
            << "5,0\r\n\x1a"_ba << u"III"_s << QStringList{u"5"_s, u"0"_s, u"!1"_s} << true;
        QTest::newRow("marker right after field") << "5\x1a"_ba << u"I"_s << QStringList{u"5"_s} << true;
        QTest::newRow("Japanese") << "\"\x83\\\x95\\\",\x90\x69\r\n"_ba << u"SS"_s << QStringList{u"ソ表"_s, u"進"_s}
                                  << true;
        QTest::newRow("bad bytes on line 3") << "\"A\",1\r\n\"B\",2\r\n\"\x85\x40\",3\r\n"_ba << u"SISIS"_s
                                             << QStringList{u"A"_s, u"1"_s, u"B"_s, u"2"_s, u"!3"_s} << false;
        QTest::newRow("lead byte cut off") << "\x81,4"_ba << u"SI"_s << QStringList{u"!1"_s, u"4"_s} << true;
        QTest::newRow("Japanese as integer")
            << "\x90\x69,\xB6\xDE"_ba << u"II"_s << QStringList{u"0"_s, u"0"_s} << true;
        QTest::newRow("bad bytes as integer") << "\x85\x40,4"_ba << u"II"_s << QStringList{u"!1"_s, u"4"_s} << true;
    }
    void readField()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, reads);
        QFETCH(QStringList, expected);
        QFETCH(bool, atEnd);
        InputCursor in{bytes};
        const auto failure = [](const Error& e) {
            return e.message.isEmpty() ? u"!no message"_s : u"!"_s + QString::number(e.line);
        };
        for (qsizetype i = 0; i < reads.size(); ++i) {
            QString got;
            if (reads[i] == u'I') {
                const Result<qint16> value = ReadInteger(in);
                got = value ? QString::number(value.value()) : failure(value.error());
            } else {
                const Result<QString> text = ReadString(in);
                got = text ? text.value() : failure(text.error());
            }
            QCOMPARE(got, expected[i]);
        }
        QCOMPARE(in.atEnd(), atEnd);
    }

    void onlyBlankLinesLeft_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("blank");
        QTest::newRow("nothing") << QByteArray() << true;
        QTest::newRow("line ends") << "\r\n\n\r"_ba << true;
        QTest::newRow("line ends and marker") << "\r\n\x1a"_ba << true;
        QTest::newRow("blank on a line") << "\r\n \r\n"_ba << false;
        QTest::newRow("marker not last") << "\x1a\r\n"_ba << false;
        QTest::newRow("a record") << "\r\n5"_ba << false;
    }
    void onlyBlankLinesLeft()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, blank);
        QCOMPARE(OnlyBlankLinesLeft(InputCursor{bytes}), blank);
        QVERIFY(!OnlyBlankLinesLeft(InputCursor{"5\r\n"_ba + bytes}));
    }

    // Reading a whole file of records at once must give what reading it field by field
    // gives: values, the failure with its line, where the cursor stands, and when it stops.
    void readRecordsMatchesFieldByField_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("layout");
        QTest::addColumn<int>("maxRecords");
        const QByteArray japanese = "\"\x83\\\x95\\(51_100)\",50,50\r\n\"\x83\x52\x83\x7e\x83\x62\x83\x4e\",7,0\r\n"_ba;
        QTest::newRow("title list") << japanese << u"SII"_s << 2000;
        QTest::newRow("blank lines and marker after") << japanese + "\r\n\r\n\x1a"_ba << u"SII"_s << 2000;
        QTest::newRow("marker right after field") << "\"A\",5,0\x1a"_ba << u"SII"_s << 2000;
        QTest::newRow("no final line end") << "\"\x90\x69\",5,0\r\n\"B\",6,0"_ba << u"SII"_s << 2000;
        QTest::newRow("quoted line end and comma") << "\"\x90\x69\r\n,x\",5,0\r\n"_ba << u"SII"_s << 2000;
        QTest::newRow("quote inside unquoted") << "ab\"c,5,0\r\n\x90\x69,1,2\r\n"_ba << u"SII"_s << 2000;
        QTest::newRow("blanks around") << " \t\"\x90\x69\" x, 5 ,\t-0\r\n"_ba << u"SII"_s << 2000;
        QTest::newRow("lone CR and LF") << "\"\x90\x69\",5\r0\n\"B\",1,2\r"_ba << u"SII"_s << 2000;
        QTest::newRow("half-width katakana") << "\xB6\xDE\xD8\xB5,1,2\r\n"_ba << u"SII"_s << 2000;
        QTest::newRow("ten flags on two lines") << "0,1,0,0,2\r\n-1,0,0,0,1\r\n"_ba << u"IIIIIIIIII"_s << 5;
        QTest::newRow("out of range on line 2") << "\"\x90\x69\",5,0\r\n\"B\",32768,0\r\n"_ba << u"SII"_s << 2000;
        QTest::newRow("bad bytes on line 3")
            << "\"A\",5,0\r\n\"\x90\x69\",6,0\r\n\"\x85\x40\",7,0\r\n\"D\",8,0\r\n"_ba << u"SII"_s << 2000;
        QTest::newRow("bad bytes after closing quote") << "\"A\"\x81,5,0\r\n"_ba << u"SII"_s << 2000;
        QTest::newRow("lead byte cut off at end") << "\"\x90\x69\",5,\x81"_ba << u"SII"_s << 2000;
        QTest::newRow("short last record") << "\"\x90\x69\",5,0\r\n\"B\",6\r\n"_ba << u"SII"_s << 2000;
        QTest::newRow("blank line then record") << "\"\x90\x69\",5,0\r\n\r\n\"B\",6,0\r\n"_ba << u"SII"_s << 2000;
        QTest::newRow("more than wanted") << japanese + "  \"C\",1,0\r\n"_ba << u"SII"_s << 2;
        QTest::newRow("only blank lines") << "\r\n\r\n"_ba << u"SII"_s << 2000;
        QTest::newRow("empty") << QByteArray() << u"SII"_s << 2000;

        // Files built from the pieces that matter to the reading, some of them broken.
        const QList<QByteArray> pieces = {"\"",
                                          ",",
                                          "\r\n",
                                          "\r",
                                          "\n",
                                          " ",
                                          "\t",
                                          "0",
                                          "7",
                                          "-",
                                          "32767",
                                          "32768",
                                          "A",
                                          "\x90\x69",
                                          "\x83\\",
                                          "\xB6",
                                          "\x1a",
                                          "\x81",
                                          "\x80",
                                          "\xFD",
                                          "\x85\x40",
                                          "\",5,0\r\n",
                                          "\"\x90\x69\",",
                                          "99999"};
        QRandomGenerator random(20261207);
        for (int row = 0; row < 400; ++row) {
            QByteArray bytes;
            const int length = random.bounded(1, 40);
            const bool clean = row % 3 == 0; // a third without the bytes that fail
            for (int k = 0; k < length; ++k) {
                const QByteArray& piece = pieces[random.bounded(clean ? 16 : pieces.size())];
                bytes += piece;
            }
            const QString layout = row % 2 ? u"SII"_s : u"ISI"_s;
            QTest::addRow("random %d", row) << bytes << layout << int(random.bounded(1, 6));
        }
    }
    void readRecordsMatchesFieldByField()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, layout);
        QFETCH(int, maxRecords);
        QList<FieldKind> kinds;
        for (const QChar c : layout)
            kinds.append(c == u'S' ? FieldKind::String : FieldKind::Integer);

        // Field by field, as every reader of records did before.
        InputCursor one{bytes};
        RecordsRead expected;
        while (!OnlyBlankLinesLeft(one) && !expected.failure) {
            if (expected.records == maxRecords) {
                expected.full = true;
                break;
            }
            QStringList strings;
            QList<qint16> integers;
            for (qsizetype k = 0; k < kinds.size() && !expected.failure; ++k) {
                if (kinds[k] == FieldKind::String) {
                    const Result<QString> text = ReadString(one);
                    text ? strings.append(text.value()) : void(expected.failure = text.error());
                } else {
                    const Result<qint16> value = ReadInteger(one);
                    value ? integers.append(value.value()) : void(expected.failure = value.error());
                }
            }
            if (!expected.failure) {
                expected.strings += strings;
                expected.integers += integers;
                ++expected.records;
            }
        }

        InputCursor whole{bytes};
        const RecordsRead got = ReadRecords(whole, kinds, maxRecords);
        QCOMPARE(got.records, expected.records);
        QCOMPARE(got.strings, expected.strings);
        QCOMPARE(got.integers, expected.integers);
        QCOMPARE(got.full, expected.full);
        QCOMPARE(got.failure.has_value(), expected.failure.has_value());
        if (got.failure) {
            QCOMPARE(got.failure->message, expected.failure->message);
            QCOMPARE(got.failure->line, expected.failure->line);
            QCOMPARE(got.failure->kind, ErrorKind::Format);
        }
        QCOMPARE(whole.pos, one.pos);
    }

    void missingTitleListIsCreatedEmpty()
    {
        Catalogue catalogue;
        catalogue.intKensu = 3;
        const LoadReport report = LoadTitles(*m_files, catalogue);
        QVERIFY(report.created);
        QVERIFY(!report.failure);
        QCOMPARE(catalogue.intKensu, 0);
        QCOMPARE(m_dir->entries(), QStringList{TitleListUpper()});
        QCOMPARE(m_dir->contents(TitleListUpper()), QByteArray());

        const LoadReport again = LoadTitles(*m_files, catalogue);
        QVERIFY(!again.created);
        QVERIFY(!again.failure);
    }

    // A failure keeps the records read whole before it; the file is never touched.
    void loadTitles_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("failureLine");
        QTest::newRow("four titles")
            << "\"A(1_50)\",50,0\r\n\"A(51_100)\",50,50\r\n\"A(101_120)\",20,100\r\n\"B\",12,0\r\n"_ba << 4 << 0;
        QTest::newRow("trailing empty lines") << "\"A\",5,0\r\n\"B\",6,0\r\n\r\n\r\n"_ba << 2 << 0;
        QTest::newRow("no final line end") << "\"A\",5,0\r\n\"B\",6,0"_ba << 2 << 0;
        QTest::newRow("end-of-file marker") << "\"A\",5,0\r\n\x1a"_ba << 1 << 0;
        QTest::newRow("short last record") << "\"A\",5,0\r\n\"B\",6\r\n"_ba << 1 << 2;
        QTest::newRow("number out of range") << "\"A\",5,0\r\n\"B\",99999,0\r\n\"C\",1,0\r\n"_ba << 1 << 2;
        QTest::newRow("bad bytes on line 3")
            << "\"A\",5,0\r\n\"B\",6,0\r\n\"\x85\x40\",7,0\r\n\"D\",8,0\r\n"_ba << 2 << 3;
        QTest::newRow("lone lead byte on line 3") << "\"A\",1,0\r\n\"B\",1,0\r\n\"\x81\",1,0\r\n"_ba << 2 << 3;
        QTest::newRow("2000 titles") << titleRecords(2000) << 2000 << 0;
        QTest::newRow("2001 titles") << titleRecords(2001) << 2000 << 2001;
    }
    void loadTitles()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, count);
        QFETCH(int, failureLine);
        m_dir->put(TitleListUpper(), bytes);
        Catalogue catalogue;
        const LoadReport report = LoadTitles(*m_files, catalogue);
        QCOMPARE(catalogue.intKensu, count);
        QCOMPARE(report.failure.has_value(), failureLine != 0);
        if (report.failure) {
            QCOMPARE(report.failure->line, failureLine);
            QCOMPARE(report.failure->file, TitleListUpper());
        }
        if (count < MaxTitles)
            QVERIFY(catalogue.strName[count + 1].isEmpty()); // no half-read record
        QCOMPARE(m_dir->contents(TitleListUpper()), bytes);
    }

    void titlesReadInOrder()
    {
        m_dir->put(TitleListUpper(), "\"A(51_100)\",50,50\r\n\"\x90\x69\x8c\x82\",-1,7\r\n"_ba);
        Catalogue catalogue;
        QVERIFY(!LoadTitles(*m_files, catalogue).failure);
        QCOMPARE(catalogue.intKensu, 2);
        QCOMPARE(catalogue.strName[1], u"A(51_100)"_s);
        QCOMPARE(catalogue.intKansu[1], 50);
        QCOMPARE(catalogue.intSyo[1], 50);
        QCOMPARE(catalogue.strName[2], u"進撃"_s);
        QCOMPARE(catalogue.intKansu[2], -1);
        QCOMPARE(catalogue.intSyo[2], 7);
    }

    void lowerCaseTitleListIsFound()
    {
        m_dir->put(TitleListLower(), "\"A\",5,0\r\n"_ba);
        Catalogue catalogue;
        const LoadReport report = LoadTitles(*m_files, catalogue);
        QVERIFY(!report.created);
        QCOMPARE(catalogue.intKensu, 1);
        QCOMPARE(m_dir->entries(), QStringList{TitleListLower()});
    }

    void unreadableTitleListIsLeftAlone()
    {
        QVERIFY(QDir(m_dir->path()).mkdir(TitleListUpper()));
        Catalogue catalogue;
        catalogue.intKensu = 5;
        const LoadReport report = LoadTitles(*m_files, catalogue);
        QVERIFY(report.failure);
        QVERIFY(!report.created);
        QCOMPARE(catalogue.intKensu, 0);
        QVERIFY(QFileInfo(m_dir->filePath(TitleListUpper())).isDir());
    }

    void titlesEncodeByteForByte()
    {
        const QByteArray bytes = "\"A(1_50)\",50,0\r\n\"\x90\x69\x8c\x82\",-3,0\r\n\"\",0,32767\r\n"_ba;
        m_dir->put(TitleListUpper(), bytes);
        Catalogue catalogue;
        QVERIFY(!LoadTitles(*m_files, catalogue).failure);
        QCOMPARE(EncodeTitles(catalogue).value(), bytes);
    }

    void appendAfterHandEditedEnd_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        const QByteArray z = "\"Z\",3,0\r\n"_ba;
        QTest::newRow("program's own end") << "\"A\",5,0\r\n"_ba
                                           << "\"A\",5,0\r\n"_ba + z;
        QTest::newRow("LF line ends kept") << "A,5,0\n"_ba
                                           << "A,5,0\n"_ba + z;
        QTest::newRow("no line end after the last record") << "A , 5 ,0"_ba
                                                           << "A , 5 ,0\r\n"_ba + z;
        QTest::newRow("trailing blank lines") << "\"A\",5,0\r\n\r\n\n"_ba
                                              << "\"A\",5,0\r\n"_ba + z;
        QTest::newRow("end-of-file mark") << "\"A\",5,0\r\n\x1A"_ba
                                          << "\"A\",5,0\r\n"_ba + z;
        QTest::newRow("mark right after the record") << "\"A\",5,0\x1A"_ba
                                                     << "\"A\",5,0\r\n"_ba + z;
        QTest::newRow("lone CR") << "\"A\",5,0\r"_ba
                                 << "\"A\",5,0\r\n"_ba + z;
        QTest::newRow("UTF-16 written anew") << "\xFF\xFE\"\0A\0\"\0,\0\x35\0,\0\x30\0"_ba
                                             << "\"A\",5,0\r\n"_ba + z;
        QTest::newRow("empty file") << QByteArray() << z;
        QTest::newRow("only blank lines") << "\r\n\r\n"_ba << z;
        // The quote would take the line end and the new record into the last field.
        QTest::newRow("unmatched quote in the last field") << "A,5,0\r\nB,6,\"0\r\n"_ba
                                                           << "\"A\",5,0\r\n\"B\",6,0\r\n"_ba + z;
    }
    void appendAfterHandEditedEnd()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        m_dir->put(TitleListUpper(), before);
        Catalogue catalogue;
        const bool wasWhole = !LoadTitles(*m_files, catalogue).failure;
        QVERIFY(Collection(*m_files).add({{u"Z"_s, 3, 0}}).ok());
        QCOMPARE(m_dir->contents(TitleListUpper()), after);
        QCOMPARE(m_dir->entries(), (QStringList{u"Z.TXT"_s, TitleListUpper()}));
        // Whatever loaded whole before still does, one title longer.
        const int titles = catalogue.intKensu;
        QVERIFY(wasWhole);
        QVERIFY(!LoadTitles(*m_files, catalogue).failure);
        QCOMPARE(int(catalogue.intKensu), titles + 1);
        QCOMPARE(catalogue.strName[catalogue.intKensu], u"Z"_s);
    }

    void missingVolumeFileGivesZeros()
    {
        Flags flags;
        flags.fill(7);
        const FlagsRead read = LoadVolumes(*m_files, u"A.TXT"_s, flags);
        QVERIFY(read.missing);
        QCOMPARE(flags, Flags{});
        QCOMPARE(m_dir->entries(), QStringList());
    }

    void loadVolumes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("onFailure");
        QTest::addColumn<Flags>("flags");
        QTest::addColumn<int>("failureLine");
        const int skip = int(OnReadFailure::SkipGroup);
        const int stop = int(OnReadFailure::Stop);
        QTest::newRow("empty") << QByteArray() << skip << Flags{} << 1;
        QTest::newRow("two values") << "1,1\r\n"_ba << skip << flagsOf({{1, 1}, {2, 1}}) << 1;
        QTest::newRow("no line end at the end") << "0,0,0,0,0,0,0,0,0,1"_ba << skip << flagsOf({{10, 1}}) << 1;
        QByteArray fiftyLines;
        for (int i = 1; i <= 50; ++i)
            fiftyLines += i == 20 ? "1\r\n" : "0\r\n";
        QTest::newRow("fifty lines of one") << fiftyLines << skip << flagsOf({{20, 1}}) << 0;
        const QByteArray five = "0,0,1,0,0,0,0,0,0,0\r\n0,1,0,0,0,0,0,0,0,0\r\n"_ba + zeroLines(3);
        QTest::newRow("five lines") << five << skip << flagsOf({{3, 1}, {12, 1}}) << 0;
        QTest::newRow("one line") << QByteArray(five).replace("\r\n", ",").chopped(1) << skip
                                  << flagsOf({{3, 1}, {12, 1}}) << 0;
        QTest::newRow("other values kept")
            << "2,-1,32767\r\n"_ba << skip << flagsOf({{1, 2}, {2, -1}, {3, 32767}}) << 1;
        QTest::newRow("after the fiftieth ignored") << zeroLines(5) + "1,1,x\"\r\n"_ba << skip << Flags{} << 0;

        // Field n holds n; field 13 is out of range.
        QByteArray numbered;
        for (int n = 1; n <= 60; ++n)
            numbered += (n == 13 ? "40000"_ba : QByteArray::number(n)) + (n % 10 ? "," : "\r\n");
        Flags skipped{};
        Flags stopped{};
        for (int i = 1; i <= 12; ++i)
            skipped[i] = stopped[i] = qint16(i);
        for (int i = 21; i <= 50; ++i)
            skipped[i] = qint16(i - 7); // the next group starts at the field after the failure
        // A byte-order mark (a Windows editor's "Unicode") takes no flag's place.
        QTest::newRow("UTF-16 mark") << QByteArray(
                                            QStringEncoder(QStringConverter::Utf16BE, QStringConverter::Flag::WriteBom)
                                                .encode(QString::fromLatin1(five)))
                                     << skip << flagsOf({{3, 1}, {12, 1}}) << 0;
        QTest::newRow("out of range, skip the group") << numbered << skip << skipped << 2;
        QTest::newRow("out of range, stop") << numbered << stop << stopped << 2;
    }
    void loadVolumes()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, onFailure);
        QFETCH(Flags, flags);
        QFETCH(int, failureLine);
        m_dir->put(u"a(1_50).txt"_s, bytes);
        Flags loaded;
        loaded.fill(7);
        const FlagsRead read = LoadVolumes(*m_files, u"A(1_50).TXT"_s, loaded, OnReadFailure(onFailure));
        QVERIFY(!read.missing);
        QCOMPARE(loaded, flags);
        QCOMPARE(read.failure ? read.failure->line : 0, failureLine);
    }

    void saveVolumesWritesFiveLines()
    {
        m_dir->put(u"A.TXT"_s, "1,1\r\n"_ba);
        Flags flags;
        (void)LoadVolumes(*m_files, u"A.TXT"_s, flags);
        flags[50] = -2;
        QVERIFY(SaveVolumes(*m_files, u"A.TXT"_s, flags));
        QCOMPARE(m_dir->contents(u"A.TXT"_s),
                 "1,1,0,0,0,0,0,0,0,0\r\n"_ba + zeroLines(3) + "0,0,0,0,0,0,0,0,0,-2\r\n"_ba);
    }

    void createVolumesEmptiesFlags()
    {
        m_dir->put(u"A.TXT"_s, "1,1,1\r\n"_ba);
        QVERIFY(CreateVolumes(*m_files, u"a.txt"_s));
        QCOMPARE(m_dir->contents(u"A.TXT"_s), zeroLines(5));
        QCOMPARE(m_dir->contents(u"A.TXT"_s).size(), 105);
        QCOMPARE(m_dir->entries(), QStringList{u"A.TXT"_s});
    }

    void failedSaveVolumesKeepsOldFile()
    {
        m_dir->put(u"A.TXT"_s, "1,1\r\n"_ba);
        m_files->failAt = 1;
        QVERIFY(!SaveVolumes(*m_files, u"A.TXT"_s, Flags{}));
        m_files->writes = 0;
        QVERIFY(!CreateVolumes(*m_files, u"A.TXT"_s));
        QCOMPARE(m_dir->contents(u"A.TXT"_s), "1,1\r\n"_ba);
    }

    void encodeTitlesAsRecords_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("offset");
        QTest::newRow("ASCII") << u"A(51_100)"_s << 50 << 50;
        QTest::newRow("Japanese") << u"鋼の錬金術師"_s << 27 << 0;
        QTest::newRow("half-width katakana") << u"ｶﾞﾝﾀﾞﾑ"_s << 1 << 0;
        QTest::newRow("empty name, extremes") << QString() << -32768 << 32767;
        QTest::newRow("a quote") << u"a\"b"_s << 1 << 0;
        QTest::newRow("not in code page 932") << Unencodable << 1 << 0;
    }
    // The whole list is the records EncodeRecord gives, one after the other, or fails as it does.
    void encodeTitlesAsRecords()
    {
        QFETCH(QString, name);
        QFETCH(int, count);
        QFETCH(int, offset);
        Catalogue catalogue;
        catalogue.strName[1] = u"X"_s;
        catalogue.strName[2] = name;
        catalogue.intKansu[2] = qint16(count);
        catalogue.intSyo[2] = qint16(offset);
        catalogue.intKensu = 2;
        const Result<QByteArray> one = EncodeRecord({name, qint16(count), qint16(offset)});
        const Result<QByteArray> all = EncodeTitles(catalogue);
        QCOMPARE(all.ok(), one.ok());
        if (one)
            QCOMPARE(all.value(), "\"X\",0,0\r\n"_ba + one.value());
    }

    void checkTitle_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<TitleProblem>("problem");
        QTest::newRow("plain") << u"名探偵コナン"_s << TitleProblem::None;
        for (const QChar c : u"\\/:,;*?\"<>|"_s)
            QTest::addRow("%s", qPrintable(QString(c))) << u"A"_s + c + u"B"_s << TitleProblem::Forbidden;
        QTest::newRow("only the character") << u"*"_s << TitleProblem::Forbidden;
        QTest::newRow("at the end") << u"Title?"_s << TitleProblem::Forbidden;
        QTest::newRow("tab") << u"a\tb"_s << TitleProblem::Control;
        QTest::newRow("line break") << u"a\r\nb"_s << TitleProblem::Control;
        QTest::newRow("not in code page 932") << u"한국"_s << TitleProblem::NotCp932;
        QTest::newRow("230 characters") << QString(230, u'x') << TitleProblem::None;
        QTest::newRow("231 characters") << QString(231, u'x') << TitleProblem::TooLong;
        QTest::newRow("300 characters") << QString(300, u'x') << TitleProblem::TooLong;
        QTest::newRow("77 kanji") << QString(77, u'漫') << TitleProblem::TooLong; // 231 bytes of a file name
        QTest::newRow("CON") << u"CON"_s << TitleProblem::Reserved;
        QTest::newRow("con") << u"con"_s << TitleProblem::Reserved;
        QTest::newRow("Nul.txt") << u"Nul.txt"_s << TitleProblem::Reserved;
        QTest::newRow("aux with blanks before the dot") << u"aux  .old"_s << TitleProblem::Reserved;
        QTest::newRow("COM1") << u"COM1"_s << TitleProblem::Reserved;
        QTest::newRow("lpt9") << u"lpt9"_s << TitleProblem::Reserved;
        QTest::newRow("Lpt1") << u"Lpt1"_s << TitleProblem::Reserved;
        QTest::newRow("com9.abc") << u"com9.abc"_s << TitleProblem::Reserved;
        QTest::newRow("PRN") << u"PRN"_s << TitleProblem::Reserved;
        QTest::newRow("COM10") << u"COM10"_s << TitleProblem::None;
        QTest::newRow("LPT0") << u"LPT0"_s << TitleProblem::None;
        QTest::newRow("CONAN") << u"CONAN"_s << TitleProblem::None;
        QTest::newRow("full-width ＣＯＮ") << u"ＣＯＮ"_s << TitleProblem::None;
        QTest::newRow("trailing blank") << u"A "_s << TitleProblem::Reserved;
        QTest::newRow("blanks only") << u"   "_s << TitleProblem::Reserved;
        QTest::newRow("trailing dot") << u"A."_s << TitleProblem::Reserved;
        QTest::newRow("dot inside") << u"Vol.2 X"_s << TitleProblem::None;
        QTest::newRow("leading blank") << u" A"_s << TitleProblem::None;
    }
    void checkTitle()
    {
        QFETCH(QString, title);
        QFETCH(TitleProblem, problem);
        QCOMPARE(CheckTitle(title), problem);
    }

    void splitIntoPieces_data()
    {
        QTest::addColumn<int>("volumes");
        QTest::addColumn<int>("pieces");
        QTest::addColumn<QString>("lastName");
        QTest::addColumn<int>("lastCount");
        QTest::addColumn<int>("lastOffset");
        QTest::newRow("50") << 50 << 1 << u"T"_s << 50 << 0;
        QTest::newRow("51") << 51 << 2 << u"T(51_51)"_s << 1 << 50;
        QTest::newRow("100") << 100 << 2 << u"T(51_100)"_s << 50 << 50;
        QTest::newRow("101") << 101 << 3 << u"T(101_101)"_s << 1 << 100;
        QTest::newRow("32767") << 32767 << 656 << u"T(32751_32767)"_s << 17 << 32750;
    }
    void splitIntoPieces()
    {
        QFETCH(int, volumes);
        QFETCH(int, pieces);
        QFETCH(QString, lastName);
        QFETCH(int, lastCount);
        QFETCH(int, lastOffset);
        const QList<Piece> split = SplitIntoPieces(u"T"_s, qint16(volumes));
        QCOMPARE(split.size(), pieces);
        QCOMPARE(split.last().name, lastName);
        QCOMPARE(int(split.last().count), lastCount);
        QCOMPARE(int(split.last().offset), lastOffset);
        int total = 0;
        for (const Piece& piece : split)
            total += piece.count;
        QCOMPARE(total, volumes);
    }

    void listEncoding_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<ListEncoding>("encoding");
        QTest::addColumn<QStringList>("titles");
        const QStringList japanese{u"名探偵コナン"_s, u"呪術廻戦"_s, u"鋼の錬金術師"_s};
        for (const QString& title : japanese) {
            const QStringList one{title, u"ONE PIECE"_s};
            const QByteArray sjisList = record(title, 50, 0) + record(u"ONE PIECE"_s, 3, 0);
            const QByteArray utf8List = "\""_ba + title.toUtf8() + "\",50,0\r\n\"ONE PIECE\",3,0\r\n"_ba;
            QTest::addRow("Shift-JIS %s", qPrintable(title)) << sjisList << ListEncoding::ShiftJis << one;
            QTest::addRow("UTF-8 %s", qPrintable(title)) << utf8List << ListEncoding::Utf8 << one;
            QTest::addRow("UTF-8 with BOM %s", qPrintable(title))
                << "\xEF\xBB\xBF"_ba + utf8List << ListEncoding::Utf8 << one;
        }
        QTest::newRow("Shift-JIS half-width katakana")
            << record(u"ｶﾞﾝﾀﾞﾑ"_s, 3, 0) << ListEncoding::ShiftJis << QStringList{u"ｶﾞﾝﾀﾞﾑ"_s};
        QTest::newRow("UTF-8 second-level kanji")
            << "\"薔薇王の葬列\",9,0\r\n"_ba << ListEncoding::Utf8 << QStringList{u"薔薇王の葬列"_s};
        QTest::newRow("ASCII only") << "\"A\",1,0\r\n"_ba << ListEncoding::ShiftJis << QStringList{u"A"_s};
        QTest::newRow("UTF-8 several titles, LF ends")
            << "\"進撃の巨人(1_50)\",50,0\n\"鬼滅の刃\",23,0\n\"ちはやふる\",50,0\n"_ba << ListEncoding::Utf8
            << QStringList{u"進撃の巨人(1_50)"_s, u"鬼滅の刃"_s, u"ちはやふる"_s};
    }
    void listEncoding()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(ListEncoding, encoding);
        QFETCH(QStringList, titles);
        QCOMPARE(DetectListEncoding(bytes), encoding);
        Catalogue catalogue;
        const LoadReport report = ParseTitles(bytes, catalogue);
        QVERIFY(!report.failure);
        QStringList read;
        for (int p = 1; p <= catalogue.intKensu; ++p)
            read.append(catalogue.strName[p]);
        QCOMPARE(read, titles);
    }

    // Every kana and first-level kanji, beside others and beside half-width katakana: the
    // characters real titles are written in. A real list never reads as UTF-8.
    void noShiftJisListIsTakenForUtf8()
    {
        const QStringList partners{u"の"_s, u"ア"_s, u"一"_s, u"巻"_s, u"ｱ"_s, u"ｶﾞ"_s, u"ﾝﾀﾞ"_s, u"A"_s};
        int checked = 0;
        for (char16_t u = 0x3000; u < 0xFFE6; ++u) {
            const QString c(QChar{u});
            QStringEncoder encoder("windows-31j", QStringEncoder::Flag::Stateless);
            const QByteArray bytes = encoder.encode(c);
            if (encoder.hasError() || bytes.size() != 2)
                continue;
            const uchar lead = uchar(bytes[0]);
            const uchar trail = uchar(bytes[1]);
            if (lead == 0x87 || lead > 0x98 || (lead == 0x98 && trail >= 0x9F))
                continue; // second-level kanji and extensions
            for (const QString& partner : partners) {
                for (const QString& title : {c + partner, partner + c, c + c + c}) {
                    if (DetectListEncoding(record(title, 1, 0)) != ListEncoding::ShiftJis)
                        QFAIL(qPrintable(u"taken for UTF-8: "_s + title));
                    ++checked;
                }
            }
        }
        QVERIFY(checked > 50000);
    }

    void editsRewriteTheListOnDisk_data()
    {
        QTest::addColumn<int>("command"); // 0 count, 1 start, 2 delete
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("count of B") << 0 << u"B"_s
                                    << record(u"A"_s, 3, 0) + record(u"B"_s, 7, 0) + record(u"漫画"_s, 5, 0);
        QTest::newRow("start of 漫画") << 1 << u"漫画"_s
                                       << record(u"A"_s, 3, 0) + record(u"B"_s, 4, 0) + record(u"漫画"_s, 5, 100);
        QTest::newRow("delete A") << 2 << u"A"_s << record(u"B"_s, 4, 0) + record(u"漫画"_s, 5, 0);
        QTest::newRow("delete the last") << 2 << u"漫画"_s << record(u"A"_s, 3, 0) + record(u"B"_s, 4, 0);
    }
    void editsRewriteTheListOnDisk()
    {
        QFETCH(int, command);
        QFETCH(QString, name);
        QFETCH(QByteArray, after);
        // As a text editor left it: unquoted, LF ends, no end after the last line.
        m_dir->put(TitleListUpper(), "A,3,0\n\"B\",4,0\n"_ba + sjis(u"漫画"_s) + ",5,0"_ba);
        m_dir->put(FlagFileUpper(name), "1,1\r\n"_ba);
        Collection store(*m_files);
        const Outcome change = command == 0   ? store.setCount(name, 7)
                               : command == 1 ? store.setStart(name, 100)
                                              : store.remove(name);
        QVERIFY(change.ok());
        QCOMPARE(m_dir->contents(TitleListUpper()), after);
        // Only deletion touches the flag file.
        QCOMPARE(QFile::exists(m_dir->filePath(FlagFileUpper(name))), command != 2);
        // The window shows the list as the command wrote it: it must be what reading the file gives.
        Catalogue read;
        QVERIFY(!ParseTitles(after, read).failure);
        QCOMPARE(store.catalogue().intKensu, read.intKensu);
        for (int p = 1; p <= read.intKensu; ++p) {
            QCOMPARE(store.catalogue().strName[p], read.strName[p]);
            QCOMPARE(store.catalogue().intKansu[p], read.intKansu[p]);
            QCOMPARE(store.catalogue().intSyo[p], read.intSyo[p]);
        }
        QCOMPARE(store.look({}), Collection::Look::Same);
    }

    // A list read before is not parsed again, but any change of its bytes is seen.
    void listReadAgainFollowsItsBytes()
    {
        m_dir->put(TitleListUpper(), record(u"A"_s, 3, 0));
        Collection store(*m_files);
        store.load();
        QCOMPARE(store.catalogue().intKansu[1], 3);
        m_dir->put(TitleListUpper(), record(u"A"_s, 4, 0)); // the same size
        QCOMPARE(store.look({}), Collection::Look::ListChanged);
        store.load();
        QCOMPARE(store.catalogue().intKansu[1], 4);
        m_dir->put(TitleListUpper(), "\"A\",99999,0\r\n"_ba);
        QVERIFY(store.load().failure);
        QVERIFY(store.load().failure); // and again from the same bytes
        QCOMPARE(store.setCount(u"A"_s, 5).kind, Outcome::ListUnreadable);
        m_dir->put(TitleListUpper(), record(u"A"_s, 4, 0));
        QVERIFY(store.setCount(u"A"_s, 5).ok());
        QCOMPARE(m_dir->contents(TitleListUpper()), record(u"A"_s, 5, 0));
        QCOMPARE(store.catalogue().intKansu[1], 5);
    }

    void commandsLeaveFilesAloneWhenTheyCannot_data()
    {
        QTest::addColumn<QByteArray>("list");
        QTest::addColumn<int>("command"); // 0 count, 1 start, 2 delete, 3 flag
        QTest::addColumn<Outcome::Kind>("outcome");
        const QByteArray list = record(u"A"_s, 3, 0) + record(u"B"_s, 4, 0);
        const QByteArray torn = list + "\"C\",5"_ba;
        for (int command = 0; command < 4; ++command) {
            QTest::addRow("gone, command %d", command) << list << command << Outcome::Gone;
            QTest::addRow("list torn, command %d", command) << torn << command << Outcome::ListUnreadable;
        }
    }
    void commandsLeaveFilesAloneWhenTheyCannot()
    {
        QFETCH(QByteArray, list);
        QFETCH(int, command);
        QFETCH(Outcome::Kind, outcome);
        m_dir->put(TitleListUpper(), list);
        m_dir->put(u"C.TXT"_s, "1,0,1\r\n"_ba);
        const auto before = m_dir->state();
        Flags after{};
        Collection store(*m_files);
        const Outcome change = command == 0   ? store.setCount(u"C"_s, 7)
                               : command == 1 ? store.setStart(u"C"_s, 50)
                               : command == 2 ? store.remove(u"C"_s)
                                              : store.toggle(u"C"_s, 2, after);
        // A torn list still lets the flags of a title it shows be switched.
        if (command == 3 && outcome == Outcome::ListUnreadable) {
            QVERIFY(change.ok());
            QCOMPARE(m_dir->contents(u"C.TXT"_s), "1,1,1,0,0,0,0,0,0,0\r\n"_ba + zeroLines(4));
            return;
        }
        QCOMPARE(change.kind, outcome);
        QCOMPARE(m_dir->state(), before);
    }

    // A step goes back, and forth again, only over what it left: someone else's change since refuses it.
    void stepsTakeBackOnlyTheirOwnChange_data()
    {
        QTest::addColumn<int>("command"); // 0 click, 1 range, 2 count, 3 start, 4 register, 5 delete
        QTest::addColumn<QString>("meddled");
        QTest::addColumn<QByteArray>("meddledTo");
        QTest::addColumn<QByteArray>("undoneFlags"); // A.TXT after the undo; empty: all as before
        const QByteArray list = record(u"A"_s, 20, 0) + record(u"B"_s, 4, 0);
        const QString none;
        for (int command = 0; command < 6; ++command)
            QTest::addRow("%d as it left it", command) << command << none << QByteArray() << QByteArray();
        QTest::newRow("click, its flag switched back") << 0 << u"A.TXT"_s << flagFile({2, 11}) << QByteArray();
        QTest::newRow("click, another flag set")
            << 0 << u"A.TXT"_s << flagFile({2, 5, 11, 30}) << flagFile({2, 11, 30});
        QTest::newRow("range, one of it switched back")
            << 1 << u"A.TXT"_s << flagFile({2, 3, 4, 6, 7, 8, 11}) << QByteArray();
        QTest::newRow("count edited again")
            << 2 << TitleListUpper() << record(u"A"_s, 25, 0) + record(u"B"_s, 4, 0) << QByteArray();
        QTest::newRow("start, title deleted") << 3 << TitleListUpper() << record(u"B"_s, 4, 0) << QByteArray();
        QTest::newRow("registration, a piece marked") << 4 << u"C(51_100).TXT"_s << flagFile({1}) << QByteArray();
        QTest::newRow("deletion, flag file made") << 5 << u"A.TXT"_s << flagFile({}) << QByteArray();
        QTest::newRow("deletion, registered again") << 5 << TitleListUpper() << list << QByteArray();
    }
    void stepsTakeBackOnlyTheirOwnChange()
    {
        QFETCH(int, command);
        QFETCH(QString, meddled);
        QFETCH(QByteArray, meddledTo);
        QFETCH(QByteArray, undoneFlags);
        m_dir->put(TitleListUpper(), record(u"A"_s, 20, 0) + record(u"B"_s, 4, 0));
        // As an editor left it: a deletion's undo puts it back byte for byte.
        m_dir->put(u"A.TXT"_s, command == 5 ? "0,1\n1\n\n"_ba : flagFile({2, 11}));
        const auto before = m_dir->state();
        Collection store(*m_files);
        Flags after{};
        const Outcome done = command == 0   ? store.toggle(u"A"_s, 5, after)
                             : command == 1 ? store.setFlags(u"A"_s, 8, 3, 1, after)
                             : command == 2 ? store.setCount(u"A"_s, 30)
                             : command == 3 ? store.setStart(u"A"_s, 50)
                             : command == 4 ? store.add(SplitIntoPieces(u"C"_s, 120), u"C"_s)
                                            : store.remove(u"A"_s);
        QVERIFY(done.ok() && done.change);
        if (command == 1)
            QCOMPARE(m_files->writes, 1); // the whole range in one replacement
        const auto changed = m_dir->state();
        if (!meddled.isEmpty())
            m_dir->put(meddled, meddledTo);
        const auto meddledState = m_dir->state();
        const Outcome undone = store.undo(*done.change);
        if (!meddled.isEmpty() && undoneFlags.isEmpty()) {
            QCOMPARE(undone.kind, Outcome::Changed);
            QCOMPARE(m_dir->state(), meddledState);
            return;
        }
        QVERIFY(undone.ok());
        if (!undoneFlags.isEmpty()) {
            QCOMPARE(m_dir->contents(u"A.TXT"_s), undoneFlags);
            return;
        }
        QCOMPARE(m_dir->state(), before);
        QVERIFY(store.redo(*done.change).ok());
        QCOMPARE(m_dir->state(), changed);
        QCOMPARE(store.redo(*done.change).kind, Outcome::Changed); // done already
    }

    void toggleFlagKeepsOthersFlags()
    {
        m_dir->put(TitleListUpper(), record(u"A"_s, 50, 0));
        m_dir->put(u"a.txt"_s, "0,0,1\r\n"_ba); // set by another window, in its own spelling
        Flags after{};
        QVERIFY(Collection(*m_files).toggle(u"A"_s, 12, after).ok());
        QCOMPARE(after, flagsOf({{3, 1}, {12, 1}}));
        QCOMPARE(m_dir->entries(), (QStringList{u"a.txt"_s, TitleListUpper()}));
        QCOMPARE(m_dir->contents(u"a.txt"_s), "0,0,1,0,0,0,0,0,0,0\r\n0,1,0,0,0,0,0,0,0,0\r\n"_ba + zeroLines(3));
    }

    // A marked file whose text cannot be read is not replaced by zeros and a click.
    void unreadableMarkedFlagsAreKept()
    {
        m_dir->put(TitleListUpper(), record(u"A"_s, 50, 0));
        m_dir->put(u"A.TXT"_s, "\xEF\xBB\xBF\xFF,1\r\n"_ba);
        Flags after{};
        QCOMPARE(Collection(*m_files).toggle(u"A"_s, 1, after).kind, Outcome::Unusable);
        QCOMPARE(m_dir->contents(u"A.TXT"_s), "\xEF\xBB\xBF\xFF,1\r\n"_ba);
    }

    void conflictCopies_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("position"); // of the title whose flags it copies, 0 the list, -1 no copy
        const QString sync = u".sync-conflict-20261209-123456-ABCDEFG.TXT"_s;
        QTest::newRow("Syncthing list") << u"データ"_s + sync << 0;
        QTest::newRow("Nextcloud list") << u"データ (conflicted copy 2026-12-09 123456).txt"_s << 0;
        QTest::newRow("Dropbox list") << u"データ (山田's conflicted copy 2026-12-09).txt"_s << 0;
        QTest::newRow("OneDrive list") << u"データ-DESKTOP-AB12CDE.TXT"_s << 0;
        QTest::newRow("Syncthing, dot in title") << u"Vol.2"_s + sync << 2;
        QTest::newRow("Dropbox flags, other case") << u"a (Taro’s conflicted copy 2026-12-09).TXT"_s << 1;
        QTest::newRow("a title's own flag file") << u"A (conflicted copy 2026-12-09 123456).TXT"_s << -1;
        QTest::newRow("title named like OneDrive's") << u"データ-PC.TXT"_s << -1;
        QTest::newRow("OneDrive flags") << u"A-DESKTOP.TXT"_s << -1;
        QTest::newRow("no such title") << u"B"_s + sync << -1;
        QTest::newRow("month 13") << u"A.sync-conflict-20261309-123456-ABCDEFG.TXT"_s << -1;
        QTest::newRow("no time") << u"A (conflicted copy 2026-12-09).TXT"_s << -1;
        QTest::newRow("the report") << u"残巻データ (conflicted copy 2026-12-09 123456).txt"_s << -1;
    }
    void conflictCopies()
    {
        QFETCH(QString, name);
        QFETCH(int, position);
        Catalogue catalogue;
        ParseTitles("A,1,0\r\nVol.2,1,0\r\nA (conflicted copy 2026-12-09 123456),1,0\r\n"_ba + sjis(u"データ-PC,1,0"_s),
                    catalogue);
        const QList<ConflictCopy> copies = FindConflictCopies({name, u"A.TXT"_s, TitleListUpper()}, catalogue);
        QCOMPARE(copies.size(), position < 0 ? 0 : 1);
        QCOMPARE(copies.value(0).position, std::max(position, 0));
    }

    void compareConflict_data()
    {
        QTest::addColumn<bool>("flags");
        QTest::addColumn<QByteArray>("inUse");
        QTest::addColumn<QByteArray>("copy");
        QTest::addColumn<QString>("differences"); // in copy only|in use only|counts|set in copy|set in use
        const QByteArray ab = record(u"A"_s, 5, 0) + record(u"B"_s, 4, 0);
        QTest::newRow("titles") << false << ab << "\xEF\xBB\xBF\"A\",7,50\r\n\"C\",3,0\r\n"_ba << u"C|B|A 5+0>7+50||"_s;
        QTest::newRow("flags") << true << kav::test::flagFile({3, 5}) << kav::test::flagFile({3, 13}) << u"|||63|55"_s;
        QTest::newRow("copy unreadable") << true << zeroLines(5) << "\xEF\xBB\xBF\xFF"_ba
                                         << u"UTF-8として読めないバイトがあります"_s;
    }
    void compareConflict()
    {
        QFETCH(bool, flags);
        QFETCH(QByteArray, inUse);
        QFETCH(QByteArray, copy);
        QFETCH(QString, differences);
        const QString copyName = flags ? u"A.sync-conflict-20261209-123456-ABCDEFG.TXT"_s
                                       : u"データ (conflicted copy 2026-12-09 123456).txt"_s;
        m_dir->put(TitleListUpper(), flags ? record(u"A"_s, 50, 50) : inUse);
        m_dir->put(u"A.TXT"_s, inUse);
        m_dir->put(copyName, copy);
        DiskFileService files(m_dir->path());
        Catalogue catalogue;
        QVERIFY(!LoadTitles(files, catalogue).failure);
        const QList<ConflictCopy> copies = FindConflictCopies(files.names(), catalogue);
        QCOMPARE(copies.size(), 1);
        const ConflictDifference d = CompareConflict(files, copies[0], catalogue);
        QStringList parts{d.onlyInCopy.join(u','), d.onlyInUse.join(u','), {}, {}, {}};
        for (const CountChange& c : d.otherCounts)
            parts[2] += u"%1 %2+%3>%4+%5"_s.arg(c.title).arg(c.count).arg(c.offset).arg(c.copyCount).arg(c.copyOffset);
        for (const int v : d.setOnlyInCopy)
            parts[3] += QString::number(v);
        for (const int v : d.setOnlyInUse)
            parts[4] += QString::number(v);
        QCOMPARE(d.unreadable ? d.unreadable->message : parts.join(u'|'), differences);
        QCOMPARE(m_dir->contents(copyName), copy);
    }

    void titleNamedLikeAProgramFile_data()
    {
        QTest::addColumn<QString>("title");
        QTest::newRow("データ") << u"データ"_s;
        QTest::newRow("残巻データ") << u"残巻データ"_s;
    }
    void titleNamedLikeAProgramFile()
    {
        QFETCH(QString, title);
        const QByteArray list = record(u"A"_s, 3, 0) + record(title, 5, 0);
        const QByteArray report = "\"2026\"\r\n"_ba;
        m_dir->put(TitleListUpper(), list);
        m_dir->put(u"残巻データ.txt"_s, report);
        Flags flags;
        flags.fill(9);
        const FlagsRead read = LoadVolumes(*m_files, FlagFileUpper(title), flags);
        QCOMPARE(flags, Flags{});
        QVERIFY(read.failure && read.failure->kind == ErrorKind::Unsafe);
        QCOMPARE(Collection(*m_files).toggle(title, 1, flags).kind, Outcome::Unusable);
        QVERIFY(!SaveVolumes(*m_files, FlagFileLower(title), flagsOf({{1, 1}})));
        QVERIFY(CollectReport(*m_files,
                              [&] {
                                  Catalogue c;
                                  (void)ParseTitles(list, c);
                                  return c;
                              }())
                    .lines.isEmpty());
        QCOMPARE(m_dir->contents(TitleListUpper()), list);
        QCOMPARE(m_dir->contents(u"残巻データ.txt"_s), report);
        // Deleting it removes its record and nothing else.
        QVERIFY(Collection(*m_files).remove(title).ok());
        QCOMPARE(m_dir->contents(TitleListUpper()), record(u"A"_s, 3, 0));
        QCOMPARE(m_dir->contents(u"残巻データ.txt"_s), report);
    }

    void registrationIsAllOrNothing_data()
    {
        QTest::addColumn<int>("failAt");
        // Three pieces: three flag files, then the list.
        for (int k = 1; k <= 4; ++k)
            QTest::addRow("write %d fails", k) << k;
    }
    void registrationIsAllOrNothing()
    {
        QFETCH(int, failAt);
        const QByteArray list = "\"A\",3,0"_ba; // hand-edited: no line end
        m_dir->put(TitleListUpper(), list);
        m_dir->put(u"T(51_100).TXT"_s, "1,1,1\r\n"_ba); // a stray file no title names
        const auto before = m_dir->state();
        m_files->failAt = failAt;
        const Outcome change = Collection(*m_files).add(SplitIntoPieces(u"T"_s, 120));
        QCOMPARE(change.kind, Outcome::Failed);
        QVERIFY(!change.error.file.isEmpty());
        QCOMPARE(m_dir->state(), before);

        m_files->failAt = 0;
        QVERIFY(Collection(*m_files).add(SplitIntoPieces(u"T"_s, 120)).ok());
        QCOMPARE(m_dir->contents(TitleListUpper()), list + "\r\n"_ba + record(u"T(1_50)"_s, 50, 0) +
                                                        record(u"T(51_100)"_s, 50, 50) +
                                                        record(u"T(101_120)"_s, 20, 100));
        for (const QString& piece : {u"T(1_50).TXT"_s, u"T(51_100).TXT"_s, u"T(101_120).TXT"_s})
            QCOMPARE(m_dir->contents(piece), zeroLines(5));
    }

    void registrationChecksTheListOnDisk_data()
    {
        QTest::addColumn<QByteArray>("list");
        QTest::addColumn<QString>("title");
        QTest::addColumn<Outcome::Kind>("outcome");
        QTest::newRow("registered meanwhile") << record(u"T"_s, 3, 0) << u"T"_s << Outcome::Duplicate;
        QTest::newRow("letter-case twin meanwhile") << record(u"t"_s, 3, 0) << u"T"_s << Outcome::Clash;
        QTest::newRow("piece's file meanwhile") << record(u"t(51_60)"_s, 3, 0) << u"T(51_60)"_s << Outcome::Clash;
        QTest::newRow("list full") << titleRecords(2000) << u"New"_s << Outcome::NoRoom;
    }
    void registrationChecksTheListOnDisk()
    {
        QFETCH(QByteArray, list);
        QFETCH(QString, title);
        QFETCH(Outcome::Kind, outcome);
        m_dir->put(TitleListUpper(), list);
        const auto before = m_dir->state();
        QCOMPARE(Collection(*m_files).add({{title, 3, 0}}, title).kind, outcome);
        QCOMPARE(m_dir->state(), before);
    }

    // Two programs on one folder, each changing its own part as fast as it can: with their
    // read-modify-writes interleaved, one would write back what the other had just replaced.
    void twoProgramsLoseNothing_data()
    {
        QTest::addColumn<bool>("flags");
        QTest::newRow("clicks on one flag file") << true;
        QTest::newRow("registrations into one list") << false;
    }
    void twoProgramsLoseNothing()
    {
        QFETCH(bool, flags);
        constexpr int Rounds = 60;
        m_dir->put(TitleListUpper(), record(u"T"_s, 50, 0));
        const QString folder = m_dir->path();
        const auto work = [&](int who) {
            DiskFileService files(folder);
            bool ok = true;
            for (int i = 1; i <= Rounds; ++i) {
                Flags after{};
                Collection store(files);
                ok = ok &&
                     (flags ? store.toggle(u"T"_s, who, after) : store.add({{u"P%1_%2"_s.arg(who).arg(i), 1, 0}})).ok();
            }
            return ok;
        };
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0)
            ::_exit(work(1) ? 0 : 1);
        const bool mine = work(2);
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(mine);
        QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);

        if (flags) {
            // 60 clicks each: both flags back at 0, and the file whole.
            QCOMPARE(m_dir->contents(u"T.txt"_s), zeroLines(5));
            return;
        }
        Catalogue catalogue;
        QVERIFY(!LoadTitles(*m_files, catalogue).failure);
        QCOMPARE(int(catalogue.intKensu), 1 + 2 * Rounds);
        for (int who = 1; who <= 2; ++who) {
            for (int i = 1; i <= Rounds; ++i)
                QVERIFY2(FindTitle(catalogue, u"P%1_%2"_s.arg(who).arg(i)) > 0,
                         qPrintable(u"P%1_%2"_s.arg(who).arg(i)));
        }
    }

    void reportSaysWhatAFlagFileIs()
    {
        m_dir->put(TitleListUpper(), record(u"A"_s, 3, 0) + record(u"B"_s, 3, 0) + record(u"C"_s, 3, 0));
        QVERIFY(QDir(m_dir->path()).mkdir(u"A.txt"_s));
        m_dir->put(u"B.TXT"_s, "\xEF\xBB\xBF"
                               "0,1\r\n"_ba); // as a Windows editor saves "UTF-8"
        Catalogue catalogue;
        QVERIFY(!LoadTitles(*m_files, catalogue).failure);
        const ReportCollection report = CollectReport(*m_files, catalogue);
        QCOMPARE(report.unusable.size(), 1);
        QCOMPARE(report.unusable[0].kind, ErrorKind::NotAFile);
        QVERIFY(report.notCreated.isEmpty());
        QCOMPARE(report.lines.size(), 1);
        QCOMPARE(report.lines[0].title, u"B"_s);
        QCOMPARE(report.lines[0].indexes, u"2"_s);
        QCOMPARE(m_dir->contents(u"C.txt"_s), zeroLines(5)); // missing: made with zeros
    }
};

QTEST_GUILESS_MAIN(TestStorage)
#include "test_storage.moc"
