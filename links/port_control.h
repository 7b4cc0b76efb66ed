#pragma once
// Opening the scanner port from the main window's timers: the open timer
// retries until the port is there, then hands over to the poll timer. The
// main window fills Timers and connects TimerOPLComopen to
// TimerOPLComopenTimer.

#include <QString>

namespace vt {

// PortClosed := true, then starts the open timer of the configured device.
void OpenComport();

// Stops both open timers and closes ComHandle. The poll timer keeps running:
// its polls fail at once on the closed port.
void CloseComport();

// The status bar text for a failed open of `port`, after ComOpen: a port the
// user may not open names its device and group, a port another program holds
// says so, anything else gets the catalogue's failure text.
QString PortOpenFailedText(const QString& port);

// One open attempt for the OPL-98xx port; shows the result in the status bar.
void TimerOPLComopenTimer();

}  // namespace vt
