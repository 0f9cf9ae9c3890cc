#include "core/DiskFileService.h"

#include "core/Codec.h"

#include <QFile>
#include <QStringDecoder>

#include <algorithm>
#include <future>
#include <optional>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kav {

namespace {

// Closes a descriptor on every way out.
class Fd
{
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Q_DISABLE_COPY_MOVE(Fd)
    int get() const { return m_fd; }

private:
    int m_fd;
};

constexpr char TemporaryPrefix[] = ".kavurio-";
constexpr char TemporarySuffix[] = ".tmp";

Error failure(ErrorKind kind, const QString& file, const QString& message)
{
    return {file, message, 0, kind};
}

QString systemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

Error writeFailure(const QString& file, int error, bool creating)
{
    switch (error) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return failure(ErrorKind::Write, file,
                       QStringLiteral("ディスクがいっぱいか、ファイルの大きさの上限を超えたため書き込めませんでした。"
                                      "空きを作るか上限を上げてから、もう一度やり直して下さい。"));
    case EACCES:
    case EPERM:
    case EROFS:
        return failure(
            ErrorKind::Write, file,
            creating ? QStringLiteral("作成できませんでした。フォルダーに書き込めるか確かめて下さい。")
                     : QStringLiteral("書き込めませんでした。フォルダーとファイルに書き込めるか確かめて下さい。"));
    case ENOENT:
    case ENOTDIR:
        return failure(ErrorKind::Write, file,
                       QStringLiteral("フォルダーが見つからないため保存できませんでした。"
                                      "フォルダーが移されたり消されたりしていないか確かめて下さい。"));
    default:
        return failure(
            ErrorKind::Write, file,
            QStringLiteral("書き込めませんでした（%1）。ディスクの状態を確かめて下さい。").arg(systemText(error)));
    }
}

Error readFailure(const QString& file, int error)
{
    if (error == EACCES || error == EPERM)
        return failure(ErrorKind::Read, file,
                       QStringLiteral("読み込めませんでした。ファイルを読む権限があるか確かめて下さい。"));
    return failure(
        ErrorKind::Read, file,
        QStringLiteral("読み込めませんでした（%1）。ディスクの状態を確かめて下さい。").arg(systemText(error)));
}

Error notFound(const QString& file)
{
    return failure(ErrorKind::NotFound, file, QStringLiteral("ファイルが見つかりません。"));
}

Error notAFile(const QString& file, const QString& shown, mode_t mode)
{
    QString what = QStringLiteral("特殊なファイル");
    if (S_ISDIR(mode))
        what = QStringLiteral("フォルダー");
    else if (S_ISFIFO(mode))
        what = QStringLiteral("名前付きパイプ");
    else if (S_ISSOCK(mode))
        what = QStringLiteral("ソケット");
    else if (S_ISCHR(mode) || S_ISBLK(mode))
        what = QStringLiteral("デバイス");
    return failure(ErrorKind::NotAFile, file,
                   QStringLiteral("「%1」はファイルではなく%2のため使えません。"
                                  "別の名前に変えるか、別の場所へ移して下さい。")
                       .arg(shown, what));
}

Error unreachable(const QString& folder)
{
    return failure(ErrorKind::Unreachable, folder,
                   QStringLiteral("ドライブが取り外されたか、フォルダーが移動・削除されたか、"
                                  "別のフォルダーに置き換えられています。"));
}

Error unsafeName(const QString& file)
{
    return failure(ErrorKind::Unsafe, file, QStringLiteral("ファイル名に使えない文字や名前が含まれています。"));
}

// The text of an entry's name, and whether it is spelled in code page 932 bytes
// rather than UTF-8. Names valid as UTF-8 are always taken as UTF-8.
struct Spelling
{
    QString text;
    bool foreign = false;
};

