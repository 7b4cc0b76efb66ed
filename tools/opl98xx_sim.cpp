// opl98xx-sim: an OPL-98xx memory scanner in its cradle, played on a
// pseudo-terminal. It prints the terminal's path on its first output line;
// a host opens that path as its serial port.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdarg>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tools/sim_wire.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr char STX = 0x02;
constexpr char ETX = 0x03;
constexpr char EOT = 0x04;
constexpr char ACK = 0x06;
constexpr char NAK = 0x15;

const char* const kUsage = R"(usage: opl98xx-sim --dir DIR [options]

Plays an OPL-98xx scanner on a pseudo-terminal. The first output line is the
terminal's path (for example /dev/pts/7); open it as the serial port.

The scanner holds four files, read from DIR at start-up, one payload line per
text line (LF or CR LF): table entry 0 (brand shop), 1 ("Simple System"
shop), 2 (CSV), 3 (UGS). A missing file is reported with 0 records.

  --dir DIR            folder with the scanner's files (required unless
                       --generate)
  --file N=NAME        file in DIR for table entry N, reported under NAME
                       (defaults: SHOP.TXT, SIMPLE.TXT, CSV.TXT, UGS.TXT)
  --log FILE           append one line per exchange to FILE
  --baud N             pace the bytes the scanner sends at N baud, 10 bits a
                       byte (each byte is handed over when it would have
                       fully arrived); 0 or absent: as fast as possible.
                       The host's bytes are taken as they come.
  --drop-after-end     forget a file once the host has acknowledged its end
                       marker (its entry then reports 0 records)
  --ack-timeout-ms N   give up a transfer when the host does not acknowledge
                       a line within N ms (default 5000)
  --gap-ms N           length of the pause of the "gap" fault (default 3000)
  --endless-bytes N    bytes of the "endless" line (default 12288)
  --watch-dir DIR      the moment a file's end marker is acknowledged, log
                       the size of every file in DIR ("AT-END-ACK <name>
                       <bytes>"), so a test sees what the host had written
                       before it let the scanner forget the file
  --link PATH          keep a symbolic link at PATH to the current terminal
  --reconnect-ms N     the "hangup" fault closes the terminal and, N ms later,
                       opens a new one (and moves --link to it) instead of
                       ending the simulator: a cradle unplugged and back
  --random-faults P    fault each command and each frame with probability P
                       (0..1): no-answer, nak or hangup for a command,
                       broken-frame or gap for a frame. A hangup then always
                       reconnects (after --reconnect-ms, default 2000)
  --seed N             seed of the random choices (default 1)
  --generate           the scanner fills itself: at each file table, every
                       file that holds nothing gets new lines with
                       probability 1/3, each line naming its file and number
                       ("S<file>L<line>") in the entry's column layout. The
                       log tells "OFFER file entry lines" when a file appears,
                       "DELIVERED file entry" when the host acknowledged its
                       end marker, and "HELD file entry" for what is left at
                       the end. Implies --drop-after-end
  --max-lines N        most lines of a generated file (default 8)
  --fault KIND[:CMD[:LINE]]
                       inject a fault once, at the next command CMD (HMS0..
                       HMS4, HME0; any command when left out); LINE counts
                       the frames of the answer from 0 (default 0).
                       May be given several times; each fires once.
     no-answer         the command gets no answer at all
     nak               the command is answered with NAK
     byte              the command is answered with 0x41
     hangup            the scanner closes the terminal and exits
     broken-frame      frame LINE starts with 0x41 instead of STX
     gap               frame LINE pauses --gap-ms in its middle
     garbage           frame LINE is followed by "XYZ" after its ETX
     endless           frame LINE never ends: --endless-bytes bytes, no ETX;
                       the transfer ends there
  --help               this text

Protocol: a command is STX, four letters, ETX. "HMS0" is answered with ACK
and the file table, one frame per entry ("NAME;SIZE;COUNT"), then the end
marker; "HMS1".."HMS4" with ACK, the file's lines and the end marker;
"HME0" with ACK. A frame is STX, payload, a four-digit hex trailer (the sum
of the payload bytes), ETX; the end marker's payload is EOT. Each frame after
the first waits for the host's ACK of the previous one.
)";

