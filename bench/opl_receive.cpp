// Downloads a 2000-record file of 81-character lines from opl98xx-sim and
// prints how close the host comes to the serial line's limit, how fast it
// reads unpaced, what CPU it used, and what an idle poll on a silent port
// costs.

#include <sys/resource.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>

#include "links/opl_protocol.h"
#include "links/serial_link.h"
#include "tests/support/com_ports.h"
#include "tests/support/opl_sim.h"
#include "tests/support/pty_pair.h"

namespace {

constexpr int kRecords = 2000;
constexpr int kLineLength = 81;
constexpr int kBaud = 115200;

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Run {
    bool ok = false;
    int lines = 0;
    double seconds = 0;
    double cpu = 0;
};

Run Download(vt::test::ComPorts& ports, const QStringList& options) {
    Run r;
    vt::test::OplSim sim(QStringLiteral(VT_BIN_DIR "/opl98xx-sim"));
    QList<QByteArray> lines;
    for (int i = 0; i < kRecords; ++i) {
        QByteArray l = QByteArray::number(100000 + i) + ' ';
        l += QByteArray(kLineLength - l.size(), 'x');
        lines << l;
    }
    sim.set_file(2, lines);
    if (!sim.start(options)) return r;
    ports.map(QStringLiteral("COM5"), sim.pty_path());
    vt::ComHandle = vt::ComOpen(QStringLiteral("COM5"), kBaud);
    if (vt::OplPoll() != 6 || vt::OplFileinfo() != 6) return r;
    QElapsedTimer clock;
    const double cpu0 = CpuSeconds();
    clock.start();
    if (!vt::OplRequestFile(2)) return r;
    for (;;) {
        QByteArray line;
        if (!vt::OplReadLine(line, true)) return r;
        if (line.isEmpty()) break;
        if (line.size() != kLineLength) return r;
        ++r.lines;
    }
    r.seconds = double(clock.nsecsElapsed()) / 1e9;
    r.cpu = CpuSeconds() - cpu0;
    r.ok = r.lines == kRecords;
    vt::ComClose(vt::ComHandle);
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    vt::test::ComPorts ports;
    const double line_limit = kBaud / 10.0;  // bytes per second

    const Run paced = Download(ports, {"--baud", QString::number(kBaud)});
    if (!paced.ok) {
        std::fprintf(stderr, "paced download failed after %d lines\n", paced.lines);
        return 1;
    }
    const double payload_rate = double(kRecords) * kLineLength / paced.seconds;
    // STX, payload, 4-byte trailer, ETX per line, and the end marker frame.
    const double frame_rate = (double(kRecords) * (kLineLength + 6) + 7) / paced.seconds;
    std::printf("paced at %d baud: %d lines of %d characters in %.3f s\n", kBaud, kRecords,
                kLineLength, paced.seconds);
    std::printf("  payload rate %.0f B/s = %.1f %% of the line limit (%.0f B/s)\n", payload_rate,
                100.0 * payload_rate / line_limit, line_limit);
    std::printf("  all bytes the scanner sent: %.0f B/s = %.1f %% of the line limit\n", frame_rate,
                100.0 * frame_rate / line_limit);
    std::printf("  (ceiling for the payload with 6 framing bytes a line: %.1f %%)\n",
                100.0 * kLineLength / (kLineLength + 6));
    std::printf("  host CPU %.3f s\n", paced.cpu);

    const Run fast = Download(ports, {});
    if (!fast.ok) {
        std::fprintf(stderr, "unpaced download failed after %d lines\n", fast.lines);
        return 1;
    }
    std::printf("unpaced: %d lines in %.3f s = %.0f lines/s, host CPU %.3f s\n", kRecords,
                fast.seconds, kRecords / fast.seconds, fast.cpu);

    // Polls on a port where nothing answers, back to back (the real cycle
    // also idles a second between them, which costs nothing).
    vt::test::PtyPair silent;
    ports.map(QStringLiteral("COM5"), silent.slave_path());
    vt::ComHandle = vt::ComOpen(QStringLiteral("COM5"), kBaud);
    QElapsedTimer clock;
    const double cpu0 = CpuSeconds();
    clock.start();
    constexpr int kPolls = 3;
    for (int i = 0; i < kPolls; ++i) {
        if (vt::OplPoll() != -1) return 1;
    }
    const double wall = double(clock.nsecsElapsed()) / 1e9;
    const double cpu = CpuSeconds() - cpu0;
    std::printf("silent port: %d polls in %.2f s, host CPU %.4f s = %.2f %% of a core\n", kPolls,
                wall, cpu, 100.0 * cpu / wall);
    return 0;
}
