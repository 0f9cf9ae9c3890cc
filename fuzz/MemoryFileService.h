#pragma once

#include "core/FileService.h"

#include <QHash>

#include <array>
#include <optional>

namespace kav::fuzz {

// Files held in memory, so a fuzzer's iterations never touch the disk.
class MemoryFileService final : public FileService
{
public:
    QHash<QString, QByteArray> files;

    Status open(int number, const QString& name, FileMode mode) override
    {
        if (number < 1 || number > MaxNumber || m_slots[number] || !isSafeName(name))
            return Error{name, QStringLiteral("open"), 0};
        Slot slot{name, mode, {}, {}};
        const QString key = name.toCaseFolded();
        if (mode == FileMode::Input) {
            if (!files.contains(key))
                return Error{name, QStringLiteral("missing"), 0};
            slot.cursor.bytes = files.value(key);
        } else if (mode == FileMode::Append) {
            slot.pending = files.value(key);
        }
        m_slots[number] = slot;
        return {};
    }
    InputCursor* input(int number) override
    {
        if (number < 1 || number > MaxNumber || !m_slots[number] || m_slots[number]->mode != FileMode::Input)
            return nullptr;
        return &m_slots[number]->cursor;
    }
    Status write(int number, QByteArrayView bytes) override
    {
        if (number < 1 || number > MaxNumber || !m_slots[number] || m_slots[number]->mode == FileMode::Input)
            return Error{{}, QStringLiteral("write"), 0};
        m_slots[number]->pending += bytes;
        return {};
    }
    Status close(int number) override
    {
        if (number < 1 || number > MaxNumber || !m_slots[number])
            return Error{{}, QStringLiteral("close"), 0};
        if (m_slots[number]->mode != FileMode::Input)
            files.insert(m_slots[number]->name.toCaseFolded(), m_slots[number]->pending);
        m_slots[number].reset();
        return {};
    }
    void discard(int number) override
    {
        if (number >= 1 && number <= MaxNumber)
            m_slots[number].reset();
    }
    Status closeAll() override
    {
        Status first;
        for (int n = 1; n <= MaxNumber; ++n) {
            if (m_slots[n]) {
                Status s = close(n);
                if (first && !s)
                    first = s;
            }
        }
        return first;
    }
    Status remove(const QString& name) override
    {
        return files.remove(name.toCaseFolded()) ? Status{} : Status{Error{name, QStringLiteral("remove"), 0}};
    }
    bool exists(const QString& name) override { return files.contains(name.toCaseFolded()); }

private:
    struct Slot
    {
        QString name;
        FileMode mode;
        InputCursor cursor;
        QByteArray pending;
    };
    std::array<std::optional<Slot>, MaxNumber + 1> m_slots;
};

} // namespace kav::fuzz
