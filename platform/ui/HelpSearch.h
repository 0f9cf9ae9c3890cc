#pragma once

#include <QList>
#include <QString>

#include <optional>
#include <utility>

namespace kav {

class ChmFile;

// What a reader sees, folded so that full- and half-width forms and letter case do
// not matter: the form both the searched text and the words take.
QString searchForm(const QString& text);

// Where the first match of `wanted` (in search form) stands in `text`, from the start
// of the grapheme where it begins to the end of the one where it ends.
std::optional<std::pair<qsizetype, qsizetype>> findFolded(const QString& text, const QString& wanted);

// Full text search over every page of a help file, as the reader sees it: no markup,
// any script. The pages are read at the first search.
class HelpSearch
{
public:
    explicit HelpSearch(const ChmFile& chm) : m_chm(chm) {}

    struct Hit
    {
        QString path;
        QString title; // the page's title, else its path
    };
    // The pages that hold the words, in the order of the file.
    QList<Hit> find(const QString& words);

private:
    struct PageText
    {
        QString path;
        QString title;
        QString text; // in search form
    };

    const ChmFile& m_chm;
    QList<PageText> m_pages;
};

} // namespace kav
