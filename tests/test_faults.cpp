// Faults from outside the program: a kill in the middle of a save, a disk that is
// really full, and data files that a person edited by hand.
#include "support/WindowFixture.h"

#include "support/ExfatMount.h"

#include "core/DiskFileService.h"
#include "storage/Collection.h"
#include "storage/Record.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <optional>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <unistd.h>

using namespace kav;
using namespace kav::test;
using namespace Qt::StringLiterals;

namespace {

const QString TitleList = u"データ.TXT"_s;
const QString Report = u"残巻データ.txt"_s;
constexpr char RewriteMode[] = "--rewrite-titles-until-killed";
constexpr char RegisterMode[] = "--register-long-series";
const QString LongSeries = u"長編"_s;
constexpr int Titles = storage::MaxTitles;

// Two full catalogues that differ in every record and in length.
std::unique_ptr<storage::Catalogue> version(int which)
{
    auto c = std::make_unique<storage::Catalogue>();
    for (int p = 1; p <= Titles; ++p) {
        c->strName[p] = which == 0 ? u"旧%1"_s.arg(p) : u"新しい題名%1"_s.arg(p);
        c->intKansu[p] = qint16((p + which) % 50 + 1);
        c->intSyo[p] = qint16(((p * 7 + which) % 11) * 50);
    }
    c->intKensu = Titles;
    return c;
}

QByteArray bytesOf(const storage::Catalogue& c)
{
    QByteArray out;
    for (int p = 1; p <= c.intKensu; ++p)
        out += record(c.strName[p], c.intKansu[p], c.intSyo[p]);
    return out;
}

bool sameTitles(const storage::Catalogue& a, const storage::Catalogue& b)
{
    if (a.intKensu != b.intKensu)
        return false;
    for (int p = 1; p <= a.intKensu; ++p) {
        if (a.strName[p] != b.strName[p] || a.intKansu[p] != b.intKansu[p] || a.intSyo[p] != b.intSyo[p])
            return false;
    }
    return true;
}

// The helper mode: rewrites the title list with the two versions in turn, under
// both spellings of its name as the program does, until it is killed.
int rewriteTitlesUntilKilled(const QString& folder)
{
    DiskFileService files(folder);
    const QByteArray versions[] = {bytesOf(*version(0)), bytesOf(*version(1))};
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    for (unsigned i = 0;; ++i) {
        const QString name = i % 2 ? storage::TitleListUpper() : storage::TitleListLower();
        const Status saved = files.replace(name, versions[(i + 1) % 2]);
        if (!saved) {
            std::fprintf(stderr, "save %u failed: %s\n", i, qPrintable(saved.error().message));
            return 2;
        }
    }
}

// The other helper: registers a series of 32767 volumes (656 pieces), then waits to be killed.
int registerLongSeries(const QString& folder)
{
    DiskFileService files(folder);
    const QList<storage::Piece> pieces = storage::SplitIntoPieces(LongSeries, 32767);
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    const storage::Outcome change = storage::Collection(files).add(pieces);
    std::fputs(change.ok() ? "done\n" : "failed\n", stdout);
    std::fflush(stdout);
    for (;;)
        QThread::sleep(1);
}

QStringList messageCaptions(const ScriptedDialogs& dialogs)
{
    QStringList out;
    for (const ScriptedDialogs::Call& call : dialogs.calls) {
        if (call.kind == ScriptedDialogs::Call::Message)
            out.append(call.caption);
    }
    return out;
}

// A tmpfs of 256 KiB mounted over a folder for as long as this lives.
class SmallFileSystem
{
public:
    explicit SmallFileSystem(const QString& folder) : m_path(QFile::encodeName(folder))
    {
        m_mounted =
            ::mount("tmpfs", m_path.constData(), "tmpfs", MS_NOSUID | MS_NODEV | MS_NOEXEC, "size=256k,mode=0700") == 0;
    }
    ~SmallFileSystem()
    {
        if (m_mounted)
            ::umount2(m_path.constData(), MNT_DETACH);
    }
    Q_DISABLE_COPY_MOVE(SmallFileSystem)
    bool mounted() const { return m_mounted; }
    // Read-only even for root, unlike a folder without write permission.
    bool setReadOnly(bool readOnly)
    {
        return ::mount(nullptr, m_path.constData(), nullptr,
                       MS_REMOUNT | MS_NOSUID | MS_NODEV | MS_NOEXEC | (readOnly ? MS_RDONLY : 0), nullptr) == 0;
    }

private:
    QByteArray m_path;
    bool m_mounted = false;
};

// No file of this process may grow past 0 bytes while this lives: every write fails
// with EFBIG, as SIGXFSZ is ignored meanwhile.
class NoFileGrowth
{
public:
    NoFileGrowth()
    {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit none = m_old;
        none.rlim_cur = 0;
        m_set = ::setrlimit(RLIMIT_FSIZE, &none) == 0;
    }
    ~NoFileGrowth()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    Q_DISABLE_COPY_MOVE(NoFileGrowth)
    bool set() const { return m_set; }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
    bool m_set = false;
};

enum class Action { Click, Register, Count, StartVolume, Delete, Report };

// What the user does, with the dialogs answered.
void act(WindowFixture& f, Action action)
{
    switch (action) {
    case Action::Click:
        f.window->lblKan_Click(3);
        break;
    case Action::Register:
        f.dialogs.answerInput(u"新刊"_s);
        f.dialogs.answerInput(u"3"_s);
        f.window->cmdNew_Click();
        break;
    case Action::Count:
        f.dialogs.answerInput(u"20"_s);
        f.window->lblKansu_Click();
        break;
    case Action::StartVolume:
        f.cboSyo()->setCurrentIndex(1); // "51", as a pick would leave it
        f.window->cboSyo_Click(1);
        break;
    case Action::Delete:
        f.dialogs.answerMessage(mb::OK);
        f.window->cmdDel_Click();
        break;
    case Action::Report:
        f.dialogs.answerMessage(mb::No);
        f.window->cmdHozon_Click();
        break;
    }
}

} // namespace

