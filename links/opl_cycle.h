#pragma once
// The OPL-98xx download cycle: once a second the scanner is polled, its
// files are listed, and every file whose target is there is downloaded and
// delivered.

#include <cstdint>

namespace vt {

// The handler of the main window's TimerOPL.
void TimerOPLTimer();

// Downloads table entry 0..3 and hands it to its target; 1 when the file
// arrived to its end marker and was handed over, 0 otherwise.
int32_t OplReceiveFile(int index);

// One status line per file that holds records.
void OplShowFiles();

}  // namespace vt
