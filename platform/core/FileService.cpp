#include "core/FileService.h"

#include <QDir>

namespace kav {

int InputCursor::line() const
{
    const qsizetype end = std::min(pos, bytes.size());
    int line = 1;
    for (qsizetype i = 0; i < end; ++i) {
        // CR LF counts once, at its LF; a lone CR ends a line too.
        if (bytes[i] == '\n' || (bytes[i] == '\r' && (i + 1 >= bytes.size() || bytes[i + 1] != '\n')))
            ++line;
    }
    return line;
}

void FileService::deferFolderSync(bool) {}

Status FileService::syncFolder()
{
    return Status::success();
}

QStringList FileService::names(NameFilter /*wanted*/)
{
    return {};
}

QStringList FileService::foreignNames()
{
    return {};
}

Status FileService::renameToSystemSpelling(const QString& name)
{
    return Error{name, QStringLiteral("名前を変えられるファイルではありません"), 0, ErrorKind::NotFound};
}

Result<std::unique_ptr<FolderLock>> FileService::lockFolder()
{
    return std::make_unique<FolderLock>();
}

Status FileService::checkFolder()
{
    return {};
}

bool FileService::isSafeName(const QString& name)
{
    return !name.isEmpty() && name != u"." && name != u".." && !name.contains(u'/') && !name.contains(QChar(0)) &&
           !QDir::isAbsolutePath(name);
}

} // namespace kav
