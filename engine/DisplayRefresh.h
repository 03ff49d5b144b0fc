#pragma once

namespace morlen {

class APCUPS;
class View;

// Shows the values of the pass just made: the status registers, or the fields and bars of the
// unit's family page and one point for each chart. Window thread only (the battery voltage of
// a first-generation page is read on the way); the poll thread waits meanwhile.
void RefreshDisplay(View& view, APCUPS& ups);

// The Smart-UPS page's input and output voltages with their bars.
void ShowInputAndOutput(View& view, const APCUPS& ups);

// The second-generation page's live values: battery, run time, charge, load, input, output.
void ShowSecondGenerationValues(View& view, const APCUPS& ups);

}  // namespace morlen
