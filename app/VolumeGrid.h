#pragma once

#include "storage/VolumeFlags.h"

#include <QGroupBox>

#include <array>
#include <limits>

class QLabel;

namespace kav {

// The frame of fifty volume labels, ten to a row: each shows a volume's number from
// the start volume on and its flag as a colour. A click on a label is clicked(index).
class VolumeGrid final : public QGroupBox
{
    Q_OBJECT

public:
    explicit VolumeGrid(QWidget* parent = nullptr);

    QLabel* label(int index) const { return m_labels[index]; }
    static QColor flagColour(qint16 flag);
    // A label in the colour of flag.
    static void showFlag(QLabel* label, qint16 flag);

    // Labels 1..count (none when count is below 1) captioned first, first + 1, ...
    void showVolumes(const storage::Flags& flags, double count, double first);
    void hideVolumes();
    // A red line above the labels while the folder cannot be reached; empty: none.
    void showLostNote(const QString& text, const QString& elided);
    // A line where the labels would stand, for a screen reader too; empty: none.
    void showHint(const QString& text);

Q_SIGNALS:
    void clicked(int index);
    // A click with Shift held: the volumes from the last click to index.
    void rangeClicked(int index);
    // The context menu asked for on a label, at a point of the screen.
    void menuAsked(int index, const QPoint& at);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // 1..50; slot 0 stays null so indexes read as the labels are numbered.
    std::array<QLabel*, storage::FlagCount + 1> m_labels{};
    std::array<QString, storage::FlagCount + 1> m_captions;
    double m_captionsFirst = std::numeric_limits<double>::quiet_NaN(); // NaN: none made yet
    QLabel* m_lostNote = nullptr;
    QLabel* m_hint = nullptr;
};

} // namespace kav