std::optional<QString> utf8Text(QByteArrayView raw)
{
    if (!raw.isValidUtf8())
        return std::nullopt;
    if (!raw.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(raw); // a folder of 2000 names is indexed at every start
    // A byte-order mark is part of a name, not something to drop.
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    QString text = decoder.decode(raw);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

std::optional<Spelling> spellingOf(QByteArrayView raw)
{
    if (std::optional<QString> text = utf8Text(raw))
        return Spelling{*text, false};
    if (Result<QString> text = cp932::decode(raw); text.ok())
        return Spelling{text.value(), true};
    return std::nullopt; // junk bytes: no name anyone asks for
}

} // namespace

std::optional<QString> DiskFileService::entryText(QByteArrayView entry)
{
    std::optional<Spelling> spelling = spellingOf(entry);
    return spelling ? std::optional<QString>(std::move(spelling->text)) : std::nullopt;
}

namespace {

QString shownName(const QByteArray& raw)
{
    const std::optional<Spelling> spelling = spellingOf(raw);
    return spelling ? spelling->text : QString::fromUtf8(raw);
}

QByteArray realPath(const QByteArray& path)
{
    char buffer[PATH_MAX];
    return ::realpath(path.constData(), buffer) ? QByteArray(buffer) : QByteArray();
}

// Start time of a process in clock ticks since boot, 0 when it is not running (or
// there is no /proc): a process id alone may have been given to another process.
quint64 processStart(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    // Field 2 is the command in parentheses and may hold blanks; field 22 is the start time.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 19 ? fields[19].toULongLong() : 0;
}

quint64 ownStart()
{
    static const quint64 start = processStart(::getpid());
    return start;
}

// A folder's fsync failing with error: 0 where nothing is lost (file systems that cannot
// sync a folder at all, some FUSE ones, say so with EINVAL), else the error.
int flushError(int error)
{
    return error == EINVAL || error == ENOTSUP || error == ENOSYS || error == EROFS ? 0 : error;
}

// 0, or why a folder's entries could not be made durable.
int flushFolder(const QByteArray& folder)
{
    const Fd dir(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0 || ::fsync(dir.get()) == 0)
        return 0;
    return flushError(errno);
}

Error notDurable(const QString& file, int error)
{
    return failure(ErrorKind::NotDurable, file,
                   QStringLiteral("書き込みましたが、ディスクに残ったか確かめられませんでした（%1）。"
                                  "ディスクの状態を確かめて下さい。")
                       .arg(systemText(error)));
}

} // namespace

struct DiskFileService::Slot
{
    FileMode mode = FileMode::Input;
    QString name; // as the caller gave it, for messages
    InputCursor cursor;
    QByteArray pending; // output: what replaces the file when it is closed
    int appendFd = -1;
    off_t appendStart = 0; // the size before appending, to undo a failed append
    bool appendCreated = false;
    std::optional<Error> failure; // the first failed write: the file is then put back on close

    ~Slot()
    {
        if (appendFd >= 0)
            ::close(appendFd);
    }
};

// The directory entry an operation on a name works on.
struct DiskFileService::Target
{
    QByteArray entry; // raw bytes of the name in the folder
    QString shown;    // the same as text, for messages
    bool exists = false;
    QByteArray real; // for a link inside the folder: where it leads (absolute); the file written
    mode_t mode = 0; // of the file itself (a link's target), 0 when there is none
};

DiskFileService::DiskFileService(const QString& folder)
    : m_dir(QDir(folder).absolutePath()), m_folderBytes(QFile::encodeName(m_dir.path()))
{
    if (struct stat st; ::stat(m_folderBytes.constData(), &st) == 0) {
        m_folderDev = st.st_dev;
        m_folderIno = st.st_ino;
    }
    watchFolder(); // first, so that what changes while the folder is listed is noticed
    // A folder of 2000 titles takes a few milliseconds to list: done beside the building of
    // the window. The first look-up waits for it (and a system out of threads lists then).
    m_firstListing = std::async(std::launch::async | std::launch::deferred, [folder = m_folderBytes] {
        Listing listed = listFolder(folder);
        removeLeftovers(folder, listed);
        return listed;
    });
}

void DiskFileService::watchFolder()
{
    if (m_firstListing.valid())
        m_firstListing.get(); // made before the folder went away and came back
    if (m_notify >= 0)
        ::close(m_notify);
    m_indexValid = false;
    const QByteArray& folder = m_folderBytes;
    m_notify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_notify >= 0 && ::inotify_add_watch(m_notify, folder.constData(),
                                             IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF |
                                                 IN_MOVE_SELF | IN_ONLYDIR) < 0) {
        ::close(m_notify);
        m_notify = -1;
    }
    // Again when the folder's drive is mounted again.
    m_caseBlind.reset();
    struct statfs fs;
    constexpr decltype(fs.f_type) FuseMagic = 0x65735546;
    constexpr decltype(fs.f_type) RemoteMagic[] = {0x6969 /* NFS */, 0x517B /* SMB */, decltype(fs.f_type)(0xFF534D42),
                                                   decltype(fs.f_type)(0xFE534D42) /* CIFS, SMB2 */};
    if (::statfs(folder.constData(), &fs) == 0) {
        m_fuse = fs.f_type == FuseMagic;
        m_remote =
            m_fuse || std::find(std::begin(RemoteMagic), std::end(RemoteMagic), fs.f_type) != std::end(RemoteMagic);
    }
}

DiskFileService::~DiskFileService()
{
    // Unsaved output is dropped with the slots.
    if (m_notify >= 0)
        ::close(m_notify);
}

QByteArray DiskFileService::path(const QByteArray& entry) const
{
    return m_folderBytes + '/' + entry;
}

DiskFileService::Slot* DiskFileService::slot(int number)
{
    return number >= 1 && number <= MaxNumber ? m_slots[number].get() : nullptr;
}

// ---- Temporary files --------------------------------------------------------------

