#include "ui/QtPrinter.h"

#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontMetricsF>
#include <QLibrary>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPen>
#include <QPicture>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTemporaryDir>
#include <QTextBoundaryFinder>
#include <QWidget>

#include <cups/cups.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <type_traits>
#include <vector>

using namespace Qt::StringLiterals;

namespace kav {
namespace {

Error printError(const QString& message)
{
    Error error;
    error.message = message;
    return error;
}

Error noPrinter()
{
    return printError(u"プリンタが見つかりません。プリンタの設定を確かめて下さい。"_s);
}

Error notBegun()
{
    return printError(u"印刷を始められませんでした。"_s);
}

QFont printFont()
{
    QFont font(u"IPAPGothic"_s);
    font.setPointSize(10);
    return font;
}

// libcups, loaded when something is first printed: linked to the program, it and the
// libraries it brings (TLS, Kerberos, Avahi) took a sixth of every start.
struct Cups
{
    decltype(&::cupsGetNamedDest) getNamedDest = nullptr;
    decltype(&::cupsFreeDests) freeDests = nullptr;
    decltype(&::ippNewRequest) newRequest = nullptr;
    decltype(&::httpAssembleURIf) assembleUri = nullptr;
    decltype(&::ippAddString) addString = nullptr;
    decltype(&::ippAddStrings) addStrings = nullptr;
    decltype(&::cupsDoRequest) doRequest = nullptr;
    decltype(&::ippFindAttribute) findAttribute = nullptr;
    decltype(&::ippGetInteger) getInteger = nullptr;
    decltype(&::ippGetString) getString = nullptr;
    decltype(&::ippGetCount) getCount = nullptr;
    decltype(&::ippDelete) deleteIpp = nullptr;
    decltype(&::cupsAddOption) addOption = nullptr;
    decltype(&::cupsPrintFile) printFile = nullptr;
    decltype(&::cupsFreeOptions) freeOptions = nullptr;
    decltype(&::cupsLastError) lastError = nullptr;
    decltype(&::cupsLastErrorString) lastErrorString = nullptr;
};

const Cups* cups()
{
    static const std::optional<Cups> loaded = []() -> std::optional<Cups> {
        static QLibrary library(u"cups"_s, 2);
        if (!library.load())
            return std::nullopt;
        Cups c;
        bool all = true;
        const auto get = [&](auto& function, const char* name) {
            function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(library.resolve(name));
            all = all && function;
        };
        get(c.getNamedDest, "cupsGetNamedDest");
        get(c.freeDests, "cupsFreeDests");
        get(c.newRequest, "ippNewRequest");
        get(c.assembleUri, "httpAssembleURIf");
        get(c.addString, "ippAddString");
        get(c.addStrings, "ippAddStrings");
        get(c.doRequest, "cupsDoRequest");
        get(c.findAttribute, "ippFindAttribute");
        get(c.getInteger, "ippGetInteger");
        get(c.getString, "ippGetString");
        get(c.getCount, "ippGetCount");
        get(c.deleteIpp, "ippDelete");
        get(c.addOption, "cupsAddOption");
        get(c.printFile, "cupsPrintFile");
        get(c.freeOptions, "cupsFreeOptions");
        get(c.lastError, "cupsLastError");
        get(c.lastErrorString, "cupsLastErrorString");
        return all ? std::optional<Cups>(c) : std::nullopt;
    }();
    return loaded ? &*loaded : nullptr;
}

Error noCups()
{
    return printError(u"印刷の仕組み（CUPSのライブラリ libcups）を読み込めませんでした。"
                      "パッケージ libcups2 が入っているか確かめて下さい。"_s);
}

// The queue a document goes to: the named one, or the user's default as libcups
// finds it (LPDEST, PRINTER, lpoptions, the server's default).
Result<QString> queueName(const QString& named)
{
    if (!named.isEmpty())
        return named;
    const Cups* c = cups();
    if (!c)
        return noCups();
    cups_dest_t* dest = c->getNamedDest(CUPS_HTTP_DEFAULT, nullptr, nullptr);
    if (!dest)
        return noPrinter();
    const QString name = QString::fromLocal8Bit(dest->name);
    c->freeDests(1, dest);
    return name;
}

struct QueueState
{
    bool stopped = false;
    QString reason; // the administrator's message, else the state's keywords
};

QueueState queueState(const Cups& c, const QByteArray& queue)
{
    QueueState state;
    ipp_t* request = c.newRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    char uri[HTTP_MAX_URI];
    c.assembleUri(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0, "/printers/%s",
                  queue.constData());
    c.addString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
    static const char* const wanted[] = {"printer-state", "printer-state-message", "printer-state-reasons"};
    c.addStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 3, nullptr, wanted);
    ipp_t* response = c.doRequest(CUPS_HTTP_DEFAULT, request, "/");
    if (!response)
        return state;
    if (ipp_attribute_t* s = c.findAttribute(response, "printer-state", IPP_TAG_ENUM))
        state.stopped = c.getInteger(s, 0) == IPP_PSTATE_STOPPED;
    if (ipp_attribute_t* m = c.findAttribute(response, "printer-state-message", IPP_TAG_TEXT))
        state.reason = QString::fromUtf8(c.getString(m, 0, nullptr));
    if (ipp_attribute_t* r = c.findAttribute(response, "printer-state-reasons", IPP_TAG_KEYWORD);
        r && state.reason.isEmpty()) {
        QStringList reasons;
        for (int i = 0; i < c.getCount(r); ++i)
            reasons << QString::fromUtf8(c.getString(r, i, nullptr));
        state.reason = reasons.join(u", "_s);
    }
    c.deleteIpp(response);
    return state;
}

// Hands the PDF file to CUPS and asks how it went: a refused job, and a job
// that waits on a stopped printer, are both the user's to know.
Status submit(const QString& queue, const QString& pdf, const QString& title, const QPageSize& pageSize)
{
    const Cups* c = cups();
    if (!c)
        return noCups();
    const QByteArray queueBytes = queue.toLocal8Bit();
    cups_option_t* options = nullptr;
    int count = c->addOption("media", pageSize.key().toLatin1().constData(), 0, &options);
    const int job = c->printFile(queueBytes.constData(), QFile::encodeName(pdf).constData(), title.toUtf8().constData(),
                                 count, options);
    c->freeOptions(count, options);
    if (job == 0) {
        const ipp_status_t status = c->lastError();
        const QString reason = QString::fromUtf8(c->lastErrorString());
        if (status == IPP_STATUS_ERROR_NOT_ACCEPTING_JOBS)
            return printError(u"プリンタ「%1」は今、印刷を受け付けていません（%2）。"_s.arg(queue, reason));
        if (status == IPP_STATUS_ERROR_NOT_FOUND)
            return printError(u"プリンタ「%1」が見つかりません（%2）。"_s.arg(queue, reason));
        return printError(u"プリンタ「%1」に印刷を送れませんでした（%2）。"_s.arg(queue, reason));
    }

    if (const QueueState state = queueState(*c, queueBytes); state.stopped)
        return printError(u"プリンタ「%1」は停止しています（%2）。印刷は待ち行列に入っていて、"
                          "プリンタが再開されると印刷されます。"_s.arg(queue, state.reason));
    return Status::success();
}

// A document drawn into a PDF file, then printed from it: the file itself for a
// PDF target, a temporary one handed to CUPS for a queue.
class Job
{
public:
    Job(QtPrinter::Target target, const QString& name, const QString& title) : m_target(target), m_title(title)
    {
        if (target == QtPrinter::Target::PdfFile) {
            m_pdf = name;
            return;
        }
        m_queue = name;
    }

