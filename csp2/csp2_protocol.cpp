#include "csp2/csp2_protocol.h"

#include <cstdio>
#include <cstring>

namespace csp2 {
namespace {

constexpr uint8_t kAnswerStart = 0x06;
constexpr uint8_t kAnswerSecond = 0x02;
constexpr size_t kHeader = 2;   // 06 02
constexpr size_t kTrailer = 3;  // 00 CRC CRC
constexpr size_t kSerialBytes = 8;
constexpr size_t kStampBytes = 4;
constexpr size_t kMinRecordLen = 1 + kStampBytes;  // symbology and stamp, no code

constexpr size_t kInterrogateLength = kHeader + 2 + 2 * kSerialBytes + kTrailer;  // 23
constexpr size_t kEmptyLength = kHeader + kTrailer;                               // 5
constexpr size_t kParameterLength = kHeader + 3 + kTrailer;                       // 8
constexpr size_t kClockLength = kHeader + 7 + kTrailer;                           // 12

size_t FixedLength(uint8_t opcode) {
    switch (opcode) {
        case kInterrogate:
            return kInterrogateLength;
        case kClear:
        case kPowerDown:
            return kEmptyLength;
        case kReadParameter:
            return kParameterLength;
        case kSetClock:
        case kReadClock:
            return kClockLength;
        default:
            return 0;
    }
}

// The record walk of an upload: the length the answer has as far as its
// first `have` bytes tell, or `have` once a record is impossible.
size_t UploadLength(const uint8_t* data, size_t have) {
    size_t p = kHeader + kSerialBytes;
    for (;;) {
        if (have <= p)
            return p + 1;
        const uint8_t len = data[p];
        if (len == 0)
            return p + kTrailer;
        if (len < kMinRecordLen)
            return have;
        p += size_t(len) + 1;
        if (p + kTrailer > kMaxUploadBytes)
            return have;
    }
}

std::string Text(const uint8_t* data, size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

bool ValidStamp(const Stamp& s) {
    return s.month >= 1 && s.month <= 12 && s.day >= 1 && s.day <= 31 && s.hour <= 23 &&
           s.minute <= 59 && s.second <= 59;
}

}  // namespace

uint16_t Crc16(const uint8_t* data, size_t size) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
    }
    return uint16_t(~crc);
}

namespace {
void AppendCrc(Bytes& frame) {
    const uint16_t crc = Crc16(frame.data(), frame.size());
    frame.push_back(uint8_t(crc >> 8));
    frame.push_back(uint8_t(crc & 0xFF));
}
}  // namespace

Bytes BuildRequest(uint8_t opcode, const Bytes& payload) {
    const size_t n = payload.size() & 0x1F;
    Bytes frame{opcode, 0x02, uint8_t(n)};
    frame.insert(frame.end(), payload.begin(), payload.begin() + ptrdiff_t(n));
    if (n > 0)
        frame.push_back(0x00);
    AppendCrc(frame);
    return frame;
}

Bytes BuildAnswer(const Bytes& payload) {
    Bytes frame{kAnswerStart, kAnswerSecond};
    frame.insert(frame.end(), payload.begin(), payload.end());
    frame.push_back(0x00);
    AppendCrc(frame);
    return frame;
}

size_t AnswerLength(uint8_t opcode, const uint8_t* data, size_t have) {
    if (have >= 1 && data[0] != kAnswerStart)
        return have;
    if (have >= 2 && data[1] != kAnswerSecond)
        return have;
    if (opcode == kUpload)
        return UploadLength(data, have);
    const size_t fixed = FixedLength(opcode);
    return fixed ? fixed : have;
}

Result CheckFrame(const uint8_t* data, size_t size) {
    if (size < kEmptyLength)
        return size == 0 ? kNoAnswer : kMalformed;
    if (data[0] != kAnswerStart || data[1] != kAnswerSecond)
        return kMalformed;
    const uint16_t crc = Crc16(data, size - 2);
    if (data[size - 2] != uint8_t(crc >> 8) || data[size - 1] != uint8_t(crc & 0xFF))
        return kBadCrc;
    if (data[size - 3] != 0x00)
        return kMalformed;
    return kOk;
}

namespace {
// The frame checks and the exact length an answer of fixed size must have.
Result CheckFixed(const uint8_t* data, size_t size, size_t length) {
    const Result r = CheckFrame(data, size);
    if (r != kOk)
        return r;
    return size == length ? kOk : kMalformed;
}
}  // namespace

