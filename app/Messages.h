#pragma once

#include "core/Codec.h"
#include "core/Result.h"
#include "storage/Collection.h"
#include "storage/Conflicts.h"
#include "storage/Titles.h"
#include "ui/Printer.h"

#include <QString>
#include <QStringList>

namespace kav {

class Dialogs;

// Every word the window says to its user, in one place.
namespace words {

struct Message
{
    QString prompt; // lines joined with CR LF
    int style = 0;  // mb:: buttons and icon
    QString caption;
};
// Shows message over the window; the button pressed.
int show(Dialogs& dialogs, const Message& message);

struct Question
{
    QString prompt;
    QString caption;
};

// Reading the files.
Message savedAs(const QString& file, cp932::Mark form, bool titleList);
Message listFailure(const Error& error, bool missing, int readCount);
Message locked();
Message flagFileUnusable(const Error& error);
Message systemSpelling(const QStringList& names);
Message renameFailed(const QStringList& failed);
// One line for each file that failed.
QString renameFailure(const QString& name, const QString& reason);
Message conflictCopies(const QStringList& lines, qsizetype more);
// What one conflict copy holds that its original does not, and the other way round.
QStringList conflictCopy(const storage::ConflictCopy& copy, const storage::ConflictDifference& difference,
                         const QString& original);

// Following the disk and its failures.
Message gone(const QString& name);
Message writeFailure(const Error& error);
Message unreachable(const Error& error, bool noticed);
QString lostNote(); // %1: the folder

// The commands.
Message programFileTitle(const QString& name, const QString& file);
Question titleQuestion();
Message forbiddenCharacters();
Message titleProblem(storage::TitleProblem problem, const QString& title); // empty prompt: none
Question countQuestion();
Message countTooLarge();
Message countNotANumber(const QString& caption); // asked again after it
Message splitNotice();
Message duplicate();
Message noRoom(qsizetype needed, int left);
Message clash(const QString& flagFile, const QString& clash);
// Why a registration is refused: a duplicate, a clash or no room.
Message refusal(const storage::Outcome& outcome);
Question countEditQuestion();
Message countOver50();
Message deleteQuestion(const QString& name);
Message reportQuestion();
QString reportHeading(); // the date pattern of the report's first line
Message reportNotCreated(const QStringList& files);
Message reportUnusable(const QList<Error>& errors);
Message reportSaved();
Message printFailed(const Error& error);
Message printHeld(const HeldJob& job);
Message cancelFailed(const HeldJob& job, const Error& error);
Message introduction();

// Undo and redo. first: the first volume's number of the title shown.
QString stepDone(const storage::Change& change, bool redo, int first);
Message stepRefused(const storage::Outcome& outcome, const storage::Change& change, bool redo);
struct RangeMenu
{
    QString collectedUpTo, uncollectedFrom;
};
RangeMenu rangeMenu(int volume); // the volume the menu is on, by its number

// The window's own texts.
QString volumes(qint16 count); // "12巻"
QString position(int shown, int count);
struct Labels
{
    QString positionBar, title, startVolume, positionText, logo, grid, rule;
    QString gridTip, countTip, positionBarTip;
};
Labels labels(const QString& gridKey, const QString& countKey);
QString keyTip(const QString& key); // appended to a button's tooltip
QString firstTitleHint();           // in the empty volume frame of an empty folder

} // namespace words
} // namespace kav
