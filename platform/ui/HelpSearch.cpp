#include "HelpSearch.h"

#include "ui/ChmFile.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTextBoundaryFinder>
#include <QTextDocumentFragment>
#include <QThread>

using namespace Qt::StringLiterals;

namespace kav {
namespace {

QRegularExpression elementRe(const QString& tags)
{
    return QRegularExpression(u"<(%1)\\b[^>]*>(.*?)</\\1\\s*>"_s.arg(tags),
                              QRegularExpression::CaseInsensitiveOption |
                                  QRegularExpression::DotMatchesEverythingOption);
}

const QRegularExpression& titleRe()
{
    static const QRegularExpression re = elementRe(u"title"_s);
    return re;
}

const QRegularExpression& headingRe()
{
    static const QRegularExpression re = elementRe(u"h[1-3]"_s);
    return re;
}

QString firstText(const QString& html, const QRegularExpression& element)
{
    return QTextDocumentFragment::fromHtml(element.match(html).captured(2)).toPlainText().simplified();
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

HelpSearch::HelpSearch(QString chmPath) : m_chmPath(std::move(chmPath)) {}

HelpSearch::~HelpSearch()
{
    m_stop = true;
    if (m_thread)
        m_thread->wait();
}

void HelpSearch::start()
{
    if (m_thread)
        return;
    m_thread.reset(QThread::create([this] { readPages(); }));
    m_thread->start(QThread::LowPriority);
}

std::pair<QString, QString> HelpSearch::pageText(const QString& html, const QString& path)
{
    const QString text = QTextDocumentFragment::fromHtml(html).toPlainText();
    // Generated pages may leave the title empty and still have a heading.
    QString title = firstText(html, titleRe());
    if (title.isEmpty())
        title = firstText(html, headingRe());
    if (title.isEmpty())
        title = path;
    return {searchForm(text + u' ' + title), title};
}

// On the reading thread: only m_chmPath and m_stop are shared, the pages go over in batches.
void HelpSearch::readPages()
{
    // Posted to this object, so that none arrives once it is gone.
    const auto post = [this](QList<PageText> pages, Progress progress) {
        QMetaObject::invokeMethod(
            this, [this, pages, progress]() mutable { receive(std::move(pages), progress); }, Qt::QueuedConnection);
    };
    const std::unique_ptr<ChmFile> chm = ChmFile::open(m_chmPath, ChmFile::Sitemaps::Skip);
    const QStringList paths = chm ? chm->pages() : QStringList();
    Progress progress;
    progress.total = paths.size();
    post({}, progress);
    QList<PageText> batch;
    QElapsedTimer sincePost;
    sincePost.start();
    for (const QString& path : paths) {
        if (m_stop)
            return;
        if (const std::optional<QByteArray> bytes = chm->readText(path)) {
            auto [text, title] = pageText(chm->decode(*bytes), path);
            batch.append({path, std::move(title), std::move(text)});
        } else {
            ++progress.unreadable;
        }
        // Often enough for the count to be seen growing, seldom enough to cost nothing.
        if (sincePost.elapsed() >= 100) {
            post(std::exchange(batch, {}), progress);
            sincePost.restart();
        }
    }
    progress.done = true;
    post(std::move(batch), progress);
}

void HelpSearch::receive(QList<PageText> pages, Progress progress)
{
    m_pages.append(std::move(pages));
    m_progress = progress;
    if (onProgress)
        onProgress();
}

QList<HelpSearch::Hit> HelpSearch::find(const QString& words, qsizetype from) const
{
    const QString wanted = searchForm(words);
    QList<Hit> hits;
    if (wanted.isEmpty())
        return hits;
    for (qsizetype i = std::max<qsizetype>(from, 0); i < m_pages.size(); ++i) {
        if (m_pages[i].text.contains(wanted))
            hits.append({m_pages[i].path, m_pages[i].title});
    }
    return hits;
}

} // namespace kav
