#pragma once

#include "ui/Dialogs.h"

#include <QPointer>

class QWidget;

namespace kav {

class QtDialogs final : public Dialogs
{
public:
    QtDialogs() = default;
    // Dialogs are centred over this window once it exists.
    void setParentWindow(QWidget* window) { m_parent = window; }

    int MsgBox(const QString& prompt, int style, const QString& caption) override;
    QString InputBox(const QString& prompt, const QString& caption, const QString& defaultText) override;

private:
    QPointer<QWidget> m_parent;
};

} // namespace kav
