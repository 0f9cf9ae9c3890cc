#pragma once

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace kav::test {

// A temporary folder that tests fill and read back byte for byte.
class ScratchFolder : public QTemporaryDir
{
public:
    void put(const QString& name, const QByteArray& bytes) const
    {
        QFile file(filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(bytes), bytes.size());
    }
    QByteArray contents(const QString& name) const
    {
        QFile file(filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    QStringList entries() const { return QDir(path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot); }
};

} // namespace kav::test
