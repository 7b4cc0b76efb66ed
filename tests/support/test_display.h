#pragma once
// A private X server for GUI tests. The QApplication is made in main(), so a
// test file starts the server from a static initialiser:
//
//     static const bool kDisplay = (vt::test::StartPrivateDisplay(), true);

namespace vt::test {

// Starts Xvfb on a free display (once per process; later calls do nothing)
// and points DISPLAY at it. The server ends with the process. Aborts when no
// server can be started, since no GUI test could run.
void StartPrivateDisplay();

}  // namespace vt::test
