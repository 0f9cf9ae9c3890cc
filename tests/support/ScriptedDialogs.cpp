#include "support/ScriptedDialogs.h"

#include <QTest>

namespace kav::test {

int ScriptedDialogs::MsgBox(const QString& prompt, int style, const QString& caption)
{
    calls.append({Call::Message, prompt, caption, style, {}});
    if (onAsk)
        onAsk(calls.last());
    if (m_messageAnswers.isEmpty()) {
        // Only OK to press: nothing to choose, nothing to script.
        if ((style & 7) == mb::OKOnly)
            return mb::OK;
        ++unscripted;
        QTest::qFail(qPrintable(QStringLiteral("unscripted question: ") + caption + QStringLiteral(" / ") + prompt),
                     __FILE__, __LINE__);
        return (style & 7) == mb::YesNo ? mb::No : mb::Cancel;
    }
    return m_messageAnswers.dequeue();
}

QString ScriptedDialogs::InputBox(const QString& prompt, const QString& caption, const QString& defaultText)
{
    calls.append({Call::Input, prompt, caption, 0, defaultText});
    if (onAsk)
        onAsk(calls.last());
    if (m_inputAnswers.isEmpty()) {
        ++unscripted;
        QTest::qFail(qPrintable(QStringLiteral("unscripted input box: ") + caption), __FILE__, __LINE__);
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
