#pragma once

#include <QColor>

class QProgressBar;
class QWidget;
class TForm1;

namespace morlen {

// Shows the values of the pass just made: the status check boxes, or the entries and bars of
// the unit's family page, the load colours and one point for each chart. Window thread only;
// the poll thread waits meanwhile.
void RefreshDisplay(TForm1& form);

// Red for a load of 100 % or more, black otherwise, on a percent and a watts entry and the
// labels that go with them.
void ColourLoad(TForm1& form, float loadPercent, QWidget* percent, QWidget* watts);

// The Smart-UPS page's input and output voltages with their bars.
void ShowInputAndOutput(TForm1& form);

// The second-generation page's live values: battery, run time, charge, load, input, output.
void ShowSecondGenerationValues(TForm1& form);

// A reading on a progress bar: truncated toward zero, and a reading outside the bar's range
// shows as the nearest end of it (the bar would otherwise ignore it and keep a stale position).
void SetBarPosition(QProgressBar* bar, float value);

// Font colour of a field and of every label that names it.
void SetFieldColour(QWidget* field, const QColor& colour);

}  // namespace morlen
