#pragma once

#include "Services.h"
#include "storage/Collection.h"

#include <QWidget>

#include <QSet>

#include <memory>

class QLabel;

namespace Ui {
class frmMain;
}

namespace kav {

class History;
class TitleSelector;
class VolumeCursor;
namespace words {
struct Message;
}

// The program's only window: the event handlers, and the display of what the
// collection holds and says.
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
    // Undo and redo (Ctrl+Z; Ctrl+Shift+Z, Ctrl+Y), and ranges of volumes (Steps.cpp).
    void undoStep(bool redo);
    void lblKan_ShiftClick(int index);
    // Volumes from..to of the title shown set to flag, in one write and one step;
    // ranges grown from one anchor in a row are one step.
    void markRange(int from, int to, qint16 flag, int anchor = 0);
    const History& history() const { return *m_history; }

    // Read-only views for tests.
    const storage::Catalogue& catalogue() const { return m_store.catalogue(); }
    const storage::Flags& flags() const { return intKan; }
    const QString& volumeFile() const { return strFile; }
    const QString& helpFile() const { return strHelp; }
    bool titlesLocked() const { return m_store.locked(); }
    QLabel* volumeLabel(int index) const;

    static QColor flagColour(qint16 flag);

    // Keyboard access that leaves the tab order alone.
    static QKeySequence volumeGridKey();
    static QKeySequence countKey();
    VolumeCursor* volumeCursor() const { return m_cursor; }

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The look, the keyboard and the screen reader's names (WindowLook.cpp).
    void setUpControls();
    void setUpDesktop();
    void fitPositionLabel();
    void connectEvents();
    void connectSteps();
    void showRangeMenu(int index, const QPoint& at);
    // Keeps a change done for undo; a click is where the next range starts.
    void remember(const storage::Outcome& outcome);
    void connectKeys(); // WindowKeys.cpp
    // The start volumes offered: 1, 51, ... 501.
    void fillStartVolumes();

    int say(const words::Message& message);

    void LoadTitles();
    void showLoadedTitles(const storage::LoadReport& report);
    void ShowTitle();
    void ShowVolumes();
    void LoadVolumes();
    // Switches flag index of title name in its flag file as it is on disk now.
    void SaveVolumes(const QString& name, int index);
    // The shown title, its flag file named for a change; empty (and said why) when its
    // flags cannot be changed.
    QString markableTitle();
    void paintVolumes();
    // After an edit on disk: the catalogue again, name shown where it now stands.
    void showEdited(const QString& name);
    // The count label's text, and the volumes it stands for.
    void showCount(const QString& text);
    void showEmptyCatalogue();
    QString shownName() const;

    bool refuseWhileLocked();
    bool refuseUnreachable();
    void tellUnreachable(const Error& error, bool noticed = false);
    void showUnreachable(const Error& error);
    void tellWriteFailure(const Error& error);
    // Says what kept a command from being done, then shows the disk as it is.
    void afterFailedChange(const storage::Outcome& outcome, const QString& name);

    // Following the files on disk: what another window or program changed is shown
    // within moments, never while a handler or its dialog runs.
    void followDisk();
    // Names the sync services' conflict copies not told of before, and how they differ.
    void tellConflictCopies();
    void reloadShowing(const QString& name);
    void endBusy();
    struct Busy
    {
        explicit Busy(frmMain& w) : window(w) { ++window.m_busy; }
        ~Busy() { window.endBusy(); }
        Q_DISABLE_COPY_MOVE(Busy)
        frmMain& window;
    };

    std::unique_ptr<Ui::frmMain> ui;
    Services m_services;
    storage::Collection m_store;

    std::unique_ptr<TitleSelector> m_selector;
    VolumeCursor* m_cursor = nullptr;
    History* m_history = nullptr;
    struct LastClick
    {
        QString title;
        int index = 0;
        qint16 flag = 0; // what the click set
    } m_lastClick;

    storage::Flags intKan{};
    QString strFile;
    QString strHelp;

    // Catalogue position of the title on display, 0 when none. Usually the
    // scroll bar's value; after a registration the new title, which is shown
    // without moving the scroll bar.
    int m_shown = 0;
    double m_shownCount = 0; // the volumes the count label shows
    bool m_loaded = false;
    bool m_toldUtf8 = false;
    bool m_unreachable = false;
    bool m_volumesUnknown = false; // the shown title's flags could not be read: no labels
    QString m_toldFlagProblem;
    QSet<QString> m_toldSavedAs; // flag files, case-folded
    QSet<QString> m_toldCopies;
    int m_busy = 0;
    bool m_followPending = false;
};

} // namespace kav
