// opn2001-sim: an OPN-2001 memory scanner on its USB cable, played on a
// pseudo-terminal. It prints the terminal's path on its first output line;
// a host opens that path as its serial port.

#include <signal.h>
#include <sys/prctl.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "csp2/csp2_protocol.h"
#include "tools/sim_wire.h"

namespace {

using csp2::Bytes;

const char* const kUsage = R"(usage: opn2001-sim [--barcodes FILE] [options]

Plays an OPN-2001 scanner on a pseudo-terminal. The first output line is the
terminal's path (for example /dev/pts/7); open it as the serial port.

The scanner holds the barcodes of FILE, one a line (LF or CR LF):
CODE, or CODE TAB SYMBOLOGY, or CODE TAB SYMBOLOGY TAB YYYY-MM-DD hh:mm:ss.
SYMBOLOGY is a number (10 or 0x0A is EAN-8; default 1); the scan time
defaults to the simulator's start. Codes may hold any byte but TAB and LF.

  --barcodes FILE      the barcodes the scanner holds (default: none)
  --log FILE           append one line per exchange to FILE
  --baud N             pace the bytes the scanner sends at N baud, 11 bits a
                       byte (8 data bits, odd parity, one stop bit); 0 or
                       absent: as fast as possible
  --serial TEXT        device serial number, 8 characters (default OPN20010)
  --ascii-mode N       value of parameter 0x4F (default 1)
  --rtc-mode N         value of parameter 0x23 (default 1)
  --fault KIND[:REQ[:NTH]]
                       inject a fault into the answer to request REQ
                       (interrogate, clear, power-down, upload, parameter,
                       set-clock, read-clock; any request when left out),
                       at its NTH occurrence counted from 0 since the start
                       (default: the next one). May be given several times;
                       each fires once.
     no-answer         the request gets no answer at all
     bad-crc           the answer's last CRC byte is damaged
     truncate          the answer stops half-way
     oversize          the upload carries one more record of 120 code bytes
     battery-low       the interrogation reports status 22 (battery low)
  --scan-after-upload CODE
                       a barcode scanned while an upload is being delivered:
                       added to the barcodes right after that upload
  --change-after-upload CODE
                       the first barcode is replaced by CODE right after that
                       upload (the content changed otherwise)
  --after-upload N     which upload, counted from 0 (default 1: the host's
                       question for data is upload 0, its read upload 1)
  --help               this text

Requests are [opcode] 02 [n] [n payload bytes] [00 when n > 0] [CRC hi lo];
a request with a wrong CRC is logged and not answered. Answers are 06 02
[payload] 00 [CRC hi lo]. A clear erases every barcode at once.
)";

enum class FaultKind { NoAnswer, BadCrc, Truncate, Oversize, BatteryLow };

struct Fault {
    FaultKind kind;
    int opcode = -1;  // -1: any
    int nth = -1;     // -1: the next matching request
    bool used = false;
};

struct Options {
    std::string barcodes;
    std::string log;
    long baud = 0;
    std::string serial = "OPN20010";
    int ascii_mode = 1;
    int rtc_mode = 1;
    std::vector<Fault> faults;
    std::string scan_after_upload;
    std::string change_after_upload;
    long after_upload = 1;
};

struct RequestName {
    const char* name;
    uint8_t opcode;
};
constexpr RequestName kRequests[] = {
    {"interrogate", csp2::kInterrogate}, {"clear", csp2::kClear},
    {"power-down", csp2::kPowerDown},    {"upload", csp2::kUpload},
    {"parameter", csp2::kReadParameter}, {"set-clock", csp2::kSetClock},
    {"read-clock", csp2::kReadClock}};

const char* NameOf(uint8_t opcode) {
    for (const RequestName& r : kRequests) {
        if (r.opcode == opcode)
            return r.name;
    }
    return nullptr;
}

volatile sig_atomic_t g_stop = 0;

void OnSignal(int) {
    g_stop = 1;
}

