// Name look-up on a real folder. The input lays out entries (files with data, empty
// files, links out of the folder and into it, a folder, a FIFO) whose names mix
// letter case, code page 932 bytes, UTF-8 and junk bytes; then every name is asked
// in several spellings. One name always reaches one file (or fails the same way),
// a write reads back from every spelling, and nothing outside the folder changes.
#include "core/Codec.h"
#include "core/DiskFileService.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kav;

namespace {

void check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

// One scratch place per process: <root>/data is the folder, <root>/victim lies outside it.
const QByteArray& root()
{
    static const QByteArray path = [] {
        for (const char* base : {"/dev/shm", "/tmp"}) {
            QByteArray pattern = QByteArray(base) + "/kavurio-fuzz-XXXXXX";
            if (::mkdtemp(pattern.data()))
                return pattern;
        }
        std::abort();
    }();
    return path;
}

int removeOne(const char* path, const struct stat*, int, FTW*)
{
    return ::remove(path);
}

void putFile(const QByteArray& path, const QByteArray& bytes)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0644);
    if (fd < 0)
        return; // a name this file system refuses (too long, say)
    check(::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size());
    ::close(fd);
}

QByteArray contents(const QByteArray& path)
{
    QByteArray bytes(4096, '\0');
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW);
    check(fd >= 0);
    const ssize_t got = ::read(fd, bytes.data(), size_t(bytes.size()));
    ::close(fd);
    bytes.resize(got < 0 ? 0 : got);
    return bytes;
}

QList<QByteArray> entriesOf(const QByteArray& folder)
{
    QList<QByteArray> out;
    DIR* dir = ::opendir(folder.constData());
    check(dir != nullptr);
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            out.append(name);
    }
    ::closedir(dir);
    std::sort(out.begin(), out.end());
    return out;
}

// What reading a name gives: its bytes, or the kind of failure.
QByteArray outcome(DiskFileService& files, const QString& name)
{
    const Result<QByteArray> read = files.readAll(name);
    return read.ok() ? read.value() : "<failed " + QByteArray::number(int(read.error().kind)) + ">";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray folder = root() + "/data";
    const QByteArray victim = root() + "/victim";
    ::nftw(folder.constData(), removeOne, 16, FTW_DEPTH | FTW_PHYS);
    check(::mkdir(folder.constData(), 0755) == 0);
    putFile(victim, "VICTIM");
    struct stat victimBefore;
    check(::stat(victim.constData(), &victimBefore) == 0);

    // Records split at NUL: a kind byte, then the name (a slash becomes an underscore).
    const QList<QByteArray> records = QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)).split('\0');
    QList<QString> asked;
    QByteArray first;
    for (const QByteArray& record : records.mid(0, 12)) {
        if (record.size() < 2)
            continue;
        QByteArray name = record.mid(1, 60);
        name.replace('/', '_');
        if (name == "." || name == "..")
            continue;
        const QByteArray path = folder + '/' + name;
        switch (uchar(record[0]) % 6) {
        case 0:
            putFile(path, "DATA:" + name);
            break;
        case 1:
            putFile(path, {});
            break;
        case 2:
            (void)::symlink(uchar(record[0]) & 0x80 ? victim.constData() : "../victim", path.constData());
            break;
        case 3:
            (void)::symlink(first.isEmpty() ? "nowhere" : first.constData(), path.constData());
            break;
        case 4:
            (void)::mkdir(path.constData(), 0755);
            break;
        case 5:
            (void)::mkfifo(path.constData(), 0644);
            break;
        }
        if (first.isEmpty())
            first = name;
        // The name as a caller would ask for it: its UTF-8 text, else its code page 932 text.
        const QString utf8 = QString::fromUtf8(name);
        if (utf8.toUtf8() == name)
            asked.append(utf8);
        else if (const Result<QString> text = cp932::decode(name); text.ok())
            asked.append(text.value());
    }
    const QList<QByteArray> outsideBefore = entriesOf(root());

    DiskFileService files(QFile::decodeName(folder));
    for (const QString& name : asked) {
        if (!FileService::isSafeName(name))
            continue;
        const QList<QString> spellings{name, name.toUpper(), name.toLower()};
        const QByteArray read = outcome(files, name);
        const QString where = files.resolve(name);
        check(files.resolve(name) == where);
        for (const QString& spelling : spellings) {
            if (spelling.toCaseFolded() != name.toCaseFolded())
                continue;
            check(outcome(files, spelling) == read);
            if (files.readAll(name).ok())
                check(files.resolve(spelling) == where);
        }
        const QByteArray marker = "NEW:" + name.toUtf8();
        const Status written = files.replace(name, marker);
        if (written.ok()) {
            for (const QString& spelling : spellings) {
                if (spelling.toCaseFolded() == name.toCaseFolded())
                    check(outcome(files, spelling) == marker);
            }
        } else {
            const ErrorKind kind = written.error().kind;
            check(kind == ErrorKind::Clash || kind == ErrorKind::Unsafe || kind == ErrorKind::NotAFile ||
                  kind == ErrorKind::Write);
        }
    }

    // Outside the folder nothing changed, and no temporary file stayed inside it.
    check(entriesOf(root()) == outsideBefore);
    check(contents(victim) == "VICTIM");
    struct stat victimAfter;
    check(::stat(victim.constData(), &victimAfter) == 0);
    check(victimAfter.st_mtim.tv_sec == victimBefore.st_mtim.tv_sec &&
          victimAfter.st_mtim.tv_nsec == victimBefore.st_mtim.tv_nsec);
    for (const QByteArray& entry : entriesOf(folder))
        check(!DiskFileService::isTemporaryName(entry));
    return 0;
}
