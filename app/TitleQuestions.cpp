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

    // An input method types full-width digits; text that is still no number is asked again.
    const words::Question ask = words::countQuestion();
    std::optional<double> value;
    for (;;) {
        const QString entry = NarrowDigits(dialogs.InputBox(ask.prompt, ask.caption, {}));
        if (entry.trimmed().isEmpty())
            return std::nullopt;
        if ((value = LeadingNumber(entry)))
            break;
        words::show(dialogs, words::countNotANumber(ask.caption));
    }
    if (*value < 1)
        return std::nullopt;
    const std::optional<qint16> floored = FloorToInt16(*value);
    if (!floored) {
        words::show(dialogs, words::countTooLarge());
        return std::nullopt;
    }
    return NewTitle{title, *floored};
}

std::optional<QString> AskCountEdit(Dialogs& dialogs)
{
    const words::Question ask = words::countEditQuestion();
    for (;;) {
        const QString entry = NarrowDigits(dialogs.InputBox(ask.prompt, ask.caption, {}));
        if (entry.trimmed().isEmpty())
            return std::nullopt;
        if (const std::optional<double> value = StrictValue(entry))
            return *value < 1 ? std::nullopt : std::optional(entry);
        words::show(dialogs, words::countNotANumber(ask.caption));
    }
}

} // namespace kav
