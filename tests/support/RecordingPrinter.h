#pragma once

#include "ui/Printer.h"

#include <QImage>
#include <QList>
#include <QStringList>

namespace kav::test {

class RecordingPrinter final : public Printer
{
public:
    struct Document
    {
        QList<QStringList> lines; // text documents
        QImage image;             // widget documents, as the widget looked
        bool ended = false;
    };

    Status printLine(const QStringList& items) override;
    Result<Printed> endDoc() override;
    Result<Printed> printWidget(QWidget& widget) override;
    Status cancel(const HeldJob& job) override;

    QList<Document> documents;
    bool failing = false; // every call fails, as with no printer

private:
    bool m_open = false;
};

} // namespace kav::test
