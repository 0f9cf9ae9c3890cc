#include "ui/ChmFile.h"
#include "ui/ChmHelpViewer.h"
#include "ui/QtPrinter.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTreeWidget>
#include <QWheelEvent>

#include <memory>

using namespace Qt::StringLiterals;
using kav::ChmFile;
using kav::ChmHelpViewer;
using kav::HH_CLOSE_ALL;
using kav::HH_DISPLAY_TOPIC;

namespace {

const QString TestChm = QStringLiteral(KAVURIO_TEST_CHM);
const QString OtherChm = QStringLiteral(KAVURIO_OTHER_CHM);
const QString Sources = QStringLiteral(KAVURIO_TEST_DATA "/helpchm/");
const QString FirstPageText = u"巻ラベルをクリックすると収集状況が切り替わります～①。"_s;
const QString SecondPageText = u"未収集の巻は薄いピンクで表示されます。"_s;

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void put(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

QStringList texts(const QListWidget& list, bool visibleOnly = false)
{
    QStringList out;
    for (int i = 0; i < list.count(); ++i) {
        if (!visibleOnly || !list.item(i)->isHidden())
            out << list.item(i)->text();
    }
    return out;
}

QListWidgetItem* itemNamed(const QListWidget& list, const QString& text)
{
    const QList<QListWidgetItem*> found = list.findItems(text, Qt::MatchExactly);
    return found.isEmpty() ? nullptr : found.first();
}

QList<QWidget*> viewerWindows(const QWidget& owner)
{
    QList<QWidget*> windows = owner.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    windows.removeIf([](const QWidget* w) { return !w->isWindow() || !w->isVisible(); });
    return windows;
}

// Where the link to href starts in the page the browser shows, -1 when it has none.
int anchorPosition(const QTextBrowser& browser, const QString& href)
{
    for (QTextBlock block = browser.document()->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            if (it.fragment().charFormat().anchorHref() == href)
                return it.fragment().position();
        }
    }
    return -1;
}

// The sizes a page is drawn at, times factor: its heading, its first paragraph and its picture's width.
QString drawnSizes(const QTextBrowser& browser, double factor = 1)
{
    QStringList sizes;
    for (QTextBlock block = browser.document()->begin(); block.isValid(); block = block.next()) {
        const QTextCharFormat format = block.begin().fragment().charFormat();
        if (format.isImageFormat())
            sizes << QString::number(
                factor * (format.hasProperty(QTextFormat::ImageWidth) ? format.toImageFormat().width() : 4), 'f', 2);
        else if (sizes.size() < 2)
            sizes << QString::number(factor * format.font().pointSizeF(), 'f', 2);
    }
    return sizes.join(u' ');
}

} // namespace

class TestHelpViewer final : public QObject
{
    Q_OBJECT

public Q_SLOTS:
    void openUrl(const QUrl& url) { m_openedUrls << url; }

private:
    QList<QUrl> m_openedUrls;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QWidget> m_owner;
    QString m_oldCurrent;

    QTextBrowser* onlyBrowser() const
    {
        const QList<QWidget*> windows = viewerWindows(*m_owner);
        return windows.size() == 1 ? windows.first()->findChild<QTextBrowser*>() : nullptr;
    }

    // The test file's window, active so that its keys work.
    QWidget* openActive(ChmHelpViewer& viewer)
    {
        viewer.HtmlHelpA(m_owner.get(), TestChm, HH_DISPLAY_TOPIC, 0);
        QWidget* window = viewerWindows(*m_owner).value(0);
        if (window)
            window->activateWindow();
        return window && QTest::qWaitForWindowActive(window) ? window : nullptr;
    }

