#include "ui/ChmHelpViewer.h"

#include "ChmViewerWindow.h"
#include "ui/ChmFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>

using namespace Qt::StringLiterals;

namespace kav {

ChmHelpViewer::ChmHelpViewer(QtPrinter* printer) : m_printer(printer) {}
ChmHelpViewer::~ChmHelpViewer() = default;

int ChmHelpViewer::HtmlHelpA(QWidget* owner, const QString& file, int command, quintptr)
{
    switch (command) {
    case HH_DISPLAY_TOPIC:
        return display(owner, file);
    case HH_CLOSE_ALL:
        return closeAll();
    default:
        return 0;
    }
}

QStringList ChmHelpViewer::searchFolders()
{
    const QString programFolder = QCoreApplication::applicationDirPath();
    return {QDir::currentPath(), programFolder, QDir::cleanPath(programFolder + u"/../share/kavurio"_s)};
}

QString ChmHelpViewer::locate(const QString& file)
{
    if (file.isEmpty())
        return {};
    const QFileInfo given(file);
    const QStringList folders = given.isAbsolute() ? QStringList{given.absolutePath()} : searchFolders();
    for (const QString& folder : folders) {
        const QFileInfo wanted(QDir(folder).filePath(file));
        if (wanted.isFile())
            return wanted.absoluteFilePath();
        const QDir dir = wanted.dir();
        const QStringList names = dir.entryList(QDir::Files | QDir::Hidden);
        for (const QString& name : names) {
            if (name.compare(wanted.fileName(), Qt::CaseInsensitive) == 0)
                return dir.absoluteFilePath(name);
        }
    }
    return {};
}

int ChmHelpViewer::display(QWidget* owner, const QString& file)
{
    // A file that is not there is no one's concern: the program offers help files
    // that may not be installed.
    const QString path = locate(file);
    if (path.isEmpty())
        return 0;
    const QString key = QFileInfo(path).canonicalFilePath();
    m_opened.removeIf([](const Opened& opened) { return opened.window.isNull(); });
    for (const Opened& opened : std::as_const(m_opened)) {
        if (opened.path == key) {
            opened.window->showDefaultTopic();
            opened.window->setWindowState(opened.window->windowState() & ~Qt::WindowMinimized);
            opened.window->show();
            opened.window->raise();
            opened.window->activateWindow();
            return 1;
        }
    }
    std::unique_ptr<ChmFile> chm = ChmFile::open(path);
    // A file that opens but has no page that can be read is as broken as one that does not open;
    // one with some readable pages is shown, and its window says what is missing.
    if (!chm || chm->defaultTopic().isEmpty()) {
        // A help file whose directory reads but none of whose pages do is damaged, not something else.
        const QString text = chm ? u"ヘルプファイル「%1」が壊れています。目次、索引とページのどれも読めませんでした。\n"
                                   "ヘルプファイルを入れ直して下さい。"_s
                                 : u"ヘルプファイル「%1」を読み込めませんでした。\n"
                                   "ファイルが壊れているか、ヘルプファイルではありません。"_s;
        // Not modal: the program goes on, as it does while a help window is open.
        auto* box = new QMessageBox(QMessageBox::Warning, u"ヘルプ"_s, text.arg(QFileInfo(path).fileName()),
                                    QMessageBox::Ok, owner);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::NonModal);
        box->show();
        return 0;
    }
    auto* window = new ChmViewerWindow(std::move(chm), owner, m_printer);
    m_opened.append({key, window});
    window->show();
    return 1;
}

int ChmHelpViewer::closeAll()
{
    int closed = 0;
    for (const Opened& opened : std::as_const(m_opened)) {
        if (!opened.window)
            continue;
        const bool visible = opened.window->isVisible();
        if (opened.window->close() && visible)
            ++closed;
    }
    m_opened.clear();
    return closed;
}

} // namespace kav