enum class FaultKind { NoAnswer, Nak, Byte, Hangup, BrokenFrame, Gap, Garbage, Endless };

struct Fault {
    FaultKind kind;
    std::string command;  // empty: any
    int line = 0;
    bool used = false;
};

struct ScannerFile {
    std::string name;
    std::vector<std::string> lines;
    long size = 0;
    long serial = 0;  // generated files: their number, 0 otherwise
};

struct Options {
    std::string dir;
    std::array<std::string, 4> names = {"SHOP.TXT", "SIMPLE.TXT", "CSV.TXT", "UGS.TXT"};
    std::string log;
    long baud = 0;
    bool drop_after_end = false;
    int ack_timeout_ms = 5000;
    int gap_ms = 3000;
    long endless_bytes = 12288;
    std::vector<Fault> faults;
    std::string link;
    int reconnect_ms = -1;  // -1: a hangup ends the simulator
    double random_faults = 0;
    unsigned long seed = 1;
    bool generate = false;
    int max_lines = 8;
    std::string watch_dir;
};

volatile sig_atomic_t g_stop = 0;

void OnSignal(int) { g_stop = 1; }

class Scanner {
public:
    // 10 bits a byte: start bit, 8 data bits, stop bit.
    explicit Scanner(Options o)
        : opt_(std::move(o)), wire_(opt_.log, opt_.baud, 10, &g_stop), random_(opt_.seed) {}

    bool OpenTerminal() { return wire_.OpenTerminal() && MoveLink(); }

    const std::string& slave_path() const { return wire_.slave_path(); }

    void LoadFiles() {
        for (size_t i = 0; i < files_.size(); ++i) {
            ScannerFile& f = files_[i];
            f.name = opt_.names[i];
            if (opt_.dir.empty()) continue;
            std::ifstream in(opt_.dir + "/" + f.name, std::ios::binary);
            if (!in) continue;
            std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            f.size = long(all.size());
            std::istringstream lines(all);
            std::string line;
            while (std::getline(lines, line)) {
                if (!line.empty() && line.back() == '\r') line.pop_back();
                f.lines.push_back(line);
            }
            wire_.Log("LOAD %zu %s %zu lines", i, f.name.c_str(), f.lines.size());
        }
    }

    int Run() {
        while (!g_stop) {
            // A command may have begun while a transfer waited for its ACK.
            const int b = pending_command_ ? STX : ReadByte(200);
            pending_command_ = false;
            if (b < 0) continue;
            if (b != STX) {
                wire_.Log("RX stray 0x%02X", b);
                continue;
            }
            if (!HandleCommand()) return 0;
        }
        for (size_t i = 0; i < files_.size(); ++i) {
            if (files_[i].serial > 0) wire_.Log("HELD %ld %zu", files_[i].serial, i);
        }
        wire_.Log("STOP");
        return 0;
    }

private:
    int ReadByte(int timeout_ms) { return wire_.ReadByte(timeout_ms); }
    void Send(const std::string& bytes) { wire_.Send(bytes); }

    // Points --link at the current terminal; the rename replaces the old
    // link in one step, so a host never finds the name missing.
    bool MoveLink() {
        if (opt_.link.empty()) return true;
        const std::string tmp = opt_.link + ".new";
        ::unlink(tmp.c_str());
        return ::symlink(wire_.slave_path().c_str(), tmp.c_str()) == 0 &&
               ::rename(tmp.c_str(), opt_.link.c_str()) == 0;
    }

