#include "ChmBrowser.h"

#include "ui/ChmFile.h"

#include <QDesktopServices>
#include <QHash>
#include <QImage>
#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace kav {
namespace {

const QString ChmScheme = u"chm"_s;

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

QString missingPage(const QString& path, bool damaged)
{
    const QString why = damaged
                            ? u"<h2>ページを読めません</h2><p>「%1」はヘルプファイルが壊れているため読めません。</p>"_s
                            : u"<h2>ページが見つかりません</h2><p>「%1」はこのヘルプファイルにありません。</p>"_s;
    return u"<html><body>"_s + why.arg(path.toHtmlEscaped()) +
           u"<p>［戻る］で前のページに戻れます。</p></body></html>"_s;
}

} // namespace

ChmBrowser::ChmBrowser(std::unique_ptr<ChmFile> chm, QWidget* parent) : QTextBrowser(parent), m_chm(std::move(chm))
{
    setOpenLinks(false);
    connect(this, &QTextBrowser::anchorClicked, this, &ChmBrowser::follow);
}

ChmBrowser::~ChmBrowser() = default;

QUrl ChmBrowser::urlOf(const QString& objectPath)
{
    return QUrl(ChmScheme + u':' + objectPath);
}

void ChmBrowser::showPage(const QString& link)
{
    const QString path = ChmFile::normalizePath(link);
    if (path.startsWith(u'/'))
        setSource(urlOf(path));
}

QVariant ChmBrowser::loadResource(int type, const QUrl& name)
{
    const QUrl url = name.isRelative() ? source().resolved(name) : name;
    if (url.scheme() != ChmScheme)
        return {};
    const bool text = type == QTextDocument::HtmlResource || type == QTextDocument::StyleSheetResource;
    const std::optional<QByteArray> bytes = text ? m_chm->readText(url.path()) : m_chm->read(url.path());
    if (!bytes) {
        if (type == QTextDocument::HtmlResource)
            return missingPage(url.path(), m_chm->contains(url.path()));
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

void ChmBrowser::follow(const QUrl& url)
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

} // namespace kav
