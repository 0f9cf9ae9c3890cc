#pragma once

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
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

    // Every entry under the folder, subfolders included, with its bytes; a folder shows as <dir>.
    QMap<QString, QByteArray> state() const
    {
        QMap<QString, QByteArray> out;
        QDirIterator it(path(), QDir::Files | QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QFileInfo info(it.next());
            QByteArray bytes = QByteArrayLiteral("<dir>");
            if (!info.isDir()) {
                QFile file(info.filePath());
                bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArrayLiteral("<unreadable>");
            }
            out.insert(QDir(path()).relativeFilePath(info.filePath()), bytes);
        }
        return out;
    }
};

} // namespace kav::test
