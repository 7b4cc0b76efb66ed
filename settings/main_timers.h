#pragma once
// The main window's four timers. TForm1 owns them and fills this record when
// it is created; the scanner links start and stop them through it.

class QTimer;

namespace vt {

struct MainTimers {
    QTimer* TimerOPL = nullptr;
    QTimer* TimerOPLComopen = nullptr;
    QTimer* TimerOPN = nullptr;
    QTimer* TimerOPNComopen = nullptr;
};

extern MainTimers Timers;

}  // namespace vt
