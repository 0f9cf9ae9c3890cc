#include "core/Codec.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace kav::cp932 {

namespace {
// "windows-31j" is ICU's name for code page 932 with the NEC and IBM extensions.
constexpr const char* CodecName = "windows-31j";
} // namespace

Result<QByteArray> encode(QStringView text)
{
    // Stateless: each call stands alone, so nothing is held back for a later call.
    QStringEncoder encoder(CodecName, QStringConverter::Flag::Stateless);
    QByteArray bytes = encoder.encode(text);
    if (!encoder.isValid() || encoder.hasError())
        return Error{{}, QStringLiteral("シフトJIS（コードページ932）で表せない文字が含まれています"), 0};
    return bytes;
}

Result<QString> decode(QByteArrayView bytes)
{
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
