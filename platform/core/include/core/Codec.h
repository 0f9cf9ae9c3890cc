#pragma once

#include "core/Result.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QStringView>

// Code page 932 (Shift-JIS as Windows maps it), the encoding of every data file.
namespace kav::cp932 {

// Fails on a character that code page 932 cannot hold; never substitutes "?".
Result<QByteArray> encode(QStringView text);
// Fails on bytes that are not valid code page 932; never substitutes U+FFFD.
Result<QString> decode(QByteArrayView bytes);
// True when every character of text survives a round trip.
bool canEncode(QStringView text);

// A byte-order mark at the start of a file: Windows editors write one when they save
// as "UTF-8" or "Unicode". The bytes EF BB BF, FF FE and FE FF are no code page 932 text.
enum class Mark { None, Utf8, Utf16LE, Utf16BE };
Mark byteOrderMark(QByteArrayView bytes);
// The text of bytes in the Unicode form their mark names (UTF-8 when they have none),
// without the mark. Fails on malformed bytes.
Result<QString> unicodeText(QByteArrayView bytes);
// The same text as code page 932, the form the record reader reads; fails also on a
// character code page 932 cannot hold.
Result<QByteArray> fromUnicode(QByteArrayView bytes);

} // namespace kav::cp932
