// The program's command line, asked of the real binary with no display to reach. That a folder
// named opens it, the package check shows through the menu launcher.
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class CommandLine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void answersWithoutDisplay_data();
    void answersWithoutDisplay();
};

void CommandLine::answersWithoutDisplay_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    QTest::newRow("help") << QStringList{u"--help"_s} << 0 << u"使い方: kavurio [フォルダー]"_s << QString();
    QTest::newRow("help after a folder") << QStringList{u"x"_s, u"-h"_s} << 0 << u"--version"_s << QString();
    QTest::newRow("version") << QStringList{u"--version"_s} << 0 << u"kavurio " KAVURIO_VERSION "\n"_s << QString();
    QTest::newRow("unknown option") << QStringList{u"--frobnicate"_s} << 2 << QString()
                                    << u"「--frobnicate」というオプションはありません。"_s;
    QTest::newRow("two folders") << QStringList{u"a"_s, u"b"_s} << 2 << QString() << u"ひとつだけ"_s;
    QTest::newRow("missing folder") << QStringList{u"--"_s, u"-nowhere"_s} << 1 << QString()
                                    << u"フォルダー「-nowhere」を開けません"_s;
}

void CommandLine::answersWithoutDisplay()
{
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QTemporaryDir cwd;
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(cwd.path());
    program.start(QStringLiteral(KAVURIO_BINARY), args);
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), status);
    const QString printed = QString::fromUtf8(program.readAllStandardOutput());
    const QString complained = QString::fromUtf8(program.readAllStandardError());
    QFETCH(QString, out);
    QFETCH(QString, err);
    // Each answer goes to its own stream only.
    QVERIFY2(out.isEmpty() ? printed.isEmpty() : printed.contains(out), qPrintable(printed));
    QVERIFY2(err.isEmpty() ? complained.isEmpty() : complained.contains(err), qPrintable(complained));
    QVERIFY(QDir(cwd.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot));
}

QTEST_GUILESS_MAIN(CommandLine)
#include "test_command_line.moc"
