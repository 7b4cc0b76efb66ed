#pragma once
// The one serial port the scanner links talk through, and its blocking
// operations. Everything runs on the GUI thread: waits pump the event queue so
// the window stays alive, and every wait ends once AppClosing is set.

#include <QByteArray>
#include <QString>
#include <cstdint>

#include "platform/serial_port.h"

namespace vt {

// 0 = never opened or closed, -1 = the last open failed, else the open port.
extern intptr_t ComHandle;

// The device a port name stands for, through the INI file's [Ports] section
// first (see serial::ResolveComName).
QString ComDevicePath(const QString& port);

// 2400 ... 115200 are taken as they are; any other setting runs at 115200.
int32_t ComBaudRate(int32_t baud);

// Opens and configures the port (8 data bits, one stop bit); -1 on failure.
// A port that opens but cannot be configured beeps once.
intptr_t ComOpen(const QString& port, int32_t baud,
                 serial::Parity parity = serial::Parity::None);

// Why the last ComOpen failed (None after a successful one), and the device
// it tried; the open timers turn it into their status text.
struct ComOpenFailure {
    serial::OpenError error = serial::OpenError::None;
    QString device;
};
const ComOpenFailure& ComLastOpenFailure();

// False (and the variable unchanged) for 0 and -1; else closes and sets 0.
bool ComClose(intptr_t& handle);

// Bytes written, or -1 for handle 0 / -1 without any I/O.
int32_t ComWrite(intptr_t handle, const QByteArray& data);

// The next byte (0-255), or -1 after `timeout_ms` counted in 100 ms steps
// between read attempts, on handle 0 / -1, or when AppClosing is set.
int32_t ComReadByte(intptr_t handle, int32_t timeout_ms);

void ComPurgeInput(intptr_t handle);

// True when `handle` is open but its device has gone (see serial::Vanished).
bool ComVanished(intptr_t handle);

// Waits about `ms` milliseconds, pumping events; ends early on AppClosing.
void DelayWithMessages(int32_t ms);

}  // namespace vt
