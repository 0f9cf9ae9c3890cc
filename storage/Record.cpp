#include "storage/Record.h"

#include "core/Codec.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <utility>

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
    return {{}, message, at.line(), ErrorKind::Format};
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

int codeOf(char c)
{
    return uchar(c);
}
int codeOf(QChar c)
{
    return c.unicode();
}

// A text that is not a number is 0; nothing when the number lies outside -32768..32767.
template <typename View> std::optional<qint16> integerValue(View digits)
{
    const bool negative = !digits.isEmpty() && codeOf(digits.front()) == '-';
    if (negative)
        digits = digits.sliced(1);
    int value = 0;
    for (const auto c : digits) {
        const int code = codeOf(c);
        if (code < '0' || code > '9')
            return qint16(0);
        // Past 32768 the value is out of range whatever follows; stopping here keeps it from overflowing.
        if (value <= 32768)
            value = value * 10 + (code - '0');
    }
    if (negative)
        value = -value;
    if (value < -32768 || value > 32767)
        return std::nullopt;
    return qint16(value);
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
    bytes.reserve(qsizetype(fields.size()) * 8 + 2);
    for (const Field& field : fields) {
        if (!bytes.isEmpty())
            bytes += Comma;
        if (const qint16* number = std::get_if<qint16>(&field)) {
            // The digits IntText gives, written straight into the record.
            char digits[8];
            const auto end = std::to_chars(digits, digits + sizeof digits, int(*number)).ptr;
            bytes.append(digits, end - digits);
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

std::optional<QByteArray> RecordText::encode()
{
    if (m_quoteInside)
        return std::nullopt;
    m_text.truncate(m_out - m_text.constData());
    // Every character of the text, the quotes, commas and line ends too, converts on its own.
    Result<QByteArray> bytes = cp932::encode(m_text);
    if (!bytes)
        return std::nullopt;
    return std::move(bytes.value());
}

Result<QByteArray> EncodeRecords(std::span<const Field> fields, qsizetype perRecord)
{
    if (perRecord <= 0 || fields.size() % size_t(perRecord) != 0)
        return Error{{}, QStringLiteral("レコードの項目の数が揃っていません"), 0};
    qsizetype room = 2 * qsizetype(fields.size() / size_t(perRecord));
    for (const Field& field : fields) {
        const QString* string = std::get_if<QString>(&field);
        room += 1 + (string ? string->size() + 2 : 6);
    }
    RecordText text(room);
    for (size_t i = 0; i < fields.size(); ++i) {
        if (const qint16* number = std::get_if<qint16>(&fields[i]))
            text.integer(*number);
        else
            text.string(std::get<QString>(fields[i]));
        if ((i + 1) % size_t(perRecord) == 0)
            text.endRecord();
    }
    if (std::optional<QByteArray> bytes = text.encode())
        return std::move(*bytes);
    // A string that cannot be written: record by record, for the failure EncodeRecord gives.
    QByteArray bytes;
    for (size_t i = 0; i < fields.size(); i += size_t(perRecord)) {
        const Result<QByteArray> record = EncodeRecord(fields.subspan(i, size_t(perRecord)));
        if (!record)
            return record.error();
        bytes += record.value();
    }
    return bytes;
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
    // Digits are ASCII, and ASCII bytes are their own text: no string needs to be made.
    const QByteArrayView bytes = field.value().text;
    std::optional<qint16> value;
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) < 0x80; })) {
        value = integerValue(bytes);
    } else {
        const Result<QString> text = decodeField(in, field.value());
        if (!text)
            return text.error();
        value = integerValue(QStringView(text.value()));
    }
    if (!value)
        return readError(in, field.value().start, QStringLiteral("数値が範囲（-32768～32767）を超えています"));
    return *value;
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

