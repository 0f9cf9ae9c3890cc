#include "FindBar.h"

#include "HelpSearch.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QTextEdit>
#include <QToolButton>

using namespace Qt::StringLiterals;

namespace kav {
namespace {

QToolButton* toolButton(const QIcon& icon, const QString& tip)
{
    auto* button = new QToolButton;
    button->setIcon(icon);
    button->setToolTip(tip);
    button->setAutoRaise(true);
    return button;
}

} // namespace

FindBar::FindBar(QTextEdit* view, QWidget* parent) : QWidget(parent), m_view(view)
{
    setObjectName(u"findBar"_s);
    m_words = new QLineEdit;
    m_words->setObjectName(u"findWords"_s);
    m_words->setPlaceholderText(u"ページ内を探す"_s);
    m_words->setClearButtonEnabled(true);
    m_words->installEventFilter(this);
    m_count = new QLabel;
    m_count->setObjectName(u"findCount"_s);
    QToolButton* previous = toolButton(QIcon::fromTheme(u"go-up"_s, style()->standardIcon(QStyle::SP_ArrowUp)),
                                       u"前を探す（Shift+F3、Shift+Enter）"_s);
    QToolButton* next = toolButton(QIcon::fromTheme(u"go-down"_s, style()->standardIcon(QStyle::SP_ArrowDown)),
                                   u"次を探す（F3、Enter）"_s);
    QToolButton* close = toolButton(
        QIcon::fromTheme(u"window-close"_s, style()->standardIcon(QStyle::SP_TitleBarCloseButton)), u"閉じる（Esc）"_s);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 3, 6, 3);
    layout->addWidget(m_words, 1);
    layout->addWidget(previous);
    layout->addWidget(next);
    layout->addWidget(m_count, 1);
    layout->addWidget(close);

    connect(m_words, &QLineEdit::textChanged, this, [this] { find(false); });
    connect(previous, &QToolButton::clicked, this, &FindBar::previous);
    connect(next, &QToolButton::clicked, this, &FindBar::next);
    connect(close, &QToolButton::clicked, this, &FindBar::dismiss);
    // Another page, or the same one at another size: the places are found again.
    connect(m_view, &QTextEdit::textChanged, this, [this] {
        if (isVisible())
            find(true);
    });
    hide();
}

void FindBar::open()
{
    show();
    m_words->setFocus();
    m_words->selectAll();
    find(true);
}

void FindBar::dismiss()
{
    hide();
    m_hits.clear();
    m_current = -1;
    m_view->setExtraSelections({});
    m_view->setFocus();
}

bool FindBar::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_words && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            step(key->modifiers() & Qt::ShiftModifier ? -1 : 1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void FindBar::find(bool keepCurrent)
{
    const qsizetype before = m_hits.size();
    m_hits.clear();
    const QString wanted = searchForm(m_words->text());
    QTextDocument* document = m_view->document();
    for (const auto& [from, to] : findAllFolded(document->toPlainText(), wanted)) {
        QTextCursor hit(document);
        hit.setPosition(int(from));
        hit.setPosition(int(to), QTextCursor::KeepAnchor);
        m_hits.append(hit);
    }
    if (!keepCurrent || m_hits.size() != before || m_current >= m_hits.size()) {
        // The first place from the top of what the reader sees.
        const int top = m_view->cursorForPosition(QPoint(0, 0)).position();
        m_current = m_hits.isEmpty() ? -1 : 0;
        for (qsizetype i = 0; i < m_hits.size(); ++i) {
            if (m_hits[i].selectionStart() >= top) {
                m_current = i;
                break;
            }
        }
    }
    mark();
}

void FindBar::step(int by)
{
    if (!isVisible()) {
        open();
        return;
    }
    if (m_hits.isEmpty())
        return;
    const qsizetype count = m_hits.size();
    m_current = ((m_current + by) % count + count) % count;
    mark();
}

void FindBar::mark()
{
    QList<QTextEdit::ExtraSelection> marks;
    for (qsizetype i = 0; i < m_hits.size(); ++i) {
        QTextEdit::ExtraSelection mark;
        mark.cursor = m_hits[i];
        mark.format.setBackground(i == m_current ? QColor(0xFF, 0x96, 0x32) : QColor(0xFF, 0xFF, 0x60));
        mark.format.setForeground(Qt::black);
        marks.append(mark);
    }
    m_view->setExtraSelections(marks);
    if (m_current >= 0) {
        // Both ends in sight, without a selection that would hide the mark.
        QTextCursor place(m_view->document());
        place.setPosition(m_hits[m_current].selectionEnd());
        m_view->setTextCursor(place);
        m_view->ensureCursorVisible();
        place.setPosition(m_hits[m_current].selectionStart());
        m_view->setTextCursor(place);
        m_view->ensureCursorVisible();
        m_count->setText(u"%1 件中 %2 件目"_s.arg(m_hits.size()).arg(m_current + 1));
    } else {
        m_count->setText(searchForm(m_words->text()).isEmpty() ? QString() : u"見つかりません"_s);
    }
}

} // namespace kav
