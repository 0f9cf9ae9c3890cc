#pragma once

#include "core/Result.h"
#include "ui/Printer.h"

#include <QPageSize>
#include <QString>

namespace kav {

// A CUPS print queue. libcups is loaded when a queue is first needed: linked to the
// program, it and the libraries it brings (TLS, Kerberos, Avahi) took a sixth of every start.
class CupsQueue
{
public:
    // The named queue, or the user's default as libcups finds it (LPDEST, PRINTER,
    // lpoptions, the server's default); an error naming what was looked for when
    // there is none.
    static Result<CupsQueue> find(const QString& named);

    const QString& name() const { return m_name; }
    // The paper the queue is set up for, A4 when it names none.
    const QPageSize& pageSize() const { return m_pageSize; }

    // Hands a PDF file to the queue and asks how it went: a refused job is an error,
    // a job that waits on a stopped queue is held.
    Result<Printed> submit(const QString& pdf, const QString& title) const;
    // Takes a held job out of its queue.
    static Status cancel(const HeldJob& job);

private:
    CupsQueue(const QString& name, const QPageSize& pageSize) : m_name(name), m_pageSize(pageSize) {}

    QString m_name;
    QPageSize m_pageSize;
};

} // namespace kav