Q_DECLARE_METATYPE(Action)

class TestFaults : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void killedWhileRewritingTitles_data();
    void killedWhileRewritingTitles();
    void killedWhileRegistering();
    void listThatCannotBeUsed_data();
    void listThatCannotBeUsed();
    void flagFileThatCannotBeUsed_data();
    void flagFileThatCannotBeUsed();
    void registrationOnAFillingDisk();
    void foreignNamesOffered_data();
    void foreignNamesOffered();
    void refusedWrites_data();
    void refusedWrites();
    void handEditedTitleList_data();
    void handEditedTitleList();
    void pathInTitle_data();
    void pathInTitle();
};

// ---- Killed in the middle of a save ----------------------------------------

void TestFaults::killedWhileRewritingTitles_data()
{
    QTest::addColumn<QString>("disk");
    QTest::newRow("scratch folder") << u"scratch"_s;
    QTest::newRow("tmpfs") << u"tmpfs"_s;
    QTest::newRow("exFAT through FUSE") << u"exfat"_s;
}

void TestFaults::killedWhileRewritingTitles()
{
    QFETCH(QString, disk);
    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    QString folder = scratch.path();
    std::optional<SmallFileSystem> tmpfs;
    std::optional<ExfatMount> exfat;
    if (disk == u"tmpfs") {
        tmpfs.emplace(folder);
        if (!tmpfs->mounted())
            QSKIP("mounting a tmpfs is not allowed here (needs root)");
    } else if (disk == u"exfat") {
        exfat.emplace(scratch.filePath(u"exfat"_s));
        if (!exfat->skipReason().isEmpty())
            QSKIP(qPrintable(exfat->skipReason()));
        QVERIFY2(exfat->mounted(), qPrintable(exfat->error()));
        folder = exfat->path();
    }
    const QDir dir(folder);
    const std::unique_ptr<storage::Catalogue> versions[] = {version(0), version(1)};
    const QByteArray bytes[] = {bytesOf(*versions[0]), bytesOf(*versions[1])};
    {
        QFile file(dir.filePath(TitleList));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(bytes[0]), bytes[0].size());
    }

    // How long one rewrite takes here, so the kills spread over several of them.
    qint64 saveMs = 0;
    {
        DiskFileService files(folder);
        QElapsedTimer timer;
        timer.start();
        QVERIFY(files.replace(storage::TitleListUpper(), bytes[0]));
        saveMs = std::max<qint64>(1, timer.elapsed());
    }

    const quint32 seed = QRandomGenerator::global()->generate();
    QRandomGenerator random(seed);
    qInfo("seed %u, one rewrite of %d titles (%lld bytes) takes %lld ms", seed, Titles, qlonglong(bytes[1].size()),
          qlonglong(saveMs));

    int leftOver = 0;
    int seen[2] = {0, 0};
    const int kills = 30;
    for (int k = 0; k < kills; ++k) {
        QProcess helper;
        helper.setProcessChannelMode(QProcess::SeparateChannels);
        helper.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(RewriteMode), folder});
        QVERIFY2(helper.waitForStarted(10000), qPrintable(helper.errorString()));
        QVERIFY2(helper.waitForReadyRead(30000), "the helper never got ready");
        QCOMPARE(helper.readLine().trimmed(), QByteArrayLiteral("ready"));
        QThread::usleep(random.bounded(quint32(saveMs * 4000)) + 200);
        helper.kill();
        QVERIFY(helper.waitForFinished(10000));
        QVERIFY2(
            helper.exitStatus() == QProcess::CrashExit,
            qPrintable(u"the helper stopped by itself: "_s + QString::fromLocal8Bit(helper.readAllStandardError())));

        // Beside the title list, only a temporary file the program knows as its own.
        const QStringList killed = dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        for (const QString& entry : killed) {
            if (entry.compare(TitleList, Qt::CaseInsensitive) == 0)
                continue;
            QVERIFY2(DiskFileService::isTemporaryName(QFile::encodeName(entry)), qPrintable(u"stray file "_s + entry));
            ++leftOver;
        }

        // The next start removes it, by the time it has read the list: the folder holds the list and nothing else.
        DiskFileService files(folder);
        auto loaded = std::make_unique<storage::Catalogue>();
        const storage::LoadReport report = storage::LoadTitles(files, *loaded);
        QCOMPARE(dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot).size(), 1);
        QVERIFY2(!report.failure,
                 qPrintable(u"kill %1: "_s.arg(k) + (report.failure ? report.failure->message : QString())));
        QVERIFY(!report.created);
        const int which = sameTitles(*loaded, *versions[0]) ? 0 : sameTitles(*loaded, *versions[1]) ? 1 : -1;
        QVERIFY2(which >= 0, qPrintable(u"kill %1: the list is neither version"_s.arg(k)));
        ++seen[which];
        QCOMPARE(files.readAll(TitleList.toLower()).value(), bytes[which]);
        QCOMPARE(files.resolve(storage::TitleListLower()).toCaseFolded(), TitleList.toCaseFolded());
    }
    qInfo("%d kills: old version %d times, new %d times; %d temporary files found and removed at the next start", kills,
          seen[0], seen[1], leftOver);
}

