#include "support/RecordingPrinter.h"

#include <QWidget>

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

Result<Printed> RecordingPrinter::endDoc()
{
    if (failing)
        return noPrinter();
    if (m_open)
        documents.last().ended = true;
    m_open = false;
    return Printed{};
}

Result<Printed> RecordingPrinter::printWidget(QWidget& widget)
{
    if (failing)
        return noPrinter();
    documents.append(Document{{}, widget.grab().toImage(), true});
    return Printed{};
}

Status RecordingPrinter::cancel(const HeldJob&)
{
    return failing ? Status(noPrinter()) : Status::success();
}

} // namespace kav::test