csp2::Stamp StampOf(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    return csp2::Stamp{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                       tm.tm_hour,        tm.tm_min,     tm.tm_sec};
}

// "YYYY-MM-DD hh:mm:ss"; false when the text is none.
bool ParseTime(const std::string& text, csp2::Stamp& s) {
    return std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d", &s.year, &s.month, &s.day, &s.hour,
                       &s.minute, &s.second) == 6;
}

class Scanner {
  public:
    // 11 bits a byte: start bit, 8 data bits, odd parity, stop bit.
    explicit Scanner(Options o) : opt_(std::move(o)), wire_(opt_.log, opt_.baud, 11, &g_stop) {
        opt_.serial.resize(8, ' ');
        clock_ = StampOf(std::time(nullptr));
    }

    bool OpenTerminal() { return wire_.OpenTerminal(); }
    const std::string& slave_path() const { return wire_.slave_path(); }

    // False when the file is named but cannot be read or holds a bad line.
    bool LoadBarcodes() {
        if (opt_.barcodes.empty())
            return true;
        std::ifstream in(opt_.barcodes, std::ios::binary);
        if (!in)
            return false;
        const csp2::Stamp now = StampOf(std::time(nullptr));
        std::string line;
        int number = 0;
        while (std::getline(in, line)) {
            ++number;
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.empty())
                continue;
            std::vector<std::string> fields;
            std::istringstream parts(line);
            std::string field;
            while (std::getline(parts, field, '\t'))
                fields.push_back(field);
            uint8_t symbology = 1;
            csp2::Stamp stamp = now;
            if (fields.size() > 1)
                symbology = uint8_t(std::strtol(fields[1].c_str(), nullptr, 0));
            if (fields.size() > 2 && !ParseTime(fields[2], stamp)) {
                std::fprintf(stderr, "opn2001-sim: line %d: bad time \"%s\"\n", number,
                             fields[2].c_str());
                return false;
            }
            if (fields[0].size() > 250) {
                std::fprintf(stderr, "opn2001-sim: line %d: code longer than 250 bytes\n", number);
                return false;
            }
            records_.push_back(csp2::MakeRecord(symbology, fields[0], stamp));
        }
        wire_.Log("LOAD %zu barcodes", records_.size());
        return true;
    }

    int Run() {
        while (!g_stop) {
            const int b = ReadByte(200);
            if (b < 0)
                continue;
            HandleRequest(uint8_t(b));
        }
        wire_.Log("STOP");
        return 0;
    }

  private:
    int ReadByte(int timeout_ms) { return wire_.ReadByte(timeout_ms); }
    void Send(const Bytes& bytes) { wire_.Send(bytes.data(), bytes.size()); }

    Fault* TakeFault(uint8_t opcode, int occurrence) {
        for (Fault& f : opt_.faults) {
            if (f.used || (f.opcode >= 0 && f.opcode != opcode))
                continue;
            if (f.nth >= 0 && f.nth != occurrence)
                continue;
            f.used = true;
            return &f;
        }
        return nullptr;
    }

    // The rest of a request after its opcode byte; unknown opcodes and
    // broken requests are logged and get no answer.
    void HandleRequest(uint8_t opcode) {
        const char* name = NameOf(opcode);
        if (!name) {
            wire_.Log("RX stray 0x%02X", opcode);
            return;
        }
        Bytes request{opcode};
        auto take = [&](size_t n) {
            for (size_t i = 0; i < n; ++i) {
                const int b = ReadByte(500);
                if (b < 0)
                    return false;
                request.push_back(uint8_t(b));
            }
            return true;
        };
        if (!take(2) || request[1] != 0x02) {
            wire_.Log("RX broken %s", name);
            return;
        }
        const size_t n = request[2] & 0x1F;
        if (!take(n + (n > 0 ? 1 : 0) + 2)) {
            wire_.Log("RX broken %s", name);
            return;
        }
        const size_t body = request.size() - 2;
        const uint16_t crc = csp2::Crc16(request.data(), body);
        if (request[body] != uint8_t(crc >> 8) || request[body + 1] != uint8_t(crc & 0xFF)) {
            wire_.Log("RX bad CRC %s", name);
            return;
        }
        const Bytes payload(request.begin() + 3, request.begin() + 3 + ptrdiff_t(n));
        wire_.Log("RX %s", name);
        const int occurrence = seen_[opcode]++;
        Fault* fault = TakeFault(opcode, occurrence);
        if (fault && fault->kind == FaultKind::NoAnswer) {
            wire_.Log("FAULT no-answer %s", name);
            return;
        }
        Bytes answer = Answer(opcode, payload, fault);
        if (fault && fault->kind == FaultKind::BadCrc) {
            answer.back() ^= 0x5A;
            wire_.Log("FAULT bad-crc %s", name);
        } else if (fault && fault->kind == FaultKind::Truncate) {
            answer.resize(answer.size() / 2);
            wire_.Log("FAULT truncate %s", name);
        }
        // What the command did is logged before the answer leaves: a test that
        // holds the answer must find it in the log.
        if (opcode == csp2::kClear) {
            wire_.Log("CLEAR %zu barcodes", records_.size());
            records_.clear();
        } else if (opcode == csp2::kPowerDown) {
            wire_.Log("POWER DOWN");
        } else if (opcode == csp2::kUpload && occurrence == opt_.after_upload) {
            if (!opt_.scan_after_upload.empty()) {
                records_.push_back(csp2::MakeRecord(1, opt_.scan_after_upload, clock_));
                wire_.Log("SCAN %s", opt_.scan_after_upload.c_str());
            }
            if (!opt_.change_after_upload.empty() && !records_.empty()) {
                records_.front() = csp2::MakeRecord(1, opt_.change_after_upload, clock_);
                wire_.Log("CHANGE %s", opt_.change_after_upload.c_str());
            }
        }
        Send(answer);
        wire_.Log("TX %s %zu bytes", name, answer.size());
    }

    Bytes Answer(uint8_t opcode, const Bytes& payload, Fault* fault) {
        Bytes out;
        switch (opcode) {
            case csp2::kInterrogate: {
                uint8_t status = 0;
                if (fault && fault->kind == FaultKind::BatteryLow) {
                    status = csp2::kStatusBatteryLow;
                    wire_.Log("FAULT battery-low");
                }
                out = {0x01, status};
                out.insert(out.end(), opt_.serial.begin(), opt_.serial.end());
                const std::string firmware = "SIM 1.00";
                out.insert(out.end(), firmware.begin(), firmware.end());
                break;
            }
            case csp2::kUpload: {
                out.assign(opt_.serial.begin(), opt_.serial.end());
                for (const Bytes& r : records_)
                    out.insert(out.end(), r.begin(), r.end());
                if (fault && fault->kind == FaultKind::Oversize) {
                    const Bytes big = csp2::MakeRecord(1, std::string(120, 'X'), clock_);
                    out.insert(out.end(), big.begin(), big.end());
                    wire_.Log("FAULT oversize upload");
                }
                wire_.Log("UPLOAD %zu barcodes", records_.size());
                break;
            }
            case csp2::kReadParameter: {
                const uint8_t param = payload.empty() ? 0 : payload[0];
                uint8_t value = 0;
                if (param == csp2::kParamAsciiMode)
                    value = uint8_t(opt_.ascii_mode);
                if (param == csp2::kParamRtcMode)
                    value = uint8_t(opt_.rtc_mode);
                out = {0x02, param, value};
                break;
            }
            case csp2::kSetClock:
                if (payload.size() == 6) {
                    clock_ = csp2::Stamp{2000 + payload[5], payload[4], payload[3],
                                         payload[2],        payload[1], payload[0]};
                }
                [[fallthrough]];
            case csp2::kReadClock:
                out = {0x06,
                       uint8_t(clock_.second),
                       uint8_t(clock_.minute),
                       uint8_t(clock_.hour),
                       uint8_t(clock_.day),
                       uint8_t(clock_.month),
                       uint8_t(clock_.year - 2000)};
                break;
            default:
                break;
        }
        return csp2::BuildAnswer(out);
    }

    Options opt_;
    sim::Wire wire_;
    std::vector<Bytes> records_;
    csp2::Stamp clock_;
    int seen_[256] = {};
};

