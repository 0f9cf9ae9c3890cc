#pragma once

namespace kav {

class Clock;
class Dialogs;
class FileService;
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
};

} // namespace kav
