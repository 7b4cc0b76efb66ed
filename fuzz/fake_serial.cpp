#include "fuzz/fake_serial.h"

#include "fuzz/fuzz_support.h"
#include "platform/serial_port.h"
#include "settings/settings.h"

namespace vt::fuzz {
namespace {

const uint8_t* g_data = nullptr;
size_t g_size = 0;
size_t g_pos = 0;
FakePortState g_state;

// A read or write on anything but the open port means the host lost track
// of its handle; the real port would act on a stranger's descriptor.
void CheckHandle(serial::Handle h) {
    Check(g_state.open && h == kFakeHandle, "port used without being open");
}

}  // namespace

void ServeBytes(const uint8_t* data, size_t size) {
    g_data = data;
    g_size = size;
    g_pos = 0;
    g_state = FakePortState{};
    AppClosing = false;
    PortClosed = false;
}

FakePortState& FakePort() { return g_state; }
size_t BytesServed() { return g_pos; }
size_t BytesLeft() { return g_size - g_pos; }

}  // namespace vt::fuzz

// Every function of platform/serial_port.h: a missing one would pull the real
// serial_port.o out of its library, and the linker would then stop at the
// symbols both define instead of mixing the two.
namespace vt::serial {

using vt::fuzz::g_state;

QString ResolveComName(const QString& port, const QString&) {
    const QString name = port.trimmed();
    return name.isEmpty() ? QString() : QStringLiteral("fuzz:") + name;
}

Handle Open(const QString& device, int32_t baud, Parity, OpenError* error) {
    if (error) *error = OpenError::None;
    if (device.isEmpty()) {
        if (error) *error = OpenError::CannotOpen;
        return kNoPort;
    }
    if (g_state.fail_open) {
        if (error) *error = OpenError::CannotConfigure;
        return kNoPort;
    }
    vt::fuzz::Check(!g_state.open, "port opened twice");
    g_state.open = true;
    g_state.baud = baud;
    ++g_state.opens;
    return vt::fuzz::kFakeHandle;
}

QString DeviceGroup(const QString&) { return {}; }

void Close(Handle h) {
    vt::fuzz::CheckHandle(h);
    g_state.open = false;
}

int32_t Write(Handle h, const char* data, int32_t size) {
    vt::fuzz::CheckHandle(h);
    if (size <= 0) return 0;
    g_state.writes.append(QByteArray(data, size));
    return size;
}

int32_t ReadByte(Handle h, int32_t) {
    vt::fuzz::CheckHandle(h);
    ++g_state.reads;
    if (vt::fuzz::g_pos < vt::fuzz::g_size) return vt::fuzz::g_data[vt::fuzz::g_pos++];
    vt::AppClosing = true;
    return -1;
}

// The input holds only what the device sends after the host's requests, so
// there is never anything early to discard.
void PurgeInput(Handle h) {
    vt::fuzz::CheckHandle(h);
    ++g_state.purges;
}

// The made-up device never goes away; an input that ends reads as silence.
bool Vanished(Handle h) {
    vt::fuzz::CheckHandle(h);
    return false;
}

uint64_t ReadAttempts() { return g_state.reads; }

}  // namespace vt::serial
