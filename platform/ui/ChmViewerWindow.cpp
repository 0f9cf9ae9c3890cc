#include "ChmViewerWindow.h"

#include "ChmBrowser.h"
#include "FindBar.h"
#include "ui/ChmFile.h"
#include "ui/QtPrinter.h"

#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPainter>
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

enum class Drawn { Print, Find, ZoomIn, ZoomOut };

// What the toolbar shows where the desktop's icon theme has no picture: the style
// has none for these, as it has for back, forward and home.
QIcon drawnIcon(Drawn kind)
{
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor ink(0x40, 0x48, 0x58);
    painter.setPen(QPen(ink, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    if (kind == Drawn::Print) {
        painter.setBrush(Qt::white);
        painter.drawRect(18, 6, 28, 20);
        painter.setBrush(QColor(0xB0, 0xB8, 0xC8));
        painter.drawRoundedRect(6, 24, 52, 24, 4, 4);
        painter.setBrush(Qt::white);
        painter.drawRect(18, 40, 28, 18);
        return QIcon(pixmap);
    }
    painter.setBrush(QColor(0xE0, 0xF0, 0xFF));
    painter.drawEllipse(QPointF(26, 26), 18, 18);
    if (kind != Drawn::Find)
        painter.drawLine(QPointF(17, 26), QPointF(35, 26));
    if (kind == Drawn::ZoomIn)
        painter.drawLine(QPointF(26, 17), QPointF(26, 35));
    painter.setPen(QPen(ink, 9, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(40, 40), QPointF(56, 56));
    return QIcon(pixmap);
}

} // namespace

ChmViewerWindow::ChmViewerWindow(std::unique_ptr<ChmFile> chm, QWidget* owner, QtPrinter* printer)
    : QWidget(owner, Qt::Window), m_printer(printer)
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

    m_findBar = new FindBar(m_browser);
    // The keys named first, then every key the desktop binds to the standard action.
    const auto action = [this](const QString& name, const QString& text, QKeySequence::StandardKey standard,
                               const QList<QKeySequence>& own = {}) {
        auto* made = new QAction(text, this);
        made->setObjectName(name);
        // A key given twice (Ctrl+W is also the desktop's Close on some) would be ambiguous and do nothing.
        QList<QKeySequence> unique;
        for (const QKeySequence& key : own + QKeySequence::keyBindings(standard)) {
            if (!unique.contains(key))
                unique.append(key);
        }
        made->setShortcuts(unique);
        addAction(made);
        return made;
    };
    tools->addSeparator();
    QAction* printPage = action(u"print"_s, u"印刷"_s, QKeySequence::Print);
    printPage->setIcon(QIcon::fromTheme(u"document-print"_s, drawnIcon(Drawn::Print)));
    printPage->setToolTip(u"表示中のページを印刷します（Ctrl+P）"_s);
    printPage->setVisible(m_printer != nullptr);
    connect(printPage, &QAction::triggered, this, &ChmViewerWindow::print);
    QAction* findInPage = action(u"find"_s, u"ページ内検索"_s, QKeySequence::Find);
    findInPage->setIcon(QIcon::fromTheme(u"edit-find"_s, drawnIcon(Drawn::Find)));
    findInPage->setToolTip(u"表示中のページで言葉を探します（Ctrl+F）\n"
                           "次・前へ：F3・Shift+F3（入力欄では Enter・Shift+Enter）\n"
                           "Esc：検索バーを閉じます。もう一度押すか Ctrl+W でヘルプを閉じます"_s);
    connect(findInPage, &QAction::triggered, m_findBar, &FindBar::open);
    QAction* zoomIn = action(u"zoomIn"_s, u"拡大"_s, QKeySequence::ZoomIn,
                             {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)});
    zoomIn->setIcon(QIcon::fromTheme(u"zoom-in"_s, drawnIcon(Drawn::ZoomIn)));
    zoomIn->setToolTip(u"文字と画像を大きくします（Ctrl++、Ctrl+ホイール）\nCtrl+0 で元の大きさに戻ります"_s);
    connect(zoomIn, &QAction::triggered, this, [this] { m_browser->zoomBy(1); });
    QAction* zoomOut = action(u"zoomOut"_s, u"縮小"_s, QKeySequence::ZoomOut, {QKeySequence(Qt::CTRL | Qt::Key_Minus)});
    zoomOut->setIcon(QIcon::fromTheme(u"zoom-out"_s, drawnIcon(Drawn::ZoomOut)));
    zoomOut->setToolTip(u"文字と画像を小さくします（Ctrl+−、Ctrl+ホイール）\nCtrl+0 で元の大きさに戻ります"_s);
    connect(zoomOut, &QAction::triggered, this, [this] { m_browser->zoomBy(-1); });
    tools->addActions({printPage, findInPage, zoomIn, zoomOut});
    connect(action(u"zoomReset"_s, u"元の大きさ"_s, QKeySequence::UnknownKey, {QKeySequence(Qt::CTRL | Qt::Key_0)}),
            &QAction::triggered, this, [this] { m_browser->setZoom(1); });
    connect(action(u"findNext"_s, u"次を探す"_s, QKeySequence::FindNext, {QKeySequence(Qt::Key_F3)}),
            &QAction::triggered, m_findBar, &FindBar::next);
    connect(
        action(u"findPrevious"_s, u"前を探す"_s, QKeySequence::FindPrevious, {QKeySequence(Qt::SHIFT | Qt::Key_F3)}),
        &QAction::triggered, m_findBar, &FindBar::previous);
    connect(action(u"close"_s, u"閉じる"_s, QKeySequence::Close, {QKeySequence(Qt::CTRL | Qt::Key_W)}),
            &QAction::triggered, this, &QWidget::close);
    connect(action(u"escape"_s, u"閉じる"_s, QKeySequence::UnknownKey, {QKeySequence(Qt::Key_Escape)}),
            &QAction::triggered, this, &ChmViewerWindow::escape);

    auto* page = new QWidget;
    auto* pageLayout = new QVBoxLayout(page);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    pageLayout->setSpacing(0);
    pageLayout->addWidget(m_browser);
    pageLayout->addWidget(m_findBar);
    auto* splitter = new QSplitter;
    splitter->addWidget(m_tabs);
    splitter->addWidget(page);
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
    connect(m_keyword, &QLineEdit::returnPressed, this, &ChmViewerWindow::openFirstKeyword);
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

void ChmViewerWindow::openFirstKeyword()
{
    QListWidgetItem* item = m_keywords->currentItem();
    for (int i = 0; (!item || item->isHidden()) && i < m_keywords->count(); ++i)
        item = m_keywords->item(i);
    if (item && !item->isHidden())
        showListed(item);
}

void ChmViewerWindow::print()
{
    if (!m_printer)
        return;
    const std::unique_ptr<QTextDocument> page = m_browser->pageAsWritten();
    QString title = page->metaInformation(QTextDocument::DocumentTitle);
    if (title.isEmpty())
        title = windowTitle();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const Result<Printed> printed = m_printer->printDocument(*page, title);
    QApplication::restoreOverrideCursor();
    if (printed && !printed.value().held)
        return;
    // Said as the main window says it, without stopping the program.
    auto tell = [this](const QString& text) {
        auto* box = new QMessageBox(QMessageBox::Warning, u"印刷エラー"_s, text, QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::WindowModal);
        box->show();
    };
    if (!printed) {
        tell(u"印刷できませんでした。\n\n"_s + printed.error().message);
        return;
    }
    // A stopped queue holds it: printing again would print it twice once the queue starts.
    const HeldJob job = *printed.value().held;
    if (QMessageBox::question(this, u"印刷待ち"_s, HeldJobQuestion(job)) != QMessageBox::Yes)
        return;
    if (const Status cancelled = m_printer->cancel(job); !cancelled)
        tell(CancelFailure(job, cancelled.error()));
}

// The first Escape closes the find bar, the next one the window.
void ChmViewerWindow::escape()
{
    if (m_findBar->isVisible())
        m_findBar->dismiss();
    else
        close();
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
