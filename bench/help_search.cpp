// Times the help viewer's full-text search on a help file: from Enter to the first hit
// and to the last, and the longest the window's thread went without serving its events
// meanwhile (what a user feels as a frozen window). Not a test: it prints figures.
// Usage: help_search FILE.chm WORDS [WORDS...]   (each WORDS is searched in turn, in one window)
#include "ui/ChmHelpViewer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: help_search FILE.chm WORDS [WORDS...]\n");
        return 2;
    }
    QWidget owner;
    kav::ChmHelpViewer viewer;
    QElapsedTimer clock;
    clock.start();
    if (viewer.HtmlHelpA(&owner, QString::fromLocal8Bit(argv[1]), kav::HH_DISPLAY_TOPIC, 0) == 0) {
        std::fprintf(stderr, "help_search: cannot show %s\n", argv[1]);
        return 1;
    }
    std::printf("%s, %d logical cores, Qt %s\nwindow shown in %lld ms\n", argv[1], QThread::idealThreadCount(),
                qVersion(), clock.elapsed());
    // Closing while the pages are read: the reading stops and is waited for.
    if (auto* early = owner.findChild<QLineEdit*>(QStringLiteral("query"))) {
        early->setText(QString::fromLocal8Bit(argv[2]));
        Q_EMIT early->returnPressed();
        QElapsedTimer reading;
        reading.start();
        while (reading.elapsed() < 1000)
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        clock.restart();
        delete early->window();
        std::printf("window closed while reading in %lld ms\n", clock.elapsed());
        clock.restart();
        viewer.HtmlHelpA(&owner, QString::fromLocal8Bit(argv[1]), kav::HH_DISPLAY_TOPIC, 0);
        std::printf("window shown again in %lld ms\n", clock.elapsed());
    }
    auto* query = owner.findChild<QLineEdit*>(QStringLiteral("query"));
    auto* results = owner.findChild<QListWidget*>(QStringLiteral("results"));
    auto* progress = owner.findChild<QProgressBar*>(QStringLiteral("searchProgress"));
    if (!query || !results)
        return 1;

    // The longest stretch between two turns of the event loop.
    QElapsedTimer sinceBeat;
    qint64 longestGap = 0;
    QTimer beat;
    beat.setInterval(2);
    QObject::connect(&beat, &QTimer::timeout, [&] { longestGap = std::max(longestGap, sinceBeat.restart()); });
    const auto hasHit = [&] { return results->count() > 0 && !results->item(0)->data(Qt::UserRole).isNull(); };
    const auto busy = [&] { return progress && !progress->isHidden(); };

    std::printf("%-24s %14s %14s %14s %6s\n", "words", "first hit ms", "all hits ms", "longest gap ms", "hits");
    for (int i = 2; i < argc; ++i) {
        const QString words = QString::fromLocal8Bit(argv[i]);
        query->setText(words);
        longestGap = 0;
        sinceBeat.start();
        beat.start();
        clock.restart();
        Q_EMIT query->returnPressed();
        qint64 first = hasHit() ? clock.elapsed() : -1;
        while (busy() || (first < 0 && results->count() == 0)) {
            QApplication::processEvents(QEventLoop::AllEvents, 5);
            if (first < 0 && hasHit())
                first = clock.elapsed();
        }
        const qint64 all = clock.elapsed();
        longestGap = std::max(longestGap, sinceBeat.elapsed());
        beat.stop();
        int hits = 0;
        for (int r = 0; r < results->count(); ++r)
            hits += results->item(r)->data(Qt::UserRole).isNull() ? 0 : 1;
        std::printf("%-24s %14lld %14lld %14lld %6d\n", argv[i], first, all, longestGap, hits);
        for (int r = 0; r < std::min(3, results->count()); ++r)
            std::printf("    %s\n", qPrintable(results->item(r)->text()));
        std::fflush(stdout);
    }
    return 0;
}
