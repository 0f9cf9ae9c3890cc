#include "TitleQuestions.h"

#include "Messages.h"

#include "core/Conversions.h"
#include "storage/Titles.h"
#include "ui/Dialogs.h"

namespace kav {

std::optional<NewTitle> AskNewTitle(Dialogs& dialogs, const storage::Catalogue& catalogue)
{
    QString defaultText;
    QString title;
    for (;;) {
        const words::Question ask = words::titleQuestion();
        title = dialogs.InputBox(ask.prompt, ask.caption, defaultText);
        if (title.isEmpty())
            return std::nullopt;
        title = storage::WindowsForms(title);
        const storage::TitleProblem problem = storage::CheckTitle(title);
        if (problem == storage::TitleProblem::Forbidden) {
            words::show(dialogs, words::forbiddenCharacters());
            continue;
        }
        if (storage::FindTitle(catalogue, title) != 0) {
            words::show(dialogs, words::duplicate());
            defaultText = title;
            continue;
        }
        if (const words::Message why = words::titleProblem(problem, title); !why.prompt.isEmpty()) {
            words::show(dialogs, why);
            defaultText = title;
            continue;
        }
        break;
    }

    const words::Question ask = words::countQuestion();
    const QString entry = dialogs.InputBox(ask.prompt, ask.caption, {});
    if (entry.isEmpty() || LeadingValue(entry) < 1)
        return std::nullopt;
    const std::optional<qint16> floored = FloorToInt16(LeadingValue(entry));
    if (!floored) {
        words::show(dialogs, words::countTooLarge());
        return std::nullopt;
    }
    return NewTitle{title, *floored};
}

} // namespace kav
