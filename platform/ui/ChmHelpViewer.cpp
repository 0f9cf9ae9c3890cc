#include "ui/ChmHelpViewer.h"

#include "ui/ChmFile.h"

#include <QAction>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHash>
#include <QHeaderView>
#include <QIcon>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSplitter>
#include <QStyle>
#include <QTabWidget>
#include <QTextBoundaryFinder>
#include <QTextBrowser>
#include <QTextDocumentFragment>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace kav {

namespace {

const QString ChmScheme = u"chm"_s;

QUrl urlOf(const QString& objectPath)
{
    return QUrl(ChmScheme + u':' + objectPath);
}

QString escaped(const QString& text)
{
    return text.toHtmlEscaped();
}

// Qt's rich text applies only <link> tags typed text/css; browsers apply every
// rel="stylesheet" link whose type is missing or text/css, and no other. Each link
// is rewritten to what Qt needs for the same result.
QString browserStylesheets(const QString& html)
{
    static const QRegularExpression linkRe(u"<link\\b[^>]*>"_s, QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression attributeRe(uR"re(([A-Za-z_:-]+)\s*=\s*(?:"([^"]*)"|'([^']*)'|([^\s"'>]+)))re"_s);
    QString out;
    qsizetype last = 0;
    for (const QRegularExpressionMatch& link : linkRe.globalMatch(html)) {
        out += QStringView(html).mid(last, link.capturedStart() - last);
        last = link.capturedEnd();
        QHash<QString, QString> attributes;
        for (const QRegularExpressionMatch& a : attributeRe.globalMatch(link.captured()))
            attributes.insert(a.captured(1).toLower(), a.captured(2) + a.captured(3) + a.captured(4));
        const QStringList rel = attributes.value(u"rel"_s).toLower().split(u' ', Qt::SkipEmptyParts);
        const QString type = attributes.value(u"type"_s).trimmed().toLower();
        const QString href = attributes.value(u"href"_s);
        if (!rel.contains(u"stylesheet"_s) || rel.contains(u"alternate"_s) || href.isEmpty() ||
            !(type.isEmpty() || type == u"text/css"_s))
            continue; // not a sheet a browser would apply
        out += u"<link rel=\"stylesheet\" type=\"text/css\" href=\"%1\">"_s.arg(href.toHtmlEscaped());
    }
    out += QStringView(html).mid(last);
    return out;
}

// For the search: what a reader sees, folded so that full- and half-width forms
// and letter case do not matter.
QString searchForm(const QString& text)
{
    return text.normalized(QString::NormalizationForm_KC).toCaseFolded();
}

QString pageTitle(const QString& html)
{
    static const QRegularExpression titleRe(u"<title[^>]*>(.*?)</title>"_s,
                                            QRegularExpression::CaseInsensitiveOption |
                                                QRegularExpression::DotMatchesEverythingOption);
    return QTextDocumentFragment::fromHtml(titleRe.match(html).captured(1)).toPlainText().simplified();
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
        if (!bytes) {
            if (type == QTextDocument::HtmlResource)
                return missingPage(url.path());
            return {};
        }
        switch (type) {
        case QTextDocument::ImageResource: {
            const QImage image = QImage::fromData(*bytes);
            return image.isNull() ? QVariant() : QVariant(image);
        }
        case QTextDocument::HtmlResource:
            return browserStylesheets(m_chm->decode(*bytes));
        case QTextDocument::StyleSheetResource:
        case QTextDocument::MarkdownResource:
            return m_chm->decode(*bytes);
        default:
            return *bytes;
        }
    }

private:
    static QString missingPage(const QString& path)
    {
        return u"<html><body><h2>ページが見つかりません</h2><p>「%1」はこのヘルプファイルにありません。</p>"
               "<p>［戻る］で前のページに戻れます。</p></body></html>"_s.arg(escaped(path));
    }

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

void addKeywords(QListWidget* list, const std::vector<TocEntry>& entries, int depth)
{
    for (const TocEntry& entry : entries) {
        auto* item = new QListWidgetItem(QString(depth * 2, u' ') + entry.name, list);
        item->setData(Qt::UserRole, entry.local);
        addKeywords(list, entry.children, depth + 1);
    }
}

