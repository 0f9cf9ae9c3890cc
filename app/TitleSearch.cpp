#include "TitleSearch.h"

#include <QAbstractItemView>
#include <QAbstractListModel>
#include <QAbstractProxyModel>
#include <QCompleter>
#include <QKeyEvent>
#include <QLineEdit>

namespace kav {

QString SearchFold(QStringView text)
{
    QString folded = text.toString().normalized(QString::NormalizationForm_KC);
    for (QChar& c : folded) {
        if (c >= u'\u3041' && c <= u'\u3096') // ぁ..ゖ to ァ..ヶ
            c = QChar(c.unicode() + 0x60);
    }
    return folded.toCaseFolded();
}

// The names as shown, and as searched.
class TitleSearch::Names final : public QAbstractListModel
{
public:
    static constexpr int FoldedRole = Qt::UserRole;
    using QAbstractListModel::QAbstractListModel;

    void set(const QStringList& names)
    {
        beginResetModel();
        m_names = names;
        m_folded.clear();
        m_folded.reserve(names.size());
        for (const QString& name : names)
            m_folded.append(SearchFold(name));
        endResetModel();
    }
    void remove(int row)
    {
        beginRemoveRows({}, row, row);
        m_names.removeAt(row);
        m_folded.removeAt(row);
        endRemoveRows();
    }
    int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : int(m_names.size()); }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid() || index.row() >= m_names.size())
            return {};
        if (role == Qt::DisplayRole || role == Qt::EditRole)
            return m_names[index.row()];
        return role == FoldedRole ? QVariant(m_folded[index.row()]) : QVariant();
    }

private:
    QStringList m_names, m_folded;
};

TitleSearch::TitleSearch(QLineEdit* edit)
    : QObject(edit), m_names(new Names(this)), m_completer(new QCompleter(m_names, this))
{
    m_completer->setCompletionMode(QCompleter::PopupCompletion);
    m_completer->setFilterMode(Qt::MatchContains);
    m_completer->setCompletionRole(Names::FoldedRole);
    m_completer->setCaseSensitivity(Qt::CaseSensitive); // both sides are folded
    m_completer->setModelSorting(QCompleter::UnsortedModel);
    m_completer->setMaxVisibleItems(12);
    // Beside the line edit, not set into it: the line edit would take a highlighted name as its text.
    m_completer->setWidget(edit);
    m_completer->popup()->installEventFilter(this); // after the completer's own, so before it
    connect(edit, &QLineEdit::textEdited, this, &TitleSearch::offer);
    connect(m_completer, qOverload<const QModelIndex&>(&QCompleter::activated), this, &TitleSearch::pick);
}

void TitleSearch::setNames(const QStringList& names)
{
    m_completer->popup()->hide();
    m_names->set(names);
}

void TitleSearch::removeName(int row)
{
    m_completer->popup()->hide();
    m_names->remove(row);
}

void TitleSearch::offer(const QString& typed)
{
    const QString key = SearchFold(typed).trimmed();
    if (key.isEmpty()) {
        m_completer->popup()->hide();
        return;
    }
    m_completer->setCompletionPrefix(key);
    m_completer->complete();
}

void TitleSearch::pick(const QModelIndex& index)
{
    const auto* offered = qobject_cast<const QAbstractProxyModel*>(m_completer->completionModel());
    const QModelIndex name = offered ? offered->mapToSource(index) : QModelIndex();
    if (name.isValid())
        Q_EMIT picked(name.row());
}

bool TitleSearch::eventFilter(QObject* /*watched*/, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return false;
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key != Qt::Key_Return && key != Qt::Key_Enter)
        return false;
    // The completer would hand Enter to the line edit first, and the selector would take
    // typed text equal to a name as a pick. Only the offered name Enter stands on is one.
    const QModelIndex index = m_completer->popup()->currentIndex();
    m_completer->popup()->hide();
    if (index.isValid())
        pick(index);
    return true;
}

} // namespace kav
