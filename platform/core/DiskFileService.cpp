#include "core/DiskFileService.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <optional>

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

Error fileError(const QString& name, const QString& message)
{
    return {name, message, 0};
}

Error writeError(const QString& name, const QString& reason)
{
    return fileError(name,
                     QStringLiteral("書き込めませんでした（ディスクの空きや書き込み権限を確かめて下さい）: ") + reason);
}

Error numberError(const QString& name)
{
    return fileError(name, QStringLiteral("ファイル番号が正しくありません（1か2を使って下さい）"));
}

} // namespace

DiskFileService::DiskFileService(const QString& folder) : m_dir(QDir(folder).absolutePath()) {}

DiskFileService::~DiskFileService() = default; // unsaved output is dropped: QSaveFile never commits by itself

DiskFileService::Slot* DiskFileService::slot(int number)
{
    return number >= 1 && number <= MaxNumber ? m_slots[number].get() : nullptr;
}

QDateTime DiskFileService::folderStamp() const
{
    return QFileInfo(m_dir.path()).lastModified();
}

void DiskFileService::keepIndexAfter(const QDateTime& before)
{
    // Our own change moves the folder's time stamp too; when nobody else changed the
    // folder since the index was built, the index (updated by the caller) still holds,
    // and a rebuild of a big folder's list on every save is spared.
    if (m_indexValid && before == m_indexStamp)
        m_indexStamp = folderStamp();
}

void DiskFileService::refreshIndex()
{
    const QDateTime stamp = folderStamp();
    if (m_indexValid && stamp == m_indexStamp)
        return;
    m_index.clear();
    QDirIterator entries(m_dir.path(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (entries.hasNext()) {
        entries.next();
        m_index.insert(entries.fileName().toCaseFolded(), entries.fileName());
    }
    m_indexStamp = stamp;
    m_indexValid = true;
    // A change within the same tick of the folder's time stamp would not move it.
    m_indexSettled = stamp.isValid() && stamp.msecsTo(QDateTime::currentDateTime()) > 2000;
}

QString DiskFileService::resolve(const QString& name)
{
    if (QFileInfo::exists(m_dir.filePath(name)))
        return name;
    const QString key = name.toCaseFolded();
    refreshIndex();
    for (int attempt = 0;; ++attempt) {
        const auto found = m_index.constFind(key);
        // An indexed spelling is checked, so a stale index never names a deleted file.
        if (found != m_index.cend() && QFileInfo::exists(m_dir.filePath(*found)))
            return *found;
        // A miss is believed only from an index whose time stamp would have shown a later change.
        if (attempt == 1 || (found == m_index.cend() && m_indexSettled))
            return name;
        m_indexValid = false;
        refreshIndex();
    }
}

Status DiskFileService::open(int number, const QString& name, FileMode mode)
{
    const QDateTime before = folderStamp();
    Status status = openSlot(number, name, mode);
    if (mode != FileMode::Input)
        keepIndexAfter(before);
    return status;
}

Status DiskFileService::openSlot(int number, const QString& name, FileMode mode)
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
            return fileError(name, QStringLiteral("ファイルが見つかりません"));
        if (info.isDir())
            return fileError(name, QStringLiteral("同じ名前のフォルダーがあるため開けません"));
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return fileError(name, QStringLiteral("ファイルを開けませんでした: ") + file.errorString());
        slot->cursor.bytes = file.readAll();
        if (file.error() != QFileDevice::NoError)
            return fileError(name, QStringLiteral("ファイルを読み込めませんでした: ") + file.errorString());
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
        if (slot->appendCreated)
            m_index.insert(spelling.toCaseFolded(), spelling);
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
    const QDateTime before = folderStamp();
    Status status = closeSlot(number);
    keepIndexAfter(before);
    return status;
}

Status DiskFileService::closeSlot(int number)
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
        const QFileInfo target(closing->output->fileName());
        const bool created = !target.exists();
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
        if (created)
            m_index.insert(target.fileName().toCaseFolded(), target.fileName());
    }
    return {};
}

void DiskFileService::discard(int number)
{
    if (!slot(number))
        return;
    const QDateTime before = folderStamp();
    const std::unique_ptr<Slot> s = std::move(m_slots[number]);
    if (s->output)
        s->output->cancelWriting();
    if (s->append) {
        // Put the file back as it was before it was opened.
        const QString path = s->append->fileName();
        s->append->close();
        if (s->appendCreated) {
            QFile::remove(path);
            m_index.remove(QFileInfo(path).fileName().toCaseFolded());
        } else {
            QFile::resize(path, s->appendStart);
        }
    }
    keepIndexAfter(before);
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
        return fileError(name, QStringLiteral("ファイルが見つかりません"));
    const QDateTime before = folderStamp();
    const bool removed = file.remove();
    keepIndexAfter(before);
    if (!removed)
        return fileError(name, QStringLiteral("ファイルを削除できませんでした: ") + file.errorString());
    m_index.remove(spelling.toCaseFolded());
    return {};
}

bool DiskFileService::exists(const QString& name)
{
    return isSafeName(name) && QFileInfo::exists(m_dir.filePath(resolve(name)));
}

} // namespace kav
