// Reads fields of both kinds from arbitrary bytes: no crash, the cursor only moves
// forward, and every integer, and every string read without a quote in it, survives
// a write and a read.
#include "storage/Record.h"

#include <cstdlib>

using namespace kav;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    InputCursor in;
    in.bytes = QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
    unsigned kinds = size > 0 ? data[0] : 0;
    for (int step = 0; !in.atEnd(); ++step) {
        const qsizetype before = in.pos;
        if ((kinds >> (step % 8)) & 1u) {
            const Result<qint16> value = storage::ReadInteger(in);
            if (!value)
                break;
            InputCursor again;
            again.bytes = storage::EncodeRecord({value.value()}).value();
            const Result<qint16> back = storage::ReadInteger(again);
            if (!back || back.value() != value.value() || !again.atEnd())
                std::abort();
        } else {
            const Result<QString> text = storage::ReadString(in);
            if (!text)
                break;
            if (!text.value().contains(QLatin1Char('"'))) {
                const Result<QByteArray> record = storage::EncodeRecord({text.value()});
                if (record) {
                    InputCursor again;
                    again.bytes = record.value();
                    const Result<QString> back = storage::ReadString(again);
                    if (!back || back.value() != text.value() || !again.atEnd())
                        std::abort();
                }
            }
        }
        if (in.pos <= before || in.pos > in.bytes.size())
            std::abort();
    }
    return 0;
}
