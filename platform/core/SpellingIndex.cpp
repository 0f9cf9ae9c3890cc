#include "SpellingIndex.h"

#include "DurableReplace.h"
#include "core/Codec.h"

#include <QStringDecoder>

#include <algorithm>
#include <utility>

#include <dirent.h>
#include <sys/stat.h>
#include <sys/statfs.h>

namespace kav {

std::optional<QString> utf8Text(QByteArrayView raw)
{
    if (!raw.isValidUtf8())
        return std::nullopt;
    if (!raw.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(raw); // a folder of 2000 names is indexed at every start
    // A byte-order mark is part of a name, not something to drop.
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    QString text = decoder.decode(raw);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

std::optional<Spelling> spellingOf(QByteArrayView raw)
{
    if (std::optional<QString> text = utf8Text(raw))
        return Spelling{*text, false};
    if (Result<QString> text = cp932::decode(raw); text.ok())
        return Spelling{text.value(), true};
    return std::nullopt;
}

QString shownName(const QByteArray& raw)
{
    const std::optional<Spelling> spelling = spellingOf(raw);
    return spelling ? spelling->text : QString::fromUtf8(raw);
}

SpellingIndex::SpellingIndex(const QByteArray& folder) : m_folder(folder)
{
    watchFolder(); // first, so that what changes while the folder is listed is noticed
    // A system out of threads lists at the first refresh.
    m_firstListing = std::async(std::launch::async | std::launch::deferred, [folder] {
        Listing listed = listFolder(folder);
        for (const QByteArray& name : DurableReplace::removeLeftovers(folder, listed.temporaries)) {
            // Its name is plain ASCII: it spells itself.
            if (const auto found = listed.index.find(QString::fromLatin1(name).toCaseFolded());
                found != listed.index.end())
                found->removeAll(name);
        }
        return listed;
    });
}

SpellingIndex::~SpellingIndex() = default;

void SpellingIndex::watchFolder()
{
    if (m_firstListing.valid())
        m_firstListing.get(); // made before the folder went away and came back
    m_valid = false;
    m_notices.watch(m_folder, IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF);
    // Again when the folder's drive is mounted again.
    m_caseBlind.reset();
    struct statfs fs;
    constexpr decltype(fs.f_type) FuseMagic = 0x65735546;
    constexpr decltype(fs.f_type) RemoteMagic[] = {0x6969 /* NFS */, 0x517B /* SMB */, decltype(fs.f_type)(0xFF534D42),
                                                   decltype(fs.f_type)(0xFE534D42) /* CIFS, SMB2 */};
    if (::statfs(m_folder.constData(), &fs) == 0) {
        m_fuse = fs.f_type == FuseMagic;
        m_remote =
            m_fuse || std::find(std::begin(RemoteMagic), std::end(RemoteMagic), fs.f_type) != std::end(RemoteMagic);
    }
}

bool SpellingIndex::applyNotices()
{
    if (!m_notices.watching())
        return false;
    bool complete = true;
    const bool drained = m_notices.read([&](uint32_t mask, QByteArrayView name) {
        // Lost notices: only a new listing can tell.
        if (mask & IN_Q_OVERFLOW)
            return complete = false;
        // The folder itself gone or moved: no more notices will come, so every refresh lists it again.
        if (FolderNotices::aboutFolder(mask)) {
            m_notices.stop();
            m_watchLost = true;
            return complete = false;
        }
        if (name.isEmpty())
            return true;
        const QByteArray raw = name.toByteArray();
        const std::optional<Spelling> spelling = spellingOf(raw);
        if (!spelling)
            return true;
        const QString key = spelling->text.toCaseFolded();
        if (mask & (IN_CREATE | IN_MOVED_TO)) {
            QList<QByteArray>& entries = m_index[key];
            // Where letter case is ignored, a file renamed over another spelling takes its place,
            // and no notice says that spelling is gone.
            if (m_caseBlind.value_or(false) && utf8Text(raw))
                entries.removeIf([&](const QByteArray& e) { return e != raw && utf8Text(e); });
            if (!entries.contains(raw))
                entries.append(raw);
            if (spelling->foreign && !m_foreign.contains(raw))
                m_foreign.append(raw);
        } else if (const auto found = m_index.find(key); found != m_index.end()) {
            found->removeAll(raw);
            if (spelling->foreign)
                m_foreign.removeAll(raw);
        }
        return true;
    });
    return complete && drained;
}

SpellingIndex::Listing SpellingIndex::listFolder(const QByteArray& folder)
{
    Listing listed;
    if (DIR* dir = ::opendir(folder.constData())) {
        while (const dirent* entry = ::readdir(dir)) {
            const QByteArray raw(entry->d_name);
            if (raw == "." || raw == "..")
                continue;
            const std::optional<Spelling> spelling = spellingOf(raw);
            if (!spelling)
                continue;
            listed.index[spelling->text.toCaseFolded()].append(raw);
            if (spelling->foreign)
                listed.foreign.append(raw);
            else if (DurableReplace::isTemporaryName(raw))
                listed.temporaries.append(raw);
        }
        ::closedir(dir);
    }
    return listed;
}

void SpellingIndex::refresh()
{
    if (std::exchange(m_watchLost, false))
        watchFolder(); // back at its path
    // Notices queued before a listing only repeat what it shows, so they are kept for later.
    if (m_valid && applyNotices())
        return;
    const bool early = m_firstListing.valid();
    Listing listed = early ? m_firstListing.get() : listFolder(m_folder);
    m_index = std::move(listed.index);
    m_foreign = std::move(listed.foreign);
    m_valid = m_notices.watching();
    if (!m_caseBlind)
        learnCaseBlind();
    // The listing made at the start may be older than some notices: each name ends as its
    // last notice says, whether the listing saw it before or after.
    if (early && m_valid && !applyNotices()) {
        m_valid = false;
        refresh();
    }
}

void SpellingIndex::relist()
{
    m_valid = false;
    refresh();
}

void SpellingIndex::learnCaseBlind()
{
    // A listed name in other letter case that is not listed itself, yet opens: the folder ignores case.
    for (const QList<QByteArray>& entries : std::as_const(m_index)) {
        for (const QByteArray& entry : entries) {
            const QByteArray other = entry.toUpper() != entry ? entry.toUpper() : entry.toLower();
            if (other == entry || entries.contains(other))
                continue;
            struct stat st;
            m_caseBlind = ::lstat((m_folder + '/' + other).constData(), &st) == 0;
            return;
        }
    }
}

} // namespace kav