Result ParseInterrogate(const uint8_t* data, size_t size, Interrogation& out) {
    const Result r = CheckFixed(data, size, kInterrogateLength);
    if (r != kOk)
        return r;
    out.protocol = data[2];
    out.status = data[3];
    out.serial = Text(data + 4, kSerialBytes);
    out.firmware = Text(data + 4 + kSerialBytes, kSerialBytes);
    return kOk;
}

Result ParseParameter(const uint8_t* data, size_t size, uint8_t param, uint8_t& value) {
    const Result r = CheckFixed(data, size, kParameterLength);
    if (r != kOk)
        return r;
    if (data[2] != 0x02 || data[3] != param)
        return kMalformed;
    value = data[4];
    return kOk;
}

Result ParseEmpty(const uint8_t* data, size_t size) {
    return CheckFixed(data, size, kEmptyLength);
}

Result ParseClock(const uint8_t* data, size_t size, Clock& out) {
    const Result r = CheckFixed(data, size, kClockLength);
    if (r != kOk)
        return r;
    if (data[2] != 0x06)
        return kMalformed;
    out = Clock{data[3], data[4], data[5], data[6], data[7], 2000 + data[8]};
    return kOk;
}

Result ParseUpload(const uint8_t* data, size_t size, Upload& out) {
    out = Upload{};
    const Result r = CheckFrame(data, size);
    if (r != kOk)
        return r;
    if (size > kMaxUploadBytes)
        return kTooLarge;
    if (size < kHeader + kSerialBytes + kTrailer)
        return kMalformed;
    out.serial = Text(data + kHeader, kSerialBytes);
    const size_t end = size - kTrailer;  // the closing zero length byte
    size_t p = kHeader + kSerialBytes;
    while (p < end) {
        const size_t len = data[p];
        if (len < kMinRecordLen || p + 1 + len > end) {
            out.records.clear();
            return kMalformed;
        }
        out.records.emplace_back(data + p, data + p + 1 + len);
        p += len + 1;
    }
    return kOk;
}

Stamp DecodeStamp(const uint8_t stamp[4]) {
    const uint32_t v = uint32_t(stamp[0]) << 24 | uint32_t(stamp[1]) << 16 |
                       uint32_t(stamp[2]) << 8 | uint32_t(stamp[3]);
    Stamp s;
    s.year = 2000 + int(v & 0x3F);
    s.month = int((v >> 6) & 0x0F);
    s.day = int((v >> 10) & 0x1F);
    s.hour = int((v >> 15) & 0x1F);
    s.minute = int((v >> 20) & 0x3F);
    s.second = int((v >> 26) & 0x3F);
    return s;
}

void EncodeStamp(const Stamp& s, uint8_t stamp[4]) {
    const uint32_t v = uint32_t(s.second & 0x3F) << 26 | uint32_t(s.minute & 0x3F) << 20 |
                       uint32_t(s.hour & 0x1F) << 15 | uint32_t(s.day & 0x1F) << 10 |
                       uint32_t(s.month & 0x0F) << 6 | uint32_t((s.year - 2000) & 0x3F);
    stamp[0] = uint8_t(v >> 24);
    stamp[1] = uint8_t(v >> 16);
    stamp[2] = uint8_t(v >> 8);
    stamp[3] = uint8_t(v);
}

Result FormatStamp(const uint8_t stamp[4], char* out, size_t size) {
    constexpr size_t kTextBytes = 21;
    if (!stamp || !out || size < kTextBytes)
        return kBadArgument;
    const Stamp s = DecodeStamp(stamp);
    if (!ValidStamp(s))
        return kBadStamp;
    const int hour12 = s.hour % 12 == 0 ? 12 : s.hour % 12;
    char text[64];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u %cM %02u/%02u/%02u", unsigned(hour12) % 100,
                  unsigned(s.minute) % 100, unsigned(s.second) % 100, s.hour < 12 ? 'A' : 'P',
                  unsigned(s.month) % 100, unsigned(s.day) % 100, unsigned(s.year) % 100);
    std::memcpy(out, text, kTextBytes);
    return kOk;
}

Bytes MakeRecord(uint8_t symbology, const std::string& code, const Stamp& stamp) {
    Bytes r(code.size() + 1 + kMinRecordLen);
    r[0] = uint8_t(code.size() + kMinRecordLen);
    r[1] = symbology;
    std::memcpy(r.data() + 2, code.data(), code.size());
    EncodeStamp(stamp, r.data() + 2 + code.size());
    return r;
}

}  // namespace csp2