// ---- Files named in code page 932, as a Windows archive unpacks ------------------------

void TestFaults::foreignNamesOffered_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("taken"); // a file with data holds the UTF-8 name of one of them
    QTest::newRow("yes") << int(mb::Yes) << false;
    QTest::newRow("no") << int(mb::No) << false;
    QTest::newRow("yes, one new name taken") << int(mb::Yes) << true;
}

void TestFaults::foreignNamesOffered()
{
    QFETCH(int, answer);
    QFETCH(bool, taken);
    WindowFixture f;
    const QByteArray list = sjis(TitleList);
    const QByteArray flags = sjis(u"魔法(1_50).TXT"_s);
    const QByteArray note = sjis(u"メモ.txt"_s);
    const QByteArray listBytes = record(u"魔法(1_50)"_s, 12, 0);
    const auto put = [&](const QByteArray& entry, const QByteArray& bytes) {
        const int fd = ::open((QFile::encodeName(f.dir.path()) + '/' + entry).constData(), O_WRONLY | O_CREAT, 0644);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
        ::close(fd);
    };
    // QTemporaryDir cannot remove names that are not UTF-8.
    const auto cleanUp = qScopeGuard([&] {
        for (const QByteArray& entry : {list, flags, note})
            ::unlink((QFile::encodeName(f.dir.path()) + '/' + entry).constData());
    });
    put(list, listBytes);
    put(flags, flagFile({3}));
    QStringList foreign{TitleList, u"魔法(1_50).TXT"_s};
    if (taken) {
        put(note, "old note");
        f.write(u"メモ.txt"_s, "new note");
        foreign.insert(1, u"メモ.txt"_s);
    }
    f.dialogs.answerMessage(answer);
    if (taken)
        f.dialogs.answerMessage(mb::OK);
    f.start();

    // The folder works as it is, before and whatever the answer.
    QCOMPARE(f.lblKensu()->text(), u"1 / 1"_s);
    QCOMPARE(f.window->flags()[3], qint16(1));
    QCOMPARE(f.dialogs.calls[0].style, mb::YesNo | mb::Question);
    QVERIFY(f.dialogs.calls[0].prompt.contains(u"「"_s + foreign.join(u"」「"_s) + u"」"_s));
    QCOMPARE(f.dialogs.calls.size(), taken ? 2 : 1);
    if (taken) {
        QCOMPARE(f.dialogs.calls[1].style, mb::Exclamation);
        QVERIFY(f.dialogs.calls[1].prompt.contains(u"「メモ.txt」: 同じ名前のファイルが既にある"_s));
        QCOMPARE(f.read(u"メモ.txt"_s), QByteArray("new note"));
    }
    if (answer == mb::Yes) {
        QCOMPARE(f.read(TitleList), listBytes);
        QCOMPARE(f.read(u"魔法(1_50).TXT"_s), flagFile({3}));
    }
    f.window->lblKan_Click(4);
    QCOMPARE(f.files.readAll(u"魔法(1_50).txt"_s).value(), flagFile({3, 4}));
    // Each file kept its one spelling: nothing new beside it (QDir lists only UTF-8 names).
    QCOMPARE(f.files.foreignNames(), answer == mb::Yes ? QStringList(foreign.mid(1, taken ? 1 : 0)) : foreign);
    QCOMPARE(f.dir.entries().size(), answer == mb::Yes ? foreign.size() : 0);
    QVERIFY(f.dialogs.allAnswersUsed());
    QCOMPARE(f.dialogs.unscripted, 0);
}