    Status begin()
    {
        QPageSize pageSize(QPageSize::A4);
        if (m_target == QtPrinter::Target::Queue) {
            Result<QString> queue = queueName(m_queue);
            if (!queue)
                return queue.error();
            m_queue = queue.value();
            const QPrinterInfo info = QPrinterInfo::printerInfo(m_queue);
            if (info.isNull())
                return noPrinter();
            if (info.defaultPageSize().isValid())
                pageSize = info.defaultPageSize();
            if (!m_dir.isValid())
                return notBegun();
            m_pdf = m_dir.filePath(u"print.pdf"_s);
        }
        m_printer.setOutputFormat(QPrinter::PdfFormat);
        m_printer.setPdfVersion(QPagedPaintDevice::PdfVersion_A1b);
        m_printer.setOutputFileName(m_pdf);
        m_printer.setDocName(m_title);
        m_printer.setPageLayout(
            QPageLayout(pageSize, QPageLayout::Portrait,
                        QMarginsF(QtPrinter::MarginMm, QtPrinter::MarginMm, QtPrinter::MarginMm, QtPrinter::MarginMm),
                        QPageLayout::Millimeter));
        if (!m_painter.begin(&m_printer))
            return notBegun();
        return Status::success();
    }

    QPrinter& printer() { return m_printer; }
    QPainter& painter() { return m_painter; }

