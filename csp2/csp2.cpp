#include "csp2/csp2.h"

#include <QByteArray>
#include <QString>
#include <cstring>

#include "csp2/csp2_protocol.h"
#include "links/serial_link.h"

namespace {

using csp2::Bytes;
using csp2::Result;

constexpr int32_t kBaud = 9600;
// The scanner answers at once; a second covers a slow wake-up, and half a
// second without the next byte means the answer has stopped.
constexpr int32_t kFirstByteMs = 1000;
constexpr int32_t kNextByteMs = 500;
constexpr char kVersion[] = "V 1,00";

intptr_t port_handle = 0;
std::vector<Bytes> held;
bool busy = false;

// Waits pump events, so a timer or a dialog may call in while an exchange
// waits; that call must not touch the port the waiting one reads.
class BusyGuard {
  public:
    BusyGuard() : taken_(!busy) { busy = true; }
    ~BusyGuard() {
        if (taken_)
            busy = false;
    }
    bool taken() const { return taken_; }

  private:
    bool taken_;
};

bool PortOpen() {
    return port_handle != 0 && port_handle != -1;
}

// Sends one request and reads its whole answer, as long as the answer's own
// length bytes say; the parse functions then judge it.
Result Exchange(uint8_t opcode, const Bytes& payload, Bytes& answer) {
    answer.clear();
    if (!PortOpen())
        return csp2::kNotOpen;
    vt::ComPurgeInput(port_handle);
    const Bytes request = csp2::BuildRequest(opcode, payload);
    const QByteArray wire(reinterpret_cast<const char*>(request.data()), qsizetype(request.size()));
    if (vt::ComWrite(port_handle, wire) != int32_t(wire.size()))
        return csp2::kNoAnswer;
    int32_t wait = kFirstByteMs;
    while (answer.size() < csp2::AnswerLength(opcode, answer.data(), answer.size())) {
        const int32_t b = vt::ComReadByte(port_handle, wait);
        if (b < 0)
            return csp2::kNoAnswer;
        answer.push_back(uint8_t(b));
        wait = kNextByteMs;
    }
    return csp2::kOk;
}

Result Interrogate(csp2::Interrogation& info) {
    Bytes answer;
    const Result r = Exchange(csp2::kInterrogate, {}, answer);
    if (r != csp2::kOk)
        return r;
    return csp2::ParseInterrogate(answer.data(), answer.size(), info);
}

int32_t Upload(csp2::Upload& upload) {
    Bytes answer;
    Result r = Exchange(csp2::kUpload, {}, answer);
    if (r == csp2::kOk)
        r = csp2::ParseUpload(answer.data(), answer.size(), upload);
    if (r != csp2::kOk)
        return r;
    return int32_t(upload.records.size());
}

int32_t ReadParameter(uint8_t param) {
    BusyGuard guard;
    if (!guard.taken())
        return csp2::kBusy;
    Bytes answer;
    Result r = Exchange(csp2::kReadParameter, {param}, answer);
    uint8_t value = 0;
    if (r == csp2::kOk)
        r = csp2::ParseParameter(answer.data(), answer.size(), param, value);
    return r == csp2::kOk ? int32_t(value) : r;
}

}  // namespace

extern "C" {

int32_t csp2InitEx(int32_t port_number) {
    BusyGuard guard;
    if (!guard.taken())
        return csp2::kBusy;
    vt::ComClose(port_handle);
    port_handle = 0;
    held.clear();
    if (port_number < 0)
        return csp2::kNotOpen;
    const intptr_t h =
        vt::ComOpen(QStringLiteral("COM%1").arg(port_number), kBaud, vt::serial::Parity::Odd);
    if (h == -1)
        return csp2::kNotOpen;
    port_handle = h;
    // Any well-formed answer means a scanner is there; whether it is fit
    // for a transfer is csp2Interrogate's question.
    csp2::Interrogation info;
    const Result r = Interrogate(info);
    if (r != csp2::kOk) {
        vt::ComClose(port_handle);
        port_handle = 0;
        return r;
    }
    return 0;
}

int32_t csp2GetDllVersion(char* buffer, int32_t size) {
    const int32_t length = int32_t(sizeof kVersion) - 1;
    if (!buffer || size <= length)
        return csp2::kBadArgument;
    std::memcpy(buffer, kVersion, sizeof kVersion);
    return length;
}

int32_t csp2Interrogate(void) {
    BusyGuard guard;
    if (!guard.taken())
        return csp2::kBusy;
    csp2::Interrogation info;
    const Result r = Interrogate(info);
    if (r != csp2::kOk)
        return r;
    // Only a scanner that reports itself sound is offered a transfer: one
    // that may die half-way must keep its barcodes.
    if (info.status == csp2::kStatusBatteryLow)
        return csp2::kBatteryLow;
    if (info.status != 0)
        return csp2::kMalformed;
    return 0;
}

int32_t csp2DataAvailable(void) {
    BusyGuard guard;
    if (!guard.taken())
        return csp2::kBusy;
    csp2::Upload upload;
    return Upload(upload);
}

int32_t csp2ReadData(void) {
    BusyGuard guard;
    if (!guard.taken())
        return csp2::kBusy;
    held.clear();
    csp2::Upload upload;
    const int32_t n = Upload(upload);
    if (n > 0)
        held = std::move(upload.records);
    return n;
}

int32_t csp2GetASCIIMode(void) {
    return ReadParameter(csp2::kParamAsciiMode);
}

int32_t csp2GetRTCMode(void) {
    return ReadParameter(csp2::kParamRtcMode);
}

int32_t csp2GetPacket(uint8_t* buffer, int32_t index, int32_t size) {
    if (index < 0 || size_t(index) >= held.size())
        return csp2::kNoSuchPacket;
    const Bytes& record = held[size_t(index)];
    if (!buffer)
        return csp2::kBadArgument;
    if (size < 0 || record.size() > size_t(size))
        return csp2::kTooLarge;
    std::memcpy(buffer, record.data(), record.size());
    return int32_t(record.size());
}

int32_t csp2TimeStamp2Str(const uint8_t* stamp, char* text, int32_t size) {
    if (size < 0)
        return csp2::kBadArgument;
    return csp2::FormatStamp(stamp, text, size_t(size));
}

int32_t csp2PortVanished(void) { return vt::ComVanished(port_handle) ? 1 : 0; }

int32_t csp2ClearData(void) {
    BusyGuard guard;
    if (!guard.taken())
        return csp2::kBusy;
    Bytes answer;
    const Result r = Exchange(csp2::kClear, {}, answer);
    if (r != csp2::kOk)
        return r;
    return csp2::ParseEmpty(answer.data(), answer.size());
}

}  // extern "C"
