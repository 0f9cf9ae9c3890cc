#pragma once

#include "Services.h"
#include "storage/Catalogue.h"
#include "storage/VolumeFlags.h"

#include <QSet>
#include <QWidget>

#include <array>
#include <limits>
#include <memory>
#include <optional>

class QComboBox;
class QShortcut;
class QLabel;
class QStringListModel;
class QScrollBar;

namespace Ui {
class frmMain;
}

namespace kav {

struct Error;
namespace storage {
struct Change;
}
class VolumeCursor;

// The program's only window: the event handlers and the private procedures that
// keep the catalogue, the shown title and the files in step.
class frmMain final : public QWidget
{
    Q_OBJECT

public:
    explicit frmMain(const Services& services, QWidget* parent = nullptr);
    ~frmMain() override;
    Q_DISABLE_COPY_MOVE(frmMain)

    // Runs once; showing the window runs it when nobody did before.
    void Form_Load();

    // The event handlers, public so tests can raise them as the user would.
    void hsbData_Change();
    void cboName_Click(int index);
    void lblKan_Click(int index);
    void lblKansu_Click();
    void cboSyo_Click(int index);
    void cmdNew_Click();
    void cmdDel_Click();
    void cmdHozon_Click();
    void cmdPrint_Click();
    void cmdHelp_Click();
    void cmdShoukai_Click();
    void cmdEnd_Click();

    // Read-only views for tests.
    const storage::Catalogue& catalogue() const { return m_cat; }
    const storage::Flags& flags() const { return intKan; }
    const QString& volumeFile() const { return strFile; }
    const QString& helpFile() const { return strHelp; }
    bool titlesLocked() const { return m_titlesLocked; }
    QLabel* volumeLabel(int index) const { return lblKan[index]; }

    static QColor flagColour(qint16 flag);

    // Keyboard access that leaves the tab order alone.
    static QKeySequence volumeGridKey();
    static QKeySequence countKey();
    VolumeCursor* volumeCursor() const { return m_cursor; }

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setUpControls();
    void connectEvents();

    void LoadTitles();
    void showLoadedTitles(const storage::LoadReport& report);
    // Offers once to give files named in code page 932 bytes their UTF-8 names.
    void OfferSystemSpelling();
    void ShowTitle();
    void ShowVolumes();
    void LoadVolumes();
    // Switches flag index in the shown title's flag file as it is on disk now.
    void SaveVolumes(int index);
    void paintVolumes();
    // The catalogue as a command wrote it (read again when the command did not say).
    void showWritten(const storage::Change& change);
    // Before a command: the catalogue read from the list the window last loaded, so that a
    // command finding the list still in those bytes need not parse it again.
    void shareLoadedList();
    // After an edit on disk: the catalogue again, name shown where it now stands.
    void showEdited(const QString& name, const storage::Change& change);

    // Puts name into the title selector and selects item position - 1 (none
    // when position is 0), without raising a Click.
    void setSelectorText(const QString& name, int position);
    bool refuseWhileLocked();
    static QString writeFailureText(const Error& error);
    // The folder opened at the start gone from its path (drive pulled or unmounted, folder
    // moved or replaced): the titles last read stay on display and the window says so.
    bool refuseUnreachable();
    void tellUnreachable(const Error& error, bool noticed = false);
    void showUnreachable(const Error& error);
    void tellWriteFailure(const Error& error);
    void tellListFailure(const Error& error, bool missing);
    // A file an editor saved as UTF-8 or UTF-16: read says what was read of it.
    void tellSavedAs(const QString& file, cp932::Mark form, const QString& read);
    void tellGone(const QString& name);
    void tellDuplicate();
    void tellNoRoom(qsizetype needed, int left);
    void tellClash(const QString& pieceName, const QString& clash);
    void afterFailedChange(const storage::Change& change, const QString& name);
    void showEmptyCatalogue();

    // Following the files on disk: what another window or program changed is shown
    // within moments, never while a handler or its dialog runs.
    void followDisk();
    void followFiles();
    // Names the sync services' conflict copies not told of before, and how they differ.
    void tellConflictCopies();
    void reloadShowing(const QString& name);
    void watchShownFiles();
    void endBusy();
    struct Busy
    {
        explicit Busy(frmMain& w) : window(w) { ++window.m_busy; }
        ~Busy() { window.endBusy(); }
        Q_DISABLE_COPY_MOVE(Busy)
        frmMain& window;
    };

    void setLabelColour(QLabel* label, const QColor& colour);
    // A volume label in the colour of flag.
    static void showFlag(QLabel* label, qint16 flag);

    // Look, keyboard and screen reader set-up of the controls.
    void setUpDesktop();
    void fitPositionLabel();

    std::unique_ptr<Ui::frmMain> ui;
    Services m_services;

    // 1..50; slot 0 stays null so indexes read as the labels are numbered.
    std::array<QLabel*, storage::FlagCount + 1> lblKan{};
    std::array<QString, storage::FlagCount + 1> m_captions;
    double m_captionsFirst = std::numeric_limits<double>::quiet_NaN(); // NaN: none made yet
    QStringListModel* m_nameModel = nullptr;                           // the title selector's names
    VolumeCursor* m_cursor = nullptr;

    storage::Catalogue m_cat; // strName, intKansu, intSyo, intKensu
    storage::Flags intKan{};
    QString strFile;
    QString strHelp;

    // Catalogue position of the title on display, 0 when none. Usually the
    // scroll bar's value; after a registration the new title, which is shown
    // without moving the scroll bar.
    int m_shown = 0;
    bool m_loaded = false;
    // The title list could not be read to its end: it must not be written until restart.
    bool m_titlesLocked = false;
    bool m_toldUtf8 = false;
    bool m_unreachable = false;
    QLabel* m_lostNote = nullptr;  // says so while it lasts
    bool m_volumesUnknown = false; // the shown title's flags could not be read: no labels
    QString m_toldFlagProblem;
    QSet<QString> m_toldSavedAs; // flag files, case-folded
    QSet<QString> m_toldCopies;

    // The bytes last read or written, to tell others' changes from our own (nullopt: unreadable).
    std::optional<QByteArray> m_listSeen;
    std::optional<QByteArray> m_flagsSeen;
    // m_cat is what reading m_listSeen gives, and the commands do not know it yet.
    bool m_listToShare = false;
    int m_busy = 0;
    bool m_followPending = false;
};

} // namespace kav
