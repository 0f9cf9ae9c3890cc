#pragma once

#include "ui/Dialogs.h"

#include <QList>
#include <QQueue>
#include <QString>

#include <functional>

namespace kav::test {

// Records every dialog it is asked for and answers from queues. A message with only
// an OK button needs no answer; a question (any other buttons) or an input box that
// no answer was queued for fails the running test, and is then closed (Cancel).
class ScriptedDialogs final : public Dialogs
{
public:
    struct Call
    {
        enum Kind { Message, Input } kind;
        QString prompt;
        QString caption;
        int style = 0;       // message boxes
        QString defaultText; // input boxes
    };

    void answerMessage(int result) { m_messageAnswers.enqueue(result); }
    void answerInput(const QString& text) { m_inputAnswers.enqueue(text); }

    int MsgBox(const QString& prompt, int style, const QString& caption) override;
    QString InputBox(const QString& prompt, const QString& caption, const QString& defaultText) override;

    // Runs as each dialog opens, while it is open: what happens meanwhile.
    std::function<void(const Call&)> onAsk;

    QList<Call> calls;
    int unscripted = 0; // questions asked with no answer queued
    bool allAnswersUsed() const { return m_messageAnswers.isEmpty() && m_inputAnswers.isEmpty(); }
    QStringList captions() const;

private:
    QQueue<int> m_messageAnswers;
    QQueue<QString> m_inputAnswers;
};

} // namespace kav::test
