#pragma once

#include <QLineF>
#include <QList>
#include <QPointF>
#include <QSizeF>
#include <QString>
#include <QStringList>

#include <vector>

class QFontMetricsF;

namespace kav {

// A text to draw with its baseline starting at `at`.
struct PlacedText
{
    QPointF at;
    QString text;
};

// One page of a laid-out report, in the units of the page it was laid out for.
struct ReportPage
{
    QList<PlacedText> header; // the heading, then "n / m" at the right
    QLineF rule;              // under the heading
    QList<PlacedText> body;
};

// The title column never takes more than this share of the line.
constexpr double ReportTitleShare = 0.45;

// Lays a report out on pages of `page` size, for text measured by `metrics`. The first
// line, and the empty lines right under it, head every page; lines of two or more items
// put the first in a title column and the others, joined by blanks, in a list column;
// other lines take the width. Texts wrap where they may break and are never dropped.
std::vector<ReportPage> layOutReport(const QList<QStringList>& lines, QSizeF page, const QFontMetricsF& metrics);

} // namespace kav
