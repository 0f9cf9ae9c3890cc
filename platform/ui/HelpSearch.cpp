#include "HelpSearch.h"

#include "ui/ChmFile.h"

#include <QElapsedTimer>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
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

bool isSpace(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f';
}

// A character reference as Qt's rich text reads it; a name it does not know stays as written.
QString reference(QStringView name)
{
    if (name.startsWith(u'#')) {
        bool ok = false;
        const bool hex = name.size() > 1 && (name[1] == u'x' || name[1] == u'X');
        const char32_t code = name.mid(hex ? 2 : 1).toUInt(&ok, hex ? 16 : 10);
        return ok && code > 0 && code <= 0x10FFFF ? QString::fromUcs4(&code, 1) : QString();
    }
    // Called on the reading thread only; a file uses few names.
    thread_local QHash<QString, QString> known;
    const QString key = name.toString();
    auto it = known.find(key);
    if (it == known.end())
        it = known.insert(key, QTextDocumentFragment::fromHtml(u'&' + key + u';').toPlainText());
    return *it;
}

// The text a page shows, without laying it out (which costs twenty times as much): no
// markup, comments, scripts, styles or title; a line break where a block ends; white
// space run together as a browser does, outside <pre>.
QString visibleText(QStringView html)
{
    static const QSet<QString> hidden = {u"script"_s, u"style"_s, u"title"_s};
    static const QSet<QString> blocks = {
        u"p"_s,  u"br"_s,  u"div"_s,   u"li"_s,         u"ul"_s,      u"ol"_s,     u"dl"_s,  u"dt"_s, u"dd"_s,
        u"tr"_s, u"td"_s,  u"th"_s,    u"h1"_s,         u"h2"_s,      u"h3"_s,     u"h4"_s,  u"h5"_s, u"h6"_s,
        u"hr"_s, u"pre"_s, u"table"_s, u"blockquote"_s, u"address"_s, u"center"_s, u"body"_s};
    QString out;
    out.reserve(html.size() / 2);
    int pre = 0;
    bool pendingSpace = false, pendingBreak = false;
    const auto put = [&](QStringView text) {
        if (text.isEmpty())
            return;
        if (pendingBreak && !out.isEmpty())
            out += u'\n';
        else if (pendingSpace && !out.isEmpty() && !out.endsWith(u'\n'))
            out += u' ';
        pendingSpace = pendingBreak = false;
        out += text;
    };
    for (qsizetype i = 0; i < html.size();) {
        const QChar c = html[i];
        if (c == u'<' && html.mid(i, 4) == u"<!--") {
            const qsizetype end = html.indexOf(u"-->", i + 4);
            i = end < 0 ? html.size() : end + 3;
        } else if (c == u'<' && i + 1 < html.size() && (html[i + 1] == u'!' || html[i + 1] == u'?')) {
            const qsizetype end = html.indexOf(u'>', i);
            i = end < 0 ? html.size() : end + 1;
        } else if (c == u'<' && i + 1 < html.size() && (html[i + 1].isLetter() || html[i + 1] == u'/')) {
            const bool closing = html[i + 1] == u'/';
            qsizetype at = i + (closing ? 2 : 1);
            const qsizetype nameStart = at;
            while (at < html.size() && html[at].isLetterOrNumber())
                ++at;
            const QString name = html.mid(nameStart, at - nameStart).toString().toLower();
            for (QChar quote; at < html.size() && (quote != QChar() || html[at] != u'>'); ++at) {
                if (quote == QChar() && (html[at] == u'"' || html[at] == u'\''))
                    quote = html[at];
                else if (html[at] == quote)
                    quote = QChar();
            }
            i = at + 1;
            if (!closing && hidden.contains(name)) {
                const qsizetype end = html.indexOf(QString(u"</"_s + name), i, Qt::CaseInsensitive);
                if (end >= 0) {
                    const qsizetype close = html.indexOf(u'>', end);
                    i = close < 0 ? html.size() : close + 1;
                }
            } else if (blocks.contains(name)) {
                pendingBreak = true;
                if (name == u"pre"_s)
                    pre = std::max(0, pre + (closing ? -1 : 1));
            }
        } else if (c == u'&') {
            qsizetype end = i + 1;
            while (end < html.size() && end - i < 32 && (html[end].isLetterOrNumber() || html[end] == u'#'))
                ++end;
            const QString value = end < html.size() && html[end] == u';' && end > i + 1
                                      ? reference(html.mid(i + 1, end - i - 1))
                                      : QString();
            put(value.isEmpty() ? html.mid(i, 1) : QStringView(value));
            i = value.isEmpty() ? i + 1 : end + 1;
        } else if (isSpace(c) && pre == 0) {
            pendingSpace = true;
            ++i;
        } else {
            qsizetype end = i + 1;
            while (end < html.size() && html[end] != u'<' && html[end] != u'&' && (pre > 0 || !isSpace(html[end])))
                ++end;
            put(html.mid(i, end - i));
            i = end;
        }
    }
    return out;
}

QString firstText(const QString& html, const QRegularExpression& element)
{
    return visibleText(element.match(html).captured(2)).simplified();
}

} // namespace

QString searchForm(const QString& text)
{
    return text.normalized(QString::NormalizationForm_KC).toCaseFolded();
}

// The text is folded grapheme by grapheme, once however many places there are, so a
// match maps back to whole graphemes.
QList<std::pair<qsizetype, qsizetype>> findAllFolded(const QString& text, const QString& wanted)
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
    QList<std::pair<qsizetype, qsizetype>> hits;
    for (qsizetype at = folded.indexOf(wanted); at >= 0 && !wanted.isEmpty();
         at = folded.indexOf(wanted, at + wanted.size())) {
        qsizetype end = at + wanted.size();
        while (end < origin.size() - 1 && origin[end] == origin[end - 1])
            ++end; // the whole of the last grapheme
        if (hits.isEmpty() || origin[at] >= hits.last().second)
            hits.append({origin[at], origin[end]});
    }
    return hits;
}

std::optional<std::pair<qsizetype, qsizetype>> findFolded(const QString& text, const QString& wanted)
{
    const QList<std::pair<qsizetype, qsizetype>> hits = findAllFolded(text, wanted);
    if (hits.isEmpty())
        return std::nullopt;
    return hits.first();
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
    const QString text = visibleText(html);
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
