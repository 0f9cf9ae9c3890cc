#include "frmMain.h"

#include "core/Clock.h"
#include "core/DiskFileService.h"
#include "core/FileWatcher.h"
#include "ui/ChmHelpViewer.h"
#include "ui/QtDialogs.h"
#include "ui/QtPrinter.h"

#include <QApplication>
#include <QScreen>

int main(int argc, char* argv[])
{
    // Past the file-size limit a write fails and is reported; the signal would end the program mid-save.
    kav::IgnoreFileSizeSignal();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kavurio"));

    kav::QtDialogs dialogs;
    kav::DiskFileService files;
    kav::QtPrinter printer;
    kav::ChmHelpViewer help;
    kav::SystemClock clock;
    kav::DiskFileWatcher watcher;

    kav::frmMain window({dialogs, files, printer, help, clock, &watcher});
    dialogs.setParentWindow(&window);
    window.move(window.screen()->availableGeometry().center() - window.rect().center());
    window.show();
    return app.exec();
}
