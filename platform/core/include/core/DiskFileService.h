#pragma once

#include "core/FileService.h"

#include <QDir>

#include <sys/types.h>

#include <memory>
#include <optional>

namespace kav {

class SpellingIndex;
class DurableReplace;

// Files of one folder on disk. A name asked for finds every entry that spells it
// another way: in other letter case, or in code page 932 bytes instead of UTF-8.
// Every operation on a name reaches the one entry the folder lists for it; when
// two spellings both hold data the name fails with ErrorKind::Clash. Links out of
// the folder are never written, replaced or deleted, and nothing but a regular
// file is ever opened, so nothing blocks. Only the folder found at construction is
// worked on: while its path leads elsewhere, everything fails with ErrorKind::Unreachable.
class DiskFileService final : public FileService
{
public:
    // Removes what earlier runs that were killed mid-save left in the folder (by the
    // end of the first look-up at the latest).
    explicit DiskFileService(const QString& folder = QStringLiteral("."));
    ~DiskFileService() override;
    Q_DISABLE_COPY_MOVE(DiskFileService)

    Status remove(const QString& name) override;
    bool exists(const QString& name) override;
    Result<QByteArray> readAll(const QString& name) override;
    Status replace(const QString& name, QByteArrayView bytes) override;
    void deferFolderSync(bool defer) override;
    Status syncFolder() override;
    Result<std::unique_ptr<FolderLock>> lockFolder() override;
    QStringList names(NameFilter wanted = nullptr) override;
    Status checkFolder() override;
    QStringList foreignNames() override;
    Status renameToSystemSpelling(const QString& name) override;

    // The spelling on disk of name (as text), or name itself when no such file
    // exists yet or when two spellings clash.
    QString resolve(const QString& name);
    QString folder() const { return m_dir.path(); }

    // A save's temporary file is named like this, and only such names are ever
    // removed as leftovers (and only when the process that made them is gone).
    static bool isTemporaryName(QByteArrayView entry);
    // The text a folder entry spells: its UTF-8, or else its code page 932 bytes (as a
    // Windows archive unpacks); nothing for bytes that are neither.
    static std::optional<QString> entryText(QByteArrayView entry);

private:
    struct Target;
    enum class Use { Read, Write, Remove };

    Result<Target> locate(const QString& name, Use use);
    QByteArray path(const QByteArray& entry) const;
    void forgetOtherSpellings(const QByteArray& entry, const QString& asked);
    // The folder opened at the start, or none when its path leads elsewhere now.
    bool sameFolder(int dir) const;

    QDir m_dir;
    QByteArray m_folderBytes; // its path as the system spells it
    // The folder opened at the start: the only one ever read or written, whatever comes to
    // stand at its path later (the mount point under an unmounted drive, another folder).
    dev_t m_folderDev = 0;
    ino_t m_folderIno = 0; // 0: there was none
    std::unique_ptr<SpellingIndex> m_index;
    std::unique_ptr<DurableReplace> m_durable;
    bool m_deferSync = false;
    bool m_syncPending = false;
};

// A write past the file-size limit (ulimit -f) then fails with EFBIG and is
// reported like a full disk, instead of the kernel's SIGXFSZ ending the program.
void IgnoreFileSizeSignal();

} // namespace kav
