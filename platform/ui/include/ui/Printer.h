#pragma once

#include "core/Result.h"

#include <QStringList>

class QImage;

namespace kav {

class Printer
{
public:
    virtual ~Printer() = default;
    // One printed line of items; the first line after endDoc() begins a document.
    virtual Status printLine(const QStringList& items) = 0;
    // Ends the document so the printed pages are released.
    virtual Status endDoc() = 0;
    // One finished document holding the image, scaled to fit the page.
    virtual Status printImage(const QImage& image) = 0;
};

} // namespace kav
