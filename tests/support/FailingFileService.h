#pragma once

#include "core/DiskFileService.h"

#include <QHash>

#include <optional>

namespace kav::test {

// The real file service, except that chosen operations fail as a full disk would.
class FailingFileService final : public FileService
{
public:
    explicit FailingFileService(const QString& folder) : m_disk(std::in_place, folder) {}
    // The folder opened afresh, as a program started now opens it (a drive mounted on it since).
    void reopen() { m_disk.emplace(m_disk->folder()); }

    // The Nth replace() from now on fails (1 = the next one); 0 switches it off.
    void failWrite(int nth) { m_failWriteAt = nth > 0 ? m_writes + nth : 0; }
    // Every replace() fails.
    void setFull(bool full) { m_full = full; }
    // Every read and replace of name (any letter case) fails with kind, as the disk service
    // reports a clash of two spellings or a link out of the folder.
    void refuse(const QString& name, ErrorKind kind) { m_refused.insert(name.toCaseFolded(), kind); }

    Result<QByteArray> readAll(const QString& name) override;
    Status replace(const QString& name, QByteArrayView bytes) override;
    Status remove(const QString& name) override { return m_disk->remove(name); }
    bool exists(const QString& name) override { return m_disk->exists(name); }
    Result<std::unique_ptr<FolderLock>> lockFolder() override { return m_disk->lockFolder(); }
    Status checkFolder() override { return m_disk->checkFolder(); }
    void deferFolderSync(bool defer) override { m_disk->deferFolderSync(defer); }
    Status syncFolder() override { return m_disk->syncFolder(); }
    QStringList foreignNames() override { return m_disk->foreignNames(); }
    Status renameToSystemSpelling(const QString& name) override { return m_disk->renameToSystemSpelling(name); }

    int writes() const { return m_writes; }
    DiskFileService& disk() { return *m_disk; }

private:
    std::optional<DiskFileService> m_disk;
    int m_writes = 0;
    int m_failWriteAt = 0;
    bool m_full = false;
    QHash<QString, ErrorKind> m_refused;
};

} // namespace kav::test
