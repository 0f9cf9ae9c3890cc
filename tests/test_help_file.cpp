// The program's own help file: the one kept in the repository (and copied beside
// the executable), against its sources compiled again now.
#include "ui/ChmFile.h"
#include "ui/ChmHelpViewer.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QStringDecoder>
#include <QTest>
#include <QTextBrowser>

#include <chm_lib.h>

using namespace Qt::StringLiterals;
using namespace kav;

namespace {

const QString HelpChm = QStringLiteral(KAVURIO_HELP_CHM);
const QString FreshChm = QStringLiteral(KAVURIO_FRESH_HELP_CHM);
const QString IndexSource = QStringLiteral(KAVURIO_TEST_DATA "/../../resources/help/src/index.hhk");

// Every file of a help file as chmlib reads it, internal ones included (but not
// the storage streams that hold them compressed).
QMap<QString, QByteArray> allObjects(const QString& path)
{
    QMap<QString, QByteArray> objects;
    chmFile* chm = chm_open(QFile::encodeName(path).constData());
    if (!chm)
        return objects;
    QStringList names;
    chm_enumerate(
        chm, CHM_ENUMERATE_NORMAL | CHM_ENUMERATE_SPECIAL | CHM_ENUMERATE_FILES,
        [](chmFile*, chmUnitInfo* info, void* context) {
            if (info->flags & CHM_ENUMERATE_FILES)
                static_cast<QStringList*>(context)->append(QString::fromUtf8(info->path));
            return CHM_ENUMERATOR_CONTINUE;
        },
        &names);
    for (const QString& name : std::as_const(names)) {
        chmUnitInfo info{};
        if (chm_resolve_object(chm, name.toUtf8().constData(), &info) != CHM_RESOLVE_SUCCESS)
            continue;
        QByteArray bytes(qsizetype(info.length), '\0');
        if (info.length > 0 && chm_retrieve_object(chm, &info, reinterpret_cast<unsigned char*>(bytes.data()), 0,
                                                   LONGINT64(info.length)) != LONGINT64(info.length))
            bytes = "<unreadable>";
        objects.insert(name, bytes);
    }
    chm_close(chm);
    return objects;
}

quint32 le(const QByteArray& bytes, qsizetype at, int size)
{
    quint32 value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = value << 8 | quint8(bytes[at + i]);
    return value;
}

// The keywords of the compiled (binary) index: listing blocks of 2048 bytes after
// a 76-byte header, each entry a UTF-16 keyword and its topics.
QStringList binaryKeywords(const QByteArray& btree)
{
    QStringList keywords;
    for (qsizetype block = 0x4C; block + 2048 <= btree.size(); block += 2048) {
        const int entries = int(le(btree, block + 2, 2));
        qsizetype at = block + 12;
        for (int e = 0; e < entries && at < block + 2048; ++e) {
            QString keyword;
            for (; le(btree, at, 2) != 0; at += 2)
                keyword += QChar(char16_t(le(btree, at, 2)));
            at += 2;
            const bool seeAlso = le(btree, at, 2) != 0;
            at += 2 + 2 + 4 + 4;
            const quint32 pairs = le(btree, at, 4);
            at += 4;
            if (seeAlso) {
                while (le(btree, at, 2) != 0)
                    at += 2;
                at += 2;
            } else {
                at += 4 * qsizetype(pairs);
            }
            at += 8;
            keywords << keyword;
        }
    }
    return keywords;
}

// #SYSTEM without the record (code 10) in which the compiler writes the time.
QByteArray withoutTime(const QByteArray& system)
{
    QByteArray out = system.left(4);
    for (qsizetype at = 4; at + 4 <= system.size();) {
        const quint32 code = le(system, at, 2);
        const qsizetype length = le(system, at + 2, 2);
        if (code != 10)
            out += system.mid(at, 4 + length);
        at += 4 + length;
    }
    return out;
}

} // namespace

class TestHelpFile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void keptFileIsTheCompiledSources();
    void compiledIndexKeepsJapaneseKeywords();
    void pagesDeclareTheFilesCharset();
    void opensAtItsDefaultTopicAndFollowsLinks_data();
    void opensAtItsDefaultTopicAndFollowsLinks();
    void coloursArePainted_data();
    void coloursArePainted();
};

