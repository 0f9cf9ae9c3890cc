#include "ChmViewerWindow.h"

#include "ChmBrowser.h"
#include "ui/ChmFile.h"

#include <QAction>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QStyle>
#include <QTabWidget>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace kav {
namespace {

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

ChmViewerWindow::ChmViewerWindow(std::unique_ptr<ChmFile> chm, QWidget* owner) : QWidget(owner, Qt::Window)
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
    m_searchProgress = new QProgressBar;
    m_searchProgress->setObjectName(u"searchProgress"_s);
    m_searchProgress->setFormat(u"%v／%m ページ"_s);
    m_searchProgress->hide();
    m_searchStatus = new QLabel;
    m_searchStatus->setObjectName(u"searchStatus"_s);
    m_searchStatus->setWordWrap(true);
    m_searchStatus->hide();
    auto* searchLayout = new QVBoxLayout(search);
    auto* queryLayout = new QHBoxLayout;
    queryLayout->addWidget(m_query);
    queryLayout->addWidget(find);
    searchLayout->addLayout(queryLayout);
    searchLayout->addWidget(m_searchProgress);
    searchLayout->addWidget(m_searchStatus);
    searchLayout->addWidget(m_results);

    m_tabs = new QTabWidget;
    m_tabs->addTab(m_tree, u"目次"_s);
    m_tabs->addTab(index, u"索引"_s);
    m_tabs->addTab(search, u"検索"_s);

    m_browser = new ChmBrowser(std::move(chm), this);
    m_search = std::make_unique<HelpSearch>(m_browser->chm().path());
    m_search->onProgress = [this] { searchProgressed(); };
    // Reading starts when the reader turns to the search, so the words typed meet pages already read.
    connect(m_tabs, &QTabWidget::currentChanged, this, [this, search] {
        if (m_tabs->currentWidget() == search && !m_search->started()) {
            m_search->start();
            searchProgressed();
        }
    });

    auto* tools = new QToolBar;
    tools->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    QAction* back =
        tools->addAction(style()->standardIcon(QStyle::SP_ArrowBack), u"戻る"_s, m_browser, &QTextBrowser::backward);
    QAction* forward =
        tools->addAction(style()->standardIcon(QStyle::SP_ArrowForward), u"進む"_s, m_browser, &QTextBrowser::forward);
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
    m_damage = new QLabel;
    m_damage->setObjectName(u"damage"_s);
    m_damage->setWordWrap(true);
    m_damage->setStyleSheet(u"QLabel { background: #fff4c0; color: #503000; padding: 4px 8px; }"_s);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(tools);
    layout->addWidget(m_damage);
    layout->addWidget(splitter, 1);
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
    showDamage();
    showDefaultTopic();
}

ChmViewerWindow::~ChmViewerWindow() = default;

void ChmViewerWindow::showDefaultTopic()
{
    m_browser->showPage(m_browser->chm().defaultTopic());
}

void ChmViewerWindow::showEntry(QTreeWidgetItem* item)
{
    const QString local = item->data(0, Qt::UserRole).toString();
    if (!local.isEmpty() && ChmBrowser::urlOf(local) != m_browser->source())
        m_browser->showPage(local);
}

void ChmViewerWindow::showListed(QListWidgetItem* item)
{
    const QString local = item->data(Qt::UserRole).toString();
    if (local.isEmpty())
        return;
    m_browser->showPage(local);
    // A search result opens at the first place the words stand.
    if (item->listWidget() == m_results && !m_lastQuery.isEmpty())
        selectFirst(searchForm(m_lastQuery));
}

void ChmViewerWindow::selectFirst(const QString& wanted)
{
    const auto found = findFolded(m_browser->document()->toPlainText(), wanted);
    if (!found)
        return;
    QTextCursor cursor(m_browser->document());
    cursor.setPosition(int(found->first));
    cursor.setPosition(int(found->second), QTextCursor::KeepAnchor);
    m_browser->setTextCursor(cursor);
    m_browser->ensureCursorVisible();
}

// The contents show where the reader is, however the page was reached.
void ChmViewerWindow::followInContents(const QUrl& url)
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

void ChmViewerWindow::filterKeywords(const QString& text)
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

void ChmViewerWindow::runSearch()
{
    m_results->clear();
    m_searchedPages = 0;
    m_lastQuery = m_query->text().trimmed();
    if (!searchForm(m_lastQuery).isEmpty())
        m_search->start();
    searchProgressed();
}

// Brings the results up to the pages read since the last look, and tells how far it got.
void ChmViewerWindow::searchProgressed()
{
    const HelpSearch::Progress progress = m_search->progress();
    const qsizetype read = m_search->pagesRead();
    m_searchProgress->setVisible(m_search->started() && !progress.done);
    m_searchProgress->setMaximum(int(std::max<qsizetype>(progress.total, 0)));
    m_searchProgress->setValue(int(read + progress.unreadable));
    const bool searching = !searchForm(m_lastQuery).isEmpty();
    if (searching) {
        const QList<HelpSearch::Hit> hits = m_search->find(m_lastQuery, m_searchedPages);
        for (const HelpSearch::Hit& hit : hits) {
            auto* item = new QListWidgetItem(hit.title, m_results);
            item->setData(Qt::UserRole, hit.path);
            item->setToolTip(hit.path);
        }
    }
    m_searchedPages = read;
    QStringList status;
    if (searching && m_results->count() > 0)
        status << u"%1件見つかりました。"_s.arg(m_results->count());
    else if (searching && progress.done)
        status << u"見つかりませんでした。"_s;
    if (searching && !progress.done)
        status << u"残りのページを探しています…"_s;
    if (progress.unreadable > 0) {
        status << u"読めないページが%1件あり、その中は探せませんでした。"_s.arg(progress.unreadable);
        showDamage();
    }
    m_searchStatus->setText(status.join(u'\n'));
    m_searchStatus->setVisible(!status.isEmpty());
}

// What a damaged file could not give is said above the page; what it could is shown as usual.
void ChmViewerWindow::showDamage()
{
    const ChmFile::Damage damage = m_browser->chm().damage();
    const bool pages = damage.pages || m_search->progress().unreadable > 0;
    QStringList parts;
    if (damage.contents)
        parts << u"目次"_s;
    if (damage.index)
        parts << u"索引"_s;
    if (pages)
        parts << u"一部のページ"_s;
    m_damage->setVisible(!parts.isEmpty());
    if (parts.isEmpty())
        return;
    const QString last = parts.takeLast();
    QString text = u"ヘルプファイル「%1」が壊れています。%2を読めませんでした。"_s.arg(
        QFileInfo(m_browser->chm().path()).fileName(), parts.isEmpty() ? last : parts.join(u'、') + u'と' + last);
    if (pages)
        text += u"読めないページは表示も検索もできません。"_s;
    m_damage->setText(text + u"ヘルプファイルを入れ直して下さい。"_s);
}

} // namespace kav
