#pragma once
// The line settings the Linux serial port applies, apart from the port, so
// that settings a pseudo-terminal does not keep (parity) can be checked.

#include <termios.h>

#include <cstdint>

#include "platform/serial_port.h"

namespace vt::serial {

// Raw mode, 8 data bits, `parity`, one stop bit, `baud`; CRTSCTS unchanged.
// False when the system knows no such rate.
bool ApplyLineSettings(termios& t, int32_t baud, Parity parity);

}  // namespace vt::serial
