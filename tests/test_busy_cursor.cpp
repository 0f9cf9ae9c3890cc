// The busy cursor shows while a command writes many files, and never under a dialog.
#include "support/WindowFixture.h"

#include <QApplication>
#include <QCursor>

using namespace kav;
using namespace kav::test;
using namespace Qt::StringLiterals;

namespace {

bool busy()
{
    const QCursor* cursor = QGuiApplication::overrideCursor();
    return cursor && cursor->shape() == Qt::WaitCursor;
}

// What the cursor was at each change to the disk and at each dialog.
struct CursorLog
{
    int busyWrites = 0;
    int idleWrites = 0;
    QStringList busyDialogs; // captions of dialogs shown under the busy cursor

    void write() { busy() ? ++busyWrites : ++idleWrites; }
};

class CursorFiles final : public FileService
{
public:
    CursorFiles(FailingFileService& files, CursorLog& log) : m_files(files), m_log(log) {}

    Status remove(const QString& name) override
    {
        m_log.write();
        return m_files.remove(name);
    }
    bool exists(const QString& name) override { return m_files.exists(name); }
    Result<QByteArray> readAll(const QString& name) override { return m_files.readAll(name); }
    Status replace(const QString& name, QByteArrayView bytes) override
    {
        m_log.write();
        return m_files.replace(name, bytes);
    }

private:
    FailingFileService& m_files;
    CursorLog& m_log;
};

class CursorDialogs final : public Dialogs
{
public:
    CursorDialogs(ScriptedDialogs& dialogs, CursorLog& log) : m_dialogs(dialogs), m_log(log) {}
    int MsgBox(const QString& prompt, int style, const QString& caption) override
    {
        if (busy())
            m_log.busyDialogs.append(caption);
        return m_dialogs.MsgBox(prompt, style, caption);
    }
    QString InputBox(const QString& prompt, const QString& caption, const QString& defaultText) override
    {
        if (busy())
            m_log.busyDialogs.append(caption);
        return m_dialogs.InputBox(prompt, caption, defaultText);
    }

private:
    ScriptedDialogs& m_dialogs;
    CursorLog& m_log;
};

} // namespace

class TestBusyCursor : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void commands_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("failWrite"); // 0: none, -1: the report's name is taken by a folder
        QTest::addColumn<bool>("manyFiles");
        QTest::addColumn<QStringList>("newFiles"); // on disk afterwards, beside the two titles' files
        QTest::newRow("registration of 120 volumes")
            << u"register"_s << 0 << true << QStringList{u"T(1_50).TXT"_s, u"T(51_100).TXT"_s, u"T(101_120).TXT"_s};
        QTest::newRow("registration failing half way") << u"register"_s << 3 << true << QStringList{};
        QTest::newRow("report creating a missing flag file")
            << u"report"_s << 0 << true << QStringList{u"B.txt"_s, u"残巻データ.txt"_s};
        QTest::newRow("report that cannot be written") << u"report"_s << -1 << true << QStringList{u"B.txt"_s};
        QTest::newRow("a click writes one file") << u"click"_s << 0 << false << QStringList{};
    }
    void commands()
    {
        QFETCH(QString, command);
        QFETCH(int, failWrite);
        QFETCH(bool, manyFiles);
        QFETCH(QStringList, newFiles);

        WindowFixture f;
        f.writeText(u"データ.TXT"_s, u"\"A\",5,0\r\n\"B\",3,0\r\n"_s);
        f.write(u"A.TXT"_s, flagFile({2}));
        if (failWrite < 0)
            QVERIFY(QDir(f.dir.path()).mkdir(u"残巻データ.txt"_s));
        const QStringList before = f.dir.entries();
        CursorLog log;
        CursorFiles files(f.files, log);
        CursorDialogs dialogs(f.dialogs, log);
        frmMain window(Services{dialogs, files, f.printer, f.help, f.clock});
        window.Form_Load();
        f.files.failWrite(std::max(0, failWrite));

        if (command == u"register") {
            f.dialogs.answerInput(u"T"_s);
            f.dialogs.answerInput(u"120"_s);
            window.cmdNew_Click();
        } else if (command == u"report") {
            f.dialogs.answerMessage(mb::No);
            window.cmdHozon_Click();
        } else {
            window.lblKan_Click(1);
            QCOMPARE(f.read(u"A.TXT"_s), flagFile({1, 2}));
        }

        QVERIFY2(log.busyDialogs.isEmpty(), qPrintable(log.busyDialogs.join(u", "_s)));
        QVERIFY(QGuiApplication::overrideCursor() == nullptr);
        if (manyFiles) {
            QVERIFY(log.busyWrites > 0);
            QCOMPARE(log.idleWrites, 0);
        } else {
            QCOMPARE(log.busyWrites, 0);
            QVERIFY(log.idleWrites > 0);
        }
        QStringList expected = before + newFiles;
        expected.sort();
        QCOMPARE(f.dir.entries(), expected);
    }
};

QTEST_MAIN(TestBusyCursor)
#include "test_busy_cursor.moc"