bool DiskFileService::isTemporaryName(QByteArrayView entry)
{
    // .kavurio-<pid>-<start>-<n>.tmp, and the ".XXXXXX" that earlier versions, saving
    // through QSaveFile, added where it could not use an unnamed file.
    QByteArrayView rest = entry;
    if (!rest.startsWith(TemporaryPrefix))
        return false;
    rest = rest.sliced(sizeof TemporaryPrefix - 1);
    for (int number = 0; number < 3; ++number) {
        qsizetype digits = 0;
        while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9')
            ++digits;
        if (digits == 0 || digits > 20)
            return false;
        rest = rest.sliced(digits);
        if (number < 2) {
            if (!rest.startsWith('-'))
                return false;
            rest = rest.sliced(1);
        }
    }
    if (!rest.startsWith(TemporarySuffix))
        return false;
    rest = rest.sliced(sizeof TemporarySuffix - 1);
    if (rest.isEmpty())
        return true;
    return rest.size() == 7 && rest[0] == '.' &&
           std::all_of(rest.begin() + 1, rest.end(), [](char c) { return std::isalnum(uchar(c)); });
}

void DiskFileService::removeLeftovers(const QByteArray& folder, Listing& listed)
{
    if (listed.temporaries.isEmpty())
        return;
    const Fd dir(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0)
        return;
    const int dirFd = dir.get();
    for (const QByteArray& name : std::as_const(listed.temporaries)) {
        const QList<QByteArray> parts = name.mid(sizeof TemporaryPrefix - 1).split('-');
        const qint64 pid = parts[0].toLongLong();
        const quint64 start = parts[1].toULongLong();
        // Another running window on this folder may be saving right now.
        if (start != 0 && processStart(pid) == start)
            continue;
        if (start == 0 && ::kill(pid_t(pid), 0) == 0)
            continue;
        struct stat st;
        if (::fstatat(dirFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
            ::unlinkat(dirFd, name.constData(), 0) == 0) {
            // Its name is plain ASCII: it spells itself.
            if (const auto found = listed.index.find(QString::fromLatin1(name).toCaseFolded());
                found != listed.index.end())
                found->removeAll(name);
        }
    }
}

// ---- The index of spellings ---------------------------------------------------------

bool DiskFileService::applyFolderEvents()
{
    if (m_notify < 0)
        return false;
    alignas(inotify_event) char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(m_notify, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK;
        if (got == 0)
            return false;
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += ssize_t(sizeof(inotify_event) + event->len);
            // Lost notices: only a new listing can tell.
            if (event->mask & IN_Q_OVERFLOW)
                return false;
            // The folder itself gone or moved: no more notices will come, so every look-up lists it again.
            if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) {
                ::close(m_notify);
                m_notify = -1;
                m_watchLost = true;
                return false;
            }
            if (event->len == 0)
                continue;
            const QByteArray raw(event->name);
            const std::optional<Spelling> spelling = spellingOf(raw);
            if (!spelling)
                continue;
            const QString key = spelling->text.toCaseFolded();
            if (event->mask & (IN_CREATE | IN_MOVED_TO)) {
                QList<QByteArray>& entries = m_index[key];
                // Where letter case is ignored, a file renamed over another spelling takes its place,
                // and no notice says that spelling is gone.
                if (m_caseBlind.value_or(false) && utf8Text(raw))
                    entries.removeIf([&](const QByteArray& e) { return e != raw && utf8Text(e); });
                if (!entries.contains(raw))
                    entries.append(raw);
                if (spelling->foreign && !m_foreign.contains(raw))
                    m_foreign.append(raw);
            } else if (const auto found = m_index.find(key); found != m_index.end()) {
                found->removeAll(raw);
                if (spelling->foreign)
                    m_foreign.removeAll(raw);
            }
        }
    }
}

DiskFileService::Listing DiskFileService::listFolder(const QByteArray& folder)
{
    Listing listed;
    if (DIR* dir = ::opendir(folder.constData())) {
        while (const dirent* entry = ::readdir(dir)) {
            const QByteArray raw(entry->d_name);
            if (raw == "." || raw == "..")
                continue;
            const std::optional<Spelling> spelling = spellingOf(raw);
            if (!spelling)
                continue;
            listed.index[spelling->text.toCaseFolded()].append(raw);
            if (spelling->foreign)
                listed.foreign.append(raw);
            else if (isTemporaryName(raw))
                listed.temporaries.append(raw);
        }
        ::closedir(dir);
    }
    return listed;
}

Status DiskFileService::checkFolder()
{
    struct stat st;
    if (m_folderIno != 0 && ::stat(m_folderBytes.constData(), &st) == 0 && st.st_dev == m_folderDev &&
        st.st_ino == m_folderIno)
        return {};
    return unreachable(m_dir.path());
}

