#include "Printing.h"

#include "Messages.h"

#include "ui/Dialogs.h"

namespace kav {

Result<Printed> PrintRecords(Printer& printer, const QList<QStringList>& records)
{
    Status lines;
    for (qsizetype r = 0; lines && r < records.size(); ++r)
        lines = printer.printLine(records[r]);
    // Ended also after a failed line, so nothing is left half open.
    const Result<Printed> ended = printer.endDoc();
    return lines ? ended : Result<Printed>(lines.error());
}

void TellPrinted(Dialogs& dialogs, Printer& printer, const Result<Printed>& printed)
{
    if (!printed) {
        words::show(dialogs, words::printFailed(printed.error()));
        return;
    }
    if (!printed.value().held)
        return;
    const HeldJob& job = *printed.value().held;
    if (words::show(dialogs, words::printHeld(job)) != mb::Yes)
        return;
    if (const Status cancelled = printer.cancel(job); !cancelled)
        words::show(dialogs, words::cancelFailed(job, cancelled.error()));
}

} // namespace kav
