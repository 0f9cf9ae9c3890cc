#include "ui/ChmFile.h"

#include "core/Codec.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringDecoder>

#include <chm_lib.h>

#include <functional>

using namespace Qt::StringLiterals;

namespace kav {

namespace {

// Refuse objects that no help page needs rather than allocate whatever a damaged header claims.
constexpr LONGUINT64 MaxObjectSize = 256 * 1024 * 1024;
// Each level needs an entry of its own, so this only stops a hostile file from nesting without end.
constexpr std::size_t MaxTocDepth = 64;

enum SystemCode : quint16 { ContentsFile = 0, IndexFile = 1, DefaultTopic = 2, Title = 3, Locale = 4 };

QString withoutFragment(const QString& path)
{
    return path.left(path.indexOf(u'#'));
}

bool resolve(::chmFile* handle, const QString& objectPath, chmUnitInfo& info)
{
    const QByteArray name = (objectPath.startsWith(u'/') ? objectPath : u'/' + objectPath).toUtf8();
    return name.size() <= CHM_MAX_PATHLEN && chm_resolve_object(handle, name.constData(), &info) == CHM_RESOLVE_SUCCESS;
}

int collectFile(::chmFile*, chmUnitInfo* info, void* context)
{
    if ((info->flags & CHM_ENUMERATE_FILES) && (info->flags & CHM_ENUMERATE_NORMAL))
        static_cast<QStringList*>(context)->append(QString::fromUtf8(info->path));
    return CHM_ENUMERATOR_CONTINUE;
}

bool isPage(const QString& path)
{
    return path.endsWith(u".htm"_s, Qt::CaseInsensitive) || path.endsWith(u".html"_s, Qt::CaseInsensitive);
}

QByteArray declaredCharset(const QByteArray& bytes)
{
    static const QRegularExpression re(uR"re(charset\s*=\s*["']?\s*([A-Za-z0-9._:-]+))re"_s,
                                       QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = re.match(QString::fromLatin1(bytes.left(2048)));
    return m.hasMatch() ? m.captured(1).toLatin1() : QByteArray();
}

QString unescapeHtml(const QString& text)
{
    static const QRegularExpression entity(u"&(#[0-9]+|#[xX][0-9A-Fa-f]+|amp|lt|gt|quot|apos);"_s);
    QString out;
    qsizetype last = 0;
    for (QRegularExpressionMatchIterator it = entity.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        out += QStringView(text).mid(last, m.capturedStart() - last);
        const QString name = m.captured(1);
        if (name.startsWith(u'#')) {
            bool ok = false;
            const bool hex = name.size() > 1 && (name[1] == u'x' || name[1] == u'X');
            const char32_t code = QStringView(name).mid(hex ? 2 : 1).toUInt(&ok, hex ? 16 : 10);
            if (ok && code > 0 && code <= 0x10FFFF)
                out += QString::fromUcs4(&code, 1);
        } else {
            static const QHash<QString, QChar> named = {
                {u"amp"_s, u'&'}, {u"lt"_s, u'<'}, {u"gt"_s, u'>'}, {u"quot"_s, u'"'}, {u"apos"_s, u'\''}};
            out += named.value(name);
        }
        last = m.capturedEnd();
    }
    out += QStringView(text).mid(last);
    return out;
}

QHash<QString, QString> attributes(const QString& tagBody)
{
    static const QRegularExpression re(uR"re(([A-Za-z_:-]+)\s*=\s*(?:"([^"]*)"|'([^']*)'|([^\s"'>]+)))re"_s);
    QHash<QString, QString> result;
    for (QRegularExpressionMatchIterator it = re.globalMatch(tagBody); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        result.insert(m.captured(1).toLower(), unescapeHtml(m.captured(2) + m.captured(3) + m.captured(4)));
    }
    return result;
}

} // namespace

std::unique_ptr<ChmFile> ChmFile::open(const QString& path, Sitemaps sitemaps)
{
    const QFileInfo info(path);
    if (!info.isFile() || !info.isReadable())
        return nullptr;
    ::chmFile* handle = chm_open(QFile::encodeName(info.absoluteFilePath()).constData());
    if (!handle)
        return nullptr;
    std::unique_ptr<ChmFile> file(new ChmFile(handle, info.absoluteFilePath()));
    file->readSystem();
    if (sitemaps == Sitemaps::Skip)
        return file;
    file->m_contents = file->readSitemap(file->m_contentsFile, u".hhc"_s, file->m_damage.contents);
    file->m_keywords = file->readSitemap(file->m_indexFile, u".hhk"_s, file->m_damage.index);
    file->m_defaultTopic = file->findDefaultTopic();
    file->m_damage.pages = file->m_damage.pages || file->streamCutShort();
    return file;
}

ChmFile::ChmFile(::chmFile* handle, const QString& path) : m_handle(handle), m_path(path) {}

ChmFile::~ChmFile()
{
    chm_close(m_handle);
}

