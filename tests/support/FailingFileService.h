#pragma once

#include "core/DiskFileService.h"

namespace kav::test {

// The real file service, except that chosen operations fail as a full disk would.
class FailingFileService final : public FileService
{
public:
    explicit FailingFileService(const QString& folder) : m_disk(folder) {}

    // The Nth write() from now on fails (1 = the next one); 0 switches it off.
    void failWrite(int nth) { m_failWriteAt = nth > 0 ? m_writes + nth : 0; }
    // Every write() and every close() of a file opened for writing or appending fails.
    void setFull(bool full) { m_full = full; }

    Status open(int number, const QString& name, FileMode mode) override;
    InputCursor* input(int number) override { return m_disk.input(number); }
    Status write(int number, QByteArrayView bytes) override;
    Status close(int number) override;
    void discard(int number) override { m_disk.discard(number); }
    Status closeAll() override { return m_disk.closeAll(); }
    Status remove(const QString& name) override { return m_disk.remove(name); }
    bool exists(const QString& name) override { return m_disk.exists(name); }
    QStringList foreignNames() override { return m_disk.foreignNames(); }
    Status renameToSystemSpelling(const QString& name) override { return m_disk.renameToSystemSpelling(name); }

    int writes() const { return m_writes; }
    DiskFileService& disk() { return m_disk; }

private:
    DiskFileService m_disk;
    int m_writes = 0;
    int m_failWriteAt = 0;
    bool m_full = false;
    bool m_writing[MaxNumber + 1] = {};
    QString m_names[MaxNumber + 1];
};

} // namespace kav::test
