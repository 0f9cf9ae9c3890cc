#include "CupsQueue.h"

#include <QFile>
#include <QLibrary>
#include <QPrinterInfo>

#include <cups/cups.h>

#include <optional>
#include <type_traits>

using namespace Qt::StringLiterals;

namespace kav {
namespace {

Error noPrinter()
{
    return Error{{}, u"プリンタが見つかりません。プリンタの設定を確かめて下さい。"_s};
}

Error noSuchQueue(const QString& name)
{
    return Error{{}, u"プリンタ「%1」が見つかりません。プリンタの設定を確かめて下さい。"_s.arg(name)};
}

// The queue the user's environment names, as libcups reads it: LPDEST, else PRINTER
// unless it is "lp" (set by shells for the old lp command).
Error noDefaultQueue()
{
    for (const char* variable : {"LPDEST", "PRINTER"}) {
        const QString name = qEnvironmentVariable(variable);
        if (name.isEmpty() || (name == u"lp"_s && qstrcmp(variable, "PRINTER") == 0))
            continue;
        return Error{{},
                     u"環境変数 %1 の指すプリンタ「%2」が見つかりません。プリンタの設定を確かめて下さい。"_s.arg(
                         QString::fromLatin1(variable), name)};
    }
    return noPrinter();
}

Error noCups()
{
    return Error{{},
                 u"印刷の仕組み（CUPSのライブラリ libcups）を読み込めませんでした。"
                 "パッケージ libcups2 が入っているか確かめて下さい。"_s};
}

struct Cups
{
    decltype(&::cupsGetNamedDest) getNamedDest = nullptr;
    decltype(&::cupsFreeDests) freeDests = nullptr;
    decltype(&::ippNewRequest) newRequest = nullptr;
    decltype(&::httpAssembleURIf) assembleUri = nullptr;
    decltype(&::ippAddString) addString = nullptr;
    decltype(&::ippAddStrings) addStrings = nullptr;
    decltype(&::cupsDoRequest) doRequest = nullptr;
    decltype(&::ippFindAttribute) findAttribute = nullptr;
    decltype(&::ippGetInteger) getInteger = nullptr;
    decltype(&::ippGetString) getString = nullptr;
    decltype(&::ippGetCount) getCount = nullptr;
    decltype(&::ippDelete) deleteIpp = nullptr;
    decltype(&::cupsAddOption) addOption = nullptr;
    decltype(&::cupsPrintFile) printFile = nullptr;
    decltype(&::cupsFreeOptions) freeOptions = nullptr;
    decltype(&::cupsCancelJob2) cancelJob = nullptr;
    decltype(&::cupsLastError) lastError = nullptr;
    decltype(&::cupsLastErrorString) lastErrorString = nullptr;
};

const Cups* cups()
{
    static const std::optional<Cups> loaded = []() -> std::optional<Cups> {
        static QLibrary library(u"cups"_s, 2);
        if (!library.load())
            return std::nullopt;
        Cups c;
        bool all = true;
        const auto get = [&](auto& function, const char* name) {
            function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(library.resolve(name));
            all = all && function;
        };
        get(c.getNamedDest, "cupsGetNamedDest");
        get(c.freeDests, "cupsFreeDests");
        get(c.newRequest, "ippNewRequest");
        get(c.assembleUri, "httpAssembleURIf");
        get(c.addString, "ippAddString");
        get(c.addStrings, "ippAddStrings");
        get(c.doRequest, "cupsDoRequest");
        get(c.findAttribute, "ippFindAttribute");
        get(c.getInteger, "ippGetInteger");
        get(c.getString, "ippGetString");
        get(c.getCount, "ippGetCount");
        get(c.deleteIpp, "ippDelete");
        get(c.addOption, "cupsAddOption");
        get(c.printFile, "cupsPrintFile");
        get(c.freeOptions, "cupsFreeOptions");
        get(c.cancelJob, "cupsCancelJob2");
        get(c.lastError, "cupsLastError");
        get(c.lastErrorString, "cupsLastErrorString");
        return all ? std::optional<Cups>(c) : std::nullopt;
    }();
    return loaded ? &*loaded : nullptr;
}

struct QueueState
{
    bool stopped = false;
    QString reason; // the administrator's message, else the state's keywords
};

QueueState queueState(const Cups& c, const QByteArray& queue)
{
    QueueState state;
    ipp_t* request = c.newRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    char uri[HTTP_MAX_URI];
    c.assembleUri(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0, "/printers/%s",
                  queue.constData());
    c.addString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
    static const char* const wanted[] = {"printer-state", "printer-state-message", "printer-state-reasons"};
    c.addStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 3, nullptr, wanted);
    ipp_t* response = c.doRequest(CUPS_HTTP_DEFAULT, request, "/");
    if (!response)
        return state;
    if (ipp_attribute_t* s = c.findAttribute(response, "printer-state", IPP_TAG_ENUM))
        state.stopped = c.getInteger(s, 0) == IPP_PSTATE_STOPPED;
    if (ipp_attribute_t* m = c.findAttribute(response, "printer-state-message", IPP_TAG_TEXT))
        state.reason = QString::fromUtf8(c.getString(m, 0, nullptr));
    if (ipp_attribute_t* r = c.findAttribute(response, "printer-state-reasons", IPP_TAG_KEYWORD);
        r && state.reason.isEmpty()) {
        QStringList reasons;
        for (int i = 0; i < c.getCount(r); ++i)
            reasons << QString::fromUtf8(c.getString(r, i, nullptr));
        state.reason = reasons.join(u", "_s);
    }
    c.deleteIpp(response);
    return state;
}

} // namespace

