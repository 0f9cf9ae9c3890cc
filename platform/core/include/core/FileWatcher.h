#pragma once

#include <QObject>
#include <QStringList>
#include <QTimer>

class QFileSystemWatcher;

namespace kav {

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

// Kernel notices on the folder and the files, settled by a short timer so a burst
// of writes is one notice, and a slow timer for file systems that send none
// (network and FUSE drives).
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
    void rewatch();

    QString m_folder;
    QStringList m_names;
    QFileSystemWatcher* m_watcher;
    QTimer m_settle;
    QTimer m_poll;
};

} // namespace kav