// A kill at any moment of a registration leaves all of its pieces in the list or none.
void TestFaults::killedWhileRegistering()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray before = record(u"A"_s, 5, 0) + record(u"B"_s, 7, 0);
    const QString listPath = QDir(dir.path()).filePath(TitleList);

    auto freshFolder = [&] {
        for (const QString& entry : QDir(dir.path()).entryList(QDir::Files))
            QVERIFY(QFile::remove(QDir(dir.path()).filePath(entry)));
        QFile list(listPath);
        QVERIFY(list.open(QIODevice::WriteOnly));
        QCOMPARE(list.write(before), before.size());
    };
    auto startHelper = [&](QProcess& helper) {
        helper.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(RegisterMode), dir.path()});
        QVERIFY2(helper.waitForStarted(10000), qPrintable(helper.errorString()));
        QVERIFY2(helper.waitForReadyRead(30000), "the helper never got ready");
        QCOMPARE(helper.readLine().trimmed(), QByteArrayLiteral("ready"));
    };

    // How long the whole registration takes in the helper, so the kills spread over all of it.
    qint64 wholeMs = 0;
    {
        freshFolder();
        QProcess helper;
        startHelper(helper);
        QElapsedTimer timer;
        timer.start();
        QVERIFY(helper.waitForReadyRead(120000));
        wholeMs = std::max<qint64>(1, timer.elapsed());
        QCOMPARE(helper.readLine().trimmed(), QByteArrayLiteral("done"));
        helper.kill();
        QVERIFY(helper.waitForFinished(10000));
    }
    const quint32 seed = QRandomGenerator::global()->generate();
    QRandomGenerator random(seed);
    qInfo("seed %u, registering 656 pieces takes %lld ms", seed, qlonglong(wholeMs));

    int all = 0;
    int none = 0;
    for (int k = 0; k < 30; ++k) {
        freshFolder();
        QProcess helper;
        startHelper(helper);
        // The first kill comes at once, the last after the registration said it was done,
        // the others at random over its whole length.
        if (k == 29)
            QVERIFY(helper.waitForReadyRead(120000));
        else
            QThread::usleep(k == 0 ? 100 : random.bounded(quint32(wholeMs * 1300)) + 100);
        ::kill(pid_t(helper.processId()), SIGKILL);
        QVERIFY(helper.waitForFinished(10000));
        const bool finished = helper.readAllStandardOutput().contains("done");

        DiskFileService files(dir.path());
        auto loaded = std::make_unique<storage::Catalogue>();
        const storage::LoadReport report = storage::LoadTitles(files, *loaded);
        QVERIFY2(!report.failure, qPrintable(u"kill %1: the list does not load whole"_s.arg(k)));
        QVERIFY2(loaded->intKensu == 2 || loaded->intKensu == 2 + 656,
                 qPrintable(u"kill %1: %2 titles"_s.arg(k).arg(loaded->intKensu)));
        QCOMPARE(loaded->strName[1], u"A"_s);
        QCOMPARE(loaded->strName[2], u"B"_s);
        ++(loaded->intKensu == 2 ? none : all);
        if (finished)
            QCOMPARE(int(loaded->intKensu), 2 + 656);
        for (int p = 3; p <= loaded->intKensu; ++p)
            QVERIFY2(files.exists(loaded->strName[p] + u".TXT"_s), qPrintable(loaded->strName[p]));
    }
    qInfo("30 kills: registered whole %d times, not at all %d times", all, none);
    // The kills fell before, during and after the replacement of the list.
    QVERIFY(all > 0 && none > 0);
}

// The disk fills up while the pieces' flag files are written: nothing is registered,
// the flag files made are removed again, and the failure names the file.
void TestFaults::registrationOnAFillingDisk()
{
    ScratchFolder dir;
    // Declared after the folder: unmounted before it is removed.
    SmallFileSystem small(dir.path());
    if (!small.mounted())
        QSKIP("mounting a tmpfs is not allowed here (needs root)");
    dir.put(TitleList, record(u"A"_s, 5, 0));
    dir.put(u"A.TXT"_s, flagFile({1}));
    DiskFileService files(dir.path());
    // Room for three files of one block each, no more.
    for (int i = 0; i < 3; ++i)
        dir.put(u"room%1"_s.arg(i), QByteArray(4096, 'r'));
    {
        QFile filler(dir.filePath(u"filler.bin"_s));
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray block(4096, 'f');
        while (filler.write(block) == block.size()) {
        }
    }
    for (int i = 0; i < 3; ++i)
        QVERIFY(QFile::remove(dir.filePath(u"room%1"_s.arg(i))));
    const auto before = dir.state();

    const storage::Outcome change = storage::Collection(files).add(storage::SplitIntoPieces(u"長編"_s, 500));
    QCOMPARE(change.kind, storage::Outcome::Failed);
    QVERIFY2(change.error.file.startsWith(u"長編("_s) && change.error.file.endsWith(u".TXT"_s),
             qPrintable(change.error.file));
    const auto after = dir.state();
    QCOMPARE(after.keys().join(u" "_s), before.keys().join(u" "_s));
    QVERIFY(after == before);
}

// ---- Files that are there but cannot be used ------------------------------------

void TestFaults::listThatCannotBeUsed_data()
{
    QTest::addColumn<int>("kind"); // ErrorKind, or -1: missing in a read-only folder
    QTest::addColumn<QStringList>("says");
    QTest::newRow("missing, read-only folder")
        << -1
        << QStringList{u"「データ.TXT」がないため作成しようとしましたが、作成できませんでした。"_s,
                       u"書き込みのできるフォルダーで起動し直して下さい。"_s};
    QTest::newRow("two spellings clash") << int(ErrorKind::Clash)
                                         << QStringList{u"「データ.TXT」を使えません。"_s, u"（テスト）"_s};
    QTest::newRow("link out of the folder")
        << int(ErrorKind::Unsafe) << QStringList{u"「データ.TXT」を使えません。"_s, u"（テスト）"_s};
}

