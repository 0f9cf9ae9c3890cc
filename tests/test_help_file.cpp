// The program's own help file, as the build writes it beside the executable.
#include "ui/ChmHelpViewer.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QTest>
#include <QTextBrowser>

using namespace kav;

class TestHelpFile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void opensAtItsDefaultTopicAndFollowsLinks_data();
    void opensAtItsDefaultTopicAndFollowsLinks();
};

void TestHelpFile::opensAtItsDefaultTopicAndFollowsLinks_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("text");
    QTest::newRow("buttons") << "buttons.html"
                             << "まだ集めていない巻の一覧";
    QTest::newRow("colours") << "volumes.html"
                             << "薄いピンク";
    QTest::newRow("split") << "register.html"
                           << "T(51_100)";
    QTest::newRow("report") << "report.html"
                            << "残巻データ.txt";
    QTest::newRow("files") << "files.html"
                           << "データ.txt";
}

void TestHelpFile::opensAtItsDefaultTopicAndFollowsLinks()
{
    QFETCH(QString, link);
    QFETCH(QString, text);
    const QFileInfo chm(QStringLiteral(KAVURIO_HELP_CHM));
    QVERIFY2(chm.exists(), qPrintable(chm.filePath()));
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(chm.absolutePath()));

    QWidget owner;
    ChmHelpViewer viewer;
    QVERIFY(viewer.HtmlHelpA(&owner, QStringLiteral("QvHelp.chm"), HH_DISPLAY_TOPIC, 0) != 0);
    QDir::setCurrent(before);

    auto* browser = owner.findChild<QTextBrowser*>();
    QVERIFY(browser);
    QVERIFY(browser->toPlainText().contains(QStringLiteral("カヴリオへようこそ")));
    QVERIFY(browser->toHtml().contains(link));
    Q_EMIT browser->anchorClicked(browser->source().resolved(QUrl(link)));
    QVERIFY2(browser->toPlainText().contains(text), qPrintable(browser->toPlainText().left(200)));
    QCOMPARE(viewer.HtmlHelpA(&owner, QStringLiteral("QvHelp.chm"), HH_CLOSE_ALL, 0), 1);
}

QTEST_MAIN(TestHelpFile)
#include "test_help_file.moc"
