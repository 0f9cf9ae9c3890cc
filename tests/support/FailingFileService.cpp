#include "support/FailingFileService.h"

namespace kav::test {

namespace {
Error diskFull(const QString& name)
{
    return {name, QStringLiteral("ディスクがいっぱいです（テスト）"), 0};
}

bool valid(int number)
{
    return number >= 1 && number <= FileService::MaxNumber;
}
} // namespace

Status FailingFileService::open(int number, const QString& name, FileMode mode)
{
    if (const auto kind = m_refused.find(name.toCaseFolded()); kind != m_refused.end())
        return Error{name, QStringLiteral("使えないファイルです（テスト）"), 0, *kind};
    Status status = m_disk->open(number, name, mode);
    if (status.ok() && valid(number)) {
        m_writing[number] = mode != FileMode::Input;
        m_names[number] = name;
    }
    return status;
}

Status FailingFileService::write(int number, QByteArrayView bytes)
{
    ++m_writes;
    if (m_full || (m_failWriteAt != 0 && m_writes == m_failWriteAt))
        return diskFull(valid(number) ? m_names[number] : QString());
    return m_disk->write(number, bytes);
}

Status FailingFileService::close(int number)
{
    if (m_full && valid(number) && m_writing[number]) {
        m_disk->discard(number);
        m_writing[number] = false;
        return diskFull(m_names[number]);
    }
    return m_disk->close(number);
}

} // namespace kav::test