void TestFaults::listThatCannotBeUsed()
{
    QFETCH(int, kind);
    QFETCH(QStringList, says);
    WindowFixture f;
    std::optional<SmallFileSystem> small;
    if (kind < 0) {
        small.emplace(f.dir.path());
        if (!small->mounted() || !small->setReadOnly(true))
            QSKIP("mounting a tmpfs is not allowed here (needs root)");
        f.files.reopen();
    } else {
        f.write(TitleList, record(u"A"_s, 5, 0));
        f.files.refuse(TitleList, ErrorKind(kind));
    }
    const auto before = f.dir.state();
    f.start();
    QCOMPARE(messageCaptions(f.dialogs), QStringList{u"読み込みエラー"_s});
    const QString prompt = f.dialogs.calls[0].prompt;
    for (const QString& part : says)
        QVERIFY2(prompt.contains(part), qPrintable(prompt));
    QVERIFY2(!prompt.contains(u"のを"_s), qPrintable(prompt));
    QVERIFY(f.window->titlesLocked());
    QCOMPARE(f.cboName()->count(), 0);

    // Nothing writes the list.
    f.dialogs.calls.clear();
    f.window->cmdNew_Click();
    QCOMPARE(messageCaptions(f.dialogs), QStringList{u"読み込みエラー"_s});
    QCOMPARE(f.dir.state(), before);
}

void TestFaults::flagFileThatCannotBeUsed_data()
{
    QTest::addColumn<int>("kind"); // ErrorKind; NotAFile is a real folder
    QTest::addColumn<QString>("says");
    QTest::newRow("a folder") << int(ErrorKind::NotAFile) << u"フォルダー"_s;
    QTest::newRow("two spellings clash") << int(ErrorKind::Clash) << u"（テスト）"_s;
    QTest::newRow("link out of the folder") << int(ErrorKind::Unsafe) << u"（テスト）"_s;
}

// Said once when the title is shown; clicks are refused; the report says what it is.
void TestFaults::flagFileThatCannotBeUsed()
{
    QFETCH(int, kind);
    QFETCH(QString, says);
    WindowFixture f;
    f.write(TitleList, record(u"A"_s, 5, 0) + record(u"B"_s, 5, 0));
    f.write(u"B.TXT"_s, flagFile({2}));
    if (ErrorKind(kind) == ErrorKind::NotAFile) {
        QVERIFY(QDir(f.dir.path()).mkdir(u"A.TXT"_s));
    } else {
        f.write(u"A.TXT"_s, flagFile({1}));
        f.files.refuse(u"A.TXT"_s, ErrorKind(kind));
    }
    const auto before = f.dir.state();
    f.start();
    QCOMPARE(messageCaptions(f.dialogs), QStringList{u"読み込みエラー"_s});
    QVERIFY2(f.dialogs.calls[0].prompt.contains(u"「A.TXT」"_s), qPrintable(f.dialogs.calls[0].prompt));
    QVERIFY2(f.dialogs.calls[0].prompt.contains(says), qPrintable(f.dialogs.calls[0].prompt));
    QCOMPARE(f.visibleCaptions().size(), 5);

    f.dialogs.calls.clear();
    f.window->lblKan_Click(3);
    QCOMPARE(messageCaptions(f.dialogs), QStringList{u"保存エラー"_s});
    QCOMPARE(f.window->flags()[3], qint16(0));
    f.watcher.fire();
    f.hsbData()->setValue(2);
    f.hsbData()->setValue(1);
    QCOMPARE(messageCaptions(f.dialogs), QStringList{u"保存エラー"_s}); // not said again

    f.dialogs.calls.clear();
    f.dialogs.answerMessage(mb::No);
    f.window->cmdHozon_Click();
    const QStringList captions = messageCaptions(f.dialogs);
    QCOMPARE(captions, (QStringList{u"残巻データ出力"_s, u"保存エラー"_s, u"保存終了"_s}));
    QVERIFY2(f.dialogs.calls[1].prompt.contains(says), qPrintable(f.dialogs.calls[1].prompt));
    QVERIFY(!f.dialogs.calls[1].prompt.contains(u"見つからず"_s));
    auto after = f.dir.state();
    QCOMPARE(after.take(Report), sjis(u"\"2026年12月06日現在の未収集状況\"\r\n\"\"\r\n\"B\",\"2\"\r\n"_s));
    QCOMPARE(after, before);
}

// ---- A full or read-only disk -----------------------------------------------------------

enum class Disk { FullTmpfs, SizeLimit, ReadOnlyMount };

void TestFaults::refusedWrites_data()
{
    QTest::addColumn<int>("disk"); // Disk
    QTest::addColumn<Action>("action");
    const std::pair<const char*, Action> actions[] = {
        {"click", Action::Click},      {"registration", Action::Register},
        {"count edit", Action::Count}, {"start volume", Action::StartVolume},
        {"deletion", Action::Delete},  {"report", Action::Report},
    };
    for (const auto& [name, action] : actions) {
        QTest::addRow("%s, full tmpfs", name) << int(Disk::FullTmpfs) << action;
        QTest::addRow("%s, file size limit 0", name) << int(Disk::SizeLimit) << action;
        QTest::addRow("%s, read-only mount", name) << int(Disk::ReadOnlyMount) << action;
    }
}

