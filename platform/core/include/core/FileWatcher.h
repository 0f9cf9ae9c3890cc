#pragma once

#include <QObject>
#include <QSet>
#include <QStringList>
#include <QTimer>

#include <memory>

class QSocketNotifier;

namespace kav {

class FolderNotices;
struct FolderIdentity;

// Tells the window that files it shows may have been changed by someone else. It
// only says "look again": the window reads the files and compares them with what
// it last read or wrote, so its own saves and empty notices change nothing.
class FileWatcher : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;
    // The files (names in the folder) whose changes matter now; replaces the earlier set.
    virtual void watch(const QStringList& names) = 0;

Q_SIGNALS:
    void changed();
};

// The kernel's notices of the folder, settled by a short timer so a burst of writes
// is one notice, and a slow timer for file systems that send none (network and FUSE
// drives). One watch on the folder sees every spelling of a name being created,
// replaced, written in place or removed, so choosing the files to watch costs no
// system call, however many files the folder holds.
class DiskFileWatcher final : public FileWatcher
{
    Q_OBJECT

public:
    explicit DiskFileWatcher(const QString& folder = QStringLiteral("."), int settleMs = 150, int pollMs = 2000,
                             QObject* parent = nullptr);
    ~DiskFileWatcher() override;
    Q_DISABLE_COPY_MOVE(DiskFileWatcher)

    void watch(const QStringList& names) override;

private:
    void noticed();
    void readNotices();
    void watchFolder();
    bool watched(QByteArrayView entry) const;

    QString m_folder;
    QStringList m_asked;
    QSet<QString> m_names; // case-folded
    std::unique_ptr<FolderNotices> m_notices;
    QSocketNotifier* m_notifier = nullptr;
    // The folder the notices are about, as first found.
    std::unique_ptr<FolderIdentity> m_identity;
    QTimer m_settle;
    QTimer m_poll;
};

} // namespace kav
