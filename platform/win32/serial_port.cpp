#include "platform/serial_port.h"

#include <windows.h>
// after windows.h
#include <timeapi.h>

#include <QHash>
#include <QMutex>
#include <atomic>

#include "platform/profile_file.h"

namespace vt::serial {
namespace {

std::atomic<uint64_t> g_read_attempts{0};

// Whether the port has failed for good, and what it has handed over.
struct PortState {
    bool vanished = false;
    // Bytes the driver handed over and the caller has not taken yet: one
    // ReadFile takes all that wait, since each call costs a round trip to
    // the driver (under Wine, to its server) and a line arrives byte by byte.
    QByteArray pending;
    qsizetype next = 0;
};
QMutex g_ports_mutex;
QHash<Handle, PortState> g_ports;

HANDLE Native(Handle h) { return reinterpret_cast<HANDLE>(h); }

bool Valid(Handle h) { return h > 0; }

bool Configure(HANDLE port, int32_t baud, Parity parity) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb))
        return false;
    dcb.BaudRate = DWORD(baud);
    dcb.ByteSize = 8;
    dcb.StopBits = ONESTOPBIT;
    dcb.Parity = parity == Parity::Odd ? ODDPARITY : NOPARITY;
    dcb.fParity = parity == Parity::Odd;
    // Every byte value must pass unchanged: no XON/XOFF, no replaced or
    // dropped bytes, and an error must not stop the port until it is cleared.
    // The RTS/CTS handshake stays as the port has it.
    dcb.fBinary = TRUE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    if (!SetCommState(port, &dcb))
        return false;
    SetupComm(port, 4096, 4096);
    COMMTIMEOUTS t{};
    GetCommTimeouts(port, &t);
    // A write that stays blocked for two seconds gives up, as on Linux.
    t.WriteTotalTimeoutMultiplier = 0;
    t.WriteTotalTimeoutConstant = 2000;
    // MAXDWORD/0/0: a read returns at once with the bytes that are waiting,
    // or with none; ReadByte waits by itself.
    t.ReadIntervalTimeout = MAXDWORD;
    t.ReadTotalTimeoutMultiplier = 0;
    t.ReadTotalTimeoutConstant = 0;
    return SetCommTimeouts(port, &t) != 0;
}

void MarkVanished(Handle h) {
    QMutexLocker lock(&g_ports_mutex);
    g_ports[h].vanished = true;
}

bool IsComName(QStringView name) {
    if (name.size() < 4 || name.size() > 6 || !name.startsWith(u"COM", Qt::CaseInsensitive))
        return false;
    for (QChar c : name.mid(3)) {
        if (c < u'0' || c > u'9')
            return false;
    }
    return name.mid(3).toInt() >= 1;
}

}  // namespace

QString ResolveComName(const QString& port, const QString& ini_path) {
    const QString name = port.trimmed();
    if (name.isEmpty())
        return {};
    if (!ini_path.isEmpty()) {
        const QString mapped =
            ProfileFile(ini_path).read_string(u"Ports", name, QString()).trimmed();
        if (!mapped.isEmpty())
            return mapped;
    }
    if (!IsComName(name))
        return {};
    // COM1-COM9 are known to every program by their bare names; from COM10
    // on, only the device namespace reaches them.
    const QString upper = name.toUpper();
    return upper.size() <= 4 ? upper : QStringLiteral("\\\\.\\") + upper;
}

