#include "core/DiskFileService.h"

#include "DurableReplace.h"
#include "FolderNotices.h"
#include "SpellingIndex.h"
#include "core/Codec.h"

#include <QFile>

#include <algorithm>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>

namespace kav {

namespace {

// ---- What a failure says ------------------------------------------------------------

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

Error notDurable(const QString& file, int error)
{
    return failure(ErrorKind::NotDurable, file,
                   QStringLiteral("書き込みましたが、ディスクに残ったか確かめられませんでした（%1）。"
                                  "ディスクの状態を確かめて下さい。")
                       .arg(systemText(error)));
}

QByteArray realPath(const QByteArray& path)
{
    char buffer[PATH_MAX];
    return ::realpath(path.constData(), buffer) ? QByteArray(buffer) : QByteArray();
}

} // namespace

std::optional<QString> DiskFileService::entryText(QByteArrayView entry)
{
    std::optional<Spelling> spelling = spellingOf(entry);
    return spelling ? std::optional<QString>(std::move(spelling->text)) : std::nullopt;
}

bool DiskFileService::isTemporaryName(QByteArrayView entry)
{
    return DurableReplace::isTemporaryName(entry);
}

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
    : m_dir(QDir(folder).absolutePath()), m_folderBytes(QFile::encodeName(m_dir.path())),
      m_durable(std::make_unique<DurableReplace>())
{
    const FolderIdentity home = FolderIdentity::of(m_folderBytes);
    m_folderDev = home.dev;
    m_folderIno = home.ino;
    m_index = std::make_unique<SpellingIndex>(m_folderBytes);
}

DiskFileService::~DiskFileService() = default;

QByteArray DiskFileService::path(const QByteArray& entry) const
{
    return m_folderBytes + '/' + entry;
}

bool DiskFileService::sameFolder(int dir) const
{
    return FolderIdentity{m_folderDev, m_folderIno}.is(FolderIdentity::of(dir));
}

Status DiskFileService::checkFolder()
{
    if (FolderIdentity{m_folderDev, m_folderIno}.is(FolderIdentity::of(m_folderBytes)))
        return {};
    return unreachable(m_dir.path());
}

// ---- Which entry a name reaches ------------------------------------------------------

Result<DiskFileService::Target> DiskFileService::locate(const QString& name, Use use)
{
    if (!isSafeName(name))
        return unsafeName(name);
    if (const Status here = checkFolder(); !here)
        return here.error();
    m_index->refresh();
    // An indexed spelling is checked, so a stale index never names a deleted file; the
    // caller's own spelling is checked too, so a missed notice never hides a file.
    QList<QByteArray> found;
    // Kept by the notices of a local folder, the index is exact; the one entry chosen is looked at below.
    const bool indexExact = m_index->exact();
    const auto collect = [&] {
        const QList<QByteArray> listed = m_index->entries(name);
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
    if (found.isEmpty() && m_index->remote()) {
        m_index->relist();
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
    if (fd >= 0 && !sameFolder(fd)) {
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
    m_index->refresh();
    for (const QByteArray& entry : m_index->entries(name)) {
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
    if (m_index->fuse())
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
        if (got == 0 || (shortRead && !m_index->remote())) {
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
    if (dir.get() < 0 || !sameFolder(dir.get()))
        return unreachable(m_dir.path());
    // A link inside the folder stays a link: what it leads to is replaced.
    const bool inside = target.real.isEmpty();
    std::optional<bool>& caseBlind = m_index->caseBlind();
    if (const int error = m_durable->write(dir.get(), inside ? target.entry : target.real, creating ? 0 : target.mode,
                                           bytes, caseBlind))
        return writeFailure(name, error, creating);
    if (*caseBlind && inside)
        forgetOtherSpellings(target.entry, name);
    // The rename itself survives a power cut only once the folder is on disk.
    if (m_deferSync && inside) {
        m_syncPending = true;
        return {};
    }
    int synced = DurableReplace::flush(dir.get());
    if (!inside && synced == 0)
        synced = DurableReplace::flush(target.real.left(target.real.lastIndexOf('/')));
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
    if (const int synced = DurableReplace::flush(m_folderBytes); synced != 0)
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
    m_index->refresh(); // kept by the folder's notices: no listing at each call
    const QHash<QString, QList<QByteArray>>& all = m_index->all();
    QStringList names;
    for (auto it = all.cbegin(); it != all.cend(); ++it) {
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
    m_index->refresh();
    QStringList names;
    for (const QByteArray& entry : m_index->foreign()) {
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

void IgnoreFileSizeSignal()
{
    struct sigaction action = {};
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGXFSZ, &action, nullptr);
}

} // namespace kav
