#pragma once

namespace kav {

class Clock;
class Dialogs;
class FileService;
class FileWatcher;
class HelpViewer;
class Printer;

// Everything frmMain needs from the platform, handed in so a test can script it.
struct Services
{
    Dialogs& dialogs;
    FileService& files;
    Printer& printer;
    HelpViewer& help;
    const Clock& clock;
    // Tells the window when the files it shows may have changed; none: it does not follow.
    FileWatcher* watcher = nullptr;
};

} // namespace kav
