#pragma once

#include "core/FileService.h"

#include <QHash>

namespace kav::fuzz {

// Files held in memory, so a fuzzer's iterations never touch the disk.
class MemoryFileService final : public FileService
{
public:
    QHash<QString, QByteArray> files;

    Result<QByteArray> readAll(const QString& name) override
    {
        if (!isSafeName(name) || !files.contains(name.toCaseFolded()))
            return Error{name, QStringLiteral("missing"), 0};
        return files.value(name.toCaseFolded());
    }
    Status replace(const QString& name, QByteArrayView bytes) override
    {
        if (!isSafeName(name))
            return Error{name, QStringLiteral("replace"), 0};
        files.insert(name.toCaseFolded(), bytes.toByteArray());
        return {};
    }
    Status remove(const QString& name) override
    {
        return files.remove(name.toCaseFolded()) ? Status{} : Status{Error{name, QStringLiteral("remove"), 0}};
    }
    bool exists(const QString& name) override { return files.contains(name.toCaseFolded()); }
};

} // namespace kav::fuzz
