#pragma once

#include "storage/Catalogue.h"

class QComboBox;
class QStringListModel;

namespace kav {

class TitleSearch;

// The title selector's list of names, kept in step with the catalogue at the least cost.
class TitleSelector
{
public:
    explicit TitleSelector(QComboBox* box);

    // The catalogue's names, none selected and no text.
    void show(const storage::Catalogue& catalogue);
    // Puts name into the selector's text and selects item position - 1 (none when
    // position is 0), without raising a Click.
    void select(const QString& name, int position);
    TitleSearch* search() const { return m_search; }

private:
    QComboBox* m_box;
    QStringListModel* m_names;
    TitleSearch* m_search;
};

} // namespace kav