QTreeWidgetItem* findEntry(QTreeWidgetItem* item, const QString& path)
{
    const QString local = item->data(0, Qt::UserRole).toString();
    if (!local.isEmpty() && local.left(local.indexOf(u'#')).compare(path, Qt::CaseInsensitive) == 0)
        return item;
    for (int i = 0; i < item->childCount(); ++i) {
        if (QTreeWidgetItem* found = findEntry(item->child(i), path))
            return found;
    }
    return nullptr;
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

        m_tree = new QTreeWidget;
        m_tree->setObjectName(u"contents"_s);
        m_tree->header()->hide();
        addEntries(nullptr, m_tree, chm->contents());
        m_tree->expandAll();

        auto* index = new QWidget;
        m_keyword = new QLineEdit;
        m_keyword->setObjectName(u"keyword"_s);
        m_keyword->setPlaceholderText(u"キーワードを入力"_s);
        m_keywords = new QListWidget;
        m_keywords->setObjectName(u"keywords"_s);
        addKeywords(m_keywords, chm->keywords(), 0);
        auto* indexLayout = new QVBoxLayout(index);
        indexLayout->addWidget(m_keyword);
        indexLayout->addWidget(m_keywords);

        auto* search = new QWidget;
        m_query = new QLineEdit;
        m_query->setObjectName(u"query"_s);
        m_query->setPlaceholderText(u"探す言葉"_s);
        auto* find = new QPushButton(u"検索"_s);
        m_results = new QListWidget;
        m_results->setObjectName(u"results"_s);
        auto* searchLayout = new QVBoxLayout(search);
        auto* queryLayout = new QHBoxLayout;
        queryLayout->addWidget(m_query);
        queryLayout->addWidget(find);
        searchLayout->addLayout(queryLayout);
        searchLayout->addWidget(m_results);

        m_tabs = new QTabWidget;
        m_tabs->addTab(m_tree, u"目次"_s);
        m_tabs->addTab(index, u"索引"_s);
        m_tabs->addTab(search, u"検索"_s);

        m_browser = new ChmBrowser(std::move(chm), this);

        auto* tools = new QToolBar;
        tools->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        QAction* back = tools->addAction(style()->standardIcon(QStyle::SP_ArrowBack), u"戻る"_s, m_browser,
                                         &QTextBrowser::backward);
        QAction* forward = tools->addAction(style()->standardIcon(QStyle::SP_ArrowForward), u"進む"_s, m_browser,
                                            &QTextBrowser::forward);
        QAction* home = tools->addAction(QIcon::fromTheme(u"go-home"_s, style()->standardIcon(QStyle::SP_DirHomeIcon)),
                                         u"ホーム"_s, this, &ChmViewerWindow::showDefaultTopic);
        back->setObjectName(u"back"_s);
        forward->setObjectName(u"forward"_s);
        home->setObjectName(u"home"_s);
        back->setShortcut(QKeySequence::Back);
        forward->setShortcut(QKeySequence::Forward);
        back->setEnabled(false);
        forward->setEnabled(false);
        connect(m_browser, &QTextBrowser::backwardAvailable, back, &QAction::setEnabled);
        connect(m_browser, &QTextBrowser::forwardAvailable, forward, &QAction::setEnabled);

        auto* splitter = new QSplitter;
        splitter->addWidget(m_tabs);
        splitter->addWidget(m_browser);
        splitter->setStretchFactor(1, 1);
        splitter->setSizes({240, 560});
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        layout->addWidget(tools);
        layout->addWidget(splitter);
        resize(800, 600);

        // Not on currentItemChanged: the tree makes its first entry current when focused,
        // which would replace the default topic.
        connect(m_tree, &QTreeWidget::itemClicked, this, &ChmViewerWindow::showEntry);
        connect(m_tree, &QTreeWidget::itemActivated, this, &ChmViewerWindow::showEntry);
        connect(m_browser, &QTextBrowser::sourceChanged, this, &ChmViewerWindow::followInContents);
        connect(m_keyword, &QLineEdit::textChanged, this, &ChmViewerWindow::filterKeywords);
        connect(m_keywords, &QListWidget::itemClicked, this, &ChmViewerWindow::showListed);
        connect(m_keywords, &QListWidget::itemActivated, this, &ChmViewerWindow::showListed);
        connect(m_query, &QLineEdit::returnPressed, this, &ChmViewerWindow::runSearch);
        connect(find, &QPushButton::clicked, this, &ChmViewerWindow::runSearch);
        connect(m_results, &QListWidget::itemClicked, this, &ChmViewerWindow::showListed);
        connect(m_results, &QListWidget::itemActivated, this, &ChmViewerWindow::showListed);
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

    void showListed(QListWidgetItem* item)
    {
        const QString local = item->data(Qt::UserRole).toString();
        if (local.isEmpty())
            return;
        m_browser->showPage(local);
        // A search result opens at the first place the words stand.
        if (item->listWidget() == m_results && !m_lastQuery.isEmpty())
            selectFirst(searchForm(m_lastQuery));
    }

    // Selects the first match in the folded form of the page, mapped back grapheme by grapheme.
    void selectFirst(const QString& wanted)
    {
        const QString text = m_browser->document()->toPlainText();
        QString folded;
        QList<qsizetype> origin; // per folded character, where its grapheme starts in text
        QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, text);
        qsizetype start = 0;
        for (qsizetype next = graphemes.toNextBoundary(); next > 0; next = graphemes.toNextBoundary()) {
            const QString part = searchForm(text.mid(start, next - start));
            folded += part;
            origin.insert(origin.size(), part.size(), start);
            start = next;
        }
        origin.append(text.size());
        const qsizetype at = folded.indexOf(wanted);
        if (at < 0)
            return;
        qsizetype end = at + wanted.size();
        while (end < origin.size() - 1 && origin[end] == origin[end - 1])
            ++end; // the whole of the last grapheme
        QTextCursor cursor(m_browser->document());
        cursor.setPosition(int(origin[at]));
        cursor.setPosition(int(origin[end]), QTextCursor::KeepAnchor);
        m_browser->setTextCursor(cursor);
        m_browser->ensureCursorVisible();
    }

    // The contents show where the reader is, however the page was reached.
    void followInContents(const QUrl& url)
    {
        const QString path = url.path();
        for (int i = 0; i < m_tree->topLevelItemCount(); ++i) {
            if (QTreeWidgetItem* item = findEntry(m_tree->topLevelItem(i), path)) {
                m_tree->setCurrentItem(item);
                m_tree->scrollToItem(item);
                return;
            }
        }
        m_tree->clearSelection();
    }

    void filterKeywords(const QString& text)
    {
        const QString wanted = searchForm(text.trimmed());
        QListWidgetItem* first = nullptr;
        for (int i = 0; i < m_keywords->count(); ++i) {
            QListWidgetItem* item = m_keywords->item(i);
            const bool shown = searchForm(item->text()).contains(wanted);
            item->setHidden(!shown);
            if (shown && !first)
                first = item;
        }
        if (first)
            m_keywords->setCurrentItem(first);
    }

    // Full text over every page, as the reader sees it: no markup, any script.
    void runSearch()
    {
        m_results->clear();
        m_lastQuery = m_query->text().trimmed();
        const QString wanted = searchForm(m_lastQuery);
        if (wanted.isEmpty())
            return;
        if (m_pageTexts.isEmpty()) {
            const ChmFile& chm = m_browser->chm();
            const QStringList pages = chm.pages();
            for (const QString& page : pages) {
                const std::optional<QByteArray> bytes = chm.read(page);
                if (!bytes)
                    continue;
                const QString html = chm.decode(*bytes);
                QString title = pageTitle(html);
                if (title.isEmpty())
                    title = page;
                m_pageTexts.append(
                    {page, title, searchForm(QTextDocumentFragment::fromHtml(html).toPlainText() + u' ' + title)});
            }
        }
        for (const PageText& page : std::as_const(m_pageTexts)) {
            if (page.text.contains(wanted)) {
                auto* item = new QListWidgetItem(page.title, m_results);
                item->setData(Qt::UserRole, page.path);
            }
        }
        if (m_results->count() == 0)
            new QListWidgetItem(u"見つかりませんでした。"_s, m_results);
    }

    struct PageText
    {
        QString path;
        QString title;
        QString text;
    };

    ChmBrowser* m_browser;
    QTreeWidget* m_tree;
    QTabWidget* m_tabs;
    QLineEdit* m_keyword;
    QListWidget* m_keywords;
    QLineEdit* m_query;
    QListWidget* m_results;
    QString m_lastQuery;
    QList<PageText> m_pageTexts; // read at the first search
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
    // A file that opens but whose first page cannot be read is as broken as one that does not open.
    if (!chm || chm->defaultTopic().isEmpty() || !chm->read(chm->defaultTopic())) {
        // Not modal: the program goes on, as it does while a help window is open.
        auto* box =
            new QMessageBox(QMessageBox::Warning, u"ヘルプ"_s,
                            u"ヘルプファイル「%1」を読み込めませんでした。\n"
                            "ファイルが壊れているか、ヘルプファイルではありません。"_s.arg(QFileInfo(path).fileName()),
                            QMessageBox::Ok, owner);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::NonModal);
        box->show();
        return 0;
    }
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
