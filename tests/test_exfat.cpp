// One walk through the window's commands on a real disk service, once in a plain folder
// and once on exFAT mounted through FUSE, where letter case is ignored but the kernel
// keeps each spelling's pages apart: every file must read back as written under either
// spelling, in this process and in another.
#include "support/ExfatMount.h"
#include "support/WindowFixture.h"

#include "core/DiskFileService.h"

#include <QMap>
#include <QProcess>

#include <functional>
#include <memory>
#include <optional>

using namespace kav;
using namespace kav::test;
using namespace Qt::StringLiterals;

namespace {

using Files = QMap<QString, QByteArray>;

// The real window on the real disk service of one folder.
struct Window
{
    explicit Window(const QString& folder) : files(folder) {}
    ScriptedDialogs dialogs;
    DiskFileService files;
    RecordingPrinter printer;
    RecordingHelpViewer help;
    FixedClock clock{QDate(2026, 12, 6)};
    ManualWatcher watcher;
    std::unique_ptr<frmMain> window;
};

// The same name with the extension's letter case turned over: X.TXT <-> X.txt.
QString otherSpelling(const QString& name)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString extension = name.mid(dot);
    return name.left(dot) + (extension == extension.toUpper() ? extension.toLower() : extension.toUpper());
}

// What another program sees: the bytes cat prints, or nullopt when cat fails.
std::optional<QByteArray> catFile(const QString& path)
{
    QProcess cat;
    cat.start(u"cat"_s, {path});
    if (!cat.waitForFinished(10000) || cat.exitStatus() != QProcess::NormalExit || cat.exitCode() != 0)
        return std::nullopt;
    return cat.readAllStandardOutput();
}

std::optional<QByteArray> readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

QString toHex(const QByteArray& bytes)
{
    return bytes.isEmpty() ? u"nothing"_s : QString::fromLatin1(bytes.toHex(' '));
}

// The folder holds exactly the expected files under the expected spellings, and each
// reads as expected under both spellings, through QFile here and cat in a child.
// Where letter case counts, the other spelling must not be there at all.
void checkDisk(const QString& folder, const Files& expected, bool caseBlind)
{
    const QDir dir(folder);
    QStringList listed = dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    listed.sort();
    QCOMPARE(listed, expected.keys());
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        for (const QString& name : {it.key(), otherSpelling(it.key())}) {
            const QString path = dir.filePath(name);
            const std::optional<QByteArray> here = readFile(path);
            const std::optional<QByteArray> there = catFile(path);
            if (name != it.key() && !caseBlind) {
                QVERIFY2(!here && !there, qPrintable(name + u" exists beside "_s + it.key()));
                continue;
            }
            QVERIFY2(here, qPrintable(u"QFile cannot read "_s + name));
            QVERIFY2(there, qPrintable(u"cat cannot read "_s + name));
            QVERIFY2(*here == it.value(), qPrintable(u"QFile reads under %1: %2"_s.arg(name, toHex(*here))));
            QVERIFY2(*there == it.value(), qPrintable(u"cat reads under %1: %2"_s.arg(name, toHex(*there))));
        }
    }
}

struct Step
{
    QString what;
    std::function<void(Window&)> act;
    QStringList captions; // the dialogs the step opens, in order
    Files files;          // the whole folder afterwards
};

} // namespace

class TestExfat : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void walk_data();
    void walk();
};

void TestExfat::walk_data()
{
    QTest::addColumn<bool>("exfat");
    QTest::addColumn<bool>("caseBlind"); // the file system ignores letter case
    QTest::newRow("plain folder") << false << false;
    QTest::newRow("exFAT through FUSE") << true << true;
}

