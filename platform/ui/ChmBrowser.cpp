#include "ChmBrowser.h"

#include "ui/ChmFile.h"

#include <QDesktopServices>
#include <QHash>
#include <QImage>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QWheelEvent>

#include <algorithm>
#include <array>
#include <cmath>

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

constexpr std::array<qreal, 12> ZoomSteps{0.5, 0.67, 0.8, 0.9, 1, 1.1, 1.25, 1.5, 1.75, 2, 2.5, 3};

// Headings and <font size> are sized from the document's default font, the one size
// QTextEdit's zoom changes; it stays with the document from page to page.
void scaleDefaultFont(QTextDocument& document, qreal ratio)
{
    QFont font = document.defaultFont();
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * ratio);
    else
        font.setPixelSize(std::max(1, int(std::lround(font.pixelSize() * ratio))));
    document.setDefaultFont(font);
}

// Stylesheets give the body text sizes in points or pixels, which the default font
// does not reach, so Qt's zoom left it as it was: every such size on the page, and
// every picture, is scaled too. Pixel sizes become points, the same on screen.
bool scaleFontSize(QTextCharFormat& format, qreal ratio, qreal dpi)
{
    if (format.hasProperty(QTextFormat::FontPixelSize)) {
        const qreal points = format.intProperty(QTextFormat::FontPixelSize) * 72.0 / dpi;
        format.clearProperty(QTextFormat::FontPixelSize);
        format.setFontPointSize(points * ratio);
        return true;
    }
    if (format.hasProperty(QTextFormat::FontPointSize)) {
        format.setFontPointSize(format.fontPointSize() * ratio);
        return true;
    }
    return false;
}

void scalePageFormats(QTextDocument& document, qreal ratio, qreal dpi)
{
    struct Change
    {
        int from;
        int length; // -1: the block's own format, which sizes its list bullet
        QTextCharFormat format;
    };
    std::vector<Change> changes; // gathered first: changing a format may merge fragments
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (QTextCharFormat format = block.charFormat(); scaleFontSize(format, ratio, dpi))
            changes.push_back({block.position(), -1, format});
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            QTextCharFormat format = fragment.charFormat();
            bool changed = scaleFontSize(format, ratio, dpi);
            if (format.isImageFormat()) {
                QTextImageFormat image = format.toImageFormat();
                if (!image.hasProperty(QTextFormat::ImageWidth) && !image.hasProperty(QTextFormat::ImageHeight)) {
                    const QSize size =
                        document.resource(QTextDocument::ImageResource, QUrl(image.name())).value<QImage>().size();
                    if (!size.isEmpty()) {
                        image.setWidth(size.width());
                        image.setHeight(size.height());
                    }
                }
                if (image.hasProperty(QTextFormat::ImageWidth))
                    image.setWidth(image.width() * ratio);
                if (image.hasProperty(QTextFormat::ImageHeight))
                    image.setHeight(image.height() * ratio);
                format = image;
                changed = true;
            }
            if (changed)
                changes.push_back({fragment.position(), fragment.length(), format});
        }
    }
    QTextCursor cursor(&document);
    cursor.beginEditBlock();
    for (const Change& change : changes) {
        cursor.setPosition(change.from);
        if (change.length < 0) {
            cursor.setBlockCharFormat(change.format);
            continue;
        }
        cursor.setPosition(change.from + change.length, QTextCursor::KeepAnchor);
        cursor.setCharFormat(change.format);
    }
    cursor.endEditBlock();
}

} // namespace

ChmBrowser::ChmBrowser(std::unique_ptr<ChmFile> chm, QWidget* parent) : QTextBrowser(parent), m_chm(std::move(chm))
{
    setOpenLinks(false);
    connect(this, &QTextBrowser::anchorClicked, this, &ChmBrowser::follow);
    // A new page comes at its own size.
    connect(this, &QTextEdit::textChanged, this, [this] {
        if (m_scaling)
            return;
        m_shown = 1;
        if (m_zoom != 1)
            scalePage();
    });
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

void ChmBrowser::setZoom(qreal factor)
{
    factor = std::clamp(factor, ZoomSteps.front(), ZoomSteps.back());
    if (factor == m_zoom)
        return;
    // The line at the top stays at the top.
    const int top = cursorForPosition(QPoint(0, 0)).position();
    scaleDefaultFont(*document(), factor / m_zoom);
    m_zoom = factor;
    scalePage();
    QTextCursor cursor(document());
    cursor.setPosition(top);
    verticalScrollBar()->setValue(verticalScrollBar()->value() + cursorRect(cursor).top());
}

void ChmBrowser::zoomBy(int steps)
{
    const auto nearest = std::min_element(ZoomSteps.begin(), ZoomSteps.end(), [this](qreal a, qreal b) {
        return std::abs(a - m_zoom) < std::abs(b - m_zoom);
    });
    const auto at = std::clamp<qsizetype>(nearest - ZoomSteps.begin() + steps, 0, qsizetype(ZoomSteps.size()) - 1);
    setZoom(ZoomSteps[size_t(at)]);
}

std::unique_ptr<QTextDocument> ChmBrowser::pageAsWritten() const
{
    // Its parent loads its pictures from this file, as for the page shown.
    std::unique_ptr<QTextDocument> copy(document()->clone(document()->parent()));
    scaleDefaultFont(*copy, 1 / m_zoom);
    if (m_shown != 1)
        scalePageFormats(*copy, 1 / m_shown, logicalDpiY());
    return copy;
}

void ChmBrowser::wheelEvent(QWheelEvent* event)
{
    if (!(event->modifiers() & Qt::ControlModifier)) {
        QTextBrowser::wheelEvent(event);
        return;
    }
    m_wheel += event->angleDelta().y();
    const int steps = m_wheel / QWheelEvent::DefaultDeltasPerStep;
    m_wheel -= steps * QWheelEvent::DefaultDeltasPerStep;
    if (steps != 0)
        zoomBy(steps);
    event->accept();
}

void ChmBrowser::scalePage()
{
    m_scaling = true;
    scalePageFormats(*document(), m_zoom / m_shown, logicalDpiY());

    m_scaling = false;
    m_shown = m_zoom;
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
