#pragma once

#include "core/Result.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <QStringList>
#include <memory>

namespace kav {

// The bytes of a file read and how far they have been read.
struct InputCursor
{
    QByteArray bytes;
    qsizetype pos = 0;

    bool atEnd() const { return pos >= bytes.size(); }
    // 1-based line of the next byte, for messages.
    int line() const;
};

// Held while one command of one program reads, changes and replaces files, so that two
// windows on one folder never interleave their read-modify-write. Released when destroyed.
class FolderLock
{
public:
    virtual ~FolderLock() = default;
};

// Whole files of one folder, names compared without regard to letter case; every
// command's read-modify-write is built on readAll and replace. A name that is empty,
// absolute, holds "/" or NUL, or is "." or ".." is refused: nothing reaches outside the folder.
class FileService
{
public:
    virtual ~FileService() = default;

    // The bytes of name as they are on disk now.
    virtual Result<QByteArray> readAll(const QString& name) = 0;
    // Replaces name (or creates it) with bytes in one atomic, durable step: the
    // file holds either its old bytes or all the new ones, whatever happens.
    virtual Status replace(const QString& name, QByteArrayView bytes) = 0;
    virtual Status remove(const QString& name) = 0;
    virtual bool exists(const QString& name) = 0;

    // A command that replaces many files may have the folder flushed once, by syncFolder()
    // before the file that names them all, instead of after each one. Ending the deferral
    // flushes what is still pending.
    virtual void deferFolderSync(bool defer);
    virtual Status syncFolder();
    // Waits a short while for another program's command to finish; fails rather than hang.
    // The default has nobody to wait for.
    virtual Result<std::unique_ptr<FolderLock>> lockFolder();

    // Files whose names are stored in code page 932 bytes (as Windows archives
    // unpack) instead of the system's UTF-8: the names as text, sorted. They are
    // found under their text names all the same; this is for offering a rename.
    virtual QStringList foreignNames();
    // Gives one of those files its UTF-8 name, atomically and never over another file.
    virtual Status renameToSystemSpelling(const QString& name);

    // The names of the folder's entries as text, in no order (none where nobody lists them);
    // with wanted, only those whose case-folded text it accepts.
    using NameFilter = bool (*)(const QString& folded);
    virtual QStringList names(NameFilter wanted = nullptr);
    // Fails with ErrorKind::Unreachable when the folder opened at the start is no longer
    // the one at its path (its drive pulled or unmounted, the folder moved or replaced); every
    // operation checks it too. The default has no folder to lose.
    virtual Status checkFolder();

    // The refusal rule above, for callers that check before they start writing.
    static bool isSafeName(const QString& name);
};

} // namespace kav
