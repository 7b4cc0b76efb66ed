#pragma once
// A scanner made of the fuzz input, behind the serial port seam: linked in
// place of platform/linux/serial_port.cpp, it answers every read with the
// next input byte and keeps every byte the host writes. When the input is
// used up the device is gone: AppClosing is set, so every wait of the port
// layer ends at once instead of sleeping through its time-out.

#include <QByteArray>
#include <QList>
#include <cstddef>
#include <cstdint>

namespace vt::fuzz {

struct FakePortState {
    bool open = false;
    bool fail_open = false;  // the next Open fails as an unconfigurable port
    int32_t baud = 0;
    int opens = 0;
    int purges = 0;
    uint64_t reads = 0;  // ReadByte calls, answered or not
    QList<QByteArray> writes;
};

// Starts a new device session: the bytes to serve, nothing written, no port
// open, AppClosing and PortClosed cleared.
void ServeBytes(const uint8_t* data, size_t size);
FakePortState& FakePort();
size_t BytesServed();
size_t BytesLeft();

// The handle the fake hands out.
inline constexpr intptr_t kFakeHandle = 7;

}  // namespace vt::fuzz
