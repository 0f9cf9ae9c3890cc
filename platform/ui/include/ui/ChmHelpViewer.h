#pragma once

#include "ui/HelpViewer.h"

#include <QList>
#include <QPointer>
#include <QStringList>

namespace kav {

class ChmViewerWindow;
class QtPrinter;

// Shows compiled HTML help files in windows of its own: a table of contents
// beside the pages, all read from inside the help file.
class ChmHelpViewer final : public HelpViewer
{
public:
    // Pages are printed on printer; without one the windows offer no printing.
    explicit ChmHelpViewer(QtPrinter* printer = nullptr);
    ~ChmHelpViewer() override;
    Q_DISABLE_COPY_MOVE(ChmHelpViewer)

    int HtmlHelpA(QWidget* owner, const QString& file, int command, quintptr data) override;

    // Where a bare file name is looked for, in this order: the current folder, the
    // program's folder and the installed data folder.
    static QStringList searchFolders();
    // The first file that file names there, letter case ignored; empty when none.
    static QString locate(const QString& file);

private:
    int display(QWidget* owner, const QString& file);
    int closeAll();

    struct Opened
    {
        QString path; // canonical, so two spellings of one file share a window
        QPointer<ChmViewerWindow> window;
    };
    QList<Opened> m_opened;
    QtPrinter* m_printer;
};

} // namespace kav
