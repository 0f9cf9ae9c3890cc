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
        QString text;             // rich text documents, as plain text
        bool ended = false;
    };

    Status printLine(const QStringList& items) override;
    Status endDoc() override;
    Status printWidget(QWidget& widget) override;
    Status printDocument(const QTextDocument& document, const QString& title) override;

    QList<Document> documents;
    bool failing = false; // every call fails, as with no printer

private:
    bool m_open = false;
};

} // namespace kav::test
