#include "ui/QtPrinter.h"

#include "PrintJob.h"
#include "ui/ReportLayout.h"

#include <QAbstractTextDocumentLayout>
#include <QFont>
#include <QFontMetricsF>
#include <QPen>
#include <QPicture>
#include <QTextDocument>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <memory>

using namespace Qt::StringLiterals;

namespace kav {
namespace {

QFont printFont()
{
    QFont font(u"IPAPGothic"_s);
    font.setPointSize(10);
    return font;
}

void paint(QPainter& painter, const QList<PlacedText>& texts)
{
    for (const PlacedText& text : texts)
        painter.drawText(text.at, text.text);
}

Status printReport(PrintJob& job, const QList<QStringList>& lines)
{
    QPainter& painter = job.painter();
    QPrinter& printer = job.printer();
    painter.setFont(printFont());
    const QFontMetricsF metrics(painter.font(), painter.device());
    const std::vector<ReportPage> pages = layOutReport(lines, QSizeF(printer.width(), printer.height()), metrics);
    for (size_t p = 0; p < pages.size(); ++p) {
        if (p > 0) {
            if (const Status next = job.newPage(); !next)
                return next;
        }
        paint(painter, pages[p].header);
        painter.save();
        painter.setPen(QPen(Qt::black, printer.resolution() / 144.0)); // half a point
        painter.drawLine(pages[p].rule);
        painter.restore();
        paint(painter, pages[p].body);
    }
    return Status::success();
}

// A recording that tells the widgets it has as many dots per pixel as the paper: a
// widget or style that picks its pictures by the painter's device draws its largest.
class PrintPicture final : public QPicture
{
public:
    explicit PrintPicture(int ratio) : m_ratio(ratio) {}

protected:
    int metric(PaintDeviceMetric metric) const override
    {
        if (metric == PdmDevicePixelRatio)
            return m_ratio;
        if (metric == PdmDevicePixelRatioScaled)
            return int(m_ratio * devicePixelRatioFScale());
        return QPicture::metric(metric);
    }

private:
    int m_ratio;
};

} // namespace

QtPrinter::QtPrinter() = default;

QtPrinter::QtPrinter(Target target, const QString& name) : m_target(target), m_name(name) {}

QtPrinter::~QtPrinter()
{
    // Lines printed without a final endDoc() are still handed to the printer.
    if (m_open)
        (void)endDoc();
}

Status QtPrinter::printLine(const QStringList& items)
{
    m_open = true;
    m_lines.append(items);
    return Status::success();
}

Result<Printed> QtPrinter::endDoc()
{
    if (!m_open)
        return Printed{};
    const QList<QStringList> lines = std::exchange(m_lines, {});
    m_open = false;
    PrintJob job(m_target, m_name, u"残巻データ"_s);
    if (const Status begun = job.begin(); !begun)
        return begun.error();
    if (const Status printed = printReport(job, lines); !printed) {
        // Half a report is not sent.
        job.abort();
        return printed.error();
    }
    return job.finish();
}

Result<Printed> QtPrinter::printWidget(QWidget& widget)
{
    if (widget.width() <= 0 || widget.height() <= 0) {
        Error error;
        error.message = u"印刷する画面がありません。"_s;
        return error;
    }
    PrintJob job(m_target, m_name, u"カヴリオ画面"_s);
    if (const Status begun = job.begin(); !begun)
        return begun.error();
    QPrinter& printer = job.printer();
    QPainter& painter = job.painter();

    // The window at the size it has on a 96 dpi screen, smaller only when the page
    // is smaller; drawn by its widgets, so text and lines stay sharp at any resolution.
    const QSizeF page(printer.width(), printer.height());
    const qreal natural = printer.resolution() / 96.0;
    const qreal fit = std::min(page.width() / widget.width(), page.height() / widget.height());
    const qreal scale = std::min(natural, fit);
    const QSizeF size = QSizeF(widget.size()) * scale;
    // Qt renders widgets into a bitmap when the target is a printer; a picture
    // keeps the drawing commands, and the printer then gets them as they are.
    // Whole dots per pixel, so that lines the style aligns to them keep their place.
    const int ratio = std::max(1, int(std::ceil(scale)));
    PrintPicture picture(ratio);
    QPainter recorder(&picture);
    widget.render(&recorder, QPoint(), QRegion(), QWidget::DrawWindowBackground | QWidget::DrawChildren);
    recorder.end();
    painter.translate((page.width() - size.width()) / 2, (page.height() - size.height()) / 2);
    // Playing a picture already scales it from the screen's resolution to the printer's,
    // and the recording holds the window at its ratio.
    const qreal played = printer.logicalDpiX() / qreal(picture.logicalDpiX()) * ratio;
    painter.scale(scale / played, scale / played);
    painter.drawPicture(0, 0, picture);
    return job.finish();
}

Result<Printed> QtPrinter::printDocument(const QTextDocument& document, const QString& title)
{
    PrintJob job(m_target, m_name, title);
    if (const Status begun = job.begin(); !begun)
        return begun.error();
    QPrinter& printer = job.printer();
    QPainter& painter = job.painter();
    // A copy laid out at the printer's resolution on pages of its paper; its parent
    // is the original's, which loads the pictures.
    const std::unique_ptr<QTextDocument> copy(document.clone(document.parent()));
    copy->documentLayout()->setPaintDevice(&printer);
    const QSizeF page(printer.width(), printer.height());
    copy->setPageSize(page);
    QAbstractTextDocumentLayout::PaintContext context;
    context.palette.setColor(QPalette::Text, Qt::black); // not the screen's, which may be light on dark
    const int pages = copy->pageCount();
    for (int p = 0; p < pages; ++p) {
        if (p > 0) {
            if (const Status next = job.newPage(); !next) {
                job.abort();
                return next.error();
            }
        }
        context.clip = QRectF(QPointF(0, p * page.height()), page);
        painter.save();
        painter.translate(0, -context.clip.top());
        painter.setClipRect(context.clip);
        copy->documentLayout()->draw(&painter, context);
        painter.restore();
    }
    return job.finish();
}

Status QtPrinter::cancel(const HeldJob& job)
{
    return CupsQueue::cancel(job);
}

} // namespace kav