void TestFaults::refusedWrites()
{
    QFETCH(int, disk);
    QFETCH(Action, action);
    const bool fileSystem = Disk(disk) != Disk::SizeLimit;

    WindowFixture f;
    // Declared after the fixture: unmounted before the folder is removed.
    std::optional<SmallFileSystem> small;
    if (fileSystem) {
        small.emplace(f.dir.path());
        if (!small->mounted())
            QSKIP("mounting a tmpfs is not allowed here (needs root); the file size limit rows still run");
        f.files.reopen();
    }

    // Titles whose list ends 4 bytes short of a 4 KiB block: an appended record then
    // only half fits into the last block the list already has.
    QStringList names = {u"A"_s, u"B"_s, u"C"_s};
    QByteArray list = record(u"A"_s, 10, 0) + record(u"B"_s, 20, 0) + record(u"C"_s, 30, 0);
    const int perByte = int(record(QString(), 5, 0).size()); // a record's bytes besides its name
    while (list.size() < 4092) {
        const int left = 4092 - int(list.size()) - perByte;
        const int length = left > 250 ? 150 : left; // short enough to name a file
        const QString name = u"P%1"_s.arg(names.size()).leftJustified(length, u'x');
        names.append(name);
        list += record(name, 5, 0);
    }
    QCOMPARE(list.size(), 4092);
    f.write(TitleList, list);
    f.write(u"A.TXT"_s, flagFile({1}));
    f.write(u"B.TXT"_s, flagFile({2, 3}));
    for (const QString& name : names.mid(2))
        f.write(name + u".TXT"_s, flagFile({}));
    f.write(Report, "\"an earlier report\"\r\n");
    f.start();
    QVERIFY(f.dialogs.calls.isEmpty());

    if (Disk(disk) == Disk::ReadOnlyMount)
        QVERIFY(small->setReadOnly(true));
    if (Disk(disk) == Disk::FullTmpfs) {
        QFile filler(f.path(u"filler.bin"_s));
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray block(4096, 'f');
        while (filler.write(block) == block.size()) {
        }
        filler.close();
        struct statvfs space
        {
        };
        QCOMPARE(::statvfs(QFile::encodeName(f.dir.path()).constData(), &space), 0);
        QCOMPARE(qulonglong(space.f_bavail), 0ull);
    }
    const QMap<QString, QByteArray> before = f.dir.state();

    {
        std::optional<NoFileGrowth> limit;
        if (Disk(disk) == Disk::SizeLimit) {
            limit.emplace();
            QVERIFY(limit->set());
        }
        act(f, action);
    }

    // A message, and everything on disk as it was, with no temporary file left.
    const QStringList captions = messageCaptions(f.dialogs);
    QVERIFY2(captions.contains(u"保存エラー"_s), qPrintable(captions.join(u", "_s)));
    QVERIFY(!captions.contains(u"保存終了"_s));
    QCOMPARE(f.dir.state(), before);
    // The window shows what the disk holds.
    QCOMPARE(int(f.window->catalogue().intKensu), int(names.size()));
    QCOMPARE(f.cboName()->currentText(), u"A"_s);
    QCOMPARE(f.lblKansu()->text(), u"10巻"_s);
    QCOMPARE(f.cboSyo()->currentText(), u"1"_s);
    QCOMPARE(f.window->flags()[3], qint16(0));
    QCOMPARE(f.visibleCaptions().size(), 10);

    // With room again the program goes on: the same action now goes through.
    if (Disk(disk) == Disk::FullTmpfs)
        QVERIFY(QFile::remove(f.path(u"filler.bin"_s)));
    if (Disk(disk) == Disk::ReadOnlyMount)
        QVERIFY(small->setReadOnly(false));
    f.dialogs.calls.clear();
    act(f, action);
    QVERIFY2(!messageCaptions(f.dialogs).contains(u"保存エラー"_s),
             qPrintable(messageCaptions(f.dialogs).join(u", "_s)));
    const QByteArray rest = list.mid(record(u"A"_s, 10, 0).size());
    switch (action) {
    case Action::Click:
        QCOMPARE(f.read(u"A.TXT"_s), flagFile({1, 3}));
        break;
    case Action::Register:
        QCOMPARE(f.read(TitleList), list + record(u"新刊"_s, 3, 0));
        QCOMPARE(f.read(u"新刊.TXT"_s), flagFile({}));
        break;
    case Action::Count:
        QCOMPARE(f.read(TitleList), record(u"A"_s, 20, 0) + rest);
        break;
    case Action::StartVolume:
        QCOMPARE(f.read(TitleList), record(u"A"_s, 10, 50) + rest);
        break;
    case Action::Delete:
        QCOMPARE(f.read(TitleList), rest);
        QVERIFY(!f.exists(u"A.TXT"_s));
        break;
    case Action::Report:
        QVERIFY(f.read(Report).startsWith(sjis(u"\"2026年12月06日現在の未収集状況\"\r\n\"\"\r\n"_s)));
        QVERIFY(messageCaptions(f.dialogs).contains(u"保存終了"_s));
        break;
    }
}