bool ParseFault(const std::string& option, Fault& f) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(option);
    while (std::getline(in, part, ':'))
        parts.push_back(part);
    if (parts.empty() || parts.size() > 3)
        return false;
    static const std::pair<const char*, FaultKind> kKinds[] = {
        {"no-answer", FaultKind::NoAnswer},
        {"bad-crc", FaultKind::BadCrc},
        {"truncate", FaultKind::Truncate},
        {"oversize", FaultKind::Oversize},
        {"battery-low", FaultKind::BatteryLow}};
    bool found = false;
    for (const auto& [name, kind] : kKinds) {
        if (parts[0] == name) {
            f.kind = kind;
            found = true;
        }
    }
    if (!found)
        return false;
    if (f.kind == FaultKind::Oversize)
        f.opcode = csp2::kUpload;
    if (f.kind == FaultKind::BatteryLow)
        f.opcode = csp2::kInterrogate;
    if (parts.size() > 1 && !parts[1].empty()) {
        f.opcode = -2;
        for (const RequestName& r : kRequests) {
            if (parts[1] == r.name)
                f.opcode = r.opcode;
        }
        if (f.opcode == -2)
            return false;
    }
    if (parts.size() > 2) {
        char* end = nullptr;
        f.nth = int(std::strtol(parts[2].c_str(), &end, 10));
        if (!end || *end || f.nth < 0)
            return false;
    }
    return true;
}