Handle Open(const QString& device, int32_t baud, Parity parity, OpenError* error) {
    auto fail = [error](OpenError e) {
        if (error)
            *error = e;
        return kNoPort;
    };
    if (error)
        *error = OpenError::None;
    if (device.isEmpty())
        return fail(OpenError::CannotOpen);
    // No sharing: a second opener is refused while this handle lives.
    HANDLE port = CreateFileW(reinterpret_cast<LPCWSTR>(device.utf16()),
                              GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (port == INVALID_HANDLE_VALUE || port == nullptr) {
        const DWORD err = GetLastError();
        // A COM port that another program holds answers "access denied".
        if (err == ERROR_ACCESS_DENIED || err == ERROR_SHARING_VIOLATION)
            return fail(OpenError::Busy);
        return fail(OpenError::CannotOpen);
    }
    // The driver decides which rates it has: SetCommState refuses the others.
    if (baud <= 0 || !Configure(port, baud, parity)) {
        CloseHandle(port);
        return fail(OpenError::CannotConfigure);
    }
    const Handle h = reinterpret_cast<Handle>(port);
    timeBeginPeriod(1);
    QMutexLocker lock(&g_ports_mutex);
    g_ports[h] = PortState{};
    return h;
}

// Windows has no device groups: access to a COM port is never a matter of
// membership, so there is nothing to name.
QString DeviceGroup(const QString&) { return {}; }

void Close(Handle h) {
    if (!Valid(h))
        return;
    {
        QMutexLocker lock(&g_ports_mutex);
        g_ports.remove(h);
    }
    CloseHandle(Native(h));
    timeEndPeriod(1);
}

int32_t Write(Handle h, const char* data, int32_t size) {
    if (!Valid(h) || size <= 0)
        return 0;
    int32_t done = 0;
    while (done < size) {
        DWORD n = 0;
        if (!WriteFile(Native(h), data + done, DWORD(size - done), &n, nullptr)) {
            MarkVanished(h);
            break;
        }
        if (n == 0)
            break;  // the write time-out ran out
        done += int32_t(n);
    }
    return done;
}

int32_t ReadByte(Handle h, int32_t wait_ms) {
    if (!Valid(h))
        return -1;
    ++g_read_attempts;
    {
        QMutexLocker lock(&g_ports_mutex);
        auto it = g_ports.find(h);
        if (it != g_ports.end() && it->next < it->pending.size())
            return uint8_t(it->pending[it->next++]);
    }
    const DWORD wait = wait_ms < 0 ? 0 : DWORD(wait_ms);
    char buffer[4096];
    DWORD n = 0;
    // The wait is ours, in steps of a millisecond: Wine does not end a
    // read's own time-out (MAXDWORD/MAXDWORD/n) at the first byte, which
    // cost a frame a third of its time. The open port holds the timer at
    // 1 ms, so a step on Windows is as short as under Wine.
    const ULONGLONG deadline = GetTickCount64() + wait;
    for (;;) {
        if (!ReadFile(Native(h), buffer, sizeof buffer, &n, nullptr)) {
            MarkVanished(h);
            const ULONGLONG now = GetTickCount64();
            if (now < deadline)
                Sleep(DWORD(deadline - now));
            return -1;
        }
        if (n > 0 || GetTickCount64() >= deadline)
            break;
        Sleep(1);
    }
    if (n == 0) {
        // A device that is gone may read as silence rather than fail: a
        // hung-up terminal under Wine returns no bytes and no error. Asking
        // the driver for the port's state fails then, as it does for a
        // pulled USB adapter on Windows.
        DWORD errors = 0;
        if (!ClearCommError(Native(h), &errors, nullptr))
            MarkVanished(h);
        return -1;
    }
    if (n > 1) {
        QMutexLocker lock(&g_ports_mutex);
        PortState& state = g_ports[h];
        state.pending = QByteArray(buffer + 1, qsizetype(n) - 1);
        state.next = 0;
    }
    return uint8_t(buffer[0]);
}

void PurgeInput(Handle h) {
    if (!Valid(h))
        return;
    {
        QMutexLocker lock(&g_ports_mutex);
        auto it = g_ports.find(h);
        if (it != g_ports.end()) {
            it->pending.clear();
            it->next = 0;
        }
    }
    PurgeComm(Native(h), PURGE_RXABORT | PURGE_RXCLEAR);
}

bool Vanished(Handle h) {
    if (!Valid(h))
        return false;
    QMutexLocker lock(&g_ports_mutex);
    auto it = g_ports.find(h);
    return it != g_ports.end() && it->vanished;
}

uint64_t ReadAttempts() { return g_read_attempts.load(); }

}  // namespace vt::serial
