// The report's pages as laid out for the printer's font, with no printer.
#include "ui/ReportLayout.h"

#include <QFontMetricsF>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString Heading = u"2026年12月06日現在の未収集状況"_s;

// A report of `count` titles, each missing the volumes 1 to `volumes`.
QList<QStringList> report(int count, int volumes, const QString& heading = Heading)
{
    QStringList list;
    for (int i = 1; i <= volumes; ++i)
        list << QString::number(i);
    QList<QStringList> lines{{heading}, {QString()}};
    for (int t = 1; t <= count; ++t)
        lines.append({u"題名%1"_s.arg(t), list.join(u'_')});
    return lines;
}

// One printed line of the body: its page, baseline and the texts of its columns.
struct Line
{
    int page;
    qreal baseline;
    QString title;
    QString list;
    bool table = false;
};

} // namespace

class TestReportLayout final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void layout_data();
    void layout();
};

void TestReportLayout::layout_data()
{
    QTest::addColumn<QList<QStringList>>("lines");
    QTest::addColumn<QSizeF>("pageEm"); // in full-width characters and lines
    QTest::addColumn<bool>("severalPages");
    QTest::addColumn<bool>("tallRow"); // one row is taller than a page and goes on on the next
    const QString longTitle =
        u"とても長い題名のコミックでどこまでも続いていく物語の第一部から第二部までを収めた豪華版"_s;
    QTest::newRow("blank line kept") << QList<QStringList>{{u"SECONDDOC"_s}, {}, {u"AFTERBLANK"_s}} << QSizeF(40, 60)
                                     << false << false;
    QTest::newRow("long title, blanks") << QList<QStringList>{{Heading},
                                                              {QString()},
                                                              {longTitle + u"(1_50)"_s, u"7"_s},
                                                              {u"ONE PIECE(51_100)"_s, u"1_2"_s, u"50"_s}}
                                        << QSizeF(40, 60) << false << false;
    QTest::newRow("lists wrap") << report(3, 50) << QSizeF(30, 60) << false << false;
    QTest::newRow("many pages") << report(130, 20) << QSizeF(40, 50) << true << false;
    QTest::newRow("row taller than a page") << report(2, 50) << QSizeF(12, 8) << true << true;
    QTest::newRow("heading wraps") << report(40, 3, longTitle) << QSizeF(30, 30) << true << false;
}

void TestReportLayout::layout()
{
    QFETCH(QList<QStringList>, lines);
    QFETCH(QSizeF, pageEm);
    QFETCH(bool, severalPages);
    QFETCH(bool, tallRow);
    QFont font(u"IPAPGothic"_s);
    font.setPointSize(10);
    const QFontMetricsF metrics(font);
    const qreal em = metrics.horizontalAdvance(u'\u3000');
    const qreal line = metrics.lineSpacing();
    const QSizeF page(pageEm.width() * em, pageEm.height() * line);
    const auto right = [&](const kav::PlacedText& t) { return t.at.x() + metrics.horizontalAdvance(t.text); };

    const std::vector<kav::ReportPage> pages = kav::layOutReport(lines, page, metrics);
    QCOMPARE(pages.size() > 1, severalPages);
    QList<Line> printed;
    qreal listX = -1;
    for (int p = 0; p < int(pages.size()); ++p) {
        const kav::ReportPage& out = pages[size_t(p)];
        // The heading beside "n / m" at the right, then the rule.
        const kav::PlacedText number = out.header.last();
        QCOMPARE(number.text, u"%1 / %2"_s.arg(p + 1).arg(pages.size()));
        QCOMPARE(right(number), page.width());
        QString heading;
        for (const kav::PlacedText& t : out.header.first(out.header.size() - 1)) {
            heading += t.text;
            QVERIFY(right(t) < number.at.x());
            QVERIFY(t.at.y() < out.rule.y1());
        }
        QCOMPARE(heading, lines[0].join(u' '));
        QCOMPARE(out.rule, QLineF(0, out.rule.y1(), page.width(), out.rule.y1()));
        // Every page's rows start at the same place under the rule, inside the page.
        QCOMPARE(out.body.first().at.y(), pages[0].body.first().at.y());
        QVERIFY(out.body.first().at.y() - metrics.ascent() > out.rule.y1());
        for (const kav::PlacedText& t : out.body) {
            QVERIFY2(right(t) <= page.width() && t.at.y() + metrics.descent() <= page.height(), qPrintable(t.text));
            if (t.at.x() == 0) {
                printed.append({p, t.at.y(), t.text, {}});
                continue;
            }
            QVERIFY(listX < 0 || t.at.x() == listX); // one list column
            listX = t.at.x();
            QCOMPARE(t.at.y(), printed.last().baseline);
            printed.last().list = t.text;
            printed.last().table = true;
        }
    }
    QVERIFY(listX < 0 || listX <= std::floor(page.width() * kav::ReportTitleShare) + 2 * em);

    // Rows from their line spacing: each item whole and in order, a title in its
    // column, a list broken only after "_" or a blank.
    QString titles, lists, wantedTitles, wantedLists;
    int rows = 0;
    for (qsizetype i = 0; i < printed.size(); ++i) {
        const Line& l = printed[i];
        const bool continued = i + 1 < printed.size() && printed[i + 1].page == l.page &&
                               printed[i + 1].baseline - l.baseline < line * 1.1;
        if (i == 0 || printed[i - 1].page != l.page || l.baseline - printed[i - 1].baseline > line * 1.1)
            ++rows;
        titles += l.title;
        lists += l.list;
        if (l.table)
            QVERIFY2(metrics.horizontalAdvance(l.title) <= listX - 2 * em, qPrintable(l.title));
        if (continued && !printed[i + 1].list.isEmpty())
            QVERIFY2(l.list.endsWith(u'_') || l.list.endsWith(u' '), qPrintable(l.list));
    }
    const QList<QStringList> body = lines.mid(2);
    for (const QStringList& items : body) {
        wantedTitles += items.value(0);
        wantedLists += items.mid(1).join(u' ');
    }
    QCOMPARE(titles, wantedTitles);
    QCOMPARE(lists, wantedLists);
    QCOMPARE(rows > body.size(), tallRow); // rows stay whole unless taller than a page
}

QTEST_MAIN(TestReportLayout)
#include "test_report_layout.moc"
