#include "core/FileWatcher.h"

#include "core/DiskFileService.h"

#include <QDir>
#include <QFile>
#include <QSocketNotifier>

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kav {

DiskFileWatcher::DiskFileWatcher(const QString& folder, int settleMs, int pollMs, QObject* parent)
    : FileWatcher(parent), m_folder(QDir(folder).absolutePath())
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

DiskFileWatcher::~DiskFileWatcher()
{
    if (m_notify >= 0)
        ::close(m_notify);
}

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
    struct stat st;
    bool there = ::stat(folder.constData(), &st) == 0;
    if (there && m_watchedIno == 0) {
        m_watchedDev = st.st_dev;
        m_watchedIno = st.st_ino;
    }
    // Only the folder found at the start: whatever stands at its path meanwhile (the mount point
    // under an unmounted drive) is not watched, and the slow timer looks for the folder's return.
    there = there && st.st_dev == m_watchedDev && st.st_ino == m_watchedIno;
    if (m_notify >= 0 && there)
        return;
    delete m_notifier;
    m_notifier = nullptr;
    if (m_notify >= 0)
        ::close(m_notify);
    m_notify = -1;
    if (!there)
        return;
    m_notify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    // IN_MODIFY and IN_CLOSE_WRITE: an editor that writes the file in place changes no name.
    if (m_notify >= 0 &&
        ::inotify_add_watch(m_notify, folder.constData(),
                            IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY | IN_CLOSE_WRITE |
                                IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR) < 0) {
        ::close(m_notify);
        m_notify = -1;
    }
    if (m_notify < 0)
        return; // the slow timer is all there is
    m_notifier = new QSocketNotifier(m_notify, QSocketNotifier::Read, this);
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
    alignas(inotify_event) char buffer[16384];
    bool matters = false;
    for (;;) {
        const ssize_t got = ::read(m_notify, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += ssize_t(sizeof(inotify_event) + event->len);
            // Notices lost, or about the folder itself: only a fresh look can tell.
            if (event->mask & (IN_Q_OVERFLOW | IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED) || event->len == 0)
                matters = true;
            else if (!matters)
                matters = watched(QByteArrayView(static_cast<const char*>(event->name),
                                                 qsizetype(::strnlen(event->name, event->len))));
        }
    }
    if (matters)
        noticed();
}

} // namespace kav
