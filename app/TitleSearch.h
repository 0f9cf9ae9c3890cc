#pragma once

#include <QObject>
#include <QStringList>

class QCompleter;
class QLineEdit;

namespace kav {

// A name as the search reads it: hiragana as katakana, full and half width alike, no letter case.
QString SearchFold(QStringView text);

// While a name is typed into the title selector, offers the titles that contain it.
// Only a title taken from the offer is picked; Enter on the offer never hands the
// typed text to the selector.
class TitleSearch final : public QObject
{
    Q_OBJECT

public:
    explicit TitleSearch(QLineEdit* edit);

    // Folded once here, when the list changes, not at every key.
    void setNames(const QStringList& names);
    void removeName(int row);
    QCompleter* completer() const { return m_completer; }

Q_SIGNALS:
    void picked(int row);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void offer(const QString& typed);
    void pick(const QModelIndex& index);

    class Names;
    Names* m_names;
    QCompleter* m_completer;
};

} // namespace kav
