#pragma once

// The program's data files as a test writes or expects them, and where the window
// puts its volume labels; Qt Core only, for every kind of test.
#include <QByteArray>
#include <QFile>
#include <QPoint>
#include <QString>
#include <QStringEncoder>

#include <initializer_list>

namespace kav::test {

// Text in code page 932 with the line breaks as given.
inline QByteArray sjis(const QString& text)
{
    QStringEncoder encoder("windows-31j", QStringEncoder::Flag::Stateless);
    QByteArray bytes = encoder.encode(text);
    if (encoder.hasError())
        qFatal("test text not representable in code page 932");
    return bytes;
}

// A title list record: the name's bytes in quotes, count and start volume in plain digits, CR LF.
inline QByteArray record(const QByteArray& name, int count, int offset)
{
    return '"' + name + "\"," + QByteArray::number(count) + ',' + QByteArray::number(offset) + "\r\n";
}
inline QByteArray record(const char* name, int count, int offset)
{
    return record(QByteArray(name), count, offset);
}
inline QByteArray record(const QString& name, int count, int offset)
{
    return record(sjis(name), count, offset);
}

// A flag file as the program writes it: five lines of ten, with the given indexes set to value.
inline QByteArray flagFile(std::initializer_list<int> indexes, int value = 1)
{
    int flags[51] = {};
    for (int i : indexes)
        flags[i] = value;
    QByteArray out;
    for (int k = 0; k < 5; ++k)
        for (int j = 1; j <= 10; ++j)
            out += QByteArray::number(flags[k * 10 + j]) + (j < 10 ? "," : "\r\n");
    return out;
}

// A file's bytes, or "<missing>" so a comparison shows what is wrong.
inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// The top-left corner of volume label i (1..50) in the window's client area: rows of ten in the frame.
inline QPoint volumeLabelAt(int i)
{
    const int c = (i - 1) % 10, r = (i - 1) / 10;
    return {10 + 31 + 55 * c, 155 + 23 + 45 * r};
}

// Client-area places of the controls, in pixels.
inline const QPoint NewButton(295, 43);
inline const QPoint DelButton(345, 43);
inline const QPoint ReportButton(395, 43);
inline const QPoint CountLabel(584, 111);
inline const QPoint FirstArrow(611, 141);
inline const QPoint ScrollRight(511, 434);
inline const QPoint Logo(130, 45); // no tooltip: the pointer rests here between steps

} // namespace kav::test
