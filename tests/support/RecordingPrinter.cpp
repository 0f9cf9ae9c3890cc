#include "support/RecordingPrinter.h"

namespace kav::test {

namespace {
Error noPrinter()
{
    return {{}, QStringLiteral("プリンタが見つかりません。"), 0};
}
} // namespace

Status RecordingPrinter::printLine(const QStringList& items)
{
    if (failing)
        return noPrinter();
    if (!m_open) {
        documents.append(Document{});
        m_open = true;
    }
    documents.last().lines.append(items);
    return {};
}

Status RecordingPrinter::endDoc()
{
    if (failing)
        return noPrinter();
    if (m_open)
        documents.last().ended = true;
    m_open = false;
    return {};
}

Status RecordingPrinter::printImage(const QImage& image)
{
    if (failing)
        return noPrinter();
    documents.append(Document{{}, image, true});
    return {};
}

} // namespace kav::test
