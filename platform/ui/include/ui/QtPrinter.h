#pragma once

#include "ui/Printer.h"

#include <QList>
#include <QString>
#include <QStringList>

class QTextDocument;

namespace kav {

// Prints through CUPS without a dialog. A text document is kept until endDoc(),
// then laid out as a table: the first line is the heading of every page, and
// lines of two items put the second in a column of its own.
class QtPrinter final : public Printer
{
public:
    enum class Target { Queue, PdfFile };

    // The user's default queue (LPDEST or PRINTER, lpoptions, then the server's default).
    QtPrinter();
    // A named CUPS queue, or a PDF file written instead of printing.
    QtPrinter(Target target, const QString& name);
    ~QtPrinter() override;
    Q_DISABLE_COPY_MOVE(QtPrinter)

    Status printLine(const QStringList& items) override;
    Result<Printed> endDoc() override;
    Result<Printed> printWidget(QWidget& widget) override;
    Status cancel(const HeldJob& job) override;
    // One finished document holding a rich text page, laid out afresh on the paper.
    Result<Printed> printDocument(const QTextDocument& document, const QString& title);

    static constexpr double MarginMm = 20;

private:
    Target m_target = Target::Queue;
    QString m_name; // queue or PDF file; an empty queue is the default one
    QList<QStringList> m_lines;
    bool m_open = false;
};

} // namespace kav
