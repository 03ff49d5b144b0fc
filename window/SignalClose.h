#pragma once

class QWidget;

namespace morlen {

// SIGTERM, SIGINT and SIGHUP (kill, Ctrl+C in a terminal, a logout) close `window` as its
// close button does: the poll thread stops, the unit is told to leave smart mode, the port and
// its locks are released and the settings written. A second such signal while that close runs
// ends the program at once. Call on the window thread once the application object exists;
// a later call points the signals at another window and forgets an earlier signal.
void CloseOnSignals(QWidget* window);

}  // namespace morlen
