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

// One help file in a window of its own: contents, keyword index and search beside
// the page, with back, forward and home.
class ChmViewerWindow final : public QWidget
{
public:
    ChmViewerWindow(std::unique_ptr<ChmFile> chm, QWidget* owner);
    ~ChmViewerWindow() override;

    void showDefaultTopic();

private:
    void showEntry(QTreeWidgetItem* item);
    void showListed(QListWidgetItem* item);
    void selectFirst(const QString& wanted);
    void followInContents(const QUrl& url);
    void filterKeywords(const QString& text);
    void runSearch();
    void searchProgressed();
    void showDamage();

    ChmBrowser* m_browser;
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
