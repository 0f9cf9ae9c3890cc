#pragma once

#include "core/FileService.h"

#include <QDateTime>
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
    Status openSlot(int number, const QString& name, FileMode mode);
    Status closeSlot(int number);
    QDateTime folderStamp() const;
    void keepIndexAfter(const QDateTime& before);
    void refreshIndex();

    QDir m_dir;
    std::array<std::unique_ptr<Slot>, MaxNumber + 1> m_slots;
    // Case-folded name -> spelling on disk, rebuilt when the folder changes.
    QHash<QString, QString> m_index;
    QDateTime m_indexStamp;
    bool m_indexValid = false;
    // The stamp is old enough that any later change would have moved it, so a miss is believed.
    bool m_indexSettled = false;
};

} // namespace kav
