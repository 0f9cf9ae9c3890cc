#include "PrintJob.h"

#include <QDir>
#include <QPageLayout>

using namespace Qt::StringLiterals;

namespace kav {
namespace {

Error notBegun()
{
    return Error{{}, u"印刷を始められませんでした。"_s};
}

Error notMade()
{
    return Error{{}, u"印刷するページを作れませんでした。"_s};
}

} // namespace

PrintJob::PrintJob(QtPrinter::Target target, const QString& name, const QString& title)
    : m_target(target), m_name(name), m_title(title), m_dir(QDir::tempPath() + u"/kavurio-print-XXXXXX"_s)
{
}

Status PrintJob::begin()
{
    QPageSize pageSize(QPageSize::A4);
    QString pdf = m_name;
    if (m_target == QtPrinter::Target::Queue) {
        Result<CupsQueue> queue = CupsQueue::find(m_name);
        if (!queue)
            return queue.error();
        m_queue = queue.value();
        pageSize = m_queue->pageSize();
        if (!m_dir.isValid())
            return notBegun();
        pdf = m_dir.filePath(u"print.pdf"_s);
    }
    m_printer.setOutputFormat(QPrinter::PdfFormat);
    m_printer.setPdfVersion(QPagedPaintDevice::PdfVersion_A1b);
    m_printer.setOutputFileName(pdf);
    m_printer.setDocName(m_title);
    const double margin = QtPrinter::MarginMm;
    m_printer.setPageLayout(QPageLayout(pageSize, QPageLayout::Portrait, QMarginsF(margin, margin, margin, margin),
                                        QPageLayout::Millimeter));
    if (!m_painter.begin(&m_printer))
        return notBegun();
    return Status::success();
}

Status PrintJob::newPage()
{
    return m_printer.newPage() ? Status::success() : Status(notMade());
}

Result<Printed> PrintJob::finish()
{
    if (!m_painter.end() || m_printer.printerState() == QPrinter::Error)
        return notMade();
    if (!m_queue)
        return Printed{};
    return m_queue->submit(m_printer.outputFileName(), m_title);
}

} // namespace kav

namespace kav {

QString HeldJobQuestion(const HeldJob& job)
{
    const QString reason = job.reason.isEmpty() ? QString() : QStringLiteral("（%1）").arg(job.reason);
    return QStringLiteral("プリンタ「%1」は一時停止しています%2。").arg(job.queue, reason) + u"\r\n"_s +
           QStringLiteral("印刷は待ち行列で待っていて、プリンタが再開されると印刷されます。") + u"\r\n\r\n"_s +
           QStringLiteral("この印刷を取り消しますか？");
}

QString CancelFailure(const HeldJob& job, const Error& error)
{
    return QStringLiteral("プリンタ「%1」の印刷（%1-%2）を取り消せませんでした。").arg(job.queue).arg(job.id) +
           u"\r\n\r\n"_s + error.message;
}

} // namespace kav