QStringList ChmFile::pages() const
{
    QStringList all = objects();
    all.removeIf([](const QString& path) { return !isPage(path); });
    return all;
}

QStringList ChmFile::objects() const
{
    QStringList paths;
    chm_enumerate(m_handle, CHM_ENUMERATE_NORMAL | CHM_ENUMERATE_FILES, collectFile, &paths);
    return paths;
}

bool ChmFile::contains(const QString& objectPath) const
{
    chmUnitInfo info{};
    return resolve(m_handle, objectPath, info);
}

std::optional<QByteArray> ChmFile::read(const QString& objectPath) const
{
    chmUnitInfo info{};
    if (!resolve(m_handle, objectPath, info) || info.length > MaxObjectSize)
        return std::nullopt;
    QByteArray bytes(static_cast<qsizetype>(info.length), Qt::Uninitialized);
    LONGUINT64 done = 0;
    while (done < info.length) {
        const LONGINT64 got =
            chm_retrieve_object(m_handle, &info, reinterpret_cast<unsigned char*>(bytes.data()) + done, done,
                                static_cast<LONGINT64>(info.length - done));
        if (got <= 0) {
            if (::chmFile* fresh = chm_open(QFile::encodeName(m_path).constData())) {
                chm_close(m_handle);
                m_handle = fresh;
            }
            return std::nullopt;
        }
        done += static_cast<LONGUINT64>(got);
    }
    return bytes;
}

// chmlib gives the part of a file cut short as zeros, and a stream damaged in the middle
// unpacks to garbage; text has no NUL unless it is UTF-16, which starts with a mark.
std::optional<QByteArray> ChmFile::readText(const QString& objectPath) const
{
    std::optional<QByteArray> bytes = read(objectPath);
    if (bytes && bytes->contains('\0') && cp932::byteOrderMark(*bytes) == cp932::Mark::None)
        return std::nullopt;
    return bytes;
}

QString ChmFile::decode(const QByteArray& bytes) const
{
    if (cp932::byteOrderMark(bytes) != cp932::Mark::None) {
        if (Result<QString> text = cp932::unicodeText(bytes); text)
            return text.value();
    }
    QStringDecoder decoder(declaredCharset(bytes).constData());
    if (!decoder.isValid())
        decoder = QStringDecoder(languageCodec().constData());
    return decoder.decode(bytes);
}

QByteArray ChmFile::languageCodec() const
{
    if (m_lcid == 0)
        return QByteArrayLiteral("UTF-8");
    return m_lcid == 0x0411 ? QByteArrayLiteral("windows-31j") : QByteArrayLiteral("windows-1252");
}

// #SYSTEM: a version word, then records of code, length and data; texts end in NUL
// and are in the file's code page.
void ChmFile::readSystem()
{
    const QByteArray system = read(u"/#SYSTEM"_s).value_or(QByteArray());
    QByteArray contentsFile, indexFile, defaultTopic, title;
    for (qsizetype pos = 4; pos + 4 <= system.size();) {
        const auto byte = [&](qsizetype i) { return static_cast<quint8>(system[i]); };
        const quint16 code = byte(pos) | byte(pos + 1) << 8;
        const qsizetype length = byte(pos + 2) | byte(pos + 3) << 8;
        pos += 4;
        if (pos + length > system.size())
            break;
        const QByteArray data = system.sliced(pos, length);
        const QByteArray text = data.left(data.indexOf('\0'));
        switch (code) {
        case ContentsFile:
            contentsFile = text;
            break;
        case IndexFile:
            indexFile = text;
            break;
        case DefaultTopic:
            defaultTopic = text;
            break;
        case Title:
            title = text;
            break;
        case Locale:
            if (length >= 4)
                m_lcid = byte(pos) | byte(pos + 1) << 8 | byte(pos + 2) << 16 | quint32(byte(pos + 3)) << 24;
            break;
        default:
            break;
        }
        pos += length;
    }
    QStringDecoder decoder(languageCodec().constData());
    m_title = QString(decoder.decode(title)).trimmed();
    m_contentsFile = decoder.decode(contentsFile);
    m_indexFile = decoder.decode(indexFile);
    m_defaultTopic = decoder.decode(defaultTopic);
}

bool ChmFile::isObject(const QString& link) const
{
    const QString path = withoutFragment(link);
    return path.startsWith(u'/') && path.size() > 1 && !path.endsWith(u'/') && contains(path);
}

QString ChmFile::findSitemap(const QString& named, const QString& extension) const
{
    if (const QString path = normalizePath(named); isObject(path))
        return withoutFragment(path);
    const QStringList all = objects();
    for (const QString& path : all) {
        if (path.endsWith(extension, Qt::CaseInsensitive))
            return path;
    }
    return {};
}

