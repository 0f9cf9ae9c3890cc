#include "frmMain.h"

#include "ui_frmMain.h"

#include "Messages.h"

#include <QShortcut>

// The keys a desktop program answers to, each doing what its button does.
namespace kav {

void frmMain::connectKeys()
{
    // The desktop's own bindings where it has them; on a platform without one, the usual key.
    const struct
    {
        QKeySequence::StandardKey key;
        QKeyCombination usual;
        QToolButton* button;
        void (frmMain::*handler)();
    } keys[] = {
        {QKeySequence::New, Qt::CTRL | Qt::Key_N, ui->cmdNew, &frmMain::cmdNew_Click},
        // A text field that has the focus takes Delete itself, before any shortcut.
        {QKeySequence::Delete, Qt::Key_Delete, ui->cmdDel, &frmMain::cmdDel_Click},
        {QKeySequence::Print, Qt::CTRL | Qt::Key_P, ui->cmdPrint, &frmMain::cmdPrint_Click},
        {QKeySequence::HelpContents, Qt::Key_F1, ui->cmdHelp, &frmMain::cmdHelp_Click},
        {QKeySequence::Quit, Qt::CTRL | Qt::Key_Q, ui->cmdEnd, &frmMain::cmdEnd_Click},
    };
    for (const auto& k : keys) {
        QList<QKeySequence> bindings = QKeySequence::keyBindings(k.key);
        if (bindings.isEmpty())
            bindings = {QKeySequence(k.usual)};
        auto* shortcut = new QShortcut(this);
        shortcut->setKeys(bindings);
        connect(shortcut, &QShortcut::activated, this, k.handler);
        const QString text = bindings.first().toString(QKeySequence::NativeText);
        k.button->setToolTip(k.button->toolTip() + QLatin1Char('\n') + words::keyTip(text));
    }
}

} // namespace kav
