#pragma once

#include "core/FileService.h"

#include <QDir>
#include <QHash>

#include <array>
#include <memory>

class QFile;
class QSaveFile;

namespace kav {

class DiskFileService final : public FileService
{
public:
    explicit DiskFileService(const QString& folder = QStringLiteral("."));
    ~DiskFileService() override;
    Q_DISABLE_COPY_MOVE(DiskFileService)

    Status open(int number, const QString& name, FileMode mode) override;
    InputCursor* input(int number) override;
    Status write(int number, QByteArrayView bytes) override;
    Status close(int number) override;
    void discard(int number) override;
    Status closeAll() override;
    Status remove(const QString& name) override;
    bool exists(const QString& name) override;

    // The spelling on disk of name (compared without regard to letter case), or
    // name itself when no such file exists yet.
    QString resolve(const QString& name);
    QString folder() const { return m_dir.path(); }

private:
    struct Slot;
    Slot* slot(int number);
    void refreshIndex();
    bool applyFolderEvents();

    QDir m_dir;
    std::array<std::unique_ptr<Slot>, MaxNumber + 1> m_slots;
    // Case-folded name -> every spelling on disk, kept up to date by the kernel's
    // notices of the folder's changes (inotify), ours and other programs' alike.
    QHash<QString, QStringList> m_index;
    bool m_indexValid = false;
    int m_notify = -1; // -1: no notices; the folder is then listed again on each miss
};

} // namespace kav
