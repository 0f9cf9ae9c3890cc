#pragma once

class QLabel;
class QString;
class QWidget;

namespace kav {

// What a screen reader is told about the labels that act as buttons: the volume
// labels (their number and whether the volume is collected) and the count label,
// with a press action that does what a click does.
namespace accessibility {

// Installs the interfaces once per process; harmless to call again.
void install();

// "51巻 未収集": the volume's number and state as the label shows them.
QString volumeName(const QLabel* label);

// Tells assistive technology that a label's name changed (its colour, not its text).
void nameChanged(QLabel* label);

// Says text once, as an alert of control: its description for a few seconds.
void announce(QWidget* control, const QString& text);

} // namespace accessibility
} // namespace kav