// Called only once checkFolder() has found the folder in its place.
void DiskFileService::refreshIndex()
{
    if (std::exchange(m_watchLost, false))
        watchFolder(); // back at its path
    // Notices queued before a listing only repeat what it shows, so they are kept for later.
    if (m_indexValid && applyFolderEvents())
        return;
    const bool early = m_firstListing.valid();
    Listing listed = early ? m_firstListing.get() : listFolder(m_folderBytes);
    m_index = std::move(listed.index);
    m_foreign = std::move(listed.foreign);
    m_indexValid = m_notify >= 0;
    if (!m_caseBlind)
        learnCaseBlind();
    // The listing made at the start may be older than some notices: each name ends as its
    // last notice says, whether the listing saw it before or after.
    if (early && m_indexValid && !applyFolderEvents()) {
        m_indexValid = false;
        refreshIndex();
    }
}

void DiskFileService::learnCaseBlind()
{
    // A listed name in other letter case that is not listed itself, yet opens: the folder ignores case.
    for (const QList<QByteArray>& entries : std::as_const(m_index)) {
        for (const QByteArray& entry : entries) {
            const QByteArray other = entry.toUpper() != entry ? entry.toUpper() : entry.toLower();
            if (other == entry || entries.contains(other))
                continue;
            struct stat st;
            m_caseBlind = ::lstat(path(other).constData(), &st) == 0;
            return;
        }
    }
}

Result<DiskFileService::Target> DiskFileService::locate(const QString& name, Use use)
{
    if (!isSafeName(name))
        return unsafeName(name);
    if (const Status here = checkFolder(); !here)
        return here.error();
    refreshIndex();
    // An indexed spelling is checked, so a stale index never names a deleted file; the
    // caller's own spelling is checked too, so a missed notice never hides a file.
    QList<QByteArray> found;
    // Kept by the notices of a local folder, the index is exact; the one entry chosen is looked at below.
    const bool indexExact = m_indexValid && !m_remote;
    const auto collect = [&] {
        const QList<QByteArray> listed = m_index.value(name.toCaseFolded());
        for (const QByteArray& entry : listed) {
            struct stat st;
            if (!found.contains(entry) &&
                ((indexExact && listed.size() == 1) || ::lstat(path(entry).constData(), &st) == 0))
                found.append(entry);
        }
        // Only when nothing listed answers: a folder that ignores letter case would
        // otherwise offer the listed file a second time under the caller's spelling.
        struct stat st;
        if (found.isEmpty() && ::lstat(path(QFile::encodeName(name)).constData(), &st) == 0)
            found.append(QFile::encodeName(name));
    };
    collect();
    if (found.isEmpty() && m_remote) {
        m_indexValid = false;
        refreshIndex();
        collect();
    }

    Target target;
    if (found.isEmpty()) {
        target.entry = QFile::encodeName(name); // a new file gets the caller's spelling
        target.shown = name;
        return target;
    }
    // UTF-8 spellings first, then byte order: the choice never depends on how the caller spelled it.
    std::sort(found.begin(), found.end(), [](const QByteArray& a, const QByteArray& b) {
        const bool aForeign = !utf8Text(a), bForeign = !utf8Text(b);
        return aForeign != bForeign ? bForeign : a < b;
    });
    QByteArray chosen = found.first();
    if (found.size() > 1) {
        // An empty spelling (a file a first start made, say) is the lesser one and is not used.
        // Spellings that are one file (a link to the other, a hard link) do not clash.
        QList<QByteArray> holding;
        QList<std::pair<dev_t, ino_t>> files;
        for (const QByteArray& entry : found) {
            struct stat st;
            if (::stat(path(entry).constData(), &st) != 0 || (S_ISREG(st.st_mode) && st.st_size == 0))
                continue;
            const std::pair<dev_t, ino_t> file{st.st_dev, st.st_ino};
            struct stat own;
            const bool link = ::lstat(path(entry).constData(), &own) == 0 && S_ISLNK(own.st_mode);
            if (const qsizetype known = files.indexOf(file); known >= 0) {
                if (!link) // the entry that is the file itself, not a link to it
                    holding[known] = entry;
                continue;
            }
            files.append(file);
            holding.append(entry);
        }
        if (holding.size() > 1)
            return failure(ErrorKind::Clash, name,
                           QStringLiteral("「%1」と「%2」の両方に内容があるため、どちらを使うか決められません。"
                                          "要らない方を別のフォルダーへ移して下さい。")
                               .arg(shownName(holding[0]), shownName(holding[1])));
        if (holding.size() == 1)
            chosen = holding.first();
    }

    target.entry = chosen;
    target.shown = shownName(chosen);
    const QByteArray entryPath = path(chosen);
    struct stat st;
    if (::lstat(entryPath.constData(), &st) != 0)
        return target; // gone since it was listed
    target.exists = true;
    target.mode = st.st_mode;
    if (S_ISLNK(st.st_mode)) {
        QByteArray real = realPath(entryPath);
        if (real.isEmpty()) {
            // Leads nowhere yet: where it would lead is the link's folder, found for real, and its last name.
            char text[PATH_MAX];
            const ssize_t length = ::readlink(entryPath.constData(), text, sizeof text);
            const QByteArray link = length > 0 ? QByteArray(text, length) : QByteArray();
            const QByteArray whole = link.startsWith('/') ? link : m_folderBytes + '/' + link;
            const qsizetype slash = whole.lastIndexOf('/');
            const QByteArray last = whole.mid(slash + 1);
            const QByteArray parent = realPath(slash > 0 ? whole.left(slash) : QByteArray("/"));
            struct stat beyond;
            if (!link.isEmpty() && !parent.isEmpty() && !last.isEmpty() && last != "." && last != ".." &&
                ::lstat((parent + '/' + last).constData(), &beyond) != 0)
                real = parent + '/' + last;
        }
        const QByteArray home = realPath(m_folderBytes);
        const bool inside =
            !real.isEmpty() && !home.isEmpty() && real.startsWith(home.endsWith('/') ? home : home + '/');
        if (!inside && use != Use::Read) {
            char text[PATH_MAX];
            const ssize_t length = ::readlink(entryPath.constData(), text, sizeof text);
            return failure(ErrorKind::Unsafe, name,
                           QStringLiteral("「%1」はフォルダーの外（%2）を指すシンボリックリンクのため、"
                                          "書き換えも削除もしません。リンクを普通のファイルに置き換えて下さい。")
                               .arg(target.shown, QFile::decodeName(QByteArray(text, std::max<ssize_t>(0, length)))));
        }
        target.real = inside ? real : QByteArray();
        target.mode = ::stat(entryPath.constData(), &st) == 0 ? st.st_mode : 0;
    }
    if (target.mode != 0 && !S_ISREG(target.mode))
        return notAFile(name, target.shown, target.mode);
    return target;
}

