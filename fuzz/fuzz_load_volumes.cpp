// Loads arbitrary bytes as a volume flag file both ways: no crash, slot 0 stays 0,
// and the flags written back read again the same.
#include "MemoryFileService.h"
#include "storage/VolumeFlags.h"

#include <cstdlib>

using namespace kav;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::MemoryFileService files;
    const QString name = QStringLiteral("T.TXT");
    files.files.insert(name.toCaseFolded(), QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    for (const storage::OnReadFailure mode : {storage::OnReadFailure::SkipGroup, storage::OnReadFailure::Stop}) {
        storage::Flags flags;
        flags.fill(7);
        storage::LoadVolumes(files, name, flags, mode);
        if (flags[0] != 0)
            std::abort();
        files.files.insert(QStringLiteral("copy.txt"), {});
        if (!storage::SaveVolumes(files, QStringLiteral("copy.txt"), flags))
            std::abort();
        storage::Flags again;
        const storage::FlagsRead read = storage::LoadVolumes(files, QStringLiteral("copy.txt"), again);
        if (read.failure || again != flags)
            std::abort();
    }
    return 0;
}
