#include "TitleSelector.h"

#include "TitleSearch.h"

#include <QComboBox>
#include <QLineEdit>
#include <QStringListModel>

namespace kav {

TitleSelector::TitleSelector(QComboBox* box)
    : m_box(box), m_names(new QStringListModel(box)), m_search(new TitleSearch(box->lineEdit()))
{
    box->setModel(m_names);
}

void TitleSelector::show(const storage::Catalogue& cat)
{
    // A count or start-volume edit leaves every name where it was, a deletion takes one out:
    // the selector's list of up to 2000 names is then kept, or loses that one item, instead
    // of being built again. It ends as a new list would.
    // The model's own list, shared, not 2000 texts asked of the combo box one by one.
    const QStringList had = m_names->stringList();
    const auto count = int(had.size());
    int same = 0; // leading names that are where they were
    while (same < count && same < cat.intKensu && had[same] == cat.strName[same + 1])
        ++same;
    bool oneGone = count == cat.intKensu + 1 && same < count;
    for (int p = same + 1; oneGone && p <= cat.intKensu; ++p)
        oneGone = had[p] == cat.strName[p];
    if (oneGone) {
        // Unselected first: Qt would otherwise select and lay out the next name, soon cleared.
        m_box->setCurrentIndex(-1);
        m_box->removeItem(same);
        m_search->removeName(same);
    } else if (!(count == cat.intKensu && same == count)) {
        QStringList names;
        names.reserve(cat.intKensu);
        for (int p = 1; p <= cat.intKensu; ++p)
            names.append(cat.strName[p]);
        // One reset of a list model, not 2000 items made one by one.
        m_names->setStringList(names);
        m_search->setNames(names);
    }
    m_box->setCurrentIndex(-1);
    m_box->clearEditText();
    m_box->repaint();
}

void TitleSelector::select(const QString& name, int position)
{
    if (position >= 1 && position <= m_box->count())
        m_box->setCurrentIndex(position - 1);
    else
        m_box->setCurrentIndex(-1);
    // Also when the index did not change: the user may have typed over the text.
    m_box->setEditText(name);
}

} // namespace kav
