#include "core/DiskFileService.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <optional>

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>

namespace kav {

struct DiskFileService::Slot
{
    FileMode mode = FileMode::Input;
    QString name; // as the caller gave it, for messages
    InputCursor cursor;
    std::unique_ptr<QSaveFile> output;
    std::unique_ptr<QFile> append;
    qint64 appendStart = 0; // the size before appending, to undo a failed append
    bool appendCreated = false;
    std::optional<Error> failure; // the first failed write: the file is then put back on close
};

namespace {

Error fileError(const QString& name, const QString& message, ErrorKind kind = ErrorKind::Other)
{
    return {name, message, 0, kind};
}

Error writeError(const QString& name, const QString& reason)
{
    return fileError(name,
                     QStringLiteral("書き込めませんでした（ディスクの空きや書き込み権限を確かめて下さい）: ") + reason,
                     ErrorKind::Write);
}

Error numberError(const QString& name)
{
    return fileError(name, QStringLiteral("ファイル番号が正しくありません（1か2を使って下さい）"));
}

} // namespace

DiskFileService::DiskFileService(const QString& folder) : m_dir(QDir(folder).absolutePath())
{
    m_notify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_notify >= 0 && ::inotify_add_watch(m_notify, QFile::encodeName(m_dir.path()).constData(),
                                             IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF |
                                                 IN_MOVE_SELF | IN_ONLYDIR) < 0) {
        ::close(m_notify);
        m_notify = -1;
    }
}

DiskFileService::~DiskFileService()
{
    // Unsaved output is dropped with the slots: QSaveFile never commits by itself.
    if (m_notify >= 0)
        ::close(m_notify);
}

DiskFileService::Slot* DiskFileService::slot(int number)
{
    return number >= 1 && number <= MaxNumber ? m_slots[number].get() : nullptr;
}

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
            // The folder itself gone or moved: no more notices will come, so every miss lists it again.
            if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) {
                ::close(m_notify);
                m_notify = -1;
                return false;
            }
            if (event->len == 0)
                continue;
            const QString name = QFile::decodeName(event->name);
            const QString key = name.toCaseFolded();
            if (event->mask & (IN_CREATE | IN_MOVED_TO)) {
                QStringList& spellings = m_index[key];
                if (!spellings.contains(name))
                    spellings.append(name);
            } else if (const auto found = m_index.find(key); found != m_index.end()) {
                found->removeAll(name);
            }
        }
    }
}

void DiskFileService::refreshIndex()
{
    // Notices queued before a listing only repeat what it shows, so they are kept for later.
    if (m_indexValid && applyFolderEvents())
        return;
    m_index.clear();
    QDirIterator entries(m_dir.path(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (entries.hasNext()) {
        entries.next();
        m_index[entries.fileName().toCaseFolded()].append(entries.fileName());
    }
    m_indexValid = m_notify >= 0;
}

QString DiskFileService::resolve(const QString& name)
{
    if (QFileInfo::exists(m_dir.filePath(name)))
        return name;
    refreshIndex();
    // An indexed spelling is checked, so a stale index never names a deleted file.
    for (const QString& spelling : m_index.value(name.toCaseFolded())) {
        if (QFileInfo::exists(m_dir.filePath(spelling)))
            return spelling;
    }
    return name;
}

Status DiskFileService::open(int number, const QString& name, FileMode mode)
{
    if (number < 1 || number > MaxNumber)
        return numberError(name);
    if (m_slots[number])
        return fileError(name, QStringLiteral("このファイル番号は既に使われています"));
    if (!isSafeName(name))
        return fileError(name, QStringLiteral("ファイル名に使えない文字や名前が含まれています"));

    const QString spelling = resolve(name);
    const QString path = m_dir.filePath(spelling);
    auto slot = std::make_unique<Slot>();
    slot->mode = mode;
    slot->name = name;
    switch (mode) {
    case FileMode::Input: {
        const QFileInfo info(path);
        if (!info.exists())
            return fileError(name, QStringLiteral("ファイルが見つかりません"), ErrorKind::NotFound);
        if (info.isDir())
            return fileError(name, QStringLiteral("同じ名前のフォルダーがあるため開けません"), ErrorKind::NotAFile);
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return fileError(name, QStringLiteral("ファイルを開けませんでした: ") + file.errorString(),
                             ErrorKind::Read);
        slot->cursor.bytes = file.readAll();
        if (file.error() != QFileDevice::NoError)
            return fileError(name, QStringLiteral("ファイルを読み込めませんでした: ") + file.errorString(),
                             ErrorKind::Read);
        break;
    }
    case FileMode::Output:
        slot->output = std::make_unique<QSaveFile>(path);
        if (!slot->output->open(QIODevice::WriteOnly))
            return writeError(name, slot->output->errorString());
        break;
    case FileMode::Append:
        slot->appendCreated = !QFileInfo::exists(path);
        slot->append = std::make_unique<QFile>(path);
        // Unbuffered, so that a failing write shows at once and not on some later close.
        if (!slot->append->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
            return writeError(name, slot->append->errorString());
        slot->appendStart = slot->append->size();
        break;
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
                   : fileError({}, QStringLiteral("このファイル番号では何も開かれていません"));
    QFileDevice* device = s->output ? static_cast<QFileDevice*>(s->output.get()) : s->append.get();
    if (!device)
        return fileError(s->name, QStringLiteral("読み込み用に開いたファイルには書き込めません"));
    // A short write sets no error on the device: writing the rest brings out the reason. The slot
    // keeps the failure, as QSaveFile would otherwise commit the short file.
    for (qsizetype done = 0; !s->failure && done < bytes.size();) {
        const qint64 written = device->write(bytes.data() + done, bytes.size() - done);
        if (written <= 0)
            s->failure = writeError(s->name, device->errorString());
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
        const Error failure = *s->failure;
        discard(number);
        return failure;
    }
    const std::unique_ptr<Slot> closing = std::move(m_slots[number]);
    if (closing->output) {
        // commit() would not see a failure of the write that empties its buffer, and would
        // put a short or empty file in place of the old one: the buffer is written first.
        if (!closing->output->flush()) {
            const QString reason = closing->output->errorString();
            closing->output->cancelWriting(); // and the temporary file goes with the QSaveFile
            return writeError(closing->name, reason);
        }
        // commit() drops the temporary file on failure, so the old file stays whole.
        if (!closing->output->commit())
            return writeError(closing->name, closing->output->errorString());
    }
    return {};
}

void DiskFileService::discard(int number)
{
    if (!slot(number))
        return;
    const std::unique_ptr<Slot> s = std::move(m_slots[number]);
    if (s->output)
        s->output->cancelWriting();
    if (s->append) {
        // Put the file back as it was before it was opened.
        const QString path = s->append->fileName();
        s->append->close();
        if (s->appendCreated)
            QFile::remove(path);
        else
            QFile::resize(path, s->appendStart);
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

Status DiskFileService::remove(const QString& name)
{
    if (!isSafeName(name))
        return fileError(name, QStringLiteral("ファイル名に使えない文字や名前が含まれています"));
    const QString spelling = resolve(name);
    QFile file(m_dir.filePath(spelling));
    if (!file.exists())
        return fileError(name, QStringLiteral("ファイルが見つかりません"), ErrorKind::NotFound);
    if (!file.remove())
        return fileError(name, QStringLiteral("ファイルを削除できませんでした: ") + file.errorString());
    return {};
}

bool DiskFileService::exists(const QString& name)
{
    return isSafeName(name) && QFileInfo::exists(m_dir.filePath(resolve(name)));
}

} // namespace kav
