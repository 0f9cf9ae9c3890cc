#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <initializer_list>

namespace kav::test {

// A volume flag file as the program writes it, with the given flags set to 1.
inline QByteArray flagFile(std::initializer_list<int> set)
{
    int flags[51] = {};
    for (int i : set)
        flags[i] = 1;
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

} // namespace kav::test
