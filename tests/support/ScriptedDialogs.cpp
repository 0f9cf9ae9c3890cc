#include "support/ScriptedDialogs.h"

namespace kav::test {

int ScriptedDialogs::MsgBox(const QString& prompt, int style, const QString& caption)
{
    calls.append({Call::Message, prompt, caption, style, {}});
    if (m_messageAnswers.isEmpty()) {
        ++unscripted;
        return mb::OK;
    }
    return m_messageAnswers.dequeue();
}

QString ScriptedDialogs::InputBox(const QString& prompt, const QString& caption, const QString& defaultText)
{
    calls.append({Call::Input, prompt, caption, 0, defaultText});
    if (m_inputAnswers.isEmpty()) {
        ++unscripted;
        return {};
    }
    return m_inputAnswers.dequeue();
}

QStringList ScriptedDialogs::captions() const
{
    QStringList out;
    for (const Call& call : calls)
        out.append(call.caption);
    return out;
}

} // namespace kav::test
