#include "ui/ChmHelpViewer.h"

#include "ui/ChmFile.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImage>
#include <QSplitter>
#include <QTextBrowser>
#include <QTreeWidget>

using namespace Qt::StringLiterals;

namespace kav {

namespace {

const QString ChmScheme = u"chm"_s;

QUrl urlOf(const QString& objectPath)
{
    return QUrl(ChmScheme + u':' + objectPath);
}

// Reads pages, pictures and stylesheets from the help file and nowhere else.
class ChmBrowser final : public QTextBrowser
{
public:
    ChmBrowser(std::unique_ptr<ChmFile> chm, QWidget* parent) : QTextBrowser(parent), m_chm(std::move(chm))
    {
        setOpenLinks(false);
        connect(this, &QTextBrowser::anchorClicked, this, &ChmBrowser::follow);
    }

    const ChmFile& chm() const { return *m_chm; }

    void showPage(const QString& link)
    {
        const QString path = ChmFile::normalizePath(link);
        if (path.startsWith(u'/'))
            setSource(urlOf(path));
    }

    QVariant loadResource(int type, const QUrl& name) override
    {
        const QUrl url = name.isRelative() ? source().resolved(name) : name;
        if (url.scheme() != ChmScheme)
            return {};
        const std::optional<QByteArray> bytes = m_chm->read(url.path());
        if (!bytes)
            return {};
        switch (type) {
        case QTextDocument::ImageResource: {
            const QImage image = QImage::fromData(*bytes);
            return image.isNull() ? QVariant() : QVariant(image);
        }
        case QTextDocument::HtmlResource:
        case QTextDocument::StyleSheetResource:
        case QTextDocument::MarkdownResource:
            return m_chm->decode(*bytes);
        default:
            return *bytes;
        }
    }

private:
    void follow(const QUrl& url)
    {
        if (url.scheme() == ChmScheme) {
            setSource(url);
        } else if (url.toString().contains(u"::"_s)) {
            // An ms-its: link into this same file; links into other help files are not followed.
            const QString path = ChmFile::normalizePath(url.toString());
            if (m_chm->contains(path.left(path.indexOf(u'#'))))
                showPage(path);
        } else if (const QString scheme = url.scheme();
                   scheme == u"http"_s || scheme == u"https"_s || scheme == u"mailto"_s) {
            QDesktopServices::openUrl(url);
        }
    }

    std::unique_ptr<ChmFile> m_chm;
};

void addEntries(QTreeWidgetItem* parent, QTreeWidget* tree, const std::vector<TocEntry>& entries)
{
    for (const TocEntry& entry : entries) {
        auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tree);
        item->setText(0, entry.name);
        item->setData(0, Qt::UserRole, entry.local);
        addEntries(item, tree, entry.children);
    }
}

} // namespace

class ChmViewerWindow final : public QWidget
{
public:
    ChmViewerWindow(std::unique_ptr<ChmFile> chm, QWidget* owner) : QWidget(owner, Qt::Window)
    {
        setAttribute(Qt::WA_DeleteOnClose);
        const QString title = chm->title();
        setWindowTitle(title.isEmpty() ? QFileInfo(chm->path()).fileName() : title);

        auto* tree = new QTreeWidget;
        tree->header()->hide();
        addEntries(nullptr, tree, chm->contents());
        tree->expandAll();
        m_browser = new ChmBrowser(std::move(chm), this);

        auto* splitter = new QSplitter;
        splitter->addWidget(tree);
        splitter->addWidget(m_browser);
        splitter->setStretchFactor(1, 1);
        splitter->setSizes({220, 580});
        auto* layout = new QHBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(splitter);
        resize(800, 600);

        // Not on currentItemChanged: the tree makes its first entry current when focused,
        // which would replace the default topic.
        connect(tree, &QTreeWidget::itemClicked, this, &ChmViewerWindow::showEntry);
        connect(tree, &QTreeWidget::itemActivated, this, &ChmViewerWindow::showEntry);
        showDefaultTopic();
    }

    void showDefaultTopic() { m_browser->showPage(m_browser->chm().defaultTopic()); }

private:
    void showEntry(QTreeWidgetItem* item)
    {
        const QString local = item->data(0, Qt::UserRole).toString();
        if (!local.isEmpty() && urlOf(local) != m_browser->source())
            m_browser->showPage(local);
    }

    ChmBrowser* m_browser;
};

ChmHelpViewer::ChmHelpViewer() = default;
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
    if (!chm)
        return 0;
    auto* window = new ChmViewerWindow(std::move(chm), owner);
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
