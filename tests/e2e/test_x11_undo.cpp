// Undo, redo and ranges of volumes with the real kavurio binary on a real X server:
// real clicks and keys, and the files compared byte for byte after each step.
#include "e2e/XSession.h"
#include "support/TestData.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

using namespace kav::test;
using namespace Qt::StringLiterals;

namespace {

const QByteArray List = record("A", 20, 0) + record("B", 4, 0);
const QByteArray HandMade = "0,1\n1\n\n"; // as an editor left it

QPoint volume(int i)
{
    return volumeLabelAt(i) + QPoint(25, 20);
}

QByteArray range(int from, int to, std::initializer_list<int> also = {})
{
    QList<int> set(also);
    for (int i = from; i <= to; ++i)
        set.append(i);
    QByteArray out;
    for (int k = 0; k < 5; ++k)
        for (int j = 1; j <= 10; ++j)
            out += (set.contains(k * 10 + j) ? "1" : "0") + QByteArray(j < 10 ? "," : "\r\n");
    return out;
}

} // namespace

class TestX11Undo final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        const QString why = m_x.start();
        if (!why.isEmpty())
            QSKIP(qPrintable(why));
    }

    void steps_data()
    {
        QTest::addColumn<QByteArray>("flags");
        // cN click, sN Shift+click, uN/cN menu on volume N (collected up to, uncollected from),
        // k: keys, w writes the meddled flags as another program, a: answers a box, d deletes,
        // ? compares A.TXT with the next check.
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QByteArray>("meddled");
        QTest::addColumn<QList<QByteArray>>("checks");
        const QByteArray f = flagFile({2, 11});
        QTest::newRow("click, undo, redo")
            << f << u"c5 ? k:ctrl+z ? k:ctrl+y ? k:ctrl+z k:ctrl+shift+z ?"_s << QByteArray()
            << QList<QByteArray>{flagFile({2, 5, 11}), f, flagFile({2, 5, 11}), flagFile({2, 5, 11})};
        QTest::newRow("shift+click") << f << u"c3 s8 ? k:ctrl+z ? k:ctrl+z ?"_s << QByteArray()
                                     << QList<QByteArray>{range(3, 8, {2, 11}), range(3, 3, {2, 11}), f};
        QTest::newRow("shift+arrows, one step")
            << flagFile({11}) << u"k:F6 k:space k:shift+Right k:shift+Right ? k:ctrl+z ?"_s << QByteArray()
            << QList<QByteArray>{range(1, 3, {11}), range(1, 1, {11})};
        QTest::newRow("menu") << f << u"u5 ? n3 ? k:ctrl+z ?"_s << QByteArray()
                              << QList<QByteArray>{flagFile({11}), range(3, 20), flagFile({11})};
        QTest::newRow("undo after another program")
            << f << u"c5 w k:ctrl+z a:元に戻す ?"_s << flagFile({2, 7, 11}) << QList<QByteArray>{flagFile({2, 7, 11})};
        QTest::newRow("deletion") << HandMade << u"d ? k:ctrl+z ?"_s << QByteArray()
                                  << QList<QByteArray>{"<missing>", HandMade};
    }
    void steps()
    {
        QFETCH(QByteArray, flags);
        QFETCH(QString, steps);
        QFETCH(QByteArray, meddled);
        QFETCH(QList<QByteArray>, checks);
        QTemporaryDir dir;
        write(dir.filePath(QStringLiteral("データ.TXT")), List);
        write(dir.filePath(QStringLiteral("A.TXT")), flags);
        QVERIFY(m_x.launch(QStringLiteral(KAVURIO_BINARY), dir.path()));
        for (const QString& step : steps.split(u' ')) {
            const QString rest = step.mid(2);
            const int n = step.mid(1).toInt();
            if (step[0] == u'c')
                m_x.click(volume(n));
            else if (step[0] == u's')
                m_x.click(volume(n), 1, QStringLiteral("shift"));
            else if (step[0] == u'u' || step[0] == u'n') {
                m_x.click(volume(n), 3);
                for (int down = step[0] == u'u' ? 1 : 2; down > 0; --down)
                    m_x.key(u"Down"_s);
                m_x.key(QStringLiteral("Return"));
            } else if (step[0] == u'k')
                m_x.key(rest);
            else if (step[0] == u'w')
                write(dir.filePath(QStringLiteral("A.TXT")), meddled);
            else if (step[0] == u'a' || step[0] == u'd') {
                if (step[0] == u'd')
                    m_x.click(DelButton);
                const QString caption = step[0] == u'd' ? QStringLiteral("削除確認") : rest;
                QVERIFY2(m_x.waitForDialog(caption), qPrintable(m_x.activeWindowName()));
                m_x.key(QStringLiteral("Return"));
                QVERIFY(m_x.waitForMainWindowActive());
            } else {
                QVERIFY(!checks.isEmpty());
                const QString problem = waitFor(dir.filePath(QStringLiteral("A.TXT")), checks.takeFirst());
                QVERIFY2(problem.isEmpty(), qPrintable(step + QLatin1Char(' ') + problem));
            }
        }
        // The list as it was: a deletion undone puts the title back at its place.
        QCOMPARE(readFile(dir.filePath(QStringLiteral("データ.TXT"))), List);
        m_x.stopProgram();
    }

private:
    static void write(const QString& path, const QByteArray& bytes)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    }
    static QString waitFor(const QString& path, const QByteArray& expected)
    {
        const QDeadlineTimer deadline(5000);
        while (readFile(path) != expected && !deadline.hasExpired())
            QThread::msleep(100);
        const QByteArray seen = readFile(path);
        return seen == expected
                   ? QString()
                   : QStringLiteral("is %1, not %2").arg(QString::fromLatin1(seen), QString::fromLatin1(expected));
    }

    XSession m_x;
};

QTEST_GUILESS_MAIN(TestX11Undo)
#include "test_x11_undo.moc"