Result<CupsQueue> CupsQueue::find(const QString& named)
{
    QString name = named;
    if (name.isEmpty()) {
        const Cups* c = cups();
        if (!c)
            return noCups();
        cups_dest_t* dest = c->getNamedDest(CUPS_HTTP_DEFAULT, nullptr, nullptr);
        if (!dest)
            return noDefaultQueue();
        name = QString::fromLocal8Bit(dest->name);
        c->freeDests(1, dest);
    }
    const QPrinterInfo info = QPrinterInfo::printerInfo(name);
    if (info.isNull())
        return noSuchQueue(name);
    const QPageSize paper = info.defaultPageSize();
    return CupsQueue(name, paper.isValid() ? paper : QPageSize(QPageSize::A4));
}

Result<Printed> CupsQueue::submit(const QString& pdf, const QString& title) const
{
    const Cups* c = cups();
    if (!c)
        return noCups();
    const QByteArray queue = m_name.toLocal8Bit();
    cups_option_t* options = nullptr;
    int count = c->addOption("media", m_pageSize.key().toLatin1().constData(), 0, &options);
    const int job =
        c->printFile(queue.constData(), QFile::encodeName(pdf).constData(), title.toUtf8().constData(), count, options);
    c->freeOptions(count, options);
    if (job == 0) {
        const ipp_status_t status = c->lastError();
        const QString reason = QString::fromUtf8(c->lastErrorString());
        if (status == IPP_STATUS_ERROR_NOT_ACCEPTING_JOBS)
            return Error{{}, u"プリンタ「%1」は今、印刷を受け付けていません（%2）。"_s.arg(m_name, reason)};
        if (status == IPP_STATUS_ERROR_NOT_FOUND)
            return Error{{}, u"プリンタ「%1」が見つかりません（%2）。"_s.arg(m_name, reason)};
        return Error{{}, u"プリンタ「%1」に印刷を送れませんでした（%2）。"_s.arg(m_name, reason)};
    }

    if (const QueueState state = queueState(*c, queue); state.stopped)
        return Printed{HeldJob{m_name, job, state.reason}};
    return Printed{};
}

Status CupsQueue::cancel(const HeldJob& job)
{
    const Cups* c = cups();
    if (!c)
        return noCups();
    const ipp_status_t status = c->cancelJob(CUPS_HTTP_DEFAULT, job.queue.toLocal8Bit().constData(), job.id, 0);
    if (status < IPP_STATUS_REDIRECTION_OTHER_SITE)
        return Status::success();
    // The server's own words, such as a job that is already done or cancelled.
    return Error{{}, QString::fromUtf8(c->lastErrorString())};
}

} // namespace kav
