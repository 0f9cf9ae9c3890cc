// The report's pages as laid out for the printer's font, with no printer.
#include "ui/ReportLayout.h"

#include <QFontMetricsF>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString LongTitle = u"とても長い題名のコミックでどこまでも続いていく物語の第一部から第二部までを収めた豪華版"_s;

// A report of `count` titles, each missing the volumes 1 to `volumes`.
QList<QStringList> report(int count, int volumes, const QString& heading = u"2026年12月06日現在の未収集状況"_s)
{
    QStringList list;
    for (int i = 1; i <= volumes; ++i)
        list << QString::number(i);
    QList<QStringList> lines{{heading}, {QString()}};
    for (int t = 1; t <= count; ++t)
        lines.append({u"題名%1"_s.arg(t), list.join(u'_')});
    return lines;
}

} // namespace

class TestReportLayout final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void layout_data()
    {
        QTest::addColumn<QList<QStringList>>("lines");
        QTest::addColumn<QSizeF>("pageEm"); // in full-width characters and lines
        QTest::addColumn<bool>("tallRow");  // one row is taller than a page and goes on on the next
        QTest::newRow("blank line") << QList<QStringList>{{u"HEAD"_s}, {}, {u"AFTER"_s}} << QSizeF(40, 60) << false;
        QList<QStringList> titles = report(0, 0);
        titles << QStringList{LongTitle + u"(1_50)"_s, u"7"_s} << QStringList{u"ONE PIECE"_s, u"1_2"_s, u"50"_s};
        QTest::newRow("long title, blanks") << titles << QSizeF(40, 60) << false;
        QTest::newRow("lists wrap") << report(3, 50) << QSizeF(30, 60) << false;
        QTest::newRow("many pages") << report(60, 50) << QSizeF(40, 50) << false;
        QTest::newRow("row taller than a page") << report(2, 50) << QSizeF(12, 8) << true;
        QTest::newRow("heading wraps") << report(40, 3, LongTitle) << QSizeF(30, 30) << false;
    }

    void layout()
    {
        QFETCH(QList<QStringList>, lines);
        QFETCH(QSizeF, pageEm);
        QFETCH(bool, tallRow);
        const QFontMetricsF metrics(QFont(u"IPAPGothic"_s, 10));
        const qreal em = metrics.horizontalAdvance(u'\u3000');
        const QSizeF page(pageEm.width() * em, pageEm.height() * metrics.lineSpacing());
        const auto right = [&](const kav::PlacedText& t) { return t.at.x() + metrics.horizontalAdvance(t.text); };

        const std::vector<kav::ReportPage> pages = kav::layOutReport(lines, page, metrics);
        QString titles, lists;
        qreal listX = -1, lastBaseline = 0;
        int rows = 0, listEnds = 0;
        for (size_t p = 0; p < pages.size(); ++p) {
            const kav::ReportPage& out = pages[p];
            // The heading beside "n / m" at the right, above the rule.
            const kav::PlacedText number = out.header.last();
            QCOMPARE(number.text, u"%1 / %2"_s.arg(p + 1).arg(pages.size()));
            QCOMPARE(right(number), page.width());
            QString heading;
            for (const kav::PlacedText& t : out.header.first(out.header.size() - 1)) {
                heading += t.text;
                QVERIFY(right(t) < number.at.x() && t.at.y() < out.rule.y1());
            }
            QCOMPARE(heading, lines[0].join(u' '));
            // Every page's rows start at the same place under the rule, page 1's blank line included.
            QVERIFY((p > 0 || !out.body.first().text.isEmpty()) &&
                    out.body.first().at.y() - metrics.ascent() > out.rule.y1());
            QCOMPARE(out.body.first().at.y(), pages[0].body.first().at.y());
            for (qsizetype i = 0; i < out.body.size(); ++i) {
                const kav::PlacedText& t = out.body[i];
                QVERIFY2(right(t) <= page.width() && t.at.y() + metrics.descent() <= page.height(), qPrintable(t.text));
                if (t.at.x() == 0) {
                    // A new row when the line is not the next of the one before (rows have air between).
                    rows += i == 0 || t.at.y() - lastBaseline > metrics.lineSpacing() * 1.1;
                    lastBaseline = t.at.y();
                    titles += t.text;
                    continue;
                }
                QVERIFY(listX < 0 || t.at.x() == listX); // one list column, right of its title
                listX = t.at.x();
                QVERIFY2(metrics.horizontalAdvance(out.body[i - 1].text) <= listX - 2 * em, qPrintable(t.text));
                lists += t.text;
                listEnds += !t.text.isEmpty() && t.text.back().isDigit(); // else it breaks after "_" or a blank
            }
        }
        QVERIFY(listX <= std::floor(page.width() * kav::ReportTitleShare) + 2 * em);
        // Each item whole and in order; rows stay whole unless taller than a page.
        QString wantedTitles, wantedLists;
        for (const QStringList& items : lines.mid(2)) {
            wantedTitles += items.value(0);
            wantedLists += items.mid(1).join(u' ');
            listEnds -= items.size() > 1; // one line ends in a number per list: none is split
        }
        QCOMPARE(titles, wantedTitles);
        QCOMPARE(lists, wantedLists);
        QCOMPARE(listEnds, 0);
        QCOMPARE(rows > lines.size() - 2, tallRow);
    }
};

QTEST_MAIN(TestReportLayout)
#include "test_report_layout.moc"
