#include "ui/QtDialogs.h"

#include <QAbstractButton>
#include <QClipboard>
#include <QEvent>
#include <QGuiApplication>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QList>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>

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

// The program speaks Japanese whatever the desktop's locale.
QString buttonText(QMessageBox::StandardButton button)
{
    switch (button) {
    case QMessageBox::Ok:
        return QStringLiteral("OK");
    case QMessageBox::Cancel:
        return QStringLiteral("キャンセル");
    case QMessageBox::Abort:
        return QStringLiteral("中止");
    case QMessageBox::Retry:
        return QStringLiteral("再試行");
    case QMessageBox::Ignore:
        return QStringLiteral("無視");
    case QMessageBox::Yes:
        return QStringLiteral("はい");
    case QMessageBox::No:
        return QStringLiteral("いいえ");
    default:
        return {};
    }
}

// QMessageBox wraps any text wider than half the screen (at most 500 px), which
// breaks the lines a prompt was written in. Its lines stay whole as long as the
// box still fits on the screen.
class UnwrappedMessageBox final : public QMessageBox
{
public:
    using QMessageBox::QMessageBox;

protected:
    void showEvent(QShowEvent* event) override
    {
        QMessageBox::showEvent(event);
        auto* label = findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
        if (!label || !label->wordWrap())
            return;
        label->setWordWrap(false);
        layout()->invalidate();
        const QSize wanted = layout()->totalMinimumSize().expandedTo(layout()->totalSizeHint());
        const QRect screenArea = screen() ? screen()->availableGeometry() : QRect();
        if (screenArea.isValid() && wanted.width() > screenArea.width() - 40) {
            label->setWordWrap(true);
            return;
        }
        m_unwrapped = true;
        setFixedSize(wanted);
    }

    // Ctrl+C copies the caption and the message, as on Windows: file names it lists can be pasted elsewhere.
    void keyPressEvent(QKeyEvent* event) override
    {
        if (!event->matches(QKeySequence::Copy))
            return QMessageBox::keyPressEvent(event);
        QGuiApplication::clipboard()->setText(windowTitle() + QLatin1Char('\n') + text());
    }

    bool event(QEvent* event) override
    {
        // QMessageBox sizes itself again on every layout request, wrapping again.
        if (m_unwrapped && event->type() == QEvent::LayoutRequest)
            return QDialog::event(event);
        return QMessageBox::event(event);
    }

private:
    bool m_unwrapped = false;
};

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
    UnwrappedMessageBox box(m_parent);
    box.setWindowTitle(caption);
    // Titles may hold "<" and must show as typed.
    box.setTextFormat(Qt::PlainText);
    box.setText(shownText(prompt));
    box.setIcon(icon(style));
    for (QMessageBox::StandardButton button : set.buttons)
        box.addButton(button)->setText(buttonText(button));
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
    dialog.setOkButtonText(QStringLiteral("OK"));
    dialog.setCancelButtonText(QStringLiteral("キャンセル"));
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    return dialog.textValue();
}

} // namespace kav
