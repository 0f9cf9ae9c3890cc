#pragma once

#include "ui/Printer.h"

#include <QList>
#include <QStringList>

namespace kav {

class Dialogs;

// The report's records as one document: its first record is the heading of every page.
Result<Printed> PrintRecords(Printer& printer, const QList<QStringList>& records);

// A failure, or a job that a stopped queue holds: printing again would print it twice
// once the queue is started, so the user decides now whether it waits.
void TellPrinted(Dialogs& dialogs, Printer& printer, const Result<Printed>& printed);

} // namespace kav
