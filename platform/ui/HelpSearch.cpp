#include "HelpSearch.h"

#include "ui/ChmFile.h"

#include <QRegularExpression>
#include <QTextBoundaryFinder>
#include <QTextDocumentFragment>

using namespace Qt::StringLiterals;

namespace kav {
namespace {

QString pageTitle(const QString& html)
{
    static const QRegularExpression titleRe(u"<title[^>]*>(.*?)</title>"_s,
                                            QRegularExpression::CaseInsensitiveOption |
                                                QRegularExpression::DotMatchesEverythingOption);
    return QTextDocumentFragment::fromHtml(titleRe.match(html).captured(1)).toPlainText().simplified();
}

} // namespace

QString searchForm(const QString& text)
{
    return text.normalized(QString::NormalizationForm_KC).toCaseFolded();
}

// The text is folded grapheme by grapheme, so a match maps back to whole graphemes.
std::optional<std::pair<qsizetype, qsizetype>> findFolded(const QString& text, const QString& wanted)
{
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
        return std::nullopt;
    qsizetype end = at + wanted.size();
    while (end < origin.size() - 1 && origin[end] == origin[end - 1])
        ++end; // the whole of the last grapheme
    return std::pair(origin[at], origin[end]);
}

QList<HelpSearch::Hit> HelpSearch::find(const QString& words)
{
    const QString wanted = searchForm(words);
    if (wanted.isEmpty())
        return {};
    if (m_pages.isEmpty()) {
        const QStringList pages = m_chm.pages();
        for (const QString& page : pages) {
            const std::optional<QByteArray> bytes = m_chm.read(page);
            if (!bytes)
                continue;
            const QString html = m_chm.decode(*bytes);
            QString title = pageTitle(html);
            if (title.isEmpty())
                title = page;
            m_pages.append(
                {page, title, searchForm(QTextDocumentFragment::fromHtml(html).toPlainText() + u' ' + title)});
        }
    }
    QList<Hit> hits;
    for (const PageText& page : std::as_const(m_pages)) {
        if (page.text.contains(wanted))
            hits.append({page.path, page.title});
    }
    return hits;
}

} // namespace kav