namespace {

// The reference reading: one field after the other, each decoded on its own.
RecordsRead readRecordsByField(InputCursor& in, std::span<const FieldKind> layout, int maxRecords)
{
    RecordsRead read;
    while (!OnlyBlankLinesLeft(in)) {
        if (read.records >= maxRecords) {
            read.full = true;
            break;
        }
        const qsizetype strings = read.strings.size();
        const qsizetype integers = read.integers.size();
        for (const FieldKind kind : layout) {
            if (kind == FieldKind::String) {
                Result<QString> text = ReadString(in);
                if (!text) {
                    read.failure = text.error();
                    break;
                }
                read.strings.append(std::move(text.value()));
            } else {
                const Result<qint16> value = ReadInteger(in);
                if (!value) {
                    read.failure = value.error();
                    break;
                }
                read.integers.append(value.value());
            }
        }
        if (read.failure) {
            read.strings.resize(strings);
            read.integers.resize(integers);
            break;
        }
        ++read.records;
    }
    return read;
}

bool endsField(QChar c)
{
    return c == u',' || c == u'\r' || c == u'\n';
}

// The same grammar as readRaw, on text already decoded: the quote, comma, CR and LF
// are single bytes that no two-byte character contains, so they stand where they stood.
// Gives nothing for the cases the reference reading reports as failures.
std::optional<RecordsRead> readRecordsInText(QStringView text, std::span<const FieldKind> layout, int maxRecords,
                                             qsizetype& consumed)
{
    RecordsRead read;
    const qsizetype n = text.size();
    const QChar* t = text.data();
    qsizetype i = 0;
    const auto onlyBlankLinesLeft = [&] {
        for (qsizetype k = i; k < n; ++k) {
            if (t[k] != u'\r' && t[k] != u'\n')
                return false;
        }
        return true;
    };
    while (!onlyBlankLinesLeft()) {
        if (read.records >= maxRecords)
            return std::nullopt;
        for (const FieldKind kind : layout) {
            if (i >= n)
                return std::nullopt; // past the end
            while (i < n && (t[i] == u' ' || t[i] == u'\t'))
                ++i;
            QStringView field;
            if (i < n && t[i] == u'"') {
                qsizetype close = text.indexOf(u'"', i + 1);
                if (close < 0)
                    close = n;
                field = text.sliced(i + 1, close - i - 1);
                i = close < n ? close + 1 : n;
                while (i < n && !endsField(t[i]))
                    ++i;
            } else {
                const qsizetype start = i;
                while (i < n && !endsField(t[i]))
                    ++i;
                qsizetype end = i;
                while (end > start && (t[end - 1] == u' ' || t[end - 1] == u'\t'))
                    --end;
                field = text.sliced(start, end - start);
            }
            if (i < n)
                i += t[i] == u'\r' && i + 1 < n && t[i + 1] == u'\n' ? 2 : 1;
            if (kind == FieldKind::String) {
                read.strings.append(field.toString());
            } else {
                const std::optional<qint16> value = integerValue(field);
                if (!value)
                    return std::nullopt;
                read.integers.append(*value);
            }
        }
        ++read.records;
    }
    consumed = i;
    return read;
}

} // namespace

RecordsRead ReadRecords(InputCursor& in, std::span<const FieldKind> layout, int maxRecords)
{
    const qsizetype end = dataEnd(in);
    if (in.pos < end && !layout.empty()) {
        const Result<QString> text = cp932::decode(QByteArrayView(in.bytes).sliced(in.pos, end - in.pos));
        qsizetype consumed = 0;
        std::optional<RecordsRead> read;
        if (text)
            read = readRecordsInText(text.value(), layout, maxRecords, consumed);
        if (read) {
            const qsizetype left = text.value().size() - consumed;
            // What is left is blank lines, one byte a character; a field that reached
            // the end of the data consumed the end-of-file marker too, as readRaw does.
            if (read->records > 0)
                in.pos = left > 0 ? end - left : in.bytes.size();
            return std::move(*read);
        }
    }
    // A failure, or more records than wanted: the reference reading tells where, exactly.
    return readRecordsByField(in, layout, maxRecords);
}

} // namespace kav::storage