    static void press(QWidget* window, const QList<QKeySequence>& keys)
    {
        for (const QKeySequence& key : keys)
            QTest::keySequence(window->focusWidget() ? window->focusWidget() : window, key);
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_oldCurrent = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_dir->path()));
        m_owner = std::make_unique<QWidget>();
    }

    void cleanup()
    {
        m_owner.reset();
        QDir::setCurrent(m_oldCurrent);
        m_dir.reset();
    }

    void readsSystemInformation()
    {
        const auto chm = ChmFile::open(TestChm);
        QVERIFY(chm);
        QCOMPARE(chm->title(), u"テスト用ヘルプ"_s);
        QCOMPARE(chm->lcid(), 0x0411u);
        QCOMPARE(chm->defaultTopic(), u"/index.html"_s);
        const QStringList objects = chm->objects();
        for (const QString& path : {u"/index.html"_s, u"/pages/second.html"_s, u"/images/logo.png"_s, u"/toc.hhc"_s})
            QVERIFY2(objects.contains(path), qPrintable(path));
        QVERIFY(!objects.contains(u"/pages/"_s));
        QVERIFY(!objects.contains(u"/#SYSTEM"_s));
    }

    void readsContents()
    {
        const auto chm = ChmFile::open(TestChm);
        QVERIFY(chm);
        const std::vector<kav::TocEntry>& toc = chm->contents();
        QCOMPARE(toc.size(), 2u);
        QCOMPARE(toc[0].name, u"はじめに"_s);
        QCOMPARE(toc[0].local, u"/index.html"_s);
        QCOMPARE(toc[0].children.size(), 1u);
        QCOMPARE(toc[0].children[0].name, u"使い方 & 操作"_s);
        QCOMPARE(toc[0].children[0].local, u"/pages/second.html"_s);
        QCOMPARE(toc[1].name, u"章のみ"_s);
        QVERIFY(toc[1].local.isEmpty());
    }

    void readsObjects_data()
    {
        QTest::addColumn<QString>("object");
        QTest::addColumn<QString>("source");
        QTest::newRow("page") << u"/index.html"_s << u"index.html"_s;
        QTest::newRow("picture in a folder") << u"/images/logo.png"_s << u"images/logo.png"_s;
        QTest::newRow("letter case ignored") << u"/PAGES/Second.HTML"_s << u"pages/second.html"_s;
        QTest::newRow("missing") << u"/nothing.html"_s << QString();
    }

    void readsObjects()
    {
        QFETCH(QString, object);
        QFETCH(QString, source);
        const auto chm = ChmFile::open(TestChm);
        QVERIFY(chm);
        const std::optional<QByteArray> bytes = chm->read(object);
        QCOMPARE(bytes.has_value(), !source.isEmpty());
        if (bytes)
            QCOMPARE(*bytes, fileBytes(Sources + source));
    }

    // No title, no language, no default topic, no named contents file, no index.html.
    void fallsBackWhenSystemSaysLittle()
    {
        const auto chm = ChmFile::open(OtherChm);
        QVERIFY(chm);
        QVERIFY(chm->title().isEmpty());
        QCOMPARE(chm->lcid(), 0u);
        QCOMPARE(chm->contents().size(), 2u);
        QCOMPARE(chm->defaultTopic(), u"/pages/second.html"_s);
    }

    void decodesByDeclarationThenLanguage_data()
    {
        QTest::addColumn<QString>("chmPath");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected");
        const QByteArray sjis = "\x8a\xaa\x81\x60\x87\x40"; // 巻～① in code page 932
        QTest::newRow("Shift_JIS label") << OtherChm << "<meta charset=\"Shift_JIS\">" + sjis << u"巻～①"_s;
        QTest::newRow("Japanese file, no label") << TestChm << sjis << u"巻～①"_s;
        QTest::newRow("label beats language")
            << TestChm << QByteArray("<meta content=\"text/html; charset=windows-1252\">caf\xe9") << u"café"_s;
        QTest::newRow("unknown label, language") << TestChm << "<meta charset=\"no-such\">" + sjis << u"巻～①"_s;
        QTest::newRow("no language, UTF-8") << OtherChm << u"巻～①"_s.toUtf8() << u"巻～①"_s;
        QTest::newRow("UTF-8 mark") << TestChm << "\xEF\xBB\xBF" + u"①"_s.toUtf8() << u"①"_s;
    }

    void decodesByDeclarationThenLanguage()
    {
        QFETCH(QString, chmPath);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        const auto chm = ChmFile::open(chmPath);
        QVERIFY(chm);
        QVERIFY2(chm->decode(bytes).endsWith(expected), qPrintable(chm->decode(bytes)));
    }

    void normalizesLinks_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("expected");
        QTest::newRow("relative") << u"index.html"_s << u"/index.html"_s;
        QTest::newRow("backslashes") << u"pages\\second.html"_s << u"/pages/second.html"_s;
        QTest::newRow("storage link") << u"ms-its:QvHelp.chm::/pages/a.htm#top"_s << u"/pages/a.htm#top"_s;
        QTest::newRow("store with drive") << u"mk:@MSITStore:C:\\x.chm::/a.htm"_s << u"/a.htm"_s;
        QTest::newRow("no climbing out") << u"../../secret.htm"_s << u"/secret.htm"_s;
        QTest::newRow("web address kept") << u"http://example.com/a"_s << u"http://example.com/a"_s;
    }

    void normalizesLinks()
    {
        QFETCH(QString, link);
        QFETCH(QString, expected);
        QCOMPARE(ChmFile::normalizePath(link), expected);
    }

    void parsesOddSitemaps_data()
    {
        QTest::addColumn<QString>("html");
        QTest::addColumn<QString>("shape"); // names, "(" and ")" around children
        QTest::newRow("entries without lists") << u"<object type=text/sitemap><param name=Name value=A></object>"
                                                  "<OBJECT type='text/sitemap'><PARAM NAME='name' VALUE='B'></OBJECT>"_s
                                               << u"A B"_s;
        QTest::newRow("stray closing list") << u"</ul><ul><li><object type=\"text/sitemap\"><param name=\"Name\" "
                                               "value=\"A\"></object></ul></ul>"_s
                                            << u"A"_s;
        QTest::newRow("properties are no entry")
            << u"<object type=\"text/site properties\"><param name=\"Name\" value=\"X\"></object>"_s << QString();
        QTest::newRow("merged names keep the first")
            << u"<ul><li><object type=\"text/sitemap\"><param name=\"Name\" value=\"A\"><param name=\"Name\" "
               "value=\"Z\"></object><ul><li><object type=\"text/sitemap\"><param name=\"Name\" value=\"&#x41;&lt;\">"
               "</object></ul></ul>"_s
            << u"A (A<)"_s;
    }

    void parsesOddSitemaps()
    {
        QFETCH(QString, html);
        QFETCH(QString, shape);
        const std::function<QString(const std::vector<kav::TocEntry>&)> flatten = [&](const auto& entries) {
            QStringList parts;
            for (const kav::TocEntry& e : entries)
                parts << (e.children.empty() ? e.name : e.name + u" ("_s + flatten(e.children) + u')');
            return parts.join(u' ');
        };
        QCOMPARE(flatten(ChmFile::parseSitemap(html)), shape);
    }

    void refusesWhatIsNoHelpFile_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("opens"); // the container opens, its pages do not
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("text") << QByteArray("not a help file\r\n") << false;
        QTest::newRow("cut short") << fileBytes(TestChm).left(40) << false;
        QTest::newRow("cut in half") << fileBytes(TestChm).left(fileBytes(TestChm).size() / 2) << true;
    }

    // The reader is told, in a message that does not stop the program.
    void refusesWhatIsNoHelpFile()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, opens);
        put(u"Broken.chm"_s, bytes);
        QCOMPARE(bool(ChmFile::open(u"Broken.chm"_s)), opens);
        ChmHelpViewer viewer;
        QCOMPARE(viewer.HtmlHelpA(m_owner.get(), u"broken.chm"_s, HH_DISPLAY_TOPIC, 0), 0);
        const QList<QWidget*> windows = viewerWindows(*m_owner);
        QCOMPARE(windows.size(), 1);
        auto* box = qobject_cast<QMessageBox*>(windows[0]);
        QVERIFY(box);
        QCOMPARE(box->windowModality(), Qt::NonModal);
        QVERIFY2(box->text().contains(opens ? u"「Broken.chm」が壊れています。目次、索引とページのどれも"_s
                                            : u"「Broken.chm」を読み込めませんでした"_s),
                 qPrintable(box->text()));
        QVERIFY(!box->findChild<QTextBrowser*>());
    }

    // Rows of cuts and zeroed stretches. What was lost is told by comparing with the intact file.
    void saysWhatADamagedFileLost_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray intact = fileBytes(TestChm);
        QTest::newRow("intact") << intact;
        for (int percent : {99, 90, 75, 50, 10})
            QTest::addRow("cut at %d%%", percent) << intact.left(intact.size() * percent / 100);
        for (int percent : {0, 30, 70, 90}) {
            QByteArray zeroed = intact;
            zeroed.replace(intact.size() * percent / 100, 512, QByteArray(512, '\0'));
            QTest::addRow("512 zeros at %d%%", percent) << zeroed.left(intact.size());
        }
    }

    void saysWhatADamagedFileLost()
    {
        QFETCH(QByteArray, bytes);
        put(u"Broken.chm"_s, bytes);
        const auto intact = ChmFile::open(TestChm);
        const auto broken = ChmFile::open(u"Broken.chm"_s);
        int pagesLost = 0;
        for (const QString& page : intact->pages())
            pagesLost += broken && broken->read(page) == intact->read(page) ? 0 : 1;
        ChmHelpViewer viewer;
        const bool shown = viewer.HtmlHelpA(m_owner.get(), u"Broken.chm"_s, HH_DISPLAY_TOPIC, 0) != 0;
        // A file has no checksums: a stream that unpacks out of step gives text without a NUL
        // (the end of one page before the start of the next), which passes for a page.
        QCOMPARE(shown, pagesLost < intact->pages().size());
        if (!shown) { // told in a message box
            auto* box = qobject_cast<QMessageBox*>(viewerWindows(*m_owner).value(0));
            QVERIFY(box && box->text().contains(broken ? u"壊れています"_s : u"読み込めませんでした"_s));
            return;
        }
        QWidget* window = viewerWindows(*m_owner).value(0);
        QVERIFY(window);
        window->findChild<QTabWidget*>()->setCurrentIndex(2); // starts reading the pages for search
        QTRY_VERIFY(window->findChild<QProgressBar*>(u"searchProgress"_s)->isHidden());
        const bool contentsLost = broken->contents().size() != intact->contents().size();
        const bool indexLost = broken->keywords().size() != intact->keywords().size();
        const QString notice = window->findChild<QLabel*>(u"damage"_s)->text();
        QCOMPARE(window->findChild<QLabel*>(u"damage"_s)->isVisibleTo(window), contentsLost || indexLost || pagesLost);
        QCOMPARE(notice.contains(u"目次"_s), contentsLost);
        QCOMPARE(notice.contains(u"索引"_s), indexLost);
        QCOMPARE(notice.contains(u"一部のページ"_s), pagesLost > 0);
        QCOMPARE(
            window->findChild<QLabel*>(u"searchStatus"_s)->text().contains(u"読めないページが%1件"_s.arg(pagesLost)),
            pagesLost > 0);
        if (contentsLost || indexLost || pagesLost)
            QVERIFY2(notice.startsWith(u"ヘルプファイル「Broken.chm」が壊れています。"_s), qPrintable(notice));
        // What could be read is there all the same.
        QCOMPARE(window->findChild<QTreeWidget*>(u"contents"_s)->topLevelItemCount(), int(broken->contents().size()));
        QVERIFY(!window->findChild<QTextBrowser*>()->toPlainText().contains(u"ページを読めません"_s));
    }

    void missingFileShowsNothing()
    {
        const int before = QApplication::topLevelWidgets().size();
        ChmHelpViewer viewer;
        QCOMPARE(viewer.HtmlHelpA(m_owner.get(), u"NoSuchHelp.chm"_s, HH_DISPLAY_TOPIC, 0), 0);
        QCOMPARE(viewer.HtmlHelpA(m_owner.get(), QString(), HH_DISPLAY_TOPIC, 0), 0);
        QCOMPARE(QApplication::topLevelWidgets().size(), before);
        QCOMPARE(viewer.HtmlHelpA(m_owner.get(), TestChm, 7, 0), 0);
        QVERIFY(viewerWindows(*m_owner).isEmpty());
    }

    void showsDefaultTopicAndFollowsLinks()
    {
        QVERIFY(QFile::copy(TestChm, u"qvhelp.CHM"_s));
        ChmHelpViewer viewer;
        QVERIFY(viewer.HtmlHelpA(m_owner.get(), u"QvHelp.chm"_s, HH_DISPLAY_TOPIC, 0) != 0);
        QTextBrowser* browser = onlyBrowser();
        QVERIFY(browser);
        QWidget* window = browser->window();
        QCOMPARE(window->parentWidget(), m_owner.get());
        QVERIFY(window->testAttribute(Qt::WA_DeleteOnClose));
        QCOMPARE(window->windowTitle(), u"テスト用ヘルプ"_s);
        QVERIFY2(browser->toPlainText().contains(FirstPageText), qPrintable(browser->toPlainText()));

        const QImage logo =
            browser->loadResource(QTextDocument::ImageResource, QUrl(u"images/logo.png"_s)).value<QImage>();
        QCOMPARE(logo.size(), QSize(4, 3));
        QVERIFY(browser->loadResource(QTextDocument::StyleSheetResource, QUrl(u"style.css"_s))
                    .toString()
                    .contains(u"h1"_s));
        QVERIFY(!browser->loadResource(QTextDocument::HtmlResource, QUrl(u"file:///etc/hostname"_s)).isValid());

        QVERIFY(QTest::qWaitForWindowExposed(window));
        const int link = anchorPosition(*browser, u"pages/second.html"_s);
        QVERIFY(link >= 0);
        QTextCursor cursor(browser->document());
        cursor.setPosition(link + 1);
        QTest::mouseClick(browser->viewport(), Qt::LeftButton, {}, browser->cursorRect(cursor).center());
        QTRY_COMPARE(browser->source(), QUrl(u"chm:/pages/second.html"_s));
        QVERIFY2(browser->toPlainText().contains(SecondPageText), qPrintable(browser->toPlainText()));
        // The same picture, named relative to the page in its folder.
        QVERIFY(!browser->loadResource(QTextDocument::ImageResource, QUrl(u"../images/logo.png"_s))
                     .value<QImage>()
                     .isNull());

        // Web links go to the desktop's browser and leave the page alone.
        QDesktopServices::setUrlHandler(u"https"_s, this, "openUrl");
        Q_EMIT browser->anchorClicked(QUrl(u"https://example.com/"_s));
        QDesktopServices::unsetUrlHandler(u"https"_s);
        QCOMPARE(m_openedUrls, QList<QUrl>{QUrl(u"https://example.com/"_s)});
        QCOMPARE(browser->source(), QUrl(u"chm:/pages/second.html"_s));

        Q_EMIT browser->anchorClicked(QUrl(u"ms-its:Other.chm::/index.html"_s));
        QVERIFY(browser->toPlainText().contains(FirstPageText));
        Q_EMIT browser->anchorClicked(QUrl(u"ms-its:Other.chm::/only-in-other.html"_s));
        QCOMPARE(browser->source(), QUrl(u"chm:/index.html"_s));
        QVERIFY(browser->toPlainText().contains(FirstPageText));
        auto* tree = window->findChild<QTreeWidget*>();
        QVERIFY(tree);
        QTreeWidgetItem* entry = tree->topLevelItem(0)->child(0);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(entry).center());
        QCOMPARE(browser->source(), QUrl(u"chm:/pages/second.html"_s));

        // A second display reuses the window and goes back to the default topic.
        QVERIFY(viewer.HtmlHelpA(m_owner.get(), u"QVHELP.chm"_s, HH_DISPLAY_TOPIC, 0) != 0);
        QCOMPARE(viewerWindows(*m_owner).size(), 1);
        QCOMPARE(onlyBrowser(), browser);
        QCOMPARE(browser->source(), QUrl(u"chm:/index.html"_s));
    }

    void closeAllClosesEveryWindow()
    {
        ChmHelpViewer viewer;
        QCOMPARE(viewer.HtmlHelpA(m_owner.get(), u"x.chm"_s, HH_CLOSE_ALL, 0), 0);
        QVERIFY(viewer.HtmlHelpA(m_owner.get(), TestChm, HH_DISPLAY_TOPIC, 0) != 0);
        QVERIFY(viewer.HtmlHelpA(m_owner.get(), OtherChm, HH_DISPLAY_TOPIC, 0) != 0);
        const QList<QWidget*> windows = viewerWindows(*m_owner);
        QCOMPARE(windows.size(), 2);
        // Its contents start with a page the file lacks; focusing them must not leave the default topic.
        windows[1]->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(windows[1]));
        QCOMPARE(windows[1]->findChild<QTextBrowser*>()->source(), QUrl(u"chm:/pages/second.html"_s));
        const QPointer<QWidget> first = windows[0], second = windows[1];
        QCOMPARE(viewer.HtmlHelpA(m_owner.get(), u"QvHelp.chm"_s, HH_CLOSE_ALL, 0), 2);
        QVERIFY(viewerWindows(*m_owner).isEmpty());
        QTRY_VERIFY(first.isNull() && second.isNull());
        QCOMPARE(viewer.HtmlHelpA(m_owner.get(), u"TandrelHelp.chm"_s, HH_CLOSE_ALL, 0), 0);
        // A window the user closed is opened afresh.
        QVERIFY(viewer.HtmlHelpA(m_owner.get(), TestChm, HH_DISPLAY_TOPIC, 0) != 0);
        QCOMPARE(viewerWindows(*m_owner).size(), 1);
    }

    // Linked stylesheets apply as in a browser, with or without type="text/css".
    void stylesheetsApply_data()
    {
        QTest::addColumn<QString>("page");
        QTest::newRow("typed link") << u"/index.html"_s;
        QTest::newRow("untyped link") << u"/pages/second.html"_s;
    }

    void stylesheetsApply()
    {
        QFETCH(QString, page);
        ChmHelpViewer viewer;
        QVERIFY(viewer.HtmlHelpA(m_owner.get(), TestChm, HH_DISPLAY_TOPIC, 0) != 0);
        QTextBrowser* browser = onlyBrowser();
        QVERIFY(browser);
        Q_EMIT browser->anchorClicked(QUrl(u"chm:"_s + page));
        QCOMPARE(browser->source(), QUrl(u"chm:"_s + page));
        const QTextBlock heading = browser->document()->begin();
        QVERIFY(heading.text().startsWith(u"はじめに"_s) || heading.text().startsWith(u"使い方"_s));
        QCOMPARE(heading.begin().fragment().charFormat().foreground().color(), QColor(0x80, 0x40, 0x00));
    }

    void keywordIndex()
    {
        const auto chm = ChmFile::open(TestChm);
        QVERIFY(chm);
        QCOMPARE(chm->keywords().size(), 3u);
        ChmHelpViewer viewer;
        QVERIFY(viewer.HtmlHelpA(m_owner.get(), TestChm, HH_DISPLAY_TOPIC, 0) != 0);
        QWidget* window = viewerWindows(*m_owner).value(0);
        QVERIFY(window);
        auto* list = window->findChild<QListWidget*>(u"keywords"_s);
        auto* keyword = window->findChild<QLineEdit*>(u"keyword"_s);
        QVERIFY(list && keyword);
        QCOMPARE(texts(*list), (QStringList{u"収集状況"_s, u"ピンク"_s, u"Logo"_s}));

        // Typing narrows the list; half-width kana and letter case do not matter.
        keyword->setText(u"ﾋﾟﾝｸ"_s);
        QCOMPARE(texts(*list, true), QStringList{u"ピンク"_s});
        // Enter opens the topic found.
        auto* browser = window->findChild<QTextBrowser*>();
        QTest::keyClick(keyword, Qt::Key_Return);
        QCOMPARE(browser->source(), QUrl(u"chm:/pages/second.html"_s));
        keyword->setText(u"logo"_s);
        QCOMPARE(texts(*list, true), QStringList{u"Logo"_s});
        keyword->clear();
        QCOMPARE(texts(*list, true).size(), 3);

        QListWidgetItem* pink = itemNamed(*list, u"ピンク"_s);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(pink).center());
        QCOMPARE(browser->source(), QUrl(u"chm:/pages/second.html"_s));
    }

    void fullTextSearch_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QStringList>("found");
        QTest::newRow("Japanese words") << u"薄いピンク"_s << QStringList{u"使い方"_s};
        QTest::newRow("half-width kana") << u"ﾋﾟﾝｸ"_s << QStringList{u"使い方"_s};
        QTest::newRow("on the first page") << u"収集状況"_s << QStringList{u"はじめに"_s};
        QTest::newRow("in a title") << u"使い方"_s << QStringList{u"使い方"_s};
        QTest::newRow("markup is not text") << u"stylesheet"_s << QStringList();
        // A page without a title is listed by its heading.
        QTest::newRow("named reference") << u"記号 & 文字"_s << QStringList{u"記号 & 文字参照"_s};
        QTest::newRow("numbered reference") << u"巻数 と"_s << QStringList{u"記号 & 文字参照"_s};
        QTest::newRow("unknown name as written") << u"&unknown;"_s << QStringList{u"記号 & 文字参照"_s};
        QTest::newRow("spaces kept in pre") << u"二つ  の空白"_s << QStringList{u"記号 & 文字参照"_s};
        for (const QString& hidden : {u"注記"_s, u"スクリプト"_s, u"color"_s, u"b\">巻"_s})
            QTest::newRow(qPrintable(u"not shown: "_s + hidden)) << hidden << QStringList();
        QTest::newRow("nowhere") << u"存在しない言葉"_s << QStringList();
    }

    void fullTextSearch()
    {
        QFETCH(QString, query);
        QFETCH(QStringList, found);
        ChmHelpViewer viewer;
        QVERIFY(viewer.HtmlHelpA(m_owner.get(), TestChm, HH_DISPLAY_TOPIC, 0) != 0);
        QWidget* window = viewerWindows(*m_owner).value(0);
        QVERIFY(window);
        auto* edit = window->findChild<QLineEdit*>(u"query"_s);
        auto* results = window->findChild<QListWidget*>(u"results"_s);
        QVERIFY(edit && results);
        edit->setText(query);
        QTest::keyClick(edit, Qt::Key_Return);
        QTRY_VERIFY(window->findChild<QProgressBar*>(u"searchProgress"_s)->isHidden());
        QCOMPARE(texts(*results), found);
        QCOMPARE(window->findChild<QLabel*>(u"searchStatus"_s)->text(),
                 found.isEmpty() ? u"見つかりませんでした。"_s : u"%1件見つかりました。"_s.arg(found.size()));
        if (found.isEmpty())
            return;
        QListWidgetItem* first = results->item(0);
        QTest::mouseClick(results->viewport(), Qt::LeftButton, {}, results->visualItemRect(first).center());
        auto* browser = window->findChild<QTextBrowser*>();
        QVERIFY(browser->textCursor().hasSelection());
        QCOMPARE(browser->textCursor().selectedText().normalized(QString::NormalizationForm_KC),
                 query.normalized(QString::NormalizationForm_KC));
    }

    // Back, forward and home; the contents follow the page however it was reached.
    void historyAndContents()
    {
        ChmHelpViewer viewer;
        QVERIFY(viewer.HtmlHelpA(m_owner.get(), TestChm, HH_DISPLAY_TOPIC, 0) != 0);
        QWidget* window = viewerWindows(*m_owner).value(0);
        QVERIFY(window);
        auto* browser = window->findChild<QTextBrowser*>();
        auto* tree = window->findChild<QTreeWidget*>(u"contents"_s);
        auto* back = window->findChild<QAction*>(u"back"_s);
        auto* forward = window->findChild<QAction*>(u"forward"_s);
        auto* home = window->findChild<QAction*>(u"home"_s);
        QVERIFY(browser && tree && back && forward && home);
        const QUrl first(u"chm:/index.html"_s);
        const QUrl second(u"chm:/pages/second.html"_s);
        QTreeWidgetItem* firstEntry = tree->topLevelItem(0);
        QTreeWidgetItem* secondEntry = firstEntry->child(0);
        QCOMPARE(tree->currentItem(), firstEntry);
        QVERIFY(!back->isEnabled() && !forward->isEnabled());

        Q_EMIT browser->anchorClicked(browser->source().resolved(QUrl(u"pages/second.html"_s)));
        QCOMPARE(browser->source(), second);
        QCOMPARE(tree->currentItem(), secondEntry);
        QVERIFY(back->isEnabled() && !forward->isEnabled());

        // A link to a page the file lacks says so, and back leads out of it.
        Q_EMIT browser->anchorClicked(browser->source().resolved(QUrl(u"../missing.html"_s)));
        QVERIFY2(browser->toPlainText().contains(u"ページが見つかりません"_s), qPrintable(browser->toPlainText()));
        QVERIFY(browser->toPlainText().contains(u"/missing.html"_s));
        QVERIFY(tree->selectedItems().isEmpty());

        back->trigger();
        QCOMPARE(browser->source(), second);
        QCOMPARE(tree->currentItem(), secondEntry);
        back->trigger();
        QCOMPARE(browser->source(), first);
        QCOMPARE(tree->currentItem(), firstEntry);
        QVERIFY(!back->isEnabled() && forward->isEnabled());
        forward->trigger();
        QCOMPARE(browser->source(), second);
        QVERIFY2(browser->toPlainText().contains(SecondPageText), qPrintable(browser->toPlainText()));
        home->trigger();
        QCOMPARE(browser->source(), first);
        QVERIFY(browser->toPlainText().contains(FirstPageText));
        QCOMPARE(tree->currentItem(), firstEntry);
    }

    void keysCloseAndFind_data()
    {
        QTest::addColumn<QList<QKeySequence>>("keys");
        QTest::addColumn<bool>("open");
        QTest::addColumn<bool>("findBar");
        const QKeySequence esc(Qt::Key_Escape), find(QKeySequence::Find), close(u"Ctrl+W"_s);
        QTest::newRow("Esc closes") << QList{esc} << false << false;
        QTest::newRow("Ctrl+W closes") << QList{close} << false << false;
        QTest::newRow("Ctrl+F finds") << QList{find} << true << true;
        QTest::newRow("F3 finds") << QList{QKeySequence(Qt::Key_F3)} << true << true;
        QTest::newRow("Esc closes the find bar first") << QList{find, esc} << true << false;
        QTest::newRow("a second Esc the window") << QList{find, esc, esc} << false << false;
    }

    void keysCloseAndFind()
    {
        QFETCH(QList<QKeySequence>, keys);
        QFETCH(bool, open);
        QFETCH(bool, findBar);
        ChmHelpViewer viewer;
        const QPointer<QWidget> window = openActive(viewer);
        QVERIFY(window);
        press(window, keys);
        QCOMPARE(window && window->isVisible(), open);
        if (open)
            QCOMPARE(window->findChild<QWidget*>(u"findBar"_s)->isVisible(), findBar);
    }

    void zoomScalesTextAndPictures_data()
    {
        QTest::addColumn<QList<QKeySequence>>("keys");
        QTest::addColumn<int>("notches"); // of the wheel with Ctrl, after the keys
        QTest::addColumn<double>("factor");
        const QKeySequence in(QKeySequence::ZoomIn), out(QKeySequence::ZoomOut);
        QTest::newRow("Ctrl++") << QList{in} << 0 << 1.1;
        QTest::newRow("Ctrl+=") << QList{QKeySequence(u"Ctrl+="_s)} << 0 << 1.1;
        QTest::newRow("Ctrl++ twice") << QList{in, in} << 0 << 1.25;
        QTest::newRow("Ctrl+-") << QList{out} << 0 << 0.9;
        QTest::newRow("Ctrl+0") << QList{in, in, QKeySequence(u"Ctrl+0"_s)} << 0 << 1.0;
        QTest::newRow("Ctrl+wheel up") << QList<QKeySequence>{} << 2 << 1.25;
        QTest::newRow("Ctrl+wheel down") << QList{in} << -2 << 0.9;
        QTest::newRow("not below half") << QList<QKeySequence>(6, out) << 0 << 0.5;
    }

    void zoomScalesTextAndPictures()
    {
        QFETCH(QList<QKeySequence>, keys);
        QFETCH(int, notches);
        QFETCH(double, factor);
        ChmHelpViewer viewer;
        QWidget* window = openActive(viewer);
        QVERIFY(window);
        auto* browser = window->findChild<QTextBrowser*>();
        const QString zoomed = drawnSizes(*browser, factor);
        press(window, keys);
        for (int i = 0; i < std::abs(notches); ++i) {
            QWheelEvent wheel(QPointF(10, 10), QPointF(10, 10), {}, QPoint(0, notches > 0 ? 120 : -120), Qt::NoButton,
                              Qt::ControlModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(browser->viewport(), &wheel);
        }
        QCOMPARE(drawnSizes(*browser), zoomed);
        // The next page comes at the same zoom.
        Q_EMIT browser->anchorClicked(QUrl(u"chm:/pages/second.html"_s));
        QCOMPARE(drawnSizes(*browser), zoomed);
    }

    void findInPage_data()
    {
        QTest::addColumn<QString>("words");
        QTest::addColumn<int>("hits");
        QTest::newRow("Japanese, twice") << u"ク"_s << 2;
        QTest::newRow("half-width kana") << u"ﾍﾟｰｼﾞ"_s << 1;
        QTest::newRow("circled digit") << u"1"_s << 1;
        QTest::newRow("nowhere") << u"ない言葉"_s << 0;
    }

    void findInPage()
    {
        QFETCH(QString, words);
        QFETCH(int, hits);
        ChmHelpViewer viewer;
        QWidget* window = openActive(viewer);
        QVERIFY(window);
        auto* browser = window->findChild<QTextBrowser*>();
        press(window, {QKeySequence::Find});
        auto* edit = window->findChild<QLineEdit*>(u"findWords"_s);
        auto* count = window->findChild<QLabel*>(u"findCount"_s);
        QVERIFY(edit && count && edit->hasFocus());
        edit->insert(words);
        const QList<QTextEdit::ExtraSelection> marks = browser->extraSelections();
        QCOMPARE(marks.size(), hits);
        for (const QTextEdit::ExtraSelection& mark : marks)
            QCOMPARE(mark.cursor.selectedText().normalized(QString::NormalizationForm_KC),
                     words.normalized(QString::NormalizationForm_KC));
        if (hits == 0) {
            QCOMPARE(count->text(), u"見つかりません"_s);
            return;
        }
        // F3, Shift+F3 and Enter in the box, round the ends.
        QCOMPARE(count->text(), u"%1 件中 1 件目"_s.arg(hits));
        const QList<std::pair<QKeySequence, int>> steps{{QKeySequence(Qt::Key_F3), 1 % hits},
                                                        {QKeySequence(Qt::Key_Return), 0},
                                                        {QKeySequence(u"Shift+Return"_s), hits - 1},
                                                        {QKeySequence(u"Shift+F3"_s), 0}};
        for (const auto& [key, index] : steps) {
            press(window, {key});
            QCOMPARE(count->text(), u"%1 件中 %2 件目"_s.arg(hits).arg(index + 1));
            QCOMPARE(browser->textCursor().position(), marks[index].cursor.selectionStart());
            QCOMPARE(browser->extraSelections()[index].format.background(), QColor(0xFF, 0x96, 0x32));
        }
    }

    // What reaches paper is tested with the printouts.
    void printingFailureIsSaid()
    {
        kav::QtPrinter printer(kav::QtPrinter::Target::Queue, u"kavurio-no-such-queue"_s);
        ChmHelpViewer viewer(&printer);
        QWidget* window = openActive(viewer);
        QVERIFY(window);
        press(window, {QKeySequence::ZoomIn, QKeySequence::Print});
        auto* box = window->findChild<QMessageBox*>();
        QVERIFY(box && box->windowTitle() == u"印刷エラー"_s);
        QVERIFY2(box->text().startsWith(u"印刷できませんでした。\n\n"_s) && box->text().size() > 14,
                 qPrintable(box->text()));
    }

    void looksInCurrentFolderThenProgramThenData()
    {
        const QString program = QCoreApplication::applicationDirPath();
        QCOMPARE(QFileInfo(TestChm).absolutePath(), program);
        QCOMPARE(ChmHelpViewer::locate(u"HELPTEST.chm"_s), QFileInfo(TestChm).absoluteFilePath());
        ChmHelpViewer viewer;
        QVERIFY(viewer.HtmlHelpA(m_owner.get(), u"helptest.chm"_s, HH_DISPLAY_TOPIC, 0) != 0);
        QCOMPARE(viewerWindows(*m_owner).value(0)->windowTitle(), u"テスト用ヘルプ"_s);

        QVERIFY(QFile::copy(OtherChm, u"HelpTest.CHM"_s));
        QCOMPARE(ChmHelpViewer::locate(u"helptest.chm"_s), QDir::current().absoluteFilePath(u"HelpTest.CHM"_s));
        QVERIFY(viewer.HtmlHelpA(m_owner.get(), u"helptest.chm"_s, HH_DISPLAY_TOPIC, 0) != 0);
        QCOMPARE(viewerWindows(*m_owner).size(), 2);
        QVERIFY(viewerWindows(*m_owner).last()->windowTitle() == u"HelpTest.CHM"_s);

        const QString data = QDir::cleanPath(program + u"/../share/kavurio"_s);
        const bool made = !QFileInfo::exists(data);
        QVERIFY(QDir().mkpath(data));
        const QString installed = data + u"/kavurio-test-installed.chm"_s;
        QFile::remove(installed);
        QVERIFY(QFile::copy(OtherChm, installed));
        const QString found = ChmHelpViewer::locate(u"Kavurio-Test-Installed.CHM"_s);
        QFile::remove(installed);
        if (made)
            QDir().rmpath(data);
        QCOMPARE(found, installed);
    }
};

QTEST_MAIN(TestHelpViewer)
#include "test_help_viewer.moc"
