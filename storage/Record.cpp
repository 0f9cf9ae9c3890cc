#include "storage/Record.h"

#include "core/Codec.h"
#include "core/Conversions.h"

#include <algorithm>
#include <cstring>

namespace kav::storage {

namespace {

constexpr char Quote = '"';
constexpr char Comma = ',';
constexpr char Cr = '\r';
constexpr char Lf = '\n';
constexpr char EofMarker = '\x1A';

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool endsField(char c)
{
    return c == Comma || c == Cr || c == Lf;
}

// Where the data ends: an end-of-file marker as the very last byte is not data.
qsizetype dataEnd(const InputCursor& in)
{
    const qsizetype size = in.bytes.size();
    return size > 0 && in.bytes[size - 1] == EofMarker ? size - 1 : size;
}

Error readError(const InputCursor& in, qsizetype pos, const QString& message)
{
    InputCursor at = in;
    at.pos = pos;
    return {{}, message, at.line()};
}

struct RawField
{
    QByteArrayView text;
    qsizetype start = 0; // for the line of a message
};

// Finds the field's bytes and moves past the comma or line end that closes it.
Result<RawField> readRaw(InputCursor& in)
{
    const qsizetype end = dataEnd(in);
    if (in.pos >= end) // named after the last line there is, not the empty one after its line end
        return readError(in, std::max<qsizetype>(0, end - 1),
                         QStringLiteral("ファイルの終わりを越えて読もうとしました"));
    const char* b = in.bytes.constData();
    qsizetype i = in.pos;
    while (i < end && isBlank(b[i]))
        ++i;
    RawField field;
    field.start = i;
    if (i < end && b[i] == Quote) {
        const auto* close = static_cast<const char*>(std::memchr(b + i + 1, Quote, size_t(end - i - 1)));
        const qsizetype textEnd = close ? close - b : end;
        field.text = QByteArrayView(b + i + 1, textEnd - i - 1);
        i = close ? textEnd + 1 : end;
        while (i < end && !endsField(b[i]))
            ++i;
    } else {
        const qsizetype textStart = i;
        while (i < end && !endsField(b[i]))
            ++i;
        qsizetype textEnd = i;
        while (textEnd > textStart && isBlank(b[textEnd - 1]))
            --textEnd;
        field.text = QByteArrayView(b + textStart, textEnd - textStart);
    }
    if (i < end)
        i += b[i] == Cr && i + 1 < end && b[i + 1] == Lf ? 2 : 1;
    // Past the data the marker is consumed too, so the end-of-file test holds.
    in.pos = i < end ? i : in.bytes.size();
    return field;
}

Result<QString> decodeField(const InputCursor& in, const RawField& field)
{
    Result<QString> text = cp932::decode(field.text);
    if (!text)
        return readError(in, field.start, QStringLiteral("シフトJISとして読めない文字があります"));
    return text;
}

} // namespace

Result<QByteArray> EncodeRecord(std::span<const Field> fields)
{
    QByteArray bytes;
    for (const Field& field : fields) {
        if (!bytes.isEmpty())
            bytes += Comma;
        if (const qint16* number = std::get_if<qint16>(&field)) {
            bytes += IntText(*number).toLatin1();
            continue;
        }
        const QString& text = std::get<QString>(field);
        if (text.contains(QLatin1Char(Quote)))
            return Error{{}, QStringLiteral("文字列に「\"」を含めることはできません"), 0};
        const Result<QByteArray> encoded = cp932::encode(text);
        if (!encoded)
            return encoded.error();
        bytes += Quote;
        bytes += encoded.value();
        bytes += Quote;
    }
    bytes += "\r\n";
    return bytes;
}

Result<QByteArray> EncodeRecord(std::initializer_list<Field> fields)
{
    return EncodeRecord(std::span<const Field>(fields.begin(), fields.size()));
}

Status WriteRecord(FileService& files, int number, std::initializer_list<Field> fields)
{
    const Result<QByteArray> record = EncodeRecord(fields);
    if (!record)
        return record.error();
    return files.write(number, record.value());
}

Status WriteFile(FileService& files, int number, const QString& name, FileMode mode, const QList<QByteArray>& records)
{
    Status status = files.open(number, name, mode);
    if (!status)
        return status;
    for (qsizetype i = 0; status && i < records.size(); ++i)
        status = files.write(number, records[i]);
    if (!status) {
        files.discard(number);
        return status;
    }
    return files.close(number);
}

Result<QString> ReadString(InputCursor& in)
{
    const Result<RawField> field = readRaw(in);
    if (!field)
        return field.error();
    return decodeField(in, field.value());
}

Result<qint16> ReadInteger(InputCursor& in)
{
    const Result<RawField> field = readRaw(in);
    if (!field)
        return field.error();
    const Result<QString> text = decodeField(in, field.value());
    if (!text)
        return text.error();

    QStringView digits = text.value();
    const bool negative = digits.startsWith(u'-');
    if (negative)
        digits = digits.sliced(1);
    if (digits.isEmpty())
        return qint16(0);
    int value = 0;
    for (const QChar c : digits) {
        if (c < u'0' || c > u'9')
            return qint16(0);
        // Past 32768 the value is out of range whatever follows; stopping here keeps it from overflowing.
        if (value <= 32768)
            value = value * 10 + (c.unicode() - u'0');
    }
    if (negative)
        value = -value;
    if (value < -32768 || value > 32767)
        return readError(in, field.value().start, QStringLiteral("数値が範囲（-32768～32767）を超えています"));
    return qint16(value);
}

bool OnlyBlankLinesLeft(const InputCursor& in)
{
    const qsizetype end = dataEnd(in);
    for (qsizetype i = in.pos; i < end; ++i) {
        if (in.bytes[i] != Cr && in.bytes[i] != Lf)
            return false;
    }
    return true;
}

} // namespace kav::storage
