#include "Accessibility.h"
#include "CommandLine.h"
#include "frmMain.h"

#include "core/Clock.h"
#include "core/Codec.h"
#include "core/DiskFileService.h"
#include "core/FileWatcher.h"
#include "ui/ChmHelpViewer.h"
#include "ui/QtDialogs.h"
#include "ui/QtPrinter.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QScreen>
#include <QTranslator>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <future>

#include <unistd.h>

namespace {

void say(std::FILE* to, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), to);
}

} // namespace

int main(int argc, char* argv[])
{
    const kav::Invocation asked = kav::ParseCommandLine(argc, argv);
    switch (asked.action) {
    case kav::Invocation::Help:
        say(stdout, kav::UsageText());
        return 0;
    case kav::Invocation::Version:
        say(stdout, QStringLiteral("kavurio " KAVURIO_VERSION "\n"));
        return 0;
    case kav::Invocation::Refuse:
        say(stderr, QStringLiteral("kavurio: %1\n詳しくは kavurio --help を見て下さい。\n").arg(asked.problem));
        return 2;
    case kav::Invocation::Run:
        break;
    }
    // The program keeps its files in the folder it runs in.
    if (!asked.folder.isEmpty() && ::chdir(asked.folder.constData()) != 0) {
        say(stderr, QStringLiteral("kavurio: フォルダー「%1」を開けません（%2）。\n")
                        .arg(QString::fromLocal8Bit(asked.folder), QString::fromLocal8Bit(std::strerror(errno))));
        return 1;
    }
    // Past the file-size limit a write fails and is reported; the signal would end the program mid-save.
    kav::IgnoreFileSizeSignal();
    // The first use of the code page converter loads ICU's tables, a few milliseconds:
    // done beside the building of the window instead of before the list can be read.
    auto warmConverter = std::async(std::launch::async, [] { (void)kav::cp932::canEncode(u"ア"); });
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kavurio"));
    // Lets a Wayland compositor match the window with kavurio.desktop and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("kavurio"));

    // Qt's own texts (the edit menu of the text fields) in Japanese, like the
    // rest of the program, whatever the desktop's language.
    QTranslator qtTexts;
    if (qtTexts.load(QLocale(QLocale::Japanese, QLocale::Japan), QStringLiteral("qtbase"), QStringLiteral("_"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTexts);

    // Before the first widget: with a screen reader running, Qt describes each
    // widget as soon as it exists.
    kav::accessibility::install();

    kav::QtDialogs dialogs;
    kav::DiskFileService files;
    kav::QtPrinter printer;
    kav::ChmHelpViewer help(&printer);
    kav::SystemClock clock;
    kav::DiskFileWatcher watcher;

    kav::frmMain window({dialogs, files, printer, help, clock, &watcher});
    dialogs.setParentWindow(&window);
    window.move(window.screen()->availableGeometry().center() - window.rect().center());
    window.show();
    return app.exec();
}
