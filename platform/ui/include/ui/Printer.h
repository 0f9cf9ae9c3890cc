#pragma once

#include "core/Result.h"

#include <QStringList>

#include <optional>

class QWidget;

namespace kav {

// A document handed to a stopped queue: it waits there and prints when the queue
// is started again, so printing it once more would print it twice.
struct HeldJob
{
    QString queue;
    int id = 0;
    QString reason; // why the queue is stopped, empty when it says nothing
};

// A finished document: on its way to paper, or held by a stopped queue.
struct Printed
{
    std::optional<HeldJob> held;
};

// What the user is asked about a held document, and told when it cannot be taken back.
QString HeldJobQuestion(const HeldJob& job);
QString CancelFailure(const HeldJob& job, const Error& error);

class Printer
{
public:
    virtual ~Printer() = default;
    // One printed line of items; the first line after endDoc() begins a document
    // and is its heading.
    virtual Status printLine(const QStringList& items) = 0;
    // Ends the document so the printed pages are released.
    virtual Result<Printed> endDoc() = 0;
    // One finished document holding the widget as it shows on screen.
    virtual Result<Printed> printWidget(QWidget& widget) = 0;
    // Takes a held document out of its queue.
    virtual Status cancel(const HeldJob& job) = 0;
};

} // namespace kav
