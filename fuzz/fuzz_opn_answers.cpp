// The OPN-2001 answers as a scanner might send them: first the pure protocol
// functions on the bytes as one answer to each request, read the way the
// library reads (growing until AnswerLength calls it complete), then the
// library's calls over the fake port, which take the same bytes as the
// answers to interrogate, interrogate, ASCII mode, time stamp mode, upload,
// data available and clear, in that order.
//
// Input: choices (bit 0 sets the CRC of every answer right, so the fuzzer
// gets past the check into the parsers; bit 1 makes the port fail to open),
// the buffer size for csp2GetPacket, the one for csp2TimeStamp2Str, a
// parameter number, then the scanner's bytes.

#include <sanitizer/asan_interface.h>

#include <QByteArray>
#include <cstring>
#include <memory>
#include <vector>

#include "csp2/csp2.h"
#include "csp2/csp2_protocol.h"
#include "fuzz/fake_serial.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/stamp_text.h"

using namespace csp2;
using vt::fuzz::Check;
using vt::fuzz::FakePort;

namespace {

constexpr uint8_t kPattern = 0xA5;

// A caller's buffer of exactly `size` bytes, so a write or read past it is an
// ASan report, filled with a pattern that shows whether anything was written.
struct ExactBuffer {
    explicit ExactBuffer(size_t n) : size(n), bytes(new uint8_t[n]) {
        std::memset(bytes.get(), kPattern, n);
    }
    bool untouched() const {
        for (size_t i = 0; i < size; ++i) {
            if (bytes[i] != kPattern) return false;
        }
        return true;
    }
    size_t size;
    std::unique_ptr<uint8_t[]> bytes;
};

void SetCrc(uint8_t* frame, size_t n) {
    if (n < 2) return;
    const uint16_t crc = Crc16(frame, n - 2);
    frame[n - 2] = uint8_t(crc >> 8);
    frame[n - 1] = uint8_t(crc & 0xFF);
}

// How many bytes a reader takes for the answer to `opcode` at the front of
// `data`, never looking at a byte it has not read: the rest is poisoned and
// unpoisoned one byte at a time as the reader gets it.
size_t ReadAnswer(uint8_t opcode, const uint8_t* data, size_t size) {
    std::unique_ptr<uint8_t[]> copy(new uint8_t[size]);
    std::memcpy(copy.get(), data, size);
    ASAN_POISON_MEMORY_REGION(copy.get(), size);
    size_t have = 0;
    for (;;) {
        const size_t want = AnswerLength(opcode, copy.get(), have);
        Check(want >= have, "AnswerLength below what was read");
        if (have >= want || have == size) break;
        ASAN_UNPOISON_MEMORY_REGION(copy.get() + have, 1);
        ++have;
    }
    ASAN_UNPOISON_MEMORY_REGION(copy.get(), size);
    Check(have <= kMaxUploadBytes + 256, "answer read past the upload limit");
    return have;
}

void CheckUpload(const uint8_t* frame, size_t n) {
    Upload up;
    if (ParseUpload(frame, n, up) != kOk) return;
    Check(n <= kMaxUploadBytes, "upload larger than the limit accepted");
    Check(up.serial.size() == 8, "upload serial not 8 bytes");
    size_t total = 2 + 8 + 3;
    for (const Bytes& r : up.records) {
        Check(r.size() >= 6 && r.size() == size_t(r[0]) + 1, "record length byte disagrees");
        total += r.size();
    }
    Check(total == n, "records do not fill the answer");
}

// The pure functions on the bytes as the answer to `opcode`.
void ParseAs(uint8_t opcode, uint8_t param, bool repair, const uint8_t* data, size_t size) {
    const size_t n = ReadAnswer(opcode, data, size);
    std::vector<uint8_t> frame(data, data + n);  // exactly n bytes on the heap
    if (repair) SetCrc(frame.data(), n);
    const uint8_t* f = frame.data();
    const Result check = CheckFrame(f, n);
    if (check == kOk) Check(n >= 5 && f[0] == 6 && f[1] == 2 && f[n - 3] == 0, "CheckFrame passed a bad frame");
    if (repair && n >= 5 && f[0] == 6 && f[1] == 2 && f[n - 3] == 0) Check(check == kOk, "CheckFrame refused a sound frame");
    switch (opcode) {
        case kInterrogate: {
            Interrogation info;
            if (ParseInterrogate(f, n, info) == kOk) {
                Check(n == 23 && info.serial.size() == 8 && info.firmware.size() == 8 && info.status == f[3],
                      "interrogation fields");
            }
            break;
        }
        case kClear:
        case kPowerDown:
            if (ParseEmpty(f, n) == kOk) Check(n == 5, "empty answer with payload");
            break;
        case kReadParameter: {
            uint8_t value = 0;
            if (ParseParameter(f, n, param, value) == kOk) Check(n == 8 && f[3] == param && value == f[4], "parameter fields");
            break;
        }
        case kSetClock:
        case kReadClock: {
            Clock c;
            if (ParseClock(f, n, c) == kOk) Check(n == 12 && c.year >= 2000 && c.year <= 2255, "clock fields");
            break;
        }
        case kUpload:
            CheckUpload(f, n);
            break;
    }
}

// The answers the library's call sequence reads, with their CRCs set right.
void RepairStream(std::vector<uint8_t>& s) {
    static constexpr uint8_t kSequence[] = {kInterrogate, kInterrogate, kReadParameter, kReadParameter,
                                            kUpload,      kUpload,      kClear};
    size_t p = 0;
    for (const uint8_t op : kSequence) {
        if (p >= s.size()) return;
        const size_t n = ReadAnswer(op, s.data() + p, s.size() - p);
        if (n >= 5 && AnswerLength(op, s.data() + p, n) == n) SetCrc(s.data() + p, n);
        p += n;
    }
}

bool IsRequest(const QByteArray& w) {
    const Bytes expected[] = {BuildRequest(kInterrogate), BuildRequest(kUpload),
                              BuildRequest(kReadParameter, {kParamAsciiMode}),
                              BuildRequest(kReadParameter, {kParamRtcMode}), BuildRequest(kClear)};
    for (const Bytes& e : expected) {
        if (w == QByteArray(reinterpret_cast<const char*>(e.data()), qsizetype(e.size()))) return true;
    }
    return false;
}

// Every held barcode through buffers of `size` bytes; returns the packets.
std::vector<Bytes> CheckPackets(int32_t n, size_t size) {
    std::vector<Bytes> packets;
    for (int32_t i = -1; i <= (n > 0 ? n : 0); ++i) {
        ExactBuffer small(size);
        const int32_t r = csp2GetPacket(small.bytes.get(), i, int32_t(size));
        if (i < 0 || i >= n) {
            Check(r == kNoSuchPacket, "a packet outside the read");
            continue;
        }
        ExactBuffer full(256);
        const int32_t whole = csp2GetPacket(full.bytes.get(), i, 256);
        Check(whole >= 6 && whole <= 256 && full.bytes[0] + 1 == whole, "packet length");
        packets.emplace_back(full.bytes.get(), full.bytes.get() + whole);
        if (size_t(whole) <= size) {
            Check(r == whole && std::memcmp(small.bytes.get(), full.bytes.get(), size_t(whole)) == 0,
                  "packet differs with the buffer size");
        } else {
            Check(r == kTooLarge && small.untouched(), "packet written into a buffer too small");
        }
        Check(csp2GetPacket(nullptr, i, 256) == kBadArgument, "packet into no buffer");
    }
    return packets;
}

void CheckStampText(const uint8_t* stamp, size_t size) {
    ExactBuffer text(size);
    const int32_t r = csp2TimeStamp2Str(stamp, reinterpret_cast<char*>(text.bytes.get()), int32_t(size));
    if (r != 0) {
        Check(r == kBadArgument || r == kBadStamp, "stamp text result");
        Check(text.untouched(), "stamp text written on failure");
        return;
    }
    Check(size >= 21 && text.bytes[20] == 0, "stamp text not closed at 20");
    Check(vt::fuzz::IsLibraryStampText(reinterpret_cast<const char*>(text.bytes.get())), "stamp text shape");
}

void RunLibrary(uint8_t choices, size_t packet_size, size_t text_size, const uint8_t* data, size_t size) {
    std::vector<uint8_t> stream(data, data + size);
    if (choices & 1) RepairStream(stream);
    vt::fuzz::ServeBytes(stream.data(), stream.size());
    FakePort().fail_open = (choices & 2) != 0;

    const int32_t init = csp2InitEx(1);
    if (FakePort().fail_open) Check(init == kNotOpen && FakePort().writes.isEmpty(), "talked to a port that failed");
    Check(init <= 0, "csp2InitEx result");
    if (FakePort().opens) Check(FakePort().baud == 9600, "scanner port not at 9600 baud");

    Check(csp2Interrogate() <= 0, "csp2Interrogate result");
    for (const int32_t mode : {csp2GetASCIIMode(), csp2GetRTCMode()}) Check(mode <= 255, "parameter value");
    const int32_t n = csp2ReadData();
    const std::vector<Bytes> packets = CheckPackets(n, packet_size);
    Check(n <= 0 || size_t(n) == packets.size(), "read count");

    // A second upload answers the question only; the held barcodes stay.
    csp2DataAvailable();
    if (!packets.empty()) {
        ExactBuffer again(256);
        const int32_t r = csp2GetPacket(again.bytes.get(), 0, 256);
        Check(r == int32_t(packets[0].size()) && std::memcmp(again.bytes.get(), packets[0].data(), size_t(r)) == 0,
              "csp2DataAvailable changed the held barcodes");
    }
    for (const Bytes& p : packets) CheckStampText(p.data() + p.size() - 4, text_size);
    Check(csp2ClearData() <= 0, "csp2ClearData result");

    for (const QByteArray& w : FakePort().writes) Check(IsRequest(w), "host wrote something it never sends");
    Check(FakePort().reads <= vt::fuzz::BytesServed() + 1, "reads went on after the device was gone");

    csp2InitEx(-1);  // closes the port and drops the held barcodes
    Check(!FakePort().open, "port left open");
    Check(csp2GetPacket(nullptr, 0, 0) == kNoSuchPacket, "barcodes held after the port closed");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vt::fuzz::InputBytes in(data, size);
    const uint8_t choices = in.byte();
    const size_t packet_size = in.byte();
    const size_t text_size = in.byte() % 41;
    const uint8_t param = in.byte();

    for (const uint8_t op : {kInterrogate, kClear, kPowerDown, kUpload, kReadParameter, kSetClock, kReadClock}) {
        ParseAs(op, param, choices & 1, in.rest(), in.left());
    }
    RunLibrary(choices, packet_size, text_size, in.rest(), in.left());

    for (const size_t s : {size_t(0), size_t(6), size_t(7), packet_size}) {
        ExactBuffer version(s);
        const int32_t r = csp2GetDllVersion(reinterpret_cast<char*>(version.bytes.get()), int32_t(s));
        if (r < 0) {
            Check(version.untouched(), "version written on failure");
        } else {
            Check(size_t(r) < s && version.bytes[size_t(r)] == 0, "version text not closed");
        }
    }
    return 0;
}
