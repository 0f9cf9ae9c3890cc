#pragma once

#include "CupsQueue.h"
#include "ui/QtPrinter.h"

#include <QPainter>
#include <QPrinter>
#include <QTemporaryDir>

#include <optional>

namespace kav {

// A document drawn into a PDF file, then printed from it: the file itself for a
// PDF target, a temporary one handed to CUPS for a queue.
class PrintJob
{
public:
    PrintJob(QtPrinter::Target target, const QString& name, const QString& title);

    // Finds the queue and opens the painter on pages of its paper, inside the margins.
    Status begin();
    QPrinter& printer() { return m_printer; }
    QPainter& painter() { return m_painter; }
    // Next page; an error when it could not be made.
    Status newPage();
    // Closes the document and prints it.
    Result<Printed> finish();
    // Throws the pages away: half a document is not printed.
    void abort() { m_printer.abort(); }

private:
    QtPrinter::Target m_target;
    QString m_name; // queue or PDF file; an empty queue is the default one
    QString m_title;
    std::optional<CupsQueue> m_queue;
    QTemporaryDir m_dir;
    QPrinter m_printer{QPrinter::HighResolution};
    QPainter m_painter;
};

} // namespace kav
