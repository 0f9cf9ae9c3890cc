#include "core/FileWatcher.h"

#include "FolderNotices.h"
#include "core/DiskFileService.h"

#include <QDir>
#include <QFile>
#include <QSocketNotifier>

namespace kav {

DiskFileWatcher::DiskFileWatcher(const QString& folder, int settleMs, int pollMs, QObject* parent)
    : FileWatcher(parent), m_folder(QDir(folder).absolutePath()), m_notices(std::make_unique<FolderNotices>()),
      m_identity(std::make_unique<FolderIdentity>())
{
    m_settle.setSingleShot(true);
    m_settle.setInterval(settleMs);
    connect(&m_settle, &QTimer::timeout, this, [this] {
        watchFolder(); // only when the folder was moved, removed or has come back
        Q_EMIT changed();
    });
    watchFolder();
    if (pollMs > 0) {
        connect(&m_poll, &QTimer::timeout, this, [this] {
            watchFolder();
            Q_EMIT changed();
        });
        m_poll.start(pollMs);
    }
}

DiskFileWatcher::~DiskFileWatcher() = default;

void DiskFileWatcher::watch(const QStringList& names)
{
    if (names == m_asked)
        return;
    m_asked = names;
    m_names.clear();
    for (const QString& name : names)
        m_names.insert(name.toCaseFolded());
}

void DiskFileWatcher::noticed()
{
    m_settle.start();
}

void DiskFileWatcher::watchFolder()
{
    const QByteArray folder = QFile::encodeName(m_folder);
    const FolderIdentity now = FolderIdentity::of(folder);
    if (!m_identity->found())
        *m_identity = now;
    // Only the folder found at the start: whatever stands at its path meanwhile (the mount point
    // under an unmounted drive) is not watched, and the slow timer looks for the folder's return.
    const bool there = m_identity->is(now);
    if (m_notices->watching() && there)
        return;
    delete m_notifier;
    m_notifier = nullptr;
    m_notices->stop();
    // IN_MODIFY and IN_CLOSE_WRITE: an editor that writes the file in place changes no name.
    if (!there || !m_notices->watch(folder, IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY |
                                                IN_CLOSE_WRITE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF))
        return; // the slow timer is all there is
    m_notifier = new QSocketNotifier(m_notices->fd(), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &DiskFileWatcher::readNotices);
}

bool DiskFileWatcher::watched(QByteArrayView entry) const
{
    // Any spelling the file service would find the name under.
    const std::optional<QString> name = DiskFileService::entryText(entry);
    return name && m_names.contains(name->toCaseFolded());
}

void DiskFileWatcher::readNotices()
{
    bool matters = false;
    m_notices->read([&](uint32_t mask, QByteArrayView name) {
        // Notices lost, or about the folder itself: only a fresh look can tell.
        if (FolderNotices::aboutFolder(mask) || name.isEmpty())
            matters = true;
        else if (!matters)
            matters = watched(name);
        return true;
    });
    if (matters)
        noticed();
}

} // namespace kav
