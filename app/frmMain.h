#pragma once

#include "Services.h"
#include "storage/Catalogue.h"
#include "storage/VolumeFlags.h"

#include <QWidget>

#include <array>
#include <memory>

class QComboBox;
class QShortcut;
class QLabel;
class QScrollBar;

namespace Ui {
class frmMain;
}

namespace kav {

struct Error;
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
    void ShowTitle();
    void ShowVolumes();
    void SaveVolumesOfShownTitle(int index, qint16 oldFlag);
    // Rewrites the title list after an edit of the catalogue, and shows name again.
    void SaveEditedTitles(const QString& name, int position);

    // Puts name into the title selector and selects item position - 1 (none
    // when position is 0), without raising a Click.
    void setSelectorText(const QString& name, int position);
    // After a write that failed part way: reread the file and show what it holds.
    void reloadAfterFailure();
    bool refuseWhileLocked();
    void tellWriteFailure(const Error& error);
    void showEmptyCatalogue();

    void setLabelColour(QLabel* label, const QColor& colour);

    // Look, keyboard and screen reader set-up of the controls.
    void setUpDesktop();
    void fitPositionLabel();

    std::unique_ptr<Ui::frmMain> ui;
    Services m_services;

    // 1..50; slot 0 stays null so indexes read as the labels are numbered.
    std::array<QLabel*, storage::FlagCount + 1> lblKan{};
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
};

} // namespace kav
