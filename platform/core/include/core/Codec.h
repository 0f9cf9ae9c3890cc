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

} // namespace kav::cp932
