#pragma once

#include "FolderNotices.h"

#include <QHash>
#include <QList>
#include <QString>

#include <future>
#include <optional>

namespace kav {

// The text of a folder entry's name, and whether it is spelled in code page 932 bytes
// (as a Windows archive unpacks) rather than UTF-8. Names valid as UTF-8 are always
// taken as UTF-8; bytes that are neither spell nothing anyone asks for.
struct Spelling
{
    QString text;
    bool foreign = false;
};
std::optional<Spelling> spellingOf(QByteArrayView entry);
std::optional<QString> utf8Text(QByteArrayView entry);
// For messages: the entry's text, or its bytes taken as UTF-8.
QString shownName(const QByteArray& entry);

// The entries of one folder by their case-folded text, each name with every entry that
// spells it, kept up to date by the kernel's notices of the folder's changes. Where there
// are no notices the folder is listed again at each refresh.
class SpellingIndex
{
public:
    // Lists the folder on a second thread (a folder of 2000 titles takes a few milliseconds,
    // done beside the building of the window), removing what earlier runs that were killed
    // mid-save left there. The first refresh waits for it.
    explicit SpellingIndex(const QByteArray& folder);
    ~SpellingIndex();
    SpellingIndex(const SpellingIndex&) = delete;
    SpellingIndex& operator=(const SpellingIndex&) = delete;

    // Brings the index up to date; only while the folder is in its place.
    void refresh();
    // Lists the folder again now (names made elsewhere on a network drive reach no notice).
    void relist();

    QList<QByteArray> entries(const QString& name) const { return m_index.value(name.toCaseFolded()); }
    const QHash<QString, QList<QByteArray>>& all() const { return m_index; }
    // The entries spelled in code page 932 bytes: few, if any.
    const QList<QByteArray>& foreign() const { return m_foreign; }

    // Kept by the notices of a local folder: what it lists is there.
    bool exact() const { return m_valid && !m_remote; }
    // Names made elsewhere reach no notice here (network and FUSE drives).
    bool remote() const { return m_remote; }
    bool fuse() const { return m_fuse; }
    // Whether the folder's file system ignores letter case, once known.
    std::optional<bool>& caseBlind() { return m_caseBlind; }

private:
    struct Listing
    {
        QHash<QString, QList<QByteArray>> index;
        QList<QByteArray> foreign;
        QList<QByteArray> temporaries; // named like a save's temporary file
    };
    static Listing listFolder(const QByteArray& folder);
    void watchFolder();
    bool applyNotices();
    void learnCaseBlind();

    QByteArray m_folder;
    QHash<QString, QList<QByteArray>> m_index;
    QList<QByteArray> m_foreign;
    bool m_valid = false;
    FolderNotices m_notices;  // none: the folder is listed again on each refresh
    bool m_watchLost = false; // the notices ended with the folder gone: watched again when it is back
    std::optional<bool> m_caseBlind;
    bool m_fuse = false;
    bool m_remote = false;
    // The listing made on a second thread at the start, until the first refresh takes it.
    std::future<Listing> m_firstListing;
};

} // namespace kav
