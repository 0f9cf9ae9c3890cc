#include "storage/VolumeFlags.h"

#include "storage/Catalogue.h"
#include "storage/Record.h"

namespace kav::storage {

namespace {
constexpr int GroupSize = 10;
constexpr int Groups = FlagCount / GroupSize;

Error programFileError(const QString& fileName)
{
    return {fileName, QStringLiteral("このソフトのデータファイルと同じ名前のため、巻データとしては使えません"), 0,
            ErrorKind::Unsafe};
}
} // namespace

bool IsProgramFile(const QString& fileName)
{
    const QString folded = fileName.toCaseFolded();
    return folded == TitleListLower().toCaseFolded() || folded == ReportFileName().toCaseFolded();
}

FlagsRead ParseVolumes(const QByteArray& bytes, const QString& fileName, Flags& intKan, OnReadFailure onFailure)
{
    intKan.fill(0);
    FlagsRead read;
    InputCursor in;
    in.bytes = bytes;
    read.mark = cp932::byteOrderMark(bytes);
    if (read.mark != cp932::Mark::None) {
        Result<QByteArray> converted = cp932::fromUnicode(bytes);
        if (!converted) {
            read.unreadable = true;
            read.failure = Error{fileName, converted.error().message, 0, ErrorKind::Format};
            return read;
        }
        in.bytes = std::move(converted.value());
    }
    for (int group = 0; group < Groups; ++group) {
        for (int k = 1; k <= GroupSize; ++k) {
            const Result<qint16> value = ReadInteger(in);
            if (!value) {
                if (!read.failure) {
                    read.failure = value.error();
                    read.failure->file = fileName;
                    read.failure->kind = ErrorKind::Format;
                }
                break;
            }
            intKan[group * GroupSize + k] = value.value();
        }
        if (read.failure && onFailure == OnReadFailure::Stop)
            break;
    }
    return read;
}

FlagsRead LoadVolumes(FileService& files, const QString& fileName, Flags& intKan, OnReadFailure onFailure)
{
    intKan.fill(0);
    FlagsRead read;
    if (IsProgramFile(fileName)) {
        read.failure = programFileError(fileName);
        return read;
    }
    const Result<QByteArray> bytes = files.readAll(fileName);
    if (!bytes) {
        read.missing = true;
        read.failure = bytes.error();
        return read;
    }
    return ParseVolumes(bytes.value(), fileName, intKan, onFailure);
}

QByteArray EncodeVolumes(const Flags& intKan)
{
    QByteArray bytes;
    bytes.reserve(FlagCount * 3);
    for (int group = 0; group < Groups; ++group) {
        std::array<Field, GroupSize> line;
        for (int k = 1; k <= GroupSize; ++k)
            line[k - 1] = intKan[group * GroupSize + k];
        bytes += EncodeRecord(line).value(); // integers always encode
    }
    return bytes;
}

Status SaveVolumes(FileService& files, const QString& fileName, const Flags& intKan)
{
    if (IsProgramFile(fileName))
        return programFileError(fileName);
    return files.replace(fileName, EncodeVolumes(intKan));
}

Status CreateVolumes(FileService& files, const QString& fileName)
{
    return SaveVolumes(files, fileName, Flags{});
}

} // namespace kav::storage
