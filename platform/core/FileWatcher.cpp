#include "core/FileWatcher.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>

namespace kav {

DiskFileWatcher::DiskFileWatcher(const QString& folder, int settleMs, int pollMs, QObject* parent)
    : FileWatcher(parent), m_folder(QDir(folder).absolutePath()), m_watcher(new QFileSystemWatcher(this))
{
    m_settle.setSingleShot(true);
    m_settle.setInterval(settleMs);
    connect(&m_settle, &QTimer::timeout, this, [this] {
        // A file replaced by a rename is a new file: its watch went with the old one.
        rewatch();
        Q_EMIT changed();
    });
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, &DiskFileWatcher::noticed);
    connect(m_watcher, &QFileSystemWatcher::fileChanged, this, &DiskFileWatcher::noticed);
    m_watcher->addPath(m_folder);
    if (pollMs > 0) {
        connect(&m_poll, &QTimer::timeout, this, &FileWatcher::changed);
        m_poll.start(pollMs);
    }
}

DiskFileWatcher::~DiskFileWatcher() = default;

void DiskFileWatcher::watch(const QStringList& names)
{
    m_names = names;
    rewatch();
}

void DiskFileWatcher::noticed()
{
    m_settle.start();
}

void DiskFileWatcher::rewatch()
{
    const QStringList old = m_watcher->files();
    if (!old.isEmpty())
        m_watcher->removePaths(old);
    const QDir dir(m_folder);
    for (const QString& entry : dir.entryList(QDir::Files)) {
        // Every spelling of a watched name: the folder decides which one is read.
        for (const QString& name : m_names) {
            if (entry.compare(name, Qt::CaseInsensitive) == 0)
                m_watcher->addPath(dir.filePath(entry));
        }
    }
    if (!m_watcher->directories().contains(m_folder))
        m_watcher->addPath(m_folder);
}

} // namespace kav