void TestExfat::walk()
{
    QFETCH(bool, exfat);
    QFETCH(bool, caseBlind);
    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    QString folder = scratch.filePath(u"plain"_s);
    // Declared before the window so the window lets go of its files before the unmount.
    std::optional<ExfatMount> mount;
    if (exfat) {
        mount.emplace(scratch.filePath(u"exfat"_s));
        if (!mount->skipReason().isEmpty())
            QSKIP(qPrintable(mount->skipReason()));
        QVERIFY2(mount->mounted(), qPrintable(mount->error()));
        folder = mount->path();
    } else {
        QVERIFY(QDir(scratch.path()).mkdir(u"plain"_s));
    }
    // The row's file system is what it claims to be, or the spelling checks prove nothing.
    {
        QFile probe(QDir(folder).filePath(u"probe.TXT"_s));
        QVERIFY(probe.open(QIODevice::WriteOnly));
        probe.close();
        QCOMPARE(QFile::exists(QDir(folder).filePath(u"probe.txt"_s)), caseBlind);
        QVERIFY(probe.remove());
    }

    const QString list = u"データ.TXT"_s;
    const QString piece[] = {u"漫画(1_50)"_s, u"漫画(51_100)"_s, u"漫画(101_120)"_s};
    const QByteArray zeros = flagFile({});
    const QByteArray pieces = record(piece[0], 50, 0) + record(piece[1], 50, 50) + record(piece[2], 20, 100);
    const QByteArray edited = record(piece[0], 45, 0) + record(piece[1], 50, 50) + record(piece[2], 20, 100);
    const QByteArray picked = record(piece[0], 45, 50) + record(piece[1], 50, 50) + record(piece[2], 20, 100);
    const QByteArray deleted = record(piece[0], 45, 50) + record(piece[1], 50, 50);
    const QByteArray report = sjis(u"\"2026年12月06日現在の未収集状況\"\r\n\"\"\r\n\"漫画(1_50)\",\"3\"\r\n"_s);
    const auto flags = [&](const QByteArray& first) {
        return Files{{piece[0] + u".TXT"_s, first}, {piece[1] + u".TXT"_s, zeros}};
    };
    const auto with = [](Files files, const Files& more) {
        files.insert(more);
        return files;
    };

    const QList<Step> steps = {
        {u"start in an empty folder"_s,
         [](Window& w) {
             w.window = std::make_unique<frmMain>(Services{w.dialogs, w.files, w.printer, w.help, w.clock, &w.watcher});
             w.window->Form_Load();
         },
         {},
         {{list, {}}}},
        {u"register 120 volumes"_s,
         [](Window& w) {
             w.dialogs.answerInput(u"漫画"_s);
             w.dialogs.answerInput(u"120"_s);
             w.dialogs.answerMessage(mb::OK);
             w.window->cmdNew_Click();
         },
         {u"題名入力"_s, u"巻数入力"_s, u"１データ５０件制限"_s},
         with(flags(zeros), {{list, pieces}, {piece[2] + u".TXT"_s, zeros}})},
        {u"click volume 3"_s,
         [](Window& w) { w.window->lblKan_Click(3); },
         {},
         with(flags(flagFile({3})), {{list, pieces}, {piece[2] + u".TXT"_s, zeros}})},
        {u"edit the count"_s,
         [](Window& w) {
             w.dialogs.answerInput(u"45"_s);
             w.window->lblKansu_Click();
         },
         {u"巻数に入力"_s},
         with(flags(flagFile({3})), {{list, edited}, {piece[2] + u".TXT"_s, zeros}})},
        {u"pick start volume 51"_s,
         [](Window& w) {
             QComboBox* box = w.window->findChild<QComboBox*>(u"cboSyo"_s);
             box->setCurrentIndex(1);
             w.window->cboSyo_Click(1);
         },
         {},
         with(flags(flagFile({3})), {{list, picked}, {piece[2] + u".TXT"_s, zeros}})},
        {u"delete the last piece"_s,
         [](Window& w) {
             w.window->findChild<QScrollBar*>(u"hsbData"_s)->setValue(3);
             w.dialogs.answerMessage(mb::OK);
             w.window->cmdDel_Click();
         },
         {u"削除確認"_s},
         with(flags(flagFile({3})), {{list, deleted}})},
        {u"report"_s,
         [](Window& w) {
             w.dialogs.answerMessage(mb::No);
             w.dialogs.answerMessage(mb::OK);
             w.window->cmdHozon_Click();
         },
         {u"残巻データ出力"_s, u"保存終了"_s},
         with(flags(flagFile({3})), {{list, deleted}, {u"残巻データ.txt"_s, report}})},
    };

    Window w(folder);
    for (const Step& step : steps) {
        w.dialogs.calls.clear();
        step.act(w);
        if (QTest::currentTestFailed()) { // an unscripted dialog
            qWarning("failed during the step: %s", qPrintable(step.what));
            return;
        }
        QVERIFY2(w.dialogs.captions() == step.captions,
                 qPrintable(step.what + u": dialogs "_s + w.dialogs.captions().join(u", "_s)));
        QVERIFY2(w.dialogs.allAnswersUsed(), qPrintable(step.what + u": an answer was not asked for"_s));
        checkDisk(folder, step.files, caseBlind);
        if (QTest::currentTestFailed()) {
            qWarning("the disk differs after the step: %s", qPrintable(step.what));
            return;
        }
    }
    QVERIFY(w.printer.documents.isEmpty());
}

QTEST_MAIN(TestExfat)
#include "test_exfat.moc"
