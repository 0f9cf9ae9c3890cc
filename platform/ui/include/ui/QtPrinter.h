#pragma once

#include "ui/Printer.h"

#include <QString>

#include <memory>

class QPainter;
class QPrinter;

namespace kav {

// Prints on the system's default printer, without a dialog. Text documents
// stay open from the first printed line until endDoc().
class QtPrinter final : public Printer
{
public:
    QtPrinter();
    // Writes every document to this PDF file instead of a printer.
    explicit QtPrinter(const QString& pdfFile);
    ~QtPrinter() override;

    QtPrinter(const QtPrinter&) = delete;
    QtPrinter& operator=(const QtPrinter&) = delete;

    Status printLine(const QStringList& items) override;
    Status endDoc() override;
    Status printImage(const QImage& image) override;

    // Items after the first start on the next multiple of this many average
    // character widths, at least one blank after the previous item.
    static constexpr int ColumnChars = 14;

private:
    Result<std::unique_ptr<QPrinter>> makePrinter(const QString& docName) const;
    Status beginText();
    Status failText(Error error);

    QString m_pdfFile;
    std::unique_ptr<QPrinter> m_printer;
    std::unique_ptr<QPainter> m_painter;
    Error m_failure; // a text document that broke stays broken until endDoc()
    bool m_failed = false;
    qreal m_y = 0;
};

} // namespace kav