namespace {

// flock(2) on the folder itself: no file of ours in the user's folder, and the kernel drops
// the lock of a program that was killed.
class FlockedFolder final : public FolderLock
{
public:
    explicit FlockedFolder(int fd) : m_fd(fd) {}
    ~FlockedFolder() override
    {
        if (m_fd >= 0)
            ::close(m_fd); // releases the lock
    }
    Q_DISABLE_COPY_MOVE(FlockedFolder)

private:
    int m_fd;
};

} // namespace

Result<std::unique_ptr<FolderLock>> DiskFileService::lockFolder()
{
    const int fd = ::open(m_folderBytes.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // The folder locked is the one opened at the start, or none is.
    struct stat st;
    if (fd >= 0 && (::fstat(fd, &st) != 0 || st.st_dev != m_folderDev || st.st_ino != m_folderIno)) {
        ::close(fd);
        return unreachable(m_dir.path());
    }
    if (fd < 0) {
        if (const Status here = checkFolder(); !here)
            return here.error();
        return std::make_unique<FolderLock>(); // the command itself will say what is wrong with the folder
    }
    // Another window's command holds it for milliseconds; a program that hangs must not hang us.
    for (int waited = 0; ::flock(fd, LOCK_EX | LOCK_NB) != 0; waited += 10) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            // A file system without locks (some network drives): go on as before locks.
            return std::unique_ptr<FolderLock>(std::make_unique<FlockedFolder>(fd));
        }
        if (waited >= 3000) {
            ::close(fd);
            return failure(ErrorKind::Write, QString(),
                           QStringLiteral("別のウィンドウ（または別のプログラム）がこのフォルダーのファイルを"
                                          "書き換え中のため、保存できませんでした。もう一度やり直して下さい。"));
        }
        ::usleep(10000);
    }
    return std::unique_ptr<FolderLock>(std::make_unique<FlockedFolder>(fd));
}

QString DiskFileService::resolve(const QString& name)
{
    const Result<Target> target = locate(name, Use::Read);
    return target.ok() && target.value().exists ? target.value().shown : name;
}

bool DiskFileService::exists(const QString& name)
{
    if (!isSafeName(name) || !checkFolder())
        return false;
    refreshIndex();
    for (const QByteArray& entry : m_index.value(name.toCaseFolded())) {
        struct stat st;
        if (::lstat(path(entry).constData(), &st) == 0)
            return true;
    }
    return false;
}

// ---- Whole files -------------------------------------------------------------------

Result<QByteArray> DiskFileService::readAll(const QString& name)
{
    const Result<Target> located = locate(name, Use::Read);
    if (!located)
        return located.error();
    const Target& target = located.value();
    if (!target.exists || target.mode == 0)
        return notFound(name);
    // Never blocks: a FIFO swapped in since the look-up opens at once and is refused below.
    const Fd fd(::open(path(target.entry).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0)
        return errno == ENOENT ? notFound(name) : readFailure(name, errno);
    struct stat st;
    if (::fstat(fd.get(), &st) != 0)
        return readFailure(name, errno);
    if (!S_ISREG(st.st_mode))
        return notAFile(name, target.shown, st.st_mode);
    // Through FUSE the kernel may hold pages of this spelling from before another
    // program replaced the file under another spelling: read what is on disk.
    if (m_fuse)
        ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_DONTNEED);
    // Straight into the result; one byte more than the size asks the end of a file that grew meanwhile.
    QByteArray bytes(qsizetype(st.st_size) + 1, Qt::Uninitialized);
    qsizetype have = 0;
    for (;;) {
        if (have == bytes.size())
            bytes.resize(have * 2 + 4096);
        const ssize_t got = ::read(fd.get(), bytes.data() + have, size_t(bytes.size() - have));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return readFailure(name, errno);
        const bool shortRead = got < bytes.size() - have;
        have += got;
        // A local file reads short only at its end; network and FUSE drives may stop anywhere.
        if (got == 0 || (shortRead && !m_remote)) {
            bytes.truncate(have);
            return bytes;
        }
    }
}

