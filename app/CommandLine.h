#pragma once

#include <QByteArray>
#include <QString>

namespace kav {

// What the program was asked on its command line. Read before any window exists, so
// --help and --version answer without a display and without touching a folder.
struct Invocation
{
    enum Action { Run, Help, Version, Refuse } action = Run;
    QByteArray folder; // the folder to open, as the system spells it; empty: the current one
    QString problem;   // for Refuse: what was wrong, one line
};

Invocation ParseCommandLine(int argc, const char* const argv[]);
QString UsageText();

} // namespace kav
