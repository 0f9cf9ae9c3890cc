#include "frmMain.h"

#include "BusyCursor.h"
#include "ui_frmMain.h"

#include "FolderAdvice.h"
#include "Messages.h"
#include "Printing.h"
#include "TitleQuestions.h"
#include "TitleSelector.h"
#include "VolumeGrid.h"

#include "core/Clock.h"
#include "core/Conversions.h"
#include "core/FileService.h"
#include "ui/Dialogs.h"
#include "ui/HelpViewer.h"
#include "ui/Printer.h"

#include <QApplication>
#include <QTimer>

namespace kav {

namespace {
const QString HelpFile = QStringLiteral("QvHelp.chm");
const QString IntroductionHelpFile = QStringLiteral("TandrelHelp.chm");
} // namespace

int frmMain::say(const words::Message& message)
{
    return words::show(m_services.dialogs, message);
}

QString frmMain::shownName() const
{
    return m_shown > 0 ? catalogue().strName[m_shown] : QString();
}

// ---- Loading and browsing ----------------------------------------------------

void frmMain::Form_Load()
{
    if (m_loaded)
        return;
    m_loaded = true;
    const Busy busy(*this);

    LoadTitles();
    {
        // The bar already holds 1; assigning it again raises no Change.
        const QSignalBlocker block(ui->hsbData);
        ui->hsbData->setValue(1);
    }
    ShowTitle();
    fillStartVolumes();
    OfferSystemSpelling(m_services.dialogs, m_services.files);
    tellConflictCopies();
}

void frmMain::LoadTitles()
{
    if (const Status here = m_services.files.checkFolder(); !here) {
        showUnreachable(here.error());
        return;
    }
    showLoadedTitles(m_store.load());
}

void frmMain::showLoadedTitles(const storage::LoadReport& report)
{
    const storage::Catalogue& cat = catalogue();
    m_selector->show(cat);
    ui->Frame1->showHint(cat.intKensu == 0 && !report.failure ? words::firstTitleHint() : QString());

    {
        // Qt would drag the minimum below 1 for an empty catalogue, or move the
        // value (and show a title) when the maximum drops below it.
        const QSignalBlocker block(ui->hsbData);
        ui->hsbData->setRange(1, std::max<int>(1, cat.intKensu));
    }
    if (m_shown > cat.intKensu)
        m_shown = cat.intKensu;

    if (report.encoding != storage::ListEncoding::ShiftJis && !report.failure && !m_toldUtf8) {
        m_toldUtf8 = true;
        const Busy busy(*this);
        say(words::savedAs(storage::TitleListLower(),
                           report.encoding == storage::ListEncoding::Utf8 ? cp932::Mark::Utf8 : cp932::Mark::Utf16LE,
                           true));
    }
    if (report.failure && report.failure->kind == ErrorKind::Unreachable) {
        showUnreachable(*report.failure);
    } else if (report.failure && !m_store.locked()) {
        m_store.lock();
        say(words::listFailure(*report.failure, report.missing, cat.intKensu));
    }
}

void frmMain::hsbData_Change()
{
    const Busy busy(*this);
    ShowTitle();
}

void frmMain::cboName_Click(int index)
{
    const Busy busy(*this);
    // Picking the title already shown leaves the value alone and so changes nothing.
    ui->hsbData->setValue(index + 1);
}

void frmMain::ShowTitle()
{
    const storage::Catalogue& cat = catalogue();
    const int p = ui->hsbData->value();
    // With an empty catalogue the bar still stands at 1; show the empty slot,
    // never a title left over from an earlier, longer load.
    const bool inCatalogue = p >= 1 && p <= cat.intKensu;
    m_shown = inCatalogue ? p : 0;
    const QString name = shownName();
    const qint16 count = inCatalogue ? cat.intKansu[p] : 0;

    strFile = storage::FlagFileUpper(name);
    m_selector->select(name, m_shown);
    showCount(words::volumes(count));
    ui->cboSyo->setEditText(IntText((inCatalogue ? cat.intSyo[p] : 0) + 1));
    ShowVolumes();
    ui->lblKensu->setText(words::position(p, cat.intKensu));
}

void frmMain::ShowVolumes()
{
    LoadVolumes();
    paintVolumes();
    m_store.watch(m_shown > 0 ? strFile : QString());
}

void frmMain::LoadVolumes()
{
    const storage::TitleFlags shown = m_store.readFlags(strFile);
    intKan = shown.flags;
    m_volumesUnknown = false;
    if (!shown.problem) {
        if (shown.read.mark != cp932::Mark::None && !m_toldSavedAs.contains(strFile.toCaseFolded())) {
            m_toldSavedAs.insert(strFile.toCaseFolded());
            const Busy busy(*this);
            say(words::savedAs(strFile, shown.read.mark, false));
        }
        return;
    }
    const Error& e = *shown.problem;
    if (e.kind == ErrorKind::Unreachable) {
        m_volumesUnknown = true; // no flags rather than zeros that are not there
        showUnreachable(e);
        return;
    }
    // A flag file that cannot be used is said once for each title shown, not at every repaint.
    if ((shown.read.unreadable || e.kind == ErrorKind::Clash || e.kind == ErrorKind::Unsafe ||
         e.kind == ErrorKind::NotAFile) &&
        m_toldFlagProblem != strFile) {
        m_toldFlagProblem = strFile;
        const Busy busy(*this);
        say(words::flagFileUnusable(e));
    }
}

void frmMain::showCount(const QString& text)
{
    ui->lblKansu->setText(text);
    m_shownCount = LeadingValue(text);
}

void frmMain::paintVolumes()
{
    ui->Frame1->showVolumes(intKan, m_volumesUnknown ? 0 : m_shownCount,
                            LeadingValue(NarrowDigits(ui->cboSyo->currentText())));
}

void frmMain::showEmptyCatalogue()
{
    ui->Frame1->hideVolumes();
    {
        const QSignalBlocker block(ui->hsbData);
        ui->hsbData->setRange(1, 1);
        ui->hsbData->setValue(1);
    }
    showCount(QString());
    ui->cboSyo->setEditText(QString());
    m_shown = 0;
    m_store.watch({});
}

// ---- Following the disk ----------------------------------------------------

void frmMain::endBusy()
{
    if (--m_busy == 0 && m_followPending) {
        m_followPending = false;
        QTimer::singleShot(0, this, &frmMain::followDisk);
    }
}

void frmMain::followDisk()
{
    if (!m_loaded)
        return;
    // Never while a handler or one of its dialogs runs: the change waits until it ends.
    if (m_busy > 0 || QApplication::activeModalWidget()) {
        m_followPending = true;
        if (m_busy == 0) // a dialog not of a handler: look again shortly
            QTimer::singleShot(200, this, &frmMain::followDisk);
        return;
    }
    Error lost;
    const storage::Collection::Look look = m_store.look(m_shown > 0 ? strFile : QString(), &lost);
    if (look == storage::Collection::Look::Unreachable) {
        if (!m_unreachable) {
            const Busy busy(*this);
            tellUnreachable(lost, true);
        }
        return;
    }
    if (m_unreachable) {
        // Back, the same folder: what is on it now, whatever was read before it went.
        m_unreachable = false;
        ui->Frame1->showLostNote({}, {});
        reloadShowing(shownName());
        return;
    }
    if (look == storage::Collection::Look::ListChanged) {
        reloadShowing(shownName());
    } else if (look == storage::Collection::Look::FlagsChanged) {
        const Busy busy(*this);
        ShowVolumes();
    }
    tellConflictCopies();
}

void frmMain::tellConflictCopies()
{
    const Busy busy(*this);
    TellConflictCopies(m_services.dialogs, m_services.files, catalogue(), m_toldCopies);
}

void frmMain::reloadShowing(const QString& name)
{
    const Busy busy(*this);
    const int before = m_shown > 0 ? m_shown : ui->hsbData->value();
    LoadTitles();
    const storage::Catalogue& cat = catalogue();
    if (cat.intKensu == 0) {
        showEmptyCatalogue();
        ui->cboName->setEditText(QString());
        return;
    }
    // The same title by name; where it is gone, the one that took its place.
    int p = name.isEmpty() ? 0 : storage::FindTitle(cat, name);
    if (p == 0)
        p = std::clamp(before, 1, int(cat.intKensu));
    {
        const QSignalBlocker block(ui->hsbData);
        ui->hsbData->setValue(p);
    }
    ShowTitle();
}

// ---- Failures --------------------------------------------------------------

void frmMain::afterFailedChange(const storage::Outcome& outcome, const QString& name)
{
    switch (outcome.kind) {
    case storage::Outcome::Done:
        return;
    case storage::Outcome::Unreachable:
        tellUnreachable(outcome.error);
        return; // what the window shows is all there is to show
    case storage::Outcome::Gone:
    case storage::Outcome::Changed:
        say(words::gone(name));
        break;
    case storage::Outcome::ListUnreadable:
        if (!m_store.locked()) {
            m_store.lock();
            say(words::listFailure(outcome.error, false, catalogue().intKensu));
        }
        break;
    case storage::Outcome::Duplicate:
    case storage::Outcome::Clash:
    case storage::Outcome::NoRoom:
        say(words::refusal(outcome));
        break;
    case storage::Outcome::Unusable:
    case storage::Outcome::Failed:
        tellWriteFailure(outcome.error);
        break;
    }
    reloadShowing(name);
}

void frmMain::tellWriteFailure(const Error& error)
{
    if (error.kind == ErrorKind::Unreachable)
        tellUnreachable(error);
    else
        say(words::writeFailure(error));
}

bool frmMain::refuseWhileLocked()
{
    if (m_store.locked())
        say(words::locked());
    return m_store.locked();
}

bool frmMain::refuseUnreachable()
{
    const Status here = m_services.files.checkFolder();
    if (!here)
        tellUnreachable(here.error());
    return !here;
}

void frmMain::tellUnreachable(const Error& error, bool noticed)
{
    showUnreachable(error);
    say(words::unreachable(error, noticed));
}

void frmMain::showUnreachable(const Error& error)
{
    m_unreachable = true;
    ui->Frame1->showLostNote(words::lostNote(), error.file);
}

// ---- Marking volumes -------------------------------------------------------

void frmMain::lblKan_Click(int index)
{
    if (index < 1 || index > storage::FlagCount || m_shown < 1 || m_shown > catalogue().intKensu)
        return;
    const Busy busy(*this);
    if (const QString name = markableTitle(); !name.isEmpty())
        SaveVolumes(name, index);
}

QString frmMain::markableTitle()
{
    if (refuseUnreachable())
        return {};
    // The flags belong to the title on display, whatever was typed into the selector.
    const QString name = shownName();
    m_selector->select(name, m_shown);
    strFile = storage::FlagFileLower(name);
    if (storage::NamesProgramFile(name)) {
        say(words::programFileTitle(name, strFile));
        return {};
    }
    return name;
}

void frmMain::SaveVolumes(const QString& name, int index)
{
    storage::Flags after{};
    const storage::Outcome outcome = m_store.toggle(name, index, after);
    if (outcome.kind == storage::Outcome::Unusable || outcome.kind == storage::Outcome::Failed) {
        // The file is as it was, and so are the label and the flag.
        tellWriteFailure(outcome.error);
        return;
    }
    if (!outcome.ok()) {
        afterFailedChange(outcome, name);
        return;
    }
    remember(outcome);
    // Flags someone else set meanwhile are in the file now, and on screen.
    intKan = after;
    paintVolumes();
    // A clicked label shows any value but 0 as set.
    VolumeGrid::showFlag(ui->Frame1->label(index), after[index] != 0 ? 1 : 0);
}

// ---- Registration ----------------------------------------------------------

void frmMain::cmdNew_Click()
{
    if (refuseWhileLocked())
        return;
    const Busy busy(*this);
    if (refuseUnreachable())
        return;
    const storage::Catalogue& cat = catalogue();
    const std::optional<NewTitle> asked = AskNewTitle(m_services.dialogs, cat);
    if (!asked)
        return;
    const QString& title = asked->title;
    const qint16 n = asked->volumes;
    const QList<storage::Piece> pieces = storage::SplitIntoPieces(title, n);

    // Everything is checked before the first file is written, against the catalogue
    // shown here and again against the list on disk.
    if (const storage::Outcome checked = storage::CheckNewPieces(cat, pieces); !checked.ok()) {
        say(words::refusal(checked));
        return;
    }
    if (n > 50)
        say(words::splitNotice());

    BusyCursor cursor;
    const storage::Outcome outcome = m_store.add(pieces, title);
    cursor.release();
    if (!outcome.ok()) {
        afterFailedChange(outcome, shownName());
        return;
    }
    remember(outcome);

    const storage::Piece& shown = pieces.first();
    LoadTitles();
    m_shown = storage::FindTitle(catalogue(), shown.name);
    strFile = storage::FlagFileUpper(shown.name);
    m_selector->select(shown.name, m_shown);
    showCount(words::volumes(n <= 50 ? n : 50));
    ui->cboSyo->setEditText(QStringLiteral("1"));
    ShowVolumes();
}

// ---- Count and start volume ------------------------------------------------

void frmMain::lblKansu_Click()
{
    // With no title there is nothing whose count could change.
    if (m_shown < 1 || m_shown > catalogue().intKensu)
        return;
    if (refuseWhileLocked())
        return;
    const Busy busy(*this);
    if (refuseUnreachable())
        return;
    const std::optional<QString> asked = AskCountEdit(m_services.dialogs);
    if (!asked)
        return;
    QString entry = *asked;
    if (StrictValue(entry).value_or(0) > 50) {
        say(words::countOver50());
        entry = QStringLiteral("50");
    }

    // The count belongs to the title on display, not to text typed into the selector.
    const QString name = shownName();
    m_selector->select(name, m_shown);
    const storage::Outcome outcome = m_store.setCount(name, RoundToInt16(LeadingValue(entry)).value_or(0));
    if (!outcome.ok()) {
        afterFailedChange(outcome, name);
        return;
    }
    remember(outcome);
    showCount(entry);
    showEdited(name);
}

void frmMain::cboSyo_Click(int /*index*/)
{
    if (m_shown < 1 || m_shown > catalogue().intKensu) {
        ui->cboSyo->setEditText(QString());
        return;
    }
    const QString shownStart = IntText(catalogue().intSyo[m_shown] + 1);
    if (refuseWhileLocked()) {
        ui->cboSyo->setEditText(shownStart);
        return;
    }
    const Busy busy(*this);
    if (refuseUnreachable()) {
        ui->cboSyo->setEditText(shownStart);
        return;
    }
    // The start volume belongs to the title on display, whatever the selector shows.
    const QString name = shownName();
    m_selector->select(name, m_shown);
    const storage::Outcome outcome =
        m_store.setStart(name, RoundToInt16(LeadingValue(NarrowDigits(ui->cboSyo->currentText())) - 1).value_or(0));
    if (!outcome.ok()) {
        afterFailedChange(outcome, name);
        return;
    }
    remember(outcome);
    showEdited(name);
}

void frmMain::showEdited(const QString& name)
{
    showLoadedTitles({});
    // Others may have added or removed titles before this one: it is found again by name.
    m_shown = storage::FindTitle(catalogue(), name);
    if (m_shown > 0 && m_shown != ui->hsbData->value()) {
        const QSignalBlocker block(ui->hsbData);
        ui->hsbData->setValue(m_shown);
        ui->lblKensu->setText(words::position(m_shown, catalogue().intKensu));
    }
    strFile = storage::FlagFileUpper(name);
    m_selector->select(name, m_shown);
    ShowVolumes();
}

// ---- Deletion --------------------------------------------------------------

void frmMain::cmdDel_Click()
{
    if (refuseWhileLocked())
        return;
    const Busy busy(*this);
    if (refuseUnreachable())
        return;
    // The title on display is the one deleted, whatever was typed into the selector.
    const QString name = shownName();
    m_selector->select(name, m_shown);
    if (say(words::deleteQuestion(name)) != mb::OK)
        return;
    if (m_shown == 0) {
        showEmptyCatalogue();
        return;
    }
    const storage::Outcome outcome = m_store.remove(name);
    if (!outcome.ok()) {
        afterFailedChange(outcome, name);
        return;
    }
    remember(outcome);
    showLoadedTitles({});
    if (catalogue().intKensu > 0) {
        {
            // The title that followed takes the deleted one's place; after the last, the one before.
            const QSignalBlocker block(ui->hsbData);
            ui->hsbData->setValue(std::min<int>(outcome.position, catalogue().intKensu));
        }
        ShowTitle();
    } else {
        showEmptyCatalogue();
    }
}

// ---- Report and printing ---------------------------------------------------

void frmMain::cmdHozon_Click()
{
    const Busy busy(*this);
    if (refuseUnreachable())
        return;
    const bool printing = say(words::reportQuestion()) == mb::Yes;

    BusyCursor cursor;
    storage::Collection::Report report =
        m_store.writeReport(FormatDate(m_services.clock.today(), words::reportHeading()));
    cursor.release();

    if (printing) {
        // The heading is formatted again for the printer, as the file got its own.
        report.records[0] = {FormatDate(m_services.clock.today(), words::reportHeading())};
        TellPrinted(m_services.dialogs, m_services.printer, PrintRecords(m_services.printer, report.records));
    }

    if (!report.collected.notCreated.isEmpty())
        say(words::reportNotCreated(report.collected.notCreated));
    if (!report.collected.unusable.isEmpty())
        say(words::reportUnusable(report.collected.unusable));
    say(report.written ? words::reportSaved() : words::writeFailure(report.written.error()));
}

void frmMain::cmdPrint_Click()
{
    TellPrinted(m_services.dialogs, m_services.printer, m_services.printer.printWidget(*this));
}

// ---- Help and exit ---------------------------------------------------------

void frmMain::cmdHelp_Click()
{
    strHelp = HelpFile;
    m_services.help.HtmlHelpA(this, strHelp, HH_DISPLAY_TOPIC, 0);
}

void frmMain::cmdShoukai_Click()
{
    say(words::introduction());
    strHelp = IntroductionHelpFile;
    m_services.help.HtmlHelpA(this, strHelp, HH_DISPLAY_TOPIC, 0);
}

void frmMain::cmdEnd_Click()
{
    for (const QString& file : {HelpFile, IntroductionHelpFile}) {
        strHelp = file;
        m_services.help.HtmlHelpA(this, strHelp, HH_CLOSE_ALL, 0);
    }
    close();
    QCoreApplication::exit(0);
}

} // namespace kav
