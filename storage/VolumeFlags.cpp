#include "storage/VolumeFlags.h"

#include "storage/Record.h"

namespace kav::storage {

namespace {
constexpr int GroupSize = 10;
constexpr int Groups = FlagCount / GroupSize;
} // namespace

FlagsRead LoadVolumes(FileService& files, const QString& fileName, Flags& intKan, int number, OnReadFailure onFailure)
{
    intKan.fill(0);
    FlagsRead read;
    if (!files.open(number, fileName, FileMode::Input)) {
        read.missing = true;
        return read;
    }
    InputCursor* in = files.input(number);
    for (int group = 0; in && group < Groups; ++group) {
        for (int k = 1; k <= GroupSize; ++k) {
            const Result<qint16> value = ReadInteger(*in);
            if (!value) {
                if (!read.failure) {
                    read.failure = value.error();
                    read.failure->file = fileName;
                }
                break;
            }
            intKan[group * GroupSize + k] = value.value();
        }
        if (read.failure && onFailure == OnReadFailure::Stop)
            break;
    }
    (void)files.close(number);
    return read;
}

Status SaveVolumes(FileService& files, const QString& fileName, const Flags& intKan, int number)
{
    QList<QByteArray> records;
    for (int group = 0; group < Groups; ++group) {
        std::array<Field, GroupSize> line;
        for (int k = 1; k <= GroupSize; ++k)
            line[k - 1] = intKan[group * GroupSize + k];
        Result<QByteArray> record = EncodeRecord(line);
        if (!record)
            return record.error();
        records.append(std::move(record.value()));
    }
    return WriteFile(files, number, fileName, FileMode::Output, records);
}

Status CreateVolumes(FileService& files, const QString& fileName, int number)
{
    return SaveVolumes(files, fileName, Flags{}, number);
}

} // namespace kav::storage
