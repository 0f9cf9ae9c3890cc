#include "core/Codec.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>

namespace kav::cp932 {

namespace {
// "windows-31j" is ICU's name for code page 932 with the NEC and IBM extensions.
constexpr const char* CodecName = "windows-31j";
} // namespace

Result<QByteArray> encode(QStringView text)
{
    if (std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; }))
        return text.toLatin1();
    // Stateless: each call stands alone, so nothing is held back for a later call.
    QStringEncoder encoder(CodecName, QStringConverter::Flag::Stateless);
    QByteArray bytes = encoder.encode(text);
    if (!encoder.isValid() || encoder.hasError())
        return Error{{}, QStringLiteral("シフトJIS（コードページ932）で表せない文字が含まれています"), 0};
    return bytes;
}

Result<QString> decode(QByteArrayView bytes)
{
    // Code page 932 holds ASCII as it stands; most fields (numbers, Latin titles) need no converter.
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) < 0x80; }))
        return QString::fromLatin1(bytes);
    // Stateless also makes a lead byte cut off at the end an error instead of pending input.
    QStringDecoder decoder(CodecName, QStringConverter::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (!decoder.isValid() || decoder.hasError())
        return Error{{}, QStringLiteral("シフトJIS（コードページ932）として読めないバイトがあります"), 0};
    return text;
}

bool canEncode(QStringView text)
{
    return encode(text).ok();
}

} // namespace kav::cp932
