#pragma once

#include "ui/HelpViewer.h"

#include <QList>
#include <QPointer>
#include <QWidget>

namespace kav::test {

class RecordingHelpViewer final : public HelpViewer
{
public:
    struct Call
    {
        QPointer<QWidget> owner;
        QString file;
        int command;
        quintptr data;
    };

    int HtmlHelpA(QWidget* owner, const QString& file, int command, quintptr data) override
    {
        calls.append({owner, file, command, data});
        return 0;
    }

    QList<Call> calls;
};

} // namespace kav::test
