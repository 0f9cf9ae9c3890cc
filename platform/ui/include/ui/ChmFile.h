#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

struct chmFile;

namespace kav {

// One entry of a help file's table of contents; local is an object path such as
// "/pages/intro.html", or empty for a heading without a page.
struct TocEntry
{
    QString name;
    QString local;
    std::vector<TocEntry> children;
};

// A compiled HTML help file opened read-only. Object paths are absolute inside
// the file ("/index.html"), without fragment, and compare without regard to letter case.
class ChmFile final
{
public:
    enum class Sitemaps { Read, Skip };
    // nullptr when path is not a readable help file. Skip leaves contents, keywords and
    // default topic empty, for a reader that wants the pages only.
    static std::unique_ptr<ChmFile> open(const QString& path, Sitemaps sitemaps = Sitemaps::Read);
    ~ChmFile();
    Q_DISABLE_COPY_MOVE(ChmFile)

    QString path() const { return m_path; }
    // The ordinary files, without directories and internal objects.
    QStringList objects() const;
    bool contains(const QString& objectPath) const;
    std::optional<QByteArray> read(const QString& objectPath) const;
    // A page, contents file or stylesheet; none when it cannot be read or reads as damaged.
    std::optional<QByteArray> readText(const QString& objectPath) const;

    QString title() const { return m_title; }
    quint32 lcid() const { return m_lcid; }
    QString defaultTopic() const { return m_defaultTopic; }
    const std::vector<TocEntry>& contents() const { return m_contents; }
    // The keyword index, as the file's index sitemap lists it.
    const std::vector<TocEntry>& keywords() const { return m_keywords; }
    // Every page (.htm, .html) of the file.
    QStringList pages() const;

    // What a damaged file failed to give when it was opened: its contents or index
    // (named or present, but unreadable), and pages (the compressed stream cut short,
    // or the named first page unreadable). Pages damaged elsewhere show when read.
    struct Damage
    {
        bool contents = false;
        bool index = false;
        bool pages = false;
        bool any() const { return contents || index || pages; }
    };
    Damage damage() const { return m_damage; }

    // Text of a page, contents file or stylesheet: by its own charset declaration,
    // else by the file's language, else UTF-8.
    QString decode(const QByteArray& bytes) const;

    // "pages\a.htm", "/pages/a.htm" and "ms-its:x.chm::/pages/a.htm" all give "/pages/a.htm".
    static QString normalizePath(const QString& link);
    static std::vector<TocEntry> parseSitemap(const QString& html);

private:
    ChmFile(::chmFile* handle, const QString& path);
    void readSystem();
    // A normalized link that names a file of this help file.
    bool isObject(const QString& link) const;
    QString findSitemap(const QString& named, const QString& extension) const;
    std::vector<TocEntry> readSitemap(const QString& named, const QString& extension, bool& damaged) const;
    QString findDefaultTopic();
    bool streamCutShort() const;
    QByteArray languageCodec() const;

    // Opened again after a failed read: chmlib keeps a block it failed to unpack as if it
    // had, and would give its stale buffer to the next read.
    mutable ::chmFile* m_handle;
    QString m_path;
    QString m_title;
    quint32 m_lcid = 0;
    QString m_contentsFile;
    QString m_indexFile;
    QString m_defaultTopic;
    std::vector<TocEntry> m_contents;
    std::vector<TocEntry> m_keywords;
    Damage m_damage;
};

} // namespace kav