// A sitemap the file names or holds but cannot give is damage; one it never had is not.
std::vector<TocEntry> ChmFile::readSitemap(const QString& named, const QString& extension, bool& damaged) const
{
    const QString path = findSitemap(named, extension);
    const std::optional<QByteArray> bytes = path.isEmpty() ? std::nullopt : readText(path);
    damaged = !bytes && !(path.isEmpty() && named.trimmed().isEmpty());
    return bytes ? parseSitemap(decode(*bytes)) : std::vector<TocEntry>();
}

// The first page that can be read, of those the file names: its default topic, the
// contents, index.html, any page. Pages that are there but unreadable are damage.
QString ChmFile::findDefaultTopic()
{
    // A file damaged throughout is given up after this many pages rather than read to the end.
    constexpr int MaxTries = 256;
    int tries = 0;
    const auto readable = [&](const QString& link) {
        const QString path = withoutFragment(link);
        if (tries >= MaxTries || !isObject(path))
            return false;
        ++tries;
        const bool ok = readText(path).has_value();
        m_damage.pages = m_damage.pages || !ok;
        return ok;
    };
    if (const QString named = normalizePath(m_defaultTopic); readable(named))
        return named;
    QString fromContents;
    const std::function<bool(const std::vector<TocEntry>&)> search = [&](const std::vector<TocEntry>& entries) {
        for (const TocEntry& entry : entries) {
            if (readable(entry.local)) {
                fromContents = entry.local;
                return true;
            }
            if (search(entry.children))
                return true;
        }
        return false;
    };
    if (search(m_contents))
        return fromContents;
    if (readable(u"/index.html"_s))
        return u"/index.html"_s;
    const QStringList all = pages();
    for (const QString& path : all) {
        if (readable(path))
            return path;
    }
    return {};
}

// The pages are in one compressed stream at the end of the file, so a file cut short
// loses their tail; its last byte tells without unpacking anything.
bool ChmFile::streamCutShort() const
{
    chmUnitInfo info{};
    if (chm_resolve_object(m_handle, "::DataSpace/Storage/MSCompressed/Content", &info) != CHM_RESOLVE_SUCCESS ||
        info.length == 0)
        return false;
    unsigned char last = 0;
    return chm_retrieve_object(m_handle, &info, &last, info.length - 1, 1) != 1;
}

QString ChmFile::normalizePath(const QString& link)
{
    static const QRegularExpression scheme(u"^[A-Za-z][A-Za-z0-9+.-]+:"_s);
    QString path = link.trimmed();
    if (const qsizetype storage = path.lastIndexOf(u"::"_s); storage >= 0)
        path = path.sliced(storage + 2);
    else if (path.contains(scheme))
        return path; // a web address, not an object of this file
    path.replace(u'\\', u'/');
    const qsizetype hash = path.indexOf(u'#');
    const QString fragment = hash >= 0 ? path.sliced(hash) : QString();
    path = QDir::cleanPath(u'/' + path.left(hash));
    while (path.startsWith(u"/.."_s))
        path.remove(0, 3);
    return (path.isEmpty() ? u"/"_s : path) + fragment;
}

// A contents file is HTML in which every <OBJECT type="text/sitemap"> is an entry and
// a <UL> opens the children of the entry before it.
std::vector<TocEntry> ChmFile::parseSitemap(const QString& html)
{
    static const QRegularExpression tagRe(u"<\\s*(/?)\\s*([A-Za-z]+)([^>]*)>"_s);
    std::vector<TocEntry> root;
    std::vector<std::vector<TocEntry>*> lists;
    std::optional<TocEntry> entry;
    for (QRegularExpressionMatchIterator it = tagRe.globalMatch(html); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const QString tag = m.captured(2).toLower();
        const bool closing = !m.captured(1).isEmpty();
        std::vector<TocEntry>& current = lists.empty() ? root : *lists.back();
        if (tag == u"ul"_s) {
            if (closing) {
                if (!lists.empty())
                    lists.pop_back();
            } else {
                const bool nest = !lists.empty() && !current.empty() && lists.size() < MaxTocDepth;
                lists.push_back(nest ? &current.back().children : &current);
            }
        } else if (tag == u"object"_s) {
            if (!closing &&
                attributes(m.captured(3)).value(u"type"_s).compare(u"text/sitemap"_s, Qt::CaseInsensitive) == 0)
                entry.emplace();
            else if (closing && entry) {
                if (!entry->name.isEmpty() || !entry->local.isEmpty())
                    current.push_back(std::move(*entry));
                entry.reset();
            }
        } else if (tag == u"param"_s && entry) {
            const QHash<QString, QString> param = attributes(m.captured(3));
            const QString name = param.value(u"name"_s).toLower();
            const QString value = param.value(u"value"_s).trimmed();
            // Merged entries repeat Name and Local; the first pair is the entry's own.
            if (name == u"name"_s && entry->name.isEmpty())
                entry->name = value;
            else if (name == u"local"_s && entry->local.isEmpty() && !value.isEmpty())
                entry->local = normalizePath(value);
        }
    }
    return root;
}

} // namespace kav
