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

bool FileService::isSafeName(const QString& name)
{
    return !name.isEmpty() && name != u"." && name != u".." && !name.contains(u'/') && !name.contains(QChar(0)) &&
           !QDir::isAbsolutePath(name);
}

} // namespace kav