int Usage(const char* error) {
    if (error)
        std::fprintf(stderr, "opn2001-sim: %s\n\n", error);
    std::fputs(kUsage, error ? stderr : stdout);
    return error ? 2 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options opt;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h")
            return Usage(nullptr);
        const char* v = i + 1 < argc ? argv[++i] : nullptr;
        if (!v)
            return Usage(("missing value for " + a).c_str());
        long n = 0;
        if (a == "--barcodes") {
            opt.barcodes = v;
        } else if (a == "--log") {
            opt.log = v;
        } else if (a == "--serial") {
            opt.serial = v;
        } else if (a == "--fault") {
            Fault f{};
            if (!ParseFault(v, f))
                return Usage(("unknown fault " + std::string(v)).c_str());
            opt.faults.push_back(f);
        } else if (a == "--scan-after-upload") {
            opt.scan_after_upload = v;
        } else if (a == "--change-after-upload") {
            opt.change_after_upload = v;
        } else if (a == "--after-upload" && sim::ParseLong(v, n)) {
            opt.after_upload = n;
        } else if (a == "--baud" && sim::ParseLong(v, n)) {
            opt.baud = n;
        } else if (a == "--ascii-mode" && sim::ParseLong(v, n) && n < 256) {
            opt.ascii_mode = int(n);
        } else if (a == "--rtc-mode" && sim::ParseLong(v, n) && n < 256) {
            opt.rtc_mode = int(n);
        } else {
            return Usage(("bad option " + a + " " + v).c_str());
        }
    }

    // A test that dies must not leave a scanner behind.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    Scanner scanner(opt);
    if (!scanner.LoadBarcodes()) {
        std::fprintf(stderr, "opn2001-sim: cannot read %s\n", opt.barcodes.c_str());
        return 1;
    }
    if (!scanner.OpenTerminal()) {
        std::fprintf(stderr, "opn2001-sim: cannot open a pseudo-terminal: %s\n",
                     std::strerror(errno));
        return 1;
    }
    std::printf("%s\n", scanner.slave_path().c_str());
    std::fflush(stdout);
    return scanner.Run();
}
