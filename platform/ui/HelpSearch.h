#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

class QThread;

namespace kav {

// What a reader sees, folded so that full- and half-width forms and letter case do
// not matter: the form both the searched text and the words take.
QString searchForm(const QString& text);

// Where the first match of `wanted` (in search form) stands in `text`, from the start
// of the grapheme where it begins to the end of the one where it ends.
std::optional<std::pair<qsizetype, qsizetype>> findFolded(const QString& text, const QString& wanted);
// Every such place, not overlapping, in order.
QList<std::pair<qsizetype, qsizetype>> findAllFolded(const QString& text, const QString& wanted);

// Full text search over every page of a help file, as the reader sees it: no markup,
// any script. The pages are read once, on a thread of their own with a handle of their
// own (a chmlib handle serves one thread), while the window goes on serving the reader;
// a search looks at the pages read so far.
class HelpSearch final : public QObject
{
public:
    explicit HelpSearch(QString chmPath);
    // Stops the reading and waits for it, which takes at most one page's work.
    ~HelpSearch() override;
    Q_DISABLE_COPY_MOVE(HelpSearch)

    struct Hit
    {
        QString path;
        QString title; // the page's title, else its path
    };
    struct Progress
    {
        qsizetype total = -1; // pages in the file, -1 until known
        qsizetype unreadable = 0;
        bool done = false;
    };

    // Starts reading the pages, the first time only.
    void start();
    bool started() const { return m_thread != nullptr; }
    Progress progress() const { return m_progress; }
    qsizetype pagesRead() const { return m_pages.size(); }
    // The pages read so far, from the index `from` on, that hold the words, in the order of the file.
    QList<Hit> find(const QString& words, qsizetype from = 0) const;

    // Called on this object's thread whenever more pages have been read, and at the end.
    std::function<void()> onProgress;

    // The text a page shows, in search form, and its title.
    static std::pair<QString, QString> pageText(const QString& html, const QString& path);

private:
    struct PageText
    {
        QString path;
        QString title;
        QString text; // in search form
    };
    void readPages();
    void receive(QList<PageText> pages, Progress progress);

    const QString m_chmPath;
    QList<PageText> m_pages;
    Progress m_progress;
    std::atomic_bool m_stop = false;
    std::unique_ptr<QThread> m_thread;
};

} // namespace kav
