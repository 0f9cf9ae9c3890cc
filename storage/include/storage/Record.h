#pragma once

#include "core/FileService.h"
#include "core/Result.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <charconv>
#include <initializer_list>
#include <optional>
#include <span>
#include <utility>
#include <variant>

// The record encoding every data file shares: fields separated by ",", strings in
// double quotes, integers as plain decimal digits, CR LF after each record, CP932.
namespace kav::storage {

using Field = std::variant<QString, qint16>;

// The bytes of one record, CR LF included. Fails on a string that CP932 cannot hold
// and on one holding a double quote, which would end the field early on reading.
Result<QByteArray> EncodeRecord(std::span<const Field> fields);
Result<QByteArray> EncodeRecord(std::initializer_list<Field> fields);
// Many records at once: fields holds perRecord fields for each record, in order. The
// same bytes and failures as EncodeRecord record by record, with one conversion of the
// whole text to CP932 instead of one per string.
Result<QByteArray> EncodeRecords(std::span<const Field> fields, qsizetype perRecord);
// Records written as text, then converted to CP932 in one step: one conversion of a whole
// list costs less than one for each string. room: at least as many characters as are written.
class RecordText
{
public:
    explicit RecordText(qsizetype room) : m_text(room, Qt::Uninitialized), m_out(m_text.data()) {}
    void string(const QString& text)
    {
        if (std::exchange(m_fieldOpen, true))
            *m_out++ = u',';
        m_quoteInside = m_quoteInside || text.contains(u'"');
        *m_out++ = u'"';
        m_out = std::copy(text.cbegin(), text.cend(), m_out);
        *m_out++ = u'"';
    }
    void integer(qint16 value)
    {
        if (std::exchange(m_fieldOpen, true))
            *m_out++ = u',';
        m_out = digits(m_out, value);
    }
    // A whole record of a string and two integers, the title list's layout, in one go.
    void record(const QString& text, qint16 first, qint16 second)
    {
        QChar* out = m_out;
        m_quoteInside = m_quoteInside || text.contains(u'"');
        *out++ = u'"';
        out = std::copy(text.cbegin(), text.cend(), out);
        *out++ = u'"';
        *out++ = u',';
        out = digits(out, first);
        *out++ = u',';
        out = digits(out, second);
        *out++ = u'\r';
        *out++ = u'\n';
        m_out = out;
    }
    void endRecord()
    {
        *m_out++ = u'\r';
        *m_out++ = u'\n';
        m_fieldOpen = false;
    }
    // Nothing when a string holds a double quote or a character CP932 cannot hold
    // (EncodeRecord names the field).
    std::optional<QByteArray> encode();

private:
    static QChar* digits(QChar* out, qint16 value)
    {
        char text[8];
        const char* const end = std::to_chars(text, text + sizeof text, int(value)).ptr;
        for (const char* d = text; d != end; ++d)
            *out++ = QLatin1Char(*d);
        return out;
    }

    QString m_text;
    QChar* m_out;
    bool m_fieldOpen = false;
    bool m_quoteInside = false;
};

// The next field, on whatever line it stands; consumes the comma or line end that
// closes it. Fails past the end, on bytes that are not CP932, and (integers) on a
// value outside -32768..32767. A text that is not a number reads as 0.
Result<QString> ReadString(InputCursor& in);
Result<qint16> ReadInteger(InputCursor& in);

// True when nothing but empty lines (and an end-of-file marker) is left: the end of
// the data of a file a text editor saved with trailing line ends.
bool OnlyBlankLinesLeft(const InputCursor& in);

enum class FieldKind { String, Integer };

// What ReadRecords read: the fields of every whole record, strings and integers each
// in file order (a layout of string, integer, integer gives one string and two
// integers per record).
struct RecordsRead
{
    int records = 0;
    QStringList strings;
    QList<qint16> integers;
    std::optional<Error> failure; // the first field that could not be read; its record is left out
    bool full = false;            // maxRecords were read and more than blank lines follow, at in.pos
};

// Reads records of the given layout as long as more than blank lines are left, at most
// maxRecords: the same fields, failures and cursor as ReadString and ReadInteger called
// in a row, but the text is decoded once for the whole file rather than field by field.
RecordsRead ReadRecords(InputCursor& in, std::span<const FieldKind> layout, int maxRecords);

} // namespace kav::storage
