#pragma once
// The OPN-2001 scanner's serial protocol as pure functions over byte buffers:
// request frames, the CRC, the checks every answer must pass, the upload's
// barcode records and the scan time stamps. Nothing here touches a port, so
// the library, the simulator and the tests share one reading of the wire.
// Plain C++ (no Qt), so the simulator links it as it is.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace csp2 {

using Bytes = std::vector<uint8_t>;

enum Opcode : uint8_t {
    kInterrogate = 0x01,
    kClear = 0x02,
    kPowerDown = 0x05,
    kUpload = 0x07,
    kReadParameter = 0x08,
    kSetClock = 0x09,
    kReadClock = 0x0A,
};

inline constexpr uint8_t kParamAsciiMode = 0x4F;
inline constexpr uint8_t kParamRtcMode = 0x23;
inline constexpr uint8_t kStatusBatteryLow = 22;
inline constexpr uint8_t kSymbologyEan8 = 0x0A;

// Results of the checks; every failure is negative, as the library's calls
// hand them on.
enum Result : int32_t {
    kOk = 0,
    kNotOpen = -1,       // no port, or the port could not be opened
    kNoAnswer = -2,      // silence, or the answer stopped short
    kBadCrc = -3,        // the answer's CRC does not match
    kMalformed = -4,     // wrong start, wrong length, wrong echo, bad record
    kBadArgument = -5,   // a caller's buffer is missing or too small
    kNoSuchPacket = -6,  // an index outside the held barcodes
    kBatteryLow = -7,    // the scanner answered but reports a low battery
    kBusy = -8,          // a call while another is still waiting for the scanner
    kTooLarge = -9,      // the upload exceeds what the library accepts
    kBadStamp = -10,     // the stamp's fields are no date and time
};

// CRC-16, reflected polynomial 0xA001, start 0xFFFF, complemented at the end.
uint16_t Crc16(const uint8_t* data, size_t size);

// The request `opcode` with `payload` (at most 31 bytes), CRC high byte first.
Bytes BuildRequest(uint8_t opcode, const Bytes& payload = {});

// Upper bound of an upload's size; a longer one is refused rather than held.
inline constexpr size_t kMaxUploadBytes = 1 << 20;

// How many bytes the answer to `opcode` has, judged from its first `have`
// bytes: the full length once it is known, otherwise at least have + 1. An
// answer that has already gone wrong (wrong start, impossible record) is
// declared complete at `have`, so a reader stops there and the check fails.
size_t AnswerLength(uint8_t opcode, const uint8_t* data, size_t have);

// The frame checks every answer must pass: starts with 06 02, ends with 00
// and a matching CRC, at least 5 bytes.
Result CheckFrame(const uint8_t* data, size_t size);

struct Interrogation {
    uint8_t protocol = 0;
    uint8_t status = 0;
    std::string serial;    // 8 bytes as sent
    std::string firmware;  // 8 bytes as sent
};
Result ParseInterrogate(const uint8_t* data, size_t size, Interrogation& out);

// The value of parameter `param` (0-255); the answer must name that parameter.
Result ParseParameter(const uint8_t* data, size_t size, uint8_t param, uint8_t& value);

// Answers without payload (clear, power down).
Result ParseEmpty(const uint8_t* data, size_t size);

struct Clock {
    int second = 0, minute = 0, hour = 0, day = 0, month = 0, year = 2000;
};
Result ParseClock(const uint8_t* data, size_t size, Clock& out);

// The upload: the device serial number and every record as it stands on the
// wire ([len] [symbology] [code ...] [4 stamp bytes], len + 1 bytes).
struct Upload {
    std::string serial;
    std::vector<Bytes> records;
};
Result ParseUpload(const uint8_t* data, size_t size, Upload& out);

// Scan time stamps: 4 bytes, big-endian, year-2000 in bits 0-5, month 6-9,
// day 10-14, hour 15-19, minute 20-25, second 26-31.
struct Stamp {
    int year = 2000, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};
Stamp DecodeStamp(const uint8_t stamp[4]);
void EncodeStamp(const Stamp& s, uint8_t stamp[4]);

// The stamp as "hh:mm:ss AM mm/dd/yy" (12-hour clock, 20 characters and a
// closing zero) into `out`. kBadStamp for fields that are no date and time,
// kBadArgument when `out` holds fewer than 21 bytes; nothing is written then.
Result FormatStamp(const uint8_t stamp[4], char* out, size_t size);

// A record for an upload answer (simulator, tests).
Bytes MakeRecord(uint8_t symbology, const std::string& code, const Stamp& stamp);
// An answer frame around `payload`: 06 02 payload 00 CRC.
Bytes BuildAnswer(const Bytes& payload);

}  // namespace csp2
