#pragma once

#include "core/Result.h"

#include <QStringList>

class QWidget;

namespace kav {

class Printer
{
public:
    virtual ~Printer() = default;
    // One printed line of items; the first line after endDoc() begins a document
    // and is its heading.
    virtual Status printLine(const QStringList& items) = 0;
    // Ends the document so the printed pages are released.
    virtual Status endDoc() = 0;
    // One finished document holding the widget as it shows on screen.
    virtual Status printWidget(QWidget& widget) = 0;
};

} // namespace kav
