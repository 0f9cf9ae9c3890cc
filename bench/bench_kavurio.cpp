// Times the program's work on a catalogue of 2000 titles against the same bytes
// read or written and converted the plainest way, and prints both with the ratio.
#include "frmMain.h"
#include "storage/Catalogue.h"
#include "support/WindowFixture.h"
#include "ui_frmMain.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSaveFile>
#include <QStringDecoder>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace kav;
using namespace kav::test;

namespace {

constexpr int Titles = 2000;

double medianMs(int runs, const std::function<void()>& setUp, const std::function<void()>& work)
{
    std::vector<double> times;
    for (int r = 0; r < runs; ++r) {
        if (setUp)
            setUp();
        QElapsedTimer timer;
        timer.start();
        work();
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void row(const char* what, double ours, double plain)
{
    std::printf("%-34s %10.3f ms %10.3f ms %8.2f\n", what, ours, plain, plain > 0 ? ours / plain : 0.0);
    std::fflush(stdout);
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QString decode(const QByteArray& bytes)
{
    QStringDecoder decoder("windows-31j", QStringDecoder::Flag::Stateless);
    return decoder.decode(bytes);
}

// Fifty flags the plainest way: split on commas and line ends.
int parseFlags(const QByteArray& bytes)
{
    int sum = 0;
    for (const QByteArray& field : QByteArray(bytes).replace("\r\n", ",").split(','))
        sum += field.toInt();
    return sum;
}

void saveBytes(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(bytes);
        file.commit();
    }
}

void fillFolder(WindowFixture& f)
{
    QByteArray list;
    for (int i = 1; i <= Titles; ++i) {
        const QString name = QStringLiteral("コミック第%1集").arg(i);
        list += WindowFixture::sjis(QStringLiteral("\"%1\",50,0\r\n").arg(name));
        f.write(name + QStringLiteral(".TXT"), WindowFixture::flagFile({i % 50 + 1, 7, 33}));
    }
    f.write(QStringLiteral("データ.TXT"), list);
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 15;

    WindowFixture f;
    fillFolder(f);
    const QString listPath = f.path(QStringLiteral("データ.TXT"));
    std::printf("%d titles with their flag files, median of %d runs\n\n", Titles, runs);
    std::printf("%-34s %13s %13s %8s\n", "", "kavurio", "plain", "ratio");

    {
        storage::Catalogue catalogue;
        const double ours = medianMs(runs, {}, [&] { (void)storage::LoadTitles(f.files, catalogue); });
        const double plain = medianMs(runs, {}, [&] { (void)decode(readAll(listPath)).split(QStringLiteral("\r\n")); });
        row("LoadTitles", ours, plain);
    }
    {
        const double ours = medianMs(
            runs, [&] { f.window.reset(); },
            [&] {
                f.start();
                f.window->show();
                QApplication::processEvents();
            });
        // The same widgets and the same bytes, without the program's logic.
        const double plain = medianMs(runs, {}, [&] {
            QWidget window;
            Ui::frmMain ui;
            ui.setupUi(&window);
            for (int i = 1; i <= 50; ++i)
                new QLabel(ui.Frame1);
            const QStringList names = decode(readAll(listPath)).split(QStringLiteral("\r\n"));
            ui.cboName->addItems(names);
            (void)parseFlags(readAll(f.path(QStringLiteral("コミック第1集.TXT"))));
            window.show();
            QApplication::processEvents();
        });
        row("start to first title shown", ours, plain);
    }
    {
        int p = 0;
        const double ours = medianMs(runs * 10, {}, [&] { f.hsbData()->setValue(1 + (p++ * 37) % Titles); });
        int q = 0;
        const double plain = medianMs(runs * 10, {}, [&] {
            const QString name = QStringLiteral("コミック第%1集.TXT").arg(1 + (q++ * 37) % Titles);
            const int sum = parseFlags(readAll(f.path(name)));
            for (int i = 1; i <= 50; ++i)
                f.window->volumeLabel(i)->setText(QString::number(i + sum % 2));
        });
        row("ShowTitle", ours, plain);
    }
    {
        f.hsbData()->setValue(1);
        const double ours = medianMs(runs * 10, {}, [&] { f.window->lblKan_Click(5); });
        const QString path = f.path(QStringLiteral("コミック第1集.TXT"));
        const QByteArray bytes = readAll(path);
        const double plain = medianMs(runs * 10, {}, [&] { saveBytes(path, bytes); });
        row("volume click to disk", ours, plain);
    }
    {
        f.dialogs.calls.clear();
        const double ours = medianMs(
            runs, [&] { f.dialogs.answerMessage(mb::No); }, [&] { f.window->cmdHozon_Click(); });
        const double plain = medianMs(runs, {}, [&] {
            QByteArray report;
            for (int i = 1; i <= Titles; ++i) {
                const QString name = QStringLiteral("コミック第%1集").arg(i);
                const QByteArray bytes = readAll(f.path(name + QStringLiteral(".txt").toUpper()));
                report += WindowFixture::sjis(name) + QByteArray::number(parseFlags(bytes)) + "\r\n";
            }
            saveBytes(f.path(QStringLiteral("plain-report.txt")), report);
        });
        row("report over all titles", ours, plain);
    }
    {
        // A count of 32767 makes 656 pieces: a fresh folder each run.
        std::unique_ptr<WindowFixture> g;
        const int few = std::max(1, runs / 5);
        const double ours = medianMs(
            few,
            [&] {
                g = std::make_unique<WindowFixture>();
                g->start();
                g->dialogs.answerInput(QStringLiteral("T"));
                g->dialogs.answerInput(QStringLiteral("32767"));
            },
            [&] { g->window->cmdNew_Click(); });
        const double plain = medianMs(
            few, [&] { g = std::make_unique<WindowFixture>(); },
            [&] {
                const QByteArray zeros = WindowFixture::flagFile({});
                for (int j = 1; j <= 656; ++j) {
                    const QByteArray name = "T(" + QByteArray::number((j - 1) * 50 + 1) + "_" +
                                            QByteArray::number(j < 656 ? j * 50 : 32767) + ")";
                    QFile list(g->path(QStringLiteral("データ.TXT")));
                    if (list.open(QIODevice::Append))
                        list.write("\"" + name + "\",50,0\r\n");
                    list.close();
                    saveBytes(g->path(QString::fromLatin1(name + ".TXT")), zeros);
                }
            });
        row("register 32767 volumes (656)", ours, plain);
    }
    return 0;
}
