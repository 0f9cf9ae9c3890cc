#include "ui/QtPrinter.h"

#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>

#include <cmath>

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
    return printError(QStringLiteral("プリンタが見つかりません。プリンタの設定を確かめて下さい。"));
}

Error notBegun()
{
    return printError(QStringLiteral("印刷を始められませんでした。"));
}

Error notSent()
{
    return printError(QStringLiteral("印刷したものをプリンタに送れませんでした。"));
}

QFont printFont()
{
    QFont font(QStringLiteral("IPAPGothic"));
    font.setPointSize(10);
    return font;
}

// Ends the document and checks that it really went out.
Status finish(QPainter& painter, QPrinter& printer)
{
    const bool ended = painter.end();
    if (!ended || printer.printerState() == QPrinter::Error)
        return notSent();
    // The job goes to CUPS only at the end; a printer removed meanwhile loses it.
    if (printer.outputFormat() == QPrinter::NativeFormat && QPrinterInfo::printerInfo(printer.printerName()).isNull())
        return notSent();
    return Status::success();
}

} // namespace

QtPrinter::QtPrinter() = default;

QtPrinter::QtPrinter(const QString& pdfFile) : m_pdfFile(pdfFile) {}

QtPrinter::~QtPrinter()
{
    // Lines printed without a final endDoc() are still handed to the printer.
    if (m_painter && m_painter->isActive())
        m_painter->end();
}

Result<std::unique_ptr<QPrinter>> QtPrinter::makePrinter(const QString& docName) const
{
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    if (m_pdfFile.isEmpty()) {
        // Looked up for every document: the printer may be set up while the program runs.
        const QPrinterInfo info = QPrinterInfo::defaultPrinter();
        if (info.isNull())
            return noPrinter();
        printer->setPrinterName(info.printerName());
        if (!printer->isValid())
            return noPrinter();
    } else {
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(m_pdfFile);
    }
    printer->setDocName(docName);
    return Result<std::unique_ptr<QPrinter>>(std::move(printer));
}

Status QtPrinter::beginText()
{
    auto made = makePrinter(QStringLiteral("残巻データ"));
    if (!made)
        return made.error();
    std::unique_ptr<QPrinter> printer = std::move(made.value());
    auto painter = std::make_unique<QPainter>();
    if (!painter->begin(printer.get()))
        return notBegun();
    painter->setFont(printFont());
    m_printer = std::move(printer);
    m_painter = std::move(painter);
    m_y = 0;
    return Status::success();
}

Status QtPrinter::failText(Error error)
{
    m_failed = true;
    m_failure = error;
    return error;
}

Status QtPrinter::printLine(const QStringList& items)
{
    if (m_failed)
        return m_failure;
    if (!m_painter) {
        const Status begun = beginText();
        if (!begun)
            return begun;
    }

    QPainter& painter = *m_painter;
    const QFontMetricsF metrics(painter.font(), painter.device());
    const qreal lineHeight = metrics.lineSpacing();
    if (m_y > 0 && m_y + lineHeight > m_printer->height()) {
        if (!m_printer->newPage())
            return failText(notSent());
        m_y = 0;
    }

    const qreal column = ColumnChars * metrics.averageCharWidth();
    const qreal blank = metrics.horizontalAdvance(QLatin1Char(' '));
    qreal x = 0;
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (i > 0) {
            x += blank;
            if (column > 0)
                x = std::ceil(x / column) * column;
        }
        painter.drawText(QPointF(x, m_y + metrics.ascent()), items[i]);
        x += metrics.horizontalAdvance(items[i]);
    }
    m_y += lineHeight;
    return Status::success();
}

Status QtPrinter::endDoc()
{
    if (m_failed) {
        // Half a report is not sent.
        if (m_printer)
            m_printer->abort();
        if (m_painter && m_painter->isActive())
            m_painter->end();
        m_painter.reset();
        m_printer.reset();
        m_failed = false;
        return m_failure;
    }
    if (!m_painter)
        return Status::success();
    const Status ended = finish(*m_painter, *m_printer);
    m_painter.reset();
    m_printer.reset();
    return ended;
}

Status QtPrinter::printImage(const QImage& image)
{
    if (image.isNull())
        return printError(QStringLiteral("印刷する画面の画像がありません。"));
    auto made = makePrinter(QStringLiteral("カヴリオ画面"));
    if (!made)
        return made.error();
    QPrinter& printer = *made.value();
    QPainter painter;
    if (!painter.begin(&printer))
        return notBegun();
    const QSizeF page(printer.width(), printer.height());
    const QSizeF size = QSizeF(image.size()).scaled(page, Qt::KeepAspectRatio);
    painter.drawImage(QRectF(QPointF(0, 0), size), image);
    return finish(painter, printer);
}

} // namespace kav