    // The hangup fault; false when the simulator ends with it.
    bool HangUp() {
        wire_.HangUp();
        if (opt_.reconnect_ms < 0) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(opt_.reconnect_ms));
        if (g_stop || !OpenTerminal()) return false;
        wire_.Log("RECONNECT %s", wire_.slave_path().c_str());
        pending_command_ = false;
        return true;
    }

    bool Chance(double p) { return std::uniform_real_distribution<double>(0, 1)(random_) < p; }
    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }

    // A fault drawn at random for a command or a frame, or none.
    std::optional<FaultKind> RandomFault(bool line_fault) {
        if (opt_.random_faults <= 0 || !Chance(opt_.random_faults)) return std::nullopt;
        static constexpr FaultKind kCommand[] = {FaultKind::NoAnswer, FaultKind::Nak, FaultKind::Hangup};
        static constexpr FaultKind kLine[] = {FaultKind::BrokenFrame, FaultKind::Gap};
        return line_fault ? kLine[Pick(2)] : kCommand[Pick(3)];
    }

    std::optional<FaultKind> NextFault(const std::string& command, bool line_fault, int line) {
        if (Fault* f = TakeFault(command, line_fault, line)) return f->kind;
        return RandomFault(line_fault);
    }

    // Generated lines in the column layout of their entry, each naming its
    // file and line so that every delivered copy can be traced back.
    std::string GeneratedLine(size_t entry, long serial, int number) {
        char article[32];
        std::snprintf(article, sizeof article, "S%ldL%d", serial, number);
        const int quantity = 1 + Pick(999);
        char line[160];
        if (entry <= 1) {
            std::snprintf(line, sizeof line, "%-28s %6d", article, quantity);
        } else if (entry == 2) {
            std::snprintf(line, sizeof line, "%-12s %-12s %-28s %6d %-10s %-8s", "KST-100",
                          "LAGER-A", article, quantity, "31.01.2024", "14:05:09");
        } else {
            std::snprintf(line, sizeof line, "%-28s %6d %-10s %-8s", article, quantity,
                          "31.01.2024", "14:05:09");
        }
        return line;
    }

    void Generate() {
        for (size_t i = 0; i < files_.size(); ++i) {
            ScannerFile& f = files_[i];
            if (!f.lines.empty() || !Chance(1.0 / 3)) continue;
            f.serial = ++last_serial_;
            const int count = 1 + Pick(std::max(1, opt_.max_lines));
            f.size = 0;
            for (int n = 1; n <= count; ++n) {
                f.lines.push_back(GeneratedLine(i, f.serial, n));
                f.size += long(f.lines.back().size()) + 2;
            }
            wire_.Log("OFFER %ld %zu %d", f.serial, i, count);
        }
    }

    Fault* TakeFault(const std::string& command, bool line_fault, int line) {
        for (Fault& f : opt_.faults) {
            if (f.used || (!f.command.empty() && f.command != command)) continue;
            const bool is_line = f.kind == FaultKind::BrokenFrame || f.kind == FaultKind::Gap ||
                                 f.kind == FaultKind::Garbage || f.kind == FaultKind::Endless;
            if (is_line != line_fault || (line_fault && f.line != line)) continue;
            f.used = true;
            return &f;
        }
        return nullptr;
    }

    // The rest of a command after its STX; false when the scanner hangs up.
    bool HandleCommand() {
        std::string cmd;
        for (int i = 0; i < 5; ++i) {
            const int b = ReadByte(1000);
            if (b < 0) {
                wire_.Log("RX broken command");
                return true;
            }
            cmd += char(b);
        }
        if (cmd.back() != ETX) {
            wire_.Log("RX broken command");
            return true;
        }
        cmd.pop_back();
        wire_.Log("RX %s", cmd.c_str());
        int file = -1;
        if (cmd == "HMS0") {
            file = -1;
        } else if (cmd.size() == 4 && cmd.compare(0, 3, "HMS") == 0 && cmd[3] >= '1' && cmd[3] <= '4') {
            file = cmd[3] - '1';
        } else if (cmd != "HME0") {
            wire_.Log("RX unknown command");
            return true;
        }
        if (const std::optional<FaultKind> fault = NextFault(cmd, false, 0)) {
            switch (*fault) {
                case FaultKind::NoAnswer:
                    wire_.Log("FAULT no-answer %s", cmd.c_str());
                    return true;
                case FaultKind::Nak:
                    wire_.Log("FAULT nak %s", cmd.c_str());
                    Send(std::string(1, NAK));
                    return true;
                case FaultKind::Byte:
                    wire_.Log("FAULT byte %s", cmd.c_str());
                    Send("A");
                    return true;
                case FaultKind::Hangup:
                    wire_.Log("FAULT hangup %s", cmd.c_str());
                    return HangUp();
                default:
                    break;
            }
        }
        Send(std::string(1, ACK));
        wire_.Log("TX ACK");
        if (cmd == "HME0") return true;
        std::vector<std::string> payloads;
        if (file < 0 && opt_.generate) Generate();
        if (file < 0) {
            for (const ScannerFile& f : files_) {
                payloads.push_back(f.name + ";" + std::to_string(f.size) + ";" +
                                   std::to_string(f.lines.size()));
            }
        } else {
            payloads = files_[size_t(file)].lines;
        }
        payloads.push_back(std::string(1, EOT));
        if (Transfer(cmd, payloads) && file >= 0 && opt_.drop_after_end) {
            ScannerFile& f = files_[size_t(file)];
            if (f.serial > 0 && !f.lines.empty()) wire_.Log("DELIVERED %ld %d", f.serial, file);
            f.lines.clear();
            f.size = 0;
            f.serial = 0;
            wire_.Log("DROP %d", file);
        }
        return true;
    }

    static std::string Frame(const std::string& payload) {
        unsigned sum = 0;
        for (unsigned char c : payload) sum += c;
        char trailer[8];
        std::snprintf(trailer, sizeof trailer, "%04X", sum & 0xFFFF);
        return std::string(1, STX) + payload + trailer + std::string(1, ETX);
    }

    // Sends the frames one by one, each after the ACK of the one before;
    // true when the last one (the end marker) was acknowledged.
    bool Transfer(const std::string& cmd, const std::vector<std::string>& payloads) {
        for (size_t i = 0; i < payloads.size(); ++i) {
            std::string frame = Frame(payloads[i]);
            const std::optional<FaultKind> f = NextFault(cmd, true, int(i));
            const bool end = i + 1 == payloads.size();
            if (!f) {
                Send(frame);
                wire_.Log("TX frame %zu%s", i, end ? " end" : "");
            } else if (*f == FaultKind::BrokenFrame) {
                frame[0] = 'A';
                Send(frame);
                wire_.Log("FAULT broken-frame %s %zu", cmd.c_str(), i);
            } else if (*f == FaultKind::Gap) {
                const size_t half = frame.size() / 2;
                Send(frame.substr(0, half));
                wire_.Log("FAULT gap %s %zu", cmd.c_str(), i);
                std::this_thread::sleep_for(std::chrono::milliseconds(opt_.gap_ms));
                Send(frame.substr(half));
                wire_.Log("FAULT gap over");
            } else if (*f == FaultKind::Garbage) {
                Send(frame + "XYZ");
                wire_.Log("FAULT garbage %s %zu", cmd.c_str(), i);
            } else {
                wire_.Log("FAULT endless %s %zu", cmd.c_str(), i);
                std::string endless(1, STX);
                endless.append(size_t(std::max(0L, opt_.endless_bytes - 1)), 'E');
                Send(endless);
                wire_.Log("FAULT endless over");
                return false;
            }
            if (!AwaitAck()) return false;
            if (end) LogWatchedFiles();
        }
        wire_.Log("DONE %s %zu frames", cmd.c_str(), payloads.size());
        return true;
    }

    void LogWatchedFiles() {
        if (opt_.watch_dir.empty()) return;
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(opt_.watch_dir, ec)) {
            std::error_code size_ec;
            const auto size = e.file_size(size_ec);
            if (!size_ec)
                wire_.Log("AT-END-ACK %s %llu", e.path().filename().c_str(),
                          static_cast<unsigned long long>(size));
        }
    }

    bool AwaitAck() {
        const auto deadline = Clock::now() + std::chrono::milliseconds(opt_.ack_timeout_ms);
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                    .count();
            const int b = left > 0 ? ReadByte(int(left)) : -1;
            if (b == ACK) {
                wire_.Log("RX ACK");
                return true;
            }
            if (b < 0) {
                wire_.Log("RX no ACK, transfer abandoned");
                return false;
            }
            if (b == STX) {
                // The host has moved on to its next command.
                wire_.Log("RX command instead of ACK, transfer abandoned");
                pending_command_ = true;
                return false;
            }
            wire_.Log("RX stray 0x%02X", b);
        }
    }

    Options opt_;
    sim::Wire wire_;
    std::array<ScannerFile, 4> files_;
    bool pending_command_ = false;
    std::mt19937 random_;
    long last_serial_ = 0;
};