// chmcmd writes the time and an uninitialised byte into each file (which also
// changes the compressed stream), so the two are compared by what chmlib reads out.
void TestHelpFile::keptFileIsTheCompiledSources()
{
    QMap<QString, QByteArray> kept = allObjects(HelpChm);
    QMap<QString, QByteArray> fresh = allObjects(FreshChm);
    QVERIFY(kept.size() > 20);
    QCOMPARE(kept.keys(), fresh.keys());
    QVERIFY(kept.contains(u"/$FIftiMain"_s)); // the search index other viewers use
    for (auto* objects : {&kept, &fresh}) {
        (*objects)[u"/#SYSTEM"_s] = withoutTime(objects->value(u"/#SYSTEM"_s));
        objects->remove(u"/$WWKeywordLinks/Map"_s);
    }
    for (auto it = kept.cbegin(); it != kept.cend(); ++it)
        QVERIFY2(it.value() == fresh.value(it.key()),
                 qPrintable(it.key() + u" differs: build the target kavurio_update_help"_s));
}

void TestHelpFile::compiledIndexKeepsJapaneseKeywords()
{
    QFile source(IndexSource);
    QVERIFY(source.open(QIODevice::ReadOnly));
    QStringList expected;
    for (const TocEntry& entry : ChmFile::parseSitemap(QString::fromUtf8(source.readAll())))
        expected << entry.name;
    QCOMPARE(expected.size(), 19);
    QVERIFY(expected.contains(u"残巻データ.txt"_s));

    const auto chm = ChmFile::open(HelpChm);
    QVERIFY(chm);
    const QStringList keywords = binaryKeywords(allObjects(HelpChm).value(u"/$WWKeywordLinks/BTree"_s));
    QCOMPARE(QSet<QString>(keywords.begin(), keywords.end()), QSet<QString>(expected.begin(), expected.end()));
    // The index the viewer lists is the same.
    QStringList listed;
    for (const TocEntry& entry : chm->keywords())
        listed << entry.name;
    QCOMPARE(listed, expected);
}

// Viewers that decode pages by the file's language and those that read the page's
// own declaration must agree.
void TestHelpFile::pagesDeclareTheFilesCharset()
{
    const auto chm = ChmFile::open(HelpChm);
    QVERIFY(chm);
    QCOMPARE(chm->lcid(), 0x0411u);
    const QStringList pages = chm->pages();
    QVERIFY(pages.size() >= 9);
    for (const QString& page : pages) {
        const QByteArray bytes = chm->read(page).value_or(QByteArray());
        QVERIFY2(bytes.left(300).contains("charset=Shift_JIS"), qPrintable(page));
        QStringDecoder decoder("windows-31j");
        const QString text = decoder.decode(bytes);
        QVERIFY2(!decoder.hasError(), qPrintable(page));
        QCOMPARE(chm->decode(bytes), text);
        QVERIFY2(text.contains(u"<link rel=\"stylesheet\" type=\"text/css\" href=\"style.css\">"_s), qPrintable(page));
    }
}

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
                            << "番号が切れることはありません";
    QTest::newRow("files") << "files.html"
                           << "データ.txt";
}

void TestHelpFile::opensAtItsDefaultTopicAndFollowsLinks()
{
    QFETCH(QString, link);
    QFETCH(QString, text);
    const QFileInfo chm(HelpChm);
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

void TestHelpFile::coloursArePainted_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QRgb>("colour");
    QTest::addColumn<int>("pixels"); // at least
    QTest::newRow("green label") << u"volumes.html"_s << QRgb(0xC0FFC0) << 200;
    QTest::newRow("pink label") << u"volumes.html"_s << QRgb(0xFFC0FF) << 200;
    QTest::newRow("black label") << u"volumes.html"_s << QRgb(0x000000) << 200;
    // The rule under the heading, as wide as the page and two pixels high.
    QTest::newRow("heading rule") << u"edit.html"_s << QRgb(0xA0B0E0) << 600;
}

// What the stylesheet paints, read back from the screen.
void TestHelpFile::coloursArePainted()
{
    QFETCH(QString, page);
    QFETCH(QRgb, colour);
    QFETCH(int, pixels);
    QWidget owner;
    ChmHelpViewer viewer;
    QVERIFY(viewer.HtmlHelpA(&owner, HelpChm, HH_DISPLAY_TOPIC, 0) != 0);
    auto* browser = owner.findChild<QTextBrowser*>();
    QVERIFY(browser);
    QVERIFY(QTest::qWaitForWindowExposed(browser->window()));
    Q_EMIT browser->anchorClicked(browser->source().resolved(QUrl(page)));
    const QImage shot = browser->viewport()->grab().toImage();
    int found = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            found += (shot.pixel(x, y) & 0xFFFFFF) == colour ? 1 : 0;
    QVERIFY2(found >= pixels, qPrintable(u"%1: %2 pixels"_s.arg(colour, 6, 16).arg(found)));
}

QTEST_MAIN(TestHelpFile)
#include "test_help_file.moc"