Status DiskFileService::replace(const QString& name, QByteArrayView bytes)
{
    const Result<Target> located = locate(name, Use::Write);
    if (!located)
        return located.error();
    const Target& target = located.value();
    const bool creating = !target.exists || target.mode == 0;

    // Through a handle on the folder opened at the start: should its drive go between the
    // look-up and the rename, the new file lands on that drive or nowhere, never in the
    // folder that then stands at its path.
    const Fd dir(::open(m_folderBytes.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat folder;
    if (dir.get() < 0 || ::fstat(dir.get(), &folder) != 0 || folder.st_dev != m_folderDev ||
        folder.st_ino != m_folderIno)
        return unreachable(m_dir.path());

    // The new bytes go to a file of ours beside the old one and are renamed over it only
    // once they are written, flushed and closed without an error: a kill or a failing
    // disk at any moment leaves either the old bytes or the new, and nothing in the
    // folder but a file recognisably ours.
    QByteArray staging;
    int fd = -1;
    for (int tries = 0; fd < 0 && tries < 100; ++tries) {
        staging = TemporaryPrefix + QByteArray::number(::getpid()) + '-' + QByteArray::number(ownStart()) + '-' +
                  QByteArray::number(++m_saves) + TemporarySuffix;
        fd = ::openat(dir.get(), staging.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY,
                      creating ? 0666 : (target.mode & 07777));
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0)
        return writeFailure(name, errno, creating);
    const auto drop = [&](int error) {
        if (fd >= 0)
            ::close(fd);
        ::unlinkat(dir.get(), staging.constData(), 0);
        return writeFailure(name, error, creating);
    };
    // The mode asked at creation is cut by the umask; the replaced file's is kept whole.
    if (!creating)
        ::fchmod(fd, target.mode & 07777);
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t written = ::write(fd, bytes.data() + done, size_t(bytes.size() - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return drop(written < 0 ? errno : ENOSPC);
        done += written;
    }
    // A file system that cannot flush at all says so; any other failure may have lost the bytes.
    if (::fdatasync(fd) != 0 && errno != EINVAL && errno != ENOTSUP && errno != ENOSYS)
        return drop(errno);
    const int closing = fd;
    fd = -1;
    if (::close(closing) != 0)
        return drop(errno);
    if (!m_caseBlind) {
        struct stat st;
        m_caseBlind = ::fstatat(dir.get(), staging.toUpper().constData(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    }
    // A link inside the folder stays a link: what it leads to is replaced.
    const bool inside = target.real.isEmpty();
    if (::renameat(dir.get(), staging.constData(), inside ? dir.get() : AT_FDCWD,
                   inside ? target.entry.constData() : target.real.constData()) != 0) {
        const int error = errno;
        ::unlinkat(dir.get(), staging.constData(), 0);
        return writeFailure(name, error, creating);
    }
    if (*m_caseBlind && inside)
        forgetOtherSpellings(target.entry, name);
    // The rename itself survives a power cut only once the folder is on disk.
    if (m_deferSync && inside) {
        m_syncPending = true;
        return {};
    }
    int synced = ::fsync(dir.get()) == 0 ? 0 : flushError(errno);
    if (!target.real.isEmpty() && synced == 0)
        synced = flushFolder(target.real.left(target.real.lastIndexOf('/')));
    if (synced != 0)
        return notDurable(name, synced);
    return {};
}

void DiskFileService::deferFolderSync(bool defer)
{
    if (!defer)
        (void)syncFolder();
    m_deferSync = defer;
}

Status DiskFileService::syncFolder()
{
    if (!m_syncPending)
        return {};
    m_syncPending = false;
    if (const int synced = flushFolder(m_folderBytes); synced != 0)
        return notDurable(m_dir.path(), synced);
    return {};
}

void DiskFileService::forgetOtherSpellings(const QByteArray& entry, const QString& asked)
{
    // On a file system that ignores letter case but is reached through FUSE (exFAT,
    // NTFS), each spelling anyone opened is a file of its own to the kernel, whose
    // cached pages still hold the bytes the rename replaced when the size did not
    // change, and whose cached size is the old one until the attribute timeout ends
    // (another program reading that spelling meanwhile gets a cut or empty file). The
    // usual other spellings are opened, their size fetched afresh from the file
    // system and their cached pages dropped.
    const QString shown = shownName(entry);
    const qsizetype dot = shown.lastIndexOf(u'.');
    QString flipped = shown;
    if (dot >= 0) {
        const QString extension = shown.mid(dot);
        flipped = shown.left(dot) + (extension == extension.toUpper() ? extension.toLower() : extension.toUpper());
    }
    QList<QByteArray> spellings;
    for (const QString& spelling : {asked, shown.toLower(), shown.toUpper(), flipped}) {
        const QByteArray raw = QFile::encodeName(spelling);
        if (raw != entry && !spellings.contains(raw))
            spellings.append(raw);
    }
    for (const QByteArray& raw : spellings) {
        const Fd fd(::open(path(raw).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW));
        struct statx st;
        if (fd.get() >= 0 &&
            ::statx(fd.get(), "", AT_EMPTY_PATH | AT_STATX_FORCE_SYNC, STATX_TYPE | STATX_SIZE | STATX_MTIME, &st) ==
                0 &&
            S_ISREG(st.stx_mode))
            ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_DONTNEED);
    }
}

Status DiskFileService::remove(const QString& name)
{
    const Result<Target> located = locate(name, Use::Remove);
    if (!located)
        return located.error();
    const Target& target = located.value();
    if (!target.exists)
        return notFound(name);
    // A link inside the folder goes, not what it leads to.
    if (::unlink(path(target.entry).constData()) != 0) {
        const int error = errno;
        if (error == ENOENT)
            return notFound(name);
        return failure(ErrorKind::Write, name,
                       QStringLiteral("削除できませんでした（%1）。フォルダーに書き込めるか確かめて下さい。")
                           .arg(systemText(error)));
    }
    // No folder sync: a removal lost to a power cut leaves a file that nothing names any
    // more (the list was replaced first), which the next registration of that name replaces.
    return {};
}

// ---- Names in code page 932 -------------------------------------------------------------

QStringList DiskFileService::names(NameFilter wanted)
{
    if (!checkFolder())
        return {};
    refreshIndex(); // kept by the folder's notices: no listing at each call
    QStringList names;
    for (auto it = m_index.cbegin(); it != m_index.cend(); ++it) {
        if (wanted && !wanted(it.key()))
            continue; // not decoded again: 2000 names cost a millisecond at every look
        for (const QByteArray& entry : it.value()) {
            if (const std::optional<Spelling> spelling = spellingOf(entry))
                names.append(spelling->text);
        }
    }
    return names;
}

QStringList DiskFileService::foreignNames()
{
    if (!checkFolder())
        return {};
    refreshIndex();
    QStringList names;
    for (const QByteArray& entry : std::as_const(m_foreign)) {
        const std::optional<Spelling> spelling = spellingOf(entry);
        struct stat st;
        if (spelling && spelling->text.endsWith(QStringLiteral(".txt"), Qt::CaseInsensitive) &&
            ::lstat(path(entry).constData(), &st) == 0 && S_ISREG(st.st_mode) && !names.contains(spelling->text))
            names.append(spelling->text);
    }
    names.sort();
    return names;
}

Status DiskFileService::renameToSystemSpelling(const QString& name)
{
    if (!isSafeName(name))
        return unsafeName(name);
    if (const Status here = checkFolder(); !here)
        return here.error();
    const Result<QByteArray> encoded = cp932::encode(name);
    struct stat st;
    if (!encoded.ok() || utf8Text(encoded.value()) || ::lstat(path(encoded.value()).constData(), &st) != 0)
        return notFound(name);
    if (!S_ISREG(st.st_mode))
        return S_ISLNK(st.st_mode)
                   ? failure(ErrorKind::Unsafe, name, QStringLiteral("シンボリックリンクの名前は変えません。"))
                   : notAFile(name, name, st.st_mode);
    const QByteArray& folder = m_folderBytes;
    const Fd dir(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0)
        return writeFailure(name, errno, false);
    const QByteArray from = encoded.value();
    const QByteArray to = name.toUtf8();
    const auto move = [&] {
        if (::renameat2(dir.get(), from.constData(), dir.get(), to.constData(), RENAME_NOREPLACE) == 0)
            return true;
        if (errno != EINVAL && errno != ENOSYS)
            return false;
        // A file system without the flag: never over a file that is there.
        struct stat there;
        if (::fstatat(dir.get(), to.constData(), &there, AT_SYMLINK_NOFOLLOW) == 0) {
            errno = EEXIST;
            return false;
        }
        return ::renameat(dir.get(), from.constData(), dir.get(), to.constData()) == 0;
    };
    bool moved = move();
    if (!moved && errno == EEXIST) {
        // Only an empty file of the new name gives way (a first start's empty list, say).
        struct stat there;
        if (::fstatat(dir.get(), to.constData(), &there, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(there.st_mode) &&
            there.st_size == 0 && ::unlinkat(dir.get(), to.constData(), 0) == 0)
            moved = move();
        else
            errno = EEXIST;
    }
    if (!moved) {
        if (errno == EEXIST)
            return failure(ErrorKind::Clash, name,
                           QStringLiteral("同じ名前のファイルが既にあるため、名前を変えませんでした。"
                                          "どちらかを別のフォルダーへ移して下さい。"));
        return failure(ErrorKind::Write, name,
                       QStringLiteral("名前を変えられませんでした（%1）。フォルダーに書き込めるか確かめて下さい。")
                           .arg(systemText(errno)));
    }
    ::fsync(dir.get());
    return {};
}

// ---- Numbered files --------------------------------------------------------------------

namespace {

Error numberError(const QString& name)
{
    return failure(ErrorKind::Other, name, QStringLiteral("ファイル番号が正しくありません（1か2を使って下さい）。"));
}

} // namespace

Status DiskFileService::open(int number, const QString& name, FileMode mode)
{
    if (number < 1 || number > MaxNumber)
        return numberError(name);
    if (m_slots[number])
        return failure(ErrorKind::Other, name, QStringLiteral("このファイル番号は既に使われています。"));

    auto slot = std::make_unique<Slot>();
    slot->mode = mode;
    slot->name = name;
    switch (mode) {
    case FileMode::Input: {
        Result<QByteArray> bytes = readAll(name);
        if (!bytes)
            return bytes.error();
        slot->cursor.bytes = std::move(bytes.value());
        break;
    }
    case FileMode::Output:
        // Written through replace() on close; what cannot be written is refused now.
        if (const Result<Target> located = locate(name, Use::Write); !located)
            return located.error();
        break;
    case FileMode::Append: {
        const Result<Target> located = locate(name, Use::Write);
        if (!located)
            return located.error();
        const Target& target = located.value();
        const QByteArray destination = target.real.isEmpty() ? path(target.entry) : target.real;
        slot->appendCreated = !target.exists || target.mode == 0;
        slot->appendFd = ::open(destination.constData(),
                                O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW, 0666);
        if (slot->appendFd < 0)
            return writeFailure(name, errno, slot->appendCreated);
        struct stat st;
        if (::fstat(slot->appendFd, &st) != 0)
            return writeFailure(name, errno, slot->appendCreated);
        if (!S_ISREG(st.st_mode))
            return notAFile(name, target.shown, st.st_mode);
        slot->appendStart = st.st_size;
        break;
    }
    }
    m_slots[number] = std::move(slot);
    return {};
}

InputCursor* DiskFileService::input(int number)
{
    Slot* s = slot(number);
    return s && s->mode == FileMode::Input ? &s->cursor : nullptr;
}

Status DiskFileService::write(int number, QByteArrayView bytes)
{
    Slot* s = slot(number);
    if (!s)
        return number < 1 || number > MaxNumber
                   ? numberError({})
                   : failure(ErrorKind::Other, {}, QStringLiteral("このファイル番号では何も開かれていません。"));
    if (s->mode == FileMode::Input)
        return failure(ErrorKind::Other, s->name, QStringLiteral("読み込み用に開いたファイルには書き込めません。"));
    if (s->mode == FileMode::Output) {
        s->pending.append(bytes);
        return {};
    }
    for (qsizetype done = 0; !s->failure && done < bytes.size();) {
        const ssize_t written = ::write(s->appendFd, bytes.data() + done, size_t(bytes.size() - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            s->failure = writeFailure(s->name, written < 0 ? errno : ENOSPC, s->appendCreated);
        else
            done += written;
    }
    return s->failure ? Status(*s->failure) : Status();
}

Status DiskFileService::close(int number)
{
    if (number < 1 || number > MaxNumber)
        return numberError({});
    Slot* s = slot(number);
    if (!s)
        return {};
    if (s->failure) {
        const Error failed = *s->failure;
        discard(number);
        return failed;
    }
    const std::unique_ptr<Slot> closing = std::move(m_slots[number]);
    if (closing->mode == FileMode::Output)
        return replace(closing->name, closing->pending);
    return {};
}

void DiskFileService::discard(int number)
{
    if (!slot(number))
        return;
    const std::unique_ptr<Slot> s = std::move(m_slots[number]);
    if (s->mode != FileMode::Append)
        return;
    // Put the file back as it was before it was opened.
    if (s->appendCreated) {
        const Result<Target> located = locate(s->name, Use::Remove);
        if (located.ok() && located.value().exists)
            ::unlink(path(located.value().entry).constData());
    } else {
        // Best effort: a file that cannot be cut back keeps the failed append's bytes.
        [[maybe_unused]] const int cut = ::ftruncate(s->appendFd, s->appendStart);
    }
}

Status DiskFileService::closeAll()
{
    Status first;
    for (int number = 1; number <= MaxNumber; ++number) {
        Status status = close(number);
        if (first.ok() && !status.ok())
            first = status;
    }
    return first;
}

void IgnoreFileSizeSignal()
{
    struct sigaction action = {};
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGXFSZ, &action, nullptr);
}

} // namespace kav
