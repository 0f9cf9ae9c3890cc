#pragma once

#include <QList>
#include <QTextCursor>
#include <QWidget>

class QLabel;
class QLineEdit;
class QTextEdit;

namespace kav {

// Finds words in the page a text view shows: every place is marked, one at a time
// is the current one, and the bar counts them. Full- and half-width forms and letter
// case do not matter, as in the help file's search.
class FindBar final : public QWidget
{
public:
    explicit FindBar(QTextEdit* view, QWidget* parent = nullptr);

    // Shows the bar with the words selected, ready to be typed over.
    void open();
    // Hides it and takes the marks away.
    void dismiss();
    // The next or the previous place, round the page's end.
    void next() { step(1); }
    void previous() { step(-1); }

    qsizetype hitCount() const { return m_hits.size(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void find(bool keepCurrent);
    void step(int by);
    void mark();

    QTextEdit* m_view;
    QLineEdit* m_words;
    QLabel* m_count;
    QList<QTextCursor> m_hits;
    qsizetype m_current = -1;
};

} // namespace kav
