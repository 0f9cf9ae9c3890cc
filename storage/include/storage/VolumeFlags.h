#pragma once

#include "core/Codec.h"
#include "core/FileService.h"
#include "core/Result.h"

#include <QString>

#include <array>
#include <optional>

namespace kav::storage {

constexpr int FlagCount = 50;
// Slot 0 unused; flags 1..50.
using Flags = std::array<qint16, FlagCount + 1>;

enum class OnReadFailure {
    SkipGroup, // skip the rest of that group of ten, go on with the next group
    Stop,      // keep what was read before the failure, read no further
};

struct FlagsRead
{
    bool missing = false;         // the file could not be opened (failure says why)
    std::optional<Error> failure; // the failed opening, or the first read that failed
    // Saved by an editor as UTF-8 or UTF-16: read as such, written back as code page 932.
    cp932::Mark mark = cp932::Mark::None;
    bool unreadable = false; // marked, but not convertible: no flag read, the file must not be replaced
};

// True when fileName is one of the program's own files (the title list, the
// report), which no title's flags may ever be read from or written to.
bool IsProgramFile(const QString& fileName);

// Sets all 51 slots to 0, then reads the first 50 integer fields of fileName as
// five groups of ten. Never fails as a whole: a missing or short file gives 0
// where it gives no value. Creates no file.
FlagsRead LoadVolumes(FileService& files, const QString& fileName, Flags& intKan,
                      OnReadFailure onFailure = OnReadFailure::SkipGroup);
// The same reading, of bytes already read.
FlagsRead ParseVolumes(const QByteArray& bytes, const QString& fileName, Flags& intKan,
                       OnReadFailure onFailure = OnReadFailure::SkipGroup);

// Five lines of ten flags, CR LF after each.
QByteArray EncodeVolumes(const Flags& intKan);

// Replaces fileName with five lines of ten flags in one step. Refuses the program's own files.
Status SaveVolumes(FileService& files, const QString& fileName, const Flags& intKan);

// Creates (or empties) fileName with 50 flags 0.
Status CreateVolumes(FileService& files, const QString& fileName);

} // namespace kav::storage