bool ParseFault(const std::string& option, Fault& f) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(option);
    while (std::getline(in, part, ':')) parts.push_back(part);
    if (parts.empty() || parts.size() > 3) return false;
    static const std::pair<const char*, FaultKind> kKinds[] = {
        {"no-answer", FaultKind::NoAnswer},  {"nak", FaultKind::Nak},
        {"byte", FaultKind::Byte},           {"hangup", FaultKind::Hangup},
        {"broken-frame", FaultKind::BrokenFrame}, {"gap", FaultKind::Gap},
        {"garbage", FaultKind::Garbage},     {"endless", FaultKind::Endless}};
    bool found = false;
    for (const auto& [name, kind] : kKinds) {
        if (parts[0] == name) {
            f.kind = kind;
            found = true;
        }
    }
    if (!found) return false;
    if (parts.size() > 1) f.command = parts[1];
    if (parts.size() > 2) {
        char* end = nullptr;
        f.line = int(std::strtol(parts[2].c_str(), &end, 10));
        if (!end || *end || f.line < 0) return false;
    }
    return true;
}

int Usage(const char* error) {
    if (error) std::fprintf(stderr, "opl98xx-sim: %s\n\n", error);
    std::fputs(kUsage, error ? stderr : stdout);
    return error ? 2 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options opt;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        long n = 0;
        if (a == "--help" || a == "-h") return Usage(nullptr);
        if (a == "--drop-after-end") {
            opt.drop_after_end = true;
            continue;
        }
        if (a == "--generate") {
            opt.generate = opt.drop_after_end = true;
            continue;
        }
        const char* v = value();
        if (!v) return Usage(("missing value for " + a).c_str());
        if (a == "--dir") {
            opt.dir = v;
        } else if (a == "--log") {
            opt.log = v;
        } else if (a == "--file") {
            const std::string s = v;
            if (s.size() < 3 || s[0] < '0' || s[0] > '3' || s[1] != '=') {
                return Usage("--file wants N=NAME with N 0..3");
            }
            opt.names[size_t(s[0] - '0')] = s.substr(2);
        } else if (a == "--fault") {
            Fault f{};
            if (!ParseFault(v, f)) return Usage(("unknown fault " + std::string(v)).c_str());
            opt.faults.push_back(f);
        } else if (a == "--baud" && sim::ParseLong(v, n)) {
            opt.baud = n;
        } else if (a == "--ack-timeout-ms" && sim::ParseLong(v, n)) {
            opt.ack_timeout_ms = int(n);
        } else if (a == "--gap-ms" && sim::ParseLong(v, n)) {
            opt.gap_ms = int(n);
        } else if (a == "--endless-bytes" && sim::ParseLong(v, n)) {
            opt.endless_bytes = n;
        } else if (a == "--watch-dir") {
            opt.watch_dir = v;
        } else if (a == "--link") {
            opt.link = v;
        } else if (a == "--reconnect-ms" && sim::ParseLong(v, n)) {
            opt.reconnect_ms = int(n);
        } else if (a == "--seed" && sim::ParseLong(v, n)) {
            opt.seed = static_cast<unsigned long>(n);
        } else if (a == "--max-lines" && sim::ParseLong(v, n) && n > 0) {
            opt.max_lines = int(n);
        } else if (a == "--random-faults") {
            char* end = nullptr;
            opt.random_faults = std::strtod(v, &end);
            if (!end || *end || !(opt.random_faults >= 0 && opt.random_faults <= 1))
                return Usage("--random-faults wants a probability from 0 to 1");
        } else {
            return Usage(("bad option " + a + " " + v).c_str());
        }
    }
    if (opt.dir.empty() && !opt.generate) return Usage("--dir is required (or --generate)");
    if (opt.random_faults > 0 && opt.reconnect_ms < 0) opt.reconnect_ms = 2000;

    // A test that dies must not leave a scanner behind.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    Scanner scanner(opt);
    if (!scanner.OpenTerminal()) {
        std::fprintf(stderr, "opl98xx-sim: cannot open a pseudo-terminal: %s\n", std::strerror(errno));
        return 1;
    }
    scanner.LoadFiles();
    std::printf("%s\n", scanner.slave_path().c_str());
    std::fflush(stdout);
    return scanner.Run();
}