// ---- Files edited by hand --------------------------------------------------

void TestFaults::handEditedTitleList_data()
{
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<bool>("whole");
    QTest::addColumn<QStringList>("names"); // what the window lists
    QTest::addColumn<QList<int>>("labels"); // volume labels each title shows

    const QStringList ab = {u"A"_s, u"B"_s};
    QTest::newRow("trailing blank line") << "\"A\",5,0\r\n\"B\",7,0\r\n\r\n"_ba << true << ab << QList<int>{5, 7};
    QTest::newRow("LF line ends") << "\"A\",5,0\n\"B\",7,0\n"_ba << true << ab << QList<int>{5, 7};
    QTest::newRow("no line end after the last record") << "\"A\",5,0\r\n\"B\",7,0"_ba << true << ab << QList<int>{5, 7};
    QTest::newRow("end-of-file marker") << "\"A\",5,0\r\n\"B\",7,0\r\n\x1A"_ba << true << ab << QList<int>{5, 7};
    QTest::newRow("names without quotes") << "A,5,0\r\nB , 7 ,0\r\n"_ba << true << ab << QList<int>{5, 7};
    QTest::newRow("16-bit extremes") << "\"A\",32767,32767\r\n\"B\",-32768,-32768\r\n\"C\",0,0\r\n"_ba << true
                                     << QStringList{u"A"_s, u"B"_s, u"C"_s} << QList<int>{50, 0, 0};
    QTest::newRow("count above 16 bits") << "\"A\",5,0\r\n\"B\",40000,0\r\n\"C\",3,0\r\n"_ba << false
                                         << QStringList{u"A"_s} << QList<int>{5};
    QTest::newRow("offset below 16 bits") << "\"A\",5,-40000\r\n"_ba << false << QStringList() << QList<int>();
    QTest::newRow("short record in the middle")
        << "\"A\",5\r\n\"B\",6,0\r\n"_ba << false << QStringList{u"A"_s} << QList<int>{5};
    QTest::newRow("short last record") << "\"A\",5,0\r\n\"B\"\r\n"_ba << false << QStringList{u"A"_s} << QList<int>{5};
    QTest::newRow("blank line between records")
        << "\"A\",5,0\r\n\r\n\"B\",7,0\r\n"_ba << false << QStringList{u"A"_s, QString()} << QList<int>{5, 0};
}

void TestFaults::handEditedTitleList()
{
    QFETCH(QByteArray, list);
    QFETCH(bool, whole);
    QFETCH(QStringList, names);
    QFETCH(QList<int>, labels);

    WindowFixture f;
    f.write(TitleList, list);
    for (const QString& name : names) {
        if (!name.isEmpty())
            f.write(name + u".TXT"_s, flagFile({1}));
    }
    f.start();
    const storage::Catalogue loaded = f.window->catalogue();
    QCOMPARE(f.window->titlesLocked(), !whole);
    QCOMPARE(messageCaptions(f.dialogs), whole ? QStringList() : QStringList{u"読み込みエラー"_s});
    QCOMPARE(f.read(TitleList), list);

    // Every title loaded can be shown and its labels clicked.
    QStringList listed;
    for (int i = 0; i < f.cboName()->count(); ++i)
        listed.append(f.cboName()->itemText(i));
    QCOMPARE(listed, names);
    for (int p = 1; p <= names.size(); ++p) {
        f.hsbData()->setValue(p);
        QCOMPARE(f.cboName()->currentText(), names[p - 1]);
        QCOMPARE(int(f.visibleCaptions().size()), labels[p - 1]);
    }
    if (!names.isEmpty() && labels[0] > 0) {
        f.hsbData()->setValue(1);
        f.window->lblKan_Click(2);
        QCOMPARE(f.read(names[0] + u".TXT"_s), flagFile({1, 2}));
    }

    // The report runs to its end over whatever was loaded.
    f.dialogs.calls.clear();
    f.dialogs.answerMessage(mb::No);
    f.window->cmdHozon_Click();
    QCOMPARE(messageCaptions(f.dialogs).last(), u"保存終了"_s);
    const QByteArray reported = f.read(Report);
    for (const QString& name : names) {
        if (!name.isEmpty())
            QVERIFY2(reported.contains(sjis(u"\"%1\",\"1"_s.arg(name))), reported.constData());
    }

    f.hsbData()->setValue(1);
    f.dialogs.calls.clear();
    if (!whole) {
        // Nothing may write the list that was only read in part.
        f.dialogs.answerInput(u"新刊"_s);
        f.dialogs.answerInput(u"3"_s);
        f.window->cmdNew_Click();
        f.dialogs.answerInput(u"7"_s);
        f.window->lblKansu_Click();
        f.cboSyo()->setCurrentIndex(1);
        f.window->cboSyo_Click(1);
        f.dialogs.answerMessage(mb::OK);
        f.window->cmdDel_Click();
        for (const QString& caption : messageCaptions(f.dialogs))
            QCOMPARE(caption, u"読み込みエラー"_s);
        QVERIFY(!messageCaptions(f.dialogs).isEmpty());
        QCOMPARE(f.read(TitleList), list);
        return;
    }

    // A title registered after the hand-edited ones still leaves a list that loads whole.
    f.dialogs.answerInput(u"新刊"_s);
    f.dialogs.answerInput(u"3"_s);
    f.window->cmdNew_Click();
    QCOMPARE(messageCaptions(f.dialogs), QStringList());
    QVERIFY(!f.window->titlesLocked());
    QStringList withNew = names;
    withNew.append(u"新刊"_s);
    const storage::Catalogue& c = f.window->catalogue();
    QCOMPARE(QStringList(c.strName.begin() + 1, c.strName.begin() + 1 + c.intKensu), withNew);

    // An edit rewrites the list in the program's own form, every other value as it was read.
    f.hsbData()->setValue(2);
    f.hsbData()->setValue(1);
    f.dialogs.answerInput(u"7"_s);
    f.window->lblKansu_Click();
    QCOMPARE(messageCaptions(f.dialogs), QStringList());
    QByteArray expected;
    for (int p = 1; p <= loaded.intKensu; ++p)
        expected += record(loaded.strName[p], p == 1 ? 7 : loaded.intKansu[p], loaded.intSyo[p]);
    expected += record(u"新刊"_s, 3, 0);
    QCOMPARE(f.read(TitleList), expected);
}

