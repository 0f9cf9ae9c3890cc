#include "core/Codec.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <optional>

namespace kav::cp932 {

namespace {
// "windows-31j" is ICU's name for code page 932 with the NEC and IBM extensions.
constexpr const char* CodecName = "windows-31j";

// Opening an ICU converter costs more than converting a whole title, so each thread
// keeps one of each. Stateless: each call stands alone (ICU flushes at its end), and a
// lead byte cut off at the end is an error instead of input held back for the next call.
// A converter that met an error is dropped, not reset: its error count never clears,
// and on Qt 6.4 resetState() closes the ICU converter inside and leaves it unusable.
template <typename Converter> Converter& reused(std::optional<Converter>& slot)
{
    if (!slot)
        slot.emplace(CodecName, QStringConverter::Flag::Stateless);
    return *slot;
}

thread_local std::optional<QStringEncoder> t_encoder;
thread_local std::optional<QStringDecoder> t_decoder;
} // namespace

Result<QByteArray> encode(QStringView text)
{
    if (std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; }))
        return text.toLatin1();
    QStringEncoder& encoder = reused(t_encoder);
    QByteArray bytes = encoder.encode(text);
    if (!encoder.isValid() || encoder.hasError()) {
        t_encoder.reset();
        return Error{{}, QStringLiteral("シフトJIS（コードページ932）で表せない文字が含まれています"), 0};
    }
    return bytes;
}

Result<QString> decode(QByteArrayView bytes)
{
    // Code page 932 holds ASCII as it stands; most fields (numbers, Latin titles) need no converter.
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) < 0x80; }))
        return QString::fromLatin1(bytes);
    QStringDecoder& decoder = reused(t_decoder);
    QString text = decoder.decode(bytes);
    if (!decoder.isValid() || decoder.hasError()) {
        t_decoder.reset();
        return Error{{}, QStringLiteral("シフトJIS（コードページ932）として読めないバイトがあります"), 0};
    }
    return text;
}

bool canEncode(QStringView text)
{
    return encode(text).ok();
}

Mark byteOrderMark(QByteArrayView bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return Mark::Utf8;
    if (bytes.startsWith("\xFF\xFE"))
        return Mark::Utf16LE;
    if (bytes.startsWith("\xFE\xFF"))
        return Mark::Utf16BE;
    return Mark::None;
}

Result<QString> unicodeText(QByteArrayView bytes)
{
    const Mark mark = byteOrderMark(bytes);
    const bool utf8 = mark == Mark::Utf8 || mark == Mark::None;
    QStringDecoder decoder(utf8                    ? QStringConverter::Utf8
                           : mark == Mark::Utf16LE ? QStringConverter::Utf16LE
                                                   : QStringConverter::Utf16BE,
                           QStringConverter::Flag::Stateless);
    QString text = decoder.decode(bytes.sliced(mark == Mark::None ? 0 : utf8 ? 3 : 2));
    if (decoder.hasError())
        return Error{{},
                     QStringLiteral("%1として読めないバイトがあります")
                         .arg(utf8 ? QStringLiteral("UTF-8") : QStringLiteral("UTF-16")),
                     0};
    return text;
}

Result<QByteArray> fromUnicode(QByteArrayView bytes)
{
    const Result<QString> text = unicodeText(bytes);
    if (!text)
        return text.error();
    return encode(text.value());
}

} // namespace kav::cp932
