#include "ui/ReportLayout.h"

#include <QFontMetricsF>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;

namespace kav {
namespace {

// Greedy line filling: breaks only where allowed, and inside a piece only when
// the piece alone is wider than the line. Nothing is ever dropped.
QStringList wrap(const QString& text, const QList<qsizetype>& breaks, qreal width, const QFontMetricsF& metrics)
{
    if (text.isEmpty())
        return {QString()};
    QStringList pieces;
    qsizetype from = 0;
    for (qsizetype at : breaks) {
        if (at > from && at < text.size()) {
            pieces << text.mid(from, at - from);
            from = at;
        }
    }
    pieces << text.mid(from);

    QStringList lines;
    QString line;
    const auto fits = [&](const QString& s) { return metrics.horizontalAdvance(s) <= width; };
    for (const QString& piece : std::as_const(pieces)) {
        if (fits(line + piece)) {
            line += piece;
            continue;
        }
        if (!line.isEmpty())
            lines << line;
        line.clear();
        if (fits(piece)) {
            line = piece;
            continue;
        }
        // One piece wider than the line: break it between characters.
        QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, piece);
        qsizetype start = 0;
        for (qsizetype next = graphemes.toNextBoundary(); next > 0; next = graphemes.toNextBoundary()) {
            const QString grapheme = piece.mid(start, next - start);
            if (!line.isEmpty() && !fits(line + grapheme)) {
                lines << line;
                line.clear();
            }
            line += grapheme;
            start = next;
        }
    }
    lines << line;
    return lines;
}

// Where a text may break by the Unicode rules: between Japanese characters, after blanks.
QList<qsizetype> textBreaks(const QString& text)
{
    QList<qsizetype> breaks;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Line, text);
    for (qsizetype at = finder.toNextBoundary(); at > 0; at = finder.toNextBoundary())
        breaks << at;
    return breaks;
}

// A volume list breaks after each "_" or blank, so a number is never split.
QList<qsizetype> listBreaks(const QString& list)
{
    QList<qsizetype> breaks;
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (list[i] == u'_' || list[i] == u' ')
            breaks << i + 1;
    }
    return breaks;
}

struct Row
{
    QStringList first;  // the title, or the whole text of a one-item line
    QStringList second; // the list column, empty for one-item lines
    bool table = false;
    int height() const { return int(std::max(first.size(), second.size())); }
};

struct Columns
{
    qreal width = 0;
    qreal titleWidth = 0;
    qreal listX = 0;
};

Columns measure(const QList<QStringList>& body, const QFontMetricsF& metrics, qreal width)
{
    Columns columns;
    columns.width = width;
    const qreal gap = 2 * metrics.horizontalAdvance(u'\u3000');
    qreal widest = 0;
    for (const QStringList& items : body) {
        if (items.size() >= 2)
            widest = std::max(widest, metrics.horizontalAdvance(items[0]));
    }
    columns.titleWidth = std::min(std::ceil(widest), std::floor(width * ReportTitleShare));
    columns.listX = columns.titleWidth + gap;
    return columns;
}

Row layOut(const QStringList& items, const Columns& columns, const QFontMetricsF& metrics)
{
    Row row;
    if (items.size() < 2) {
        const QString text = items.value(0);
        row.first = wrap(text, textBreaks(text), columns.width, metrics);
        return row;
    }
    row.table = true;
    row.first = wrap(items[0], textBreaks(items[0]), columns.titleWidth, metrics);
    const QString list = items.mid(1).join(u' ');
    row.second = wrap(list, listBreaks(list), columns.width - columns.listX, metrics);
    return row;
}

// Rows stay whole on a page when they fit on one; only a row taller than a page
// is split, between its lines. Every row is followed by `gap`.
std::vector<std::vector<Row>> paginate(const std::vector<Row>& rows, qreal pageHeight, qreal line, qreal gap)
{
    std::vector<std::vector<Row>> pages(1);
    qreal used = 0;
    for (Row row : rows) {
        while (row.height() > 0) {
            const qreal needed = row.height() * line;
            if (used + needed <= pageHeight) {
                pages.back().push_back(row);
                used += needed + gap;
                break;
            }
            // A tall row starts on this page only when at least a line of it fits.
            if (used > 0 && (needed <= pageHeight || used + line > pageHeight)) {
                pages.emplace_back();
                used = 0;
                continue;
            }
            const int fit = std::max(1, int((pageHeight - used) / line));
            Row part = row;
            part.first = row.first.mid(0, fit);
            part.second = row.second.mid(0, fit);
            row.first = row.first.mid(fit);
            row.second = row.second.mid(fit);
            pages.back().push_back(part);
            pages.emplace_back();
            used = 0;
        }
    }
    return pages;
}

} // namespace

std::vector<ReportPage> layOutReport(const QList<QStringList>& lines, QSizeF page, const QFontMetricsF& metrics)
{
    const qreal width = page.width();
    const qreal line = metrics.lineSpacing();

    const QString heading = lines.value(0).join(u' ');
    // The blank lines under the heading set it apart from the rows: every page has them.
    qsizetype blanks = 0;
    while (1 + blanks < lines.size() && lines[1 + blanks].size() < 2 && lines[1 + blanks].value(0).isEmpty())
        ++blanks;
    const QList<QStringList> body = lines.mid(1 + blanks);
    const Columns columns = measure(body, metrics, width);
    std::vector<Row> rows;
    rows.reserve(body.size());
    for (const QStringList& items : body)
        rows.push_back(layOut(items, columns, metrics));

    // The heading wraps beside the widest page number it will stand next to.
    const QString widestNumber = u"%1 / %1"_s.arg(QString(QString::number(lines.size()).size(), u'8'));
    const qreal numberWidth = metrics.horizontalAdvance(widestNumber);
    const qreal headingWidth = width - numberWidth - 2 * metrics.horizontalAdvance(u'\u3000');
    const QStringList headingLines = wrap(heading, textBreaks(heading), headingWidth, metrics);
    // A little air between rows, so a wrapped list reads as one row.
    const qreal gap = line / 4;
    const qreal headerHeight = (headingLines.size() + 0.5) * line + blanks * (line + gap);
    const std::vector<std::vector<Row>> rowPages = paginate(rows, page.height() - headerHeight, line, gap);

    const int count = int(rowPages.size());
    std::vector<ReportPage> pages(rowPages.size());
    for (int p = 0; p < count; ++p) {
        ReportPage& out = pages[size_t(p)];
        qreal y = 0;
        for (const QString& text : headingLines) {
            out.header.append({QPointF(0, y + metrics.ascent()), text});
            y += line;
        }
        const QString number = u"%1 / %2"_s.arg(p + 1).arg(count);
        out.header.append({QPointF(width - metrics.horizontalAdvance(number), metrics.ascent()), number});
        const qreal rule = y + line * 0.2;
        out.rule = QLineF(0, rule, width, rule);
        y = headerHeight;
        for (const Row& row : rowPages[size_t(p)]) {
            for (int i = 0; i < row.height(); ++i) {
                const qreal baseline = y + i * line + metrics.ascent();
                out.body.append({QPointF(0, baseline), row.first.value(i)});
                if (row.table)
                    out.body.append({QPointF(columns.listX, baseline), row.second.value(i)});
            }
            y += row.height() * line + gap;
        }
    }
    return pages;
}

} // namespace kav