void TestFaults::pathInTitle_data()
{
    QTest::addColumn<QString>("title"); // %1: the data folder, %2: its name

    QTest::newRow("into a subfolder") << u"a/b"_s;
    QTest::newRow("out and back in") << u"../%2/a/b"_s;
    QTest::newRow("absolute path") << u"%1/a/b"_s;
    QTest::newRow("into a folder that does not exist") << u"x/y"_s;
    QTest::newRow("a trailing slash") << u"a/"_s;
    QTest::newRow("the root") << u"/"_s;
}

void TestFaults::pathInTitle()
{
    QFETCH(QString, title);

    WindowFixture f;
    title.replace(u"%1"_s, f.dir.path()).replace(u"%2"_s, QFileInfo(f.dir.path()).fileName());
    QVERIFY(QDir(f.dir.path()).mkdir(u"a"_s));
    // What the title would name if its path were followed: flags 1 to 3 set.
    f.write(u"a/b.TXT"_s, flagFile({1, 2, 3}));
    f.write(TitleList, record(u"Good"_s, 5, 0) + record(title, 5, 0) + record(u"Last"_s, 5, 0));
    f.write(u"Good.TXT"_s, flagFile({1}));
    f.write(u"Last.TXT"_s, flagFile({2}));
    f.start();
    QVERIFY(!f.window->titlesLocked());
    QCOMPARE(int(f.window->catalogue().intKensu), 3);
    QCOMPARE(f.window->catalogue().strName[2], title);
    const QMap<QString, QByteArray> before = f.dir.state();

    // Shown: no flag comes from outside the folder, and the user is told the name is unusable.
    f.hsbData()->setValue(2);
    QCOMPARE(messageCaptions(f.dialogs), QStringList{u"読み込みエラー"_s});
    f.dialogs.calls.clear();
    QCOMPARE(f.cboName()->currentText(), title);
    QCOMPARE(f.visibleCaptions().size(), 5);
    for (int i = 1; i <= 5; ++i)
        QCOMPARE(f.window->flags()[i], qint16(0));

    // Clicked: a message, the flag back as it was, no file and no folder made anywhere.
    f.window->lblKan_Click(1);
    QCOMPARE(messageCaptions(f.dialogs), QStringList{u"保存エラー"_s});
    QCOMPARE(f.window->flags()[1], qint16(0));
    QCOMPARE(f.dir.state(), before);
    QVERIFY(!QFileInfo::exists(f.dir.path() + u"/x"_s));

    // The report goes on past it and lists the titles around it.
    f.dialogs.calls.clear();
    f.dialogs.answerMessage(mb::No);
    f.window->cmdHozon_Click();
    QCOMPARE(messageCaptions(f.dialogs).last(), u"保存終了"_s);
    QByteArray expected = sjis(u"\"2026年12月06日現在の未収集状況\"\r\n\"\"\r\n"_s);
    expected += "\"Good\",\"1\"\r\n\"Last\",\"2\"\r\n";
    QCOMPARE(f.read(Report), expected);
    QMap<QString, QByteArray> after = f.dir.state();
    after.remove(Report);
    QCOMPARE(after, before);

    // Deleted: the record goes, the file its path would name stays.
    f.hsbData()->setValue(2);
    f.dialogs.calls.clear();
    f.dialogs.answerMessage(mb::OK);
    f.window->cmdDel_Click();
    QCOMPARE(f.read(TitleList), record(u"Good"_s, 5, 0) + record(u"Last"_s, 5, 0));
    QCOMPARE(f.read(u"a/b.TXT"_s), flagFile({1, 2, 3}));
}

int main(int argc, char* argv[])
{
    if (argc == 3 && qstrcmp(argv[1], RewriteMode) == 0)
        return rewriteTitlesUntilKilled(QFile::decodeName(argv[2]));
    if (argc == 3 && qstrcmp(argv[1], RegisterMode) == 0)
        return registerLongSeries(QFile::decodeName(argv[2]));
    QApplication app(argc, argv);
    TestFaults test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "test_faults.moc"