    Status finish()
    {
        if (!m_painter.end() || m_printer.printerState() == QPrinter::Error)
            return printError(u"印刷するページを作れませんでした。"_s);
        if (m_target == QtPrinter::Target::PdfFile)
            return Status::success();
        return submit(m_queue, m_pdf, m_title, m_printer.pageLayout().pageSize());
    }

private:
    QtPrinter::Target m_target;
    QString m_title;
    QString m_queue;
    QString m_pdf;
    QTemporaryDir m_dir{QDir::tempPath() + u"/kavurio-print-XXXXXX"_s};
    QPrinter m_printer{QPrinter::HighResolution};
    QPainter m_painter;
};

// ---- Laying out a report ----------------------------------------------------

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

struct Layout
{
    qreal width = 0;
    qreal lineHeight = 0;
    qreal titleWidth = 0;
    qreal listX = 0;
};

Layout measure(const QList<QStringList>& body, const QFontMetricsF& metrics, qreal width)
{
    Layout layout;
    layout.width = width;
    layout.lineHeight = metrics.lineSpacing();
    const qreal gap = 2 * metrics.horizontalAdvance(u'\u3000');
    qreal widest = 0;
    for (const QStringList& items : body) {
        if (items.size() >= 2)
            widest = std::max(widest, metrics.horizontalAdvance(items[0]));
    }
    layout.titleWidth = std::min(std::ceil(widest), std::floor(width * QtPrinter::TitleShare));
    layout.listX = layout.titleWidth + gap;
    return layout;
}

Row layOut(const QStringList& items, const Layout& layout, const QFontMetricsF& metrics)
{
    Row row;
    if (items.size() < 2) {
        const QString text = items.value(0);
        row.first = wrap(text, textBreaks(text), layout.width, metrics);
        return row;
    }
    row.table = true;
    row.first = wrap(items[0], textBreaks(items[0]), layout.titleWidth, metrics);
    const QString list = items.mid(1).join(u' ');
    row.second = wrap(list, listBreaks(list), layout.width - layout.listX, metrics);
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
            if (used > 0 && needed <= pageHeight) {
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

Status printReport(Job& job, const QList<QStringList>& lines)
{
    QPainter& painter = job.painter();
    QPrinter& printer = job.printer();
    painter.setFont(printFont());
    const QFontMetricsF metrics(painter.font(), painter.device());
    const qreal width = printer.width();
    const qreal height = printer.height();
    const qreal line = metrics.lineSpacing();

    const QString heading = lines.value(0).join(u' ');
    const QList<QStringList> body = lines.mid(1);
    const Layout layout = measure(body, metrics, width);
    std::vector<Row> rows;
    rows.reserve(body.size());
    for (const QStringList& items : body)
        rows.push_back(layOut(items, layout, metrics));

    // The heading wraps beside the widest page number it will stand next to.
    const QString widestNumber = u"%1 / %1"_s.arg(QString(QString::number(rows.size() + 1).size(), u'8'));
    const qreal numberWidth = metrics.horizontalAdvance(widestNumber);
    const qreal headingWidth = width - numberWidth - 2 * metrics.horizontalAdvance(u'\u3000');
    const QStringList headingLines = wrap(heading, textBreaks(heading), headingWidth, metrics);
    const qreal headerHeight = (headingLines.size() + 0.5) * line;
    // A little air between rows, so a wrapped list reads as one row.
    const qreal gap = line / 4;
    const std::vector<std::vector<Row>> pages = paginate(rows, height - headerHeight, line, gap);

    const int count = int(pages.size());
    for (int p = 0; p < count; ++p) {
        if (p > 0 && !printer.newPage())
            return printError(u"印刷するページを作れませんでした。"_s);
        qreal y = 0;
        for (const QString& text : headingLines) {
            painter.drawText(QPointF(0, y + metrics.ascent()), text);
            y += line;
        }
        const QString number = u"%1 / %2"_s.arg(p + 1).arg(count);
        painter.drawText(QPointF(width - metrics.horizontalAdvance(number), metrics.ascent()), number);
        const qreal rule = y + line * 0.2;
        painter.save();
        painter.setPen(QPen(Qt::black, printer.resolution() / 144.0)); // half a point
        painter.drawLine(QPointF(0, rule), QPointF(width, rule));
        painter.restore();
        y = headerHeight;
        for (const Row& row : pages[size_t(p)]) {
            for (int i = 0; i < row.height(); ++i) {
                const qreal baseline = y + i * line + metrics.ascent();
                painter.drawText(QPointF(0, baseline), row.first.value(i));
                if (row.table)
                    painter.drawText(QPointF(layout.listX, baseline), row.second.value(i));
            }
            y += row.height() * line + gap;
        }
    }
    return Status::success();
}

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

Status QtPrinter::endDoc()
{
    if (!m_open)
        return Status::success();
    const QList<QStringList> lines = std::exchange(m_lines, {});
    m_open = false;
    Job job(m_target, m_name, u"残巻データ"_s);
    if (const Status begun = job.begin(); !begun)
        return begun;
    const Status printed = printReport(job, lines);
    if (!printed) {
        // Half a report is not sent.
        job.printer().abort();
        return printed;
    }
    return job.finish();
}

Status QtPrinter::printWidget(QWidget& widget)
{
    if (widget.width() <= 0 || widget.height() <= 0)
        return printError(u"印刷する画面がありません。"_s);
    Job job(m_target, m_name, u"カヴリオ画面"_s);
    if (const Status begun = job.begin(); !begun)
        return begun;
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
    QPicture picture;
    QPainter recorder(&picture);
    widget.render(&recorder, QPoint(), QRegion(), QWidget::DrawWindowBackground | QWidget::DrawChildren);
    recorder.end();
    painter.translate((page.width() - size.width()) / 2, (page.height() - size.height()) / 2);
    // Playing a picture already scales it from the screen's resolution to the printer's.
    const qreal played = printer.logicalDpiX() / qreal(picture.logicalDpiX());
    painter.scale(scale / played, scale / played);
    painter.drawPicture(0, 0, picture);
    return job.finish();
}

} // namespace kav
