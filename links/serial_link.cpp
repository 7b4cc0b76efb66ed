#include "links/serial_link.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include "settings/ui_seam.h"
#include "settings/settings.h"

namespace vt {

intptr_t ComHandle = 0;

namespace {

// A read attempt gives up after about this long, so a silent line still lets
// the loop pump events and check AppClosing often.
constexpr int32_t kReadAttemptMs = 11;
constexpr int32_t kSilentStepMs = 100;

ComOpenFailure g_last_failure;

bool IsOpen(intptr_t handle) { return handle != 0 && handle != -1; }

void Pump() { QCoreApplication::processEvents(); }

// While a line arrives, the window is kept alive every few milliseconds, not
// twice a byte: on Windows a pump costs more than a byte takes at 115200
// baud, and a user sees no difference below a frame of the screen.
constexpr qint64 kPumpWhileReceivingMs = 4;

void PumpNow() {
    static QElapsedTimer since;
    if (since.isValid() && since.elapsed() < kPumpWhileReceivingMs)
        return;
    Pump();
    since.start();
}

}  // namespace

QString ComDevicePath(const QString& port) { return serial::ResolveComName(port, IniPath()); }

int32_t ComBaudRate(int32_t baud) {
    switch (baud) {
        case 2400:
        case 4800:
        case 9600:
        case 19200:
        case 38400:
        case 57600:
        case 115200:
            return baud;
        default:
            return 115200;
    }
}

intptr_t ComOpen(const QString& port, int32_t baud, serial::Parity parity) {
    serial::OpenError error = serial::OpenError::None;
    const QString device = ComDevicePath(port);
    const serial::Handle h = serial::Open(device, ComBaudRate(baud), parity, &error);
    g_last_failure = {h == serial::kNoPort ? error : serial::OpenError::None, device};
    if (h == serial::kNoPort) {
        if (error == serial::OpenError::CannotConfigure) dialogs().beep();
        return -1;
    }
    return h;
}

const ComOpenFailure& ComLastOpenFailure() { return g_last_failure; }

bool ComClose(intptr_t& handle) {
    if (!IsOpen(handle)) return false;
    serial::Close(handle);
    handle = 0;
    return true;
}

int32_t ComWrite(intptr_t handle, const QByteArray& data) {
    if (!IsOpen(handle)) return -1;
    return serial::Write(handle, data.constData(), int32_t(data.size()));
}

int32_t ComReadByte(intptr_t handle, int32_t timeout_ms) {
    if (!IsOpen(handle)) return -1;
    // The budget counts only the pauses between silent attempts, so a byte
    // that arrives is taken at once and a line arrives at line speed.
    int32_t elapsed = 0;
    int32_t received = -1;
    while (elapsed <= timeout_ms && received < 0 && !AppClosing) {
        received = serial::ReadByte(handle, kReadAttemptMs);
        if (received >= 0) {
            PumpNow();
            break;
        }
        Pump();
        // A close handled by the pump ends the wait now, not a pause later.
        if (AppClosing) break;
        QThread::msleep(kSilentStepMs);
        elapsed += kSilentStepMs;
        Pump();
    }
    if (elapsed > timeout_ms) return -1;
    return received;
}

void ComPurgeInput(intptr_t handle) {
    if (!IsOpen(handle)) return;
    serial::PurgeInput(handle);
}

bool ComVanished(intptr_t handle) { return IsOpen(handle) && serial::Vanished(handle); }

void DelayWithMessages(int32_t ms) {
    int32_t elapsed = 0;
    while (elapsed < ms && !AppClosing) {
        Pump();
        QThread::msleep(10);
        elapsed += 10;
    }
}

}  // namespace vt
