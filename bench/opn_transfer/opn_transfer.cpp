// Uploads 1000 barcodes from opn2001-sim, paced at 9600 baud with 11 bits a
// byte (8 data bits, odd parity, one stop bit), into the barcode CSV, and
// prints the time against the serial line's limit. The poll of a cycle
// uploads everything once more (the protocol has no cheaper question), so
// the whole cycle is shown apart, and so is the read before the clear that
// makes sure the scanner holds nothing undelivered (one more upload).

#include <sys/resource.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <cstdio>

#include "csp2/csp2.h"
#include "csp2/csp2_protocol.h"
#include "links/opn_link.h"
#include "settings/settings.h"
#include "tests/support/com_ports.h"
#include "tests/support/opn_sim.h"

namespace {

constexpr int kBarcodes = 1000;
constexpr int kBaud = 9600;
constexpr double kBitsPerByte = 11.0;

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double Seconds(const QElapsedTimer& t) {
    return double(t.nsecsElapsed()) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    vt::test::ComPorts ports;
    vt::test::OpnSim sim(QStringLiteral(VT_BIN_DIR "/opn2001-sim"));
    QList<vt::test::SimBarcode> barcodes;
    size_t answer_bytes = 2 + 8 + 3;  // 06 02, serial number, closing 00 and CRC
    for (int i = 0; i < kBarcodes; ++i) {
        const QByteArray code = QByteArray::number(4006381000000LL + i);
        barcodes.push_back({code, 1, "2024-01-31 14:05:09"});
        answer_bytes += size_t(code.size()) + 6;
    }
    sim.set_barcodes(barcodes);
    if (!sim.start({"--baud", QString::number(kBaud)})) {
        std::fprintf(stderr, "opn2001-sim did not start\n");
        return 1;
    }
    ports.map(QStringLiteral("COM5"), sim.pty_path());
    const QString out = ports.folder() + QStringLiteral("/csv/");
    QDir().mkpath(out);
    vt::progpar.opn_csvdir = out;
    vt::progpar.opn_csvfilename = QStringLiteral("BARCODES.CSV");
    vt::progpar.opn_csvpos = {0, 1, 2};
    if (csp2InitEx(5) != 0) {
        std::fprintf(stderr, "the simulated scanner did not answer\n");
        return 1;
    }
    // The request (3 bytes and CRC) travels the other way and is not paced.
    const double line_rate = kBaud / kBitsPerByte;  // bytes per second
    const double limit = double(answer_bytes) / line_rate;

    QElapsedTimer clock;
    clock.start();
    const int32_t available = csp2DataAvailable();
    const double poll = Seconds(clock);
    if (available != kBarcodes) {
        std::fprintf(stderr, "the poll saw %d barcodes\n", available);
        return 1;
    }
    const double cpu0 = CpuSeconds();
    clock.restart();
    const int32_t result = vt::OpnReadToCsv();
    const double transfer = Seconds(clock);
    const double cpu = CpuSeconds() - cpu0;
    const QStringList files = QDir(out).entryList(QDir::Files);
    if (result != 1 || files.size() != 1) {
        std::fprintf(stderr, "the transfer failed (%d)\n", result);
        return 1;
    }
    // What the cycle does before it clears: read everything again and fetch
    // each packet for the comparison.
    clock.restart();
    const int32_t again = csp2ReadData();
    for (int32_t i = 0; i < again; ++i) {
        uint8_t packet[100];
        csp2GetPacket(packet, i, int32_t(sizeof packet));
    }
    const double check = Seconds(clock);
    if (again != kBarcodes) {
        std::fprintf(stderr, "the read before the clear saw %d barcodes\n", again);
        return 1;
    }
    QFile csv(out + files[0]);
    csv.open(QIODevice::ReadOnly);
    const qsizetype lines = csv.readAll().count('\n');
    std::printf("%d barcodes, upload answer %zu bytes, at %d baud 8O1 (%.1f B/s)\n", kBarcodes,
                answer_bytes, kBaud, line_rate);
    std::printf("  line limit for one upload: %.3f s\n", limit);
    std::printf(
        "  transfer into the barcode CSV (%lld lines): %.3f s = %.1f %% of the line limit\n",
        static_cast<long long>(lines), transfer, 100.0 * limit / transfer);
    std::printf("  host CPU during the transfer: %.3f s\n", cpu);
    std::printf(
        "  the poll's upload before it: %.3f s; a whole cycle %.3f s = %.1f %% of the\n"
        "  limit for both uploads\n",
        poll, poll + transfer, 100.0 * 2 * limit / (poll + transfer));
    std::printf(
        "  the read before the clear: %.3f s; the cycle with it %.3f s (+%.1f %%)\n", check,
        poll + transfer + check, 100.0 * check / (poll + transfer));
    csp2InitEx(-1);
    return 0;
}
