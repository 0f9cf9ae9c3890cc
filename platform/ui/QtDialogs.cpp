#include "ui/QtDialogs.h"

#include <QInputDialog>
#include <QLabel>
#include <QList>
#include <QMessageBox>

#include <algorithm>

namespace kav {
namespace {

struct ButtonSet
{
    QList<QMessageBox::StandardButton> buttons; // in the order they are counted for the default
    QMessageBox::StandardButton escape;
};

// The low three bits of a style pick the buttons; the result numbers follow them.
ButtonSet buttonSet(int style)
{
    using B = QMessageBox;
    switch (style & 0x7) {
    case 1:
        return {{B::Ok, B::Cancel}, B::Cancel};
    case 2:
        return {{B::Abort, B::Retry, B::Ignore}, B::Abort};
    case 3:
        return {{B::Yes, B::No, B::Cancel}, B::Cancel};
    case 4:
        return {{B::Yes, B::No}, B::No};
    case 5:
        return {{B::Retry, B::Cancel}, B::Cancel};
    default:
        return {{B::Ok}, B::Ok};
    }
}

QMessageBox::Icon icon(int style)
{
    switch (style & 0x70) {
    case 16:
        return QMessageBox::Critical;
    case 32:
        return QMessageBox::Question;
    case 48:
        return QMessageBox::Warning;
    case 64:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

int result(QMessageBox::StandardButton button)
{
    switch (button) {
    case QMessageBox::Ok:
        return 1;
    case QMessageBox::Cancel:
        return 2;
    case QMessageBox::Abort:
        return 3;
    case QMessageBox::Retry:
        return 4;
    case QMessageBox::Ignore:
        return 5;
    case QMessageBox::Yes:
        return 6;
    case QMessageBox::No:
        return 7;
    default:
        return 2;
    }
}

QString shownText(const QString& text)
{
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return shown;
}

} // namespace

int QtDialogs::MsgBox(const QString& prompt, int style, const QString& caption)
{
    const ButtonSet set = buttonSet(style);
    QMessageBox box(m_parent);
    box.setWindowTitle(caption);
    // Titles may hold "<" and must show as typed.
    box.setTextFormat(Qt::PlainText);
    box.setText(shownText(prompt));
    box.setIcon(icon(style));
    for (QMessageBox::StandardButton button : set.buttons)
        box.addButton(button);
    // Bits 8 and 9 move the default from the first button to the second or third.
    const qsizetype defaultIndex = std::min<qsizetype>((style >> 8) & 0x3, set.buttons.size() - 1);
    box.setDefaultButton(set.buttons[defaultIndex]);
    // Escape and the close box answer like the cancelling button.
    box.setEscapeButton(set.escape);
    box.exec();

    const QMessageBox::StandardButton pressed = box.standardButton(box.clickedButton());
    return result(pressed == QMessageBox::NoButton ? set.escape : pressed);
}

QString QtDialogs::InputBox(const QString& prompt, const QString& caption, const QString& defaultText)
{
    QInputDialog dialog(m_parent);
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setWindowTitle(caption);
    dialog.setLabelText(shownText(prompt));
    for (QLabel* label : dialog.findChildren<QLabel*>())
        label->setTextFormat(Qt::PlainText);
    dialog.setTextValue(defaultText);
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    return dialog.textValue();
}

} // namespace kav
