#pragma once

#include "HelpSearch.h"

#include <QWidget>

#include <memory>

class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QProgressBar;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace kav {

class ChmBrowser;
class ChmFile;
class FindBar;
class QtPrinter;

// One help file in a window of its own: contents, keyword index and search beside
// the page, with back, forward and home, printing, finding in the page and zoom.
class ChmViewerWindow final : public QWidget
{
public:
    // Without a printer there is no printing.
    ChmViewerWindow(std::unique_ptr<ChmFile> chm, QWidget* owner, QtPrinter* printer = nullptr);
    ~ChmViewerWindow() override;

    void showDefaultTopic();

private:
    void showEntry(QTreeWidgetItem* item);
    void showListed(QListWidgetItem* item);
    void selectFirst(const QString& wanted);
    void followInContents(const QUrl& url);
    void filterKeywords(const QString& text);
    void runSearch();
    void openFirstKeyword();
    void print();
    void escape();
    void searchProgressed();
    void showDamage();

    ChmBrowser* m_browser;
    FindBar* m_findBar;
    QtPrinter* m_printer;
    QTreeWidget* m_tree;
    QTabWidget* m_tabs;
    QLineEdit* m_keyword;
    QListWidget* m_keywords;
    QLineEdit* m_query;
    QListWidget* m_results;
    QLabel* m_searchStatus;
    QProgressBar* m_searchProgress;
    QLabel* m_damage;
    QString m_lastQuery;
    qsizetype m_searchedPages = 0;
    std::unique_ptr<HelpSearch> m_search;
};

} // namespace kav
