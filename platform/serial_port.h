#pragma once
// The serial port seam: one port, opened exclusively and in raw mode, read one
// byte at a time with a short wait. The scanner links build their blocking,
// message-pumping operations on top of it.
//
// A handle is a plain integer: -1 means "no port"; every operation refuses it
// without touching the system. The Linux implementation never hands out 0
// either, so callers may keep 0 for "closed".

#include <QString>
#include <cstdint>

namespace vt::serial {

enum class Parity { None, Odd };

using Handle = intptr_t;
inline constexpr Handle kNoPort = -1;

// NoPermission and Busy are the two failures a user can do something about:
// join the device's group, or end the program that holds the port.
enum class OpenError { None, CannotOpen, CannotConfigure, NoPermission, Busy };

// The name of the group that owns `device` (its number when the group has no
// name); empty when the device cannot be looked at.
QString DeviceGroup(const QString& device);

// The device behind a port name such as "COM5": a `[Ports]` entry of the INI
// file at `ini_path` first (COM5=/dev/pts/7), then COM1-32 /dev/ttyS0-31,
// COM33-64 /dev/ttyUSB0-31, COM65-96 /dev/ttyACM0-31. Names are matched
// without regard to case. Empty when the name maps to nothing.
QString ResolveComName(const QString& port, const QString& ini_path);

// Opens `device` for reading and writing, alone (a second opener fails while
// this handle is open), raw, 8 data bits, the given parity, one stop bit.
// Hardware flow control stays as the port reports it. `baud` must be one the
// system knows; anything else counts as a configuration failure.
Handle Open(const QString& device, int32_t baud, Parity parity, OpenError* error = nullptr);

void Close(Handle h);

// Writes all bytes unless the port fails or stays blocked for two seconds;
// returns how many were written (0 on failure).
int32_t Write(Handle h, const char* data, int32_t size);

// One byte (0-255), or -1 when none arrives within `wait_ms` or the port has
// failed (a vanished device reads as silence).
int32_t ReadByte(Handle h, int32_t wait_ms);

// Discards every byte received and not yet read.
void PurgeInput(Handle h);

// True when the device behind an open handle has gone (hung up, adapter
// pulled): it reads as silence for ever, and only a new open finds it again.
bool Vanished(Handle h);

// How many ReadByte calls reached the system since the program started.
uint64_t ReadAttempts();

}  // namespace vt::serial
