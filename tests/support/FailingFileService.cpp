#include "support/FailingFileService.h"

namespace kav::test {

Result<QByteArray> FailingFileService::readAll(const QString& name)
{
    if (const auto kind = m_refused.find(name.toCaseFolded()); kind != m_refused.end())
        return Error{name, QStringLiteral("使えないファイルです（テスト）"), 0, *kind};
    return m_disk->readAll(name);
}

Status FailingFileService::replace(const QString& name, QByteArrayView bytes)
{
    if (const auto kind = m_refused.find(name.toCaseFolded()); kind != m_refused.end())
        return Error{name, QStringLiteral("使えないファイルです（テスト）"), 0, *kind};
    ++m_writes;
    if (m_full || (m_failWriteAt != 0 && m_writes == m_failWriteAt))
        return Error{name, QStringLiteral("ディスクがいっぱいです（テスト）"), 0};
    return m_disk->replace(name, bytes);
}

} // namespace kav::test
