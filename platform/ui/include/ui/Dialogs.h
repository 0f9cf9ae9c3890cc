#pragma once

#include <QString>

namespace kav {

// Message box styles and results, with the numbers the handlers are written in.
namespace mb {
constexpr int OKOnly = 0;
constexpr int OKCancel = 1;
constexpr int YesNo = 4;
constexpr int Question = 32;
constexpr int Exclamation = 48;
constexpr int Information = 64;

constexpr int OK = 1;
constexpr int Cancel = 2;
constexpr int Yes = 6;
constexpr int No = 7;
} // namespace mb

class Dialogs
{
public:
    virtual ~Dialogs() = default;
    // Modal over the main window; prompt may hold CR LF. Returns the button pressed
    // (mb::OK, mb::Cancel, mb::Yes, mb::No); closing the box counts as Cancel or No.
    virtual int MsgBox(const QString& prompt, int style, const QString& caption) = 0;
    // OK returns the edited text, Cancel or closing returns the empty text.
    virtual QString InputBox(const QString& prompt, const QString& caption, const QString& defaultText) = 0;
};

} // namespace kav
