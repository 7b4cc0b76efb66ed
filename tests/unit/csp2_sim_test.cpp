// The scanner library's ten calls against the OPN-2001 simulator, a real
// process on a pseudo-terminal: their results with a healthy scanner, and a
// negative result, in bounded time and without a write past the caller's
// buffer, for every fault the simulator can inject.

#include "csp2/csp2.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTimer>
#include <array>
#include <cstring>

#include "csp2/csp2_protocol.h"
#include "links/serial_link.h"
#include "tests/support/com_ports.h"
#include "tests/support/opn_sim.h"
#include "tests/support/recording_ui.h"

namespace vt {
namespace {

const QList<test::SimBarcode> kThree = {
    {"40123455", 10, "2024-01-31 14:05:09"},
    {"K1;4711;5", 1, "2024-01-31 00:30:00"},
    {"4006381333931", 1, "2007-07-09 12:00:00"},
};

class Csp2SimTest : public ::testing::Test {
  protected:
    void TearDown() override { csp2InitEx(-1); }  // releases the library's port

    void Start(const QStringList& options = {}, const QString& com = QStringLiteral("COM5")) {
        sim.set_barcodes(kThree);
        ASSERT_TRUE(sim.start(options));
        ports.map(com, sim.pty_path());
    }

    test::ComPorts ports;
    test::RecordingDialogs dialogs;
    test::OpnSim sim{QStringLiteral(VT_BIN_DIR "/opn2001-sim")};
};

TEST_F(Csp2SimTest, EveryCallAgainstAHealthyScanner) {
    Start({"--rtc-mode", "0"});
    ASSERT_EQ(csp2InitEx(5), 0);
    EXPECT_EQ(csp2Interrogate(), 0);
    EXPECT_EQ(csp2DataAvailable(), 3);
    std::array<uint8_t, 100> packet;
    packet.fill(0xEE);
    EXPECT_LT(csp2GetPacket(packet.data(), 0, 100), 0);  // nothing read yet
    EXPECT_EQ(packet[0], 0xEE);

    ASSERT_EQ(csp2ReadData(), 3);
    ASSERT_EQ(csp2GetPacket(packet.data(), 0, 100), 14);
    EXPECT_EQ(packet[0], 13);
    EXPECT_EQ(packet[1], 10);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(&packet[2]), 8), "40123455");
    EXPECT_EQ(packet[10], 0x24);
    EXPECT_EQ(packet[13], 0x58);
    EXPECT_EQ(packet[14], 0xEE);  // nothing beyond the packet
    ASSERT_EQ(csp2GetPacket(packet.data(), 2, 100), 19);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(&packet[2]), 13), "4006381333931");
    EXPECT_LT(csp2GetPacket(packet.data(), 3, 100), 0);
    EXPECT_LT(csp2GetPacket(packet.data(), -1, 100), 0);
    EXPECT_LT(csp2GetPacket(nullptr, 0, 100), 0);
    // A buffer too small for the packet gets nothing at all.
    packet.fill(0xEE);
    EXPECT_LT(csp2GetPacket(packet.data(), 0, 13), 0);
    EXPECT_EQ(packet[0], 0xEE);

    ASSERT_EQ(csp2GetPacket(packet.data(), 0, 100), 14);
    char text[100];
    ASSERT_EQ(csp2TimeStamp2Str(&packet[10], text, 100), 0);
    EXPECT_STREQ(text, "02:05:09 PM 01/31/24");
    EXPECT_LT(csp2TimeStamp2Str(&packet[10], text, 20), 0);

    EXPECT_EQ(csp2GetASCIIMode(), 1);
    EXPECT_EQ(csp2GetRTCMode(), 0);

    EXPECT_EQ(csp2ClearData(), 0);
    EXPECT_EQ(csp2DataAvailable(), 0);
    EXPECT_EQ(csp2ReadData(), 0);
    EXPECT_LT(csp2GetPacket(packet.data(), 0, 100), 0);
    EXPECT_EQ(sim.log_lines("CLEAR"), QStringList{"CLEAR 3 barcodes"});
    EXPECT_TRUE(sim.log_lines("RX bad CRC").isEmpty());
    EXPECT_TRUE(dialogs.events.isEmpty());
}

TEST_F(Csp2SimTest, VersionTextFitsOrIsRefused) {
    char buffer[20];
    std::memset(buffer, 'x', sizeof buffer);
    const int32_t n = csp2GetDllVersion(buffer, 20);
    ASSERT_GT(n, 0);
    EXPECT_EQ(int32_t(std::strlen(buffer)), n);
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_LT(csp2GetDllVersion(buffer, n), 0);  // no room for the closing zero
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_LT(csp2GetDllVersion(nullptr, 20), 0);
}

TEST_F(Csp2SimTest, InitOpensThroughPortsAndReleasesTheEarlierPort) {
    Start({}, QStringLiteral("COM12"));
    test::OpnSim second{QStringLiteral(VT_BIN_DIR "/opn2001-sim")};
    ASSERT_TRUE(second.start());
    ports.map(QStringLiteral("COM3"), second.pty_path());
    ports.map(QStringLiteral("COM7"), QStringLiteral("/nonexistent/tty"));

    ASSERT_EQ(csp2InitEx(12), 0);
    EXPECT_EQ(csp2DataAvailable(), 3);
#ifndef _WIN32
    // The port is the library's alone while it holds it (Wine lets a second
    // handle in where Windows would not).
    EXPECT_EQ(ComOpen(QStringLiteral("COM12"), 9600), -1);
#endif

    ASSERT_EQ(csp2InitEx(3), 0);
    EXPECT_EQ(csp2DataAvailable(), 0);
    intptr_t first = ComOpen(QStringLiteral("COM12"), 9600);
    EXPECT_GT(first, 0);
    ComClose(first);

    EXPECT_LT(csp2InitEx(7), 0);
    EXPECT_LT(csp2Interrogate(), 0);
    intptr_t other = ComOpen(QStringLiteral("COM3"), 9600);
    EXPECT_GT(other, 0);
    ComClose(other);
}

TEST_F(Csp2SimTest, EveryFaultIsANegativeResultAndTheNextCallWorks) {
    struct Case {
        const char* fault;
        int32_t (*call)();
        int32_t expected;
    };
    const Case cases[] = {
        {"no-answer:upload", csp2ReadData, csp2::kNoAnswer},
        {"bad-crc:upload", csp2ReadData, csp2::kBadCrc},
        {"truncate:upload", csp2ReadData, csp2::kNoAnswer},
        {"no-answer:upload", csp2DataAvailable, csp2::kNoAnswer},
        {"bad-crc:interrogate", csp2Interrogate, csp2::kBadCrc},
        {"truncate:interrogate", csp2Interrogate, csp2::kNoAnswer},
        {"battery-low", csp2Interrogate, csp2::kBatteryLow},
        {"bad-crc:parameter", csp2GetASCIIMode, csp2::kBadCrc},
        {"no-answer:parameter", csp2GetRTCMode, csp2::kNoAnswer},
        {"bad-crc:clear", csp2ClearData, csp2::kBadCrc},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        sim.stop();
        // The fault fires at the second request of its kind: the first is
        // the interrogation of csp2InitEx or a healthy call.
        Start(
            {"--fault", QString::fromLatin1(c.fault) + (std::strchr(c.fault, ':') ? ":1" : "::1")});
        ASSERT_EQ(csp2InitEx(5), 0);
        if (c.call != csp2Interrogate) {
            EXPECT_GE(c.call(), 0);
        }
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(c.call(), c.expected);
        EXPECT_LT(clock.elapsed(), 2500);
        EXPECT_GE(c.call(), 0);
        if (c.call != csp2ClearData) {
            EXPECT_EQ(csp2DataAvailable(), 3);
        }
    }
}

TEST_F(Csp2SimTest, AnOversizedRecordIsNeverCopiedIntoTheCallersBuffer) {
    Start({"--fault", "oversize:upload"});
    ASSERT_EQ(csp2InitEx(5), 0);
    ASSERT_EQ(csp2ReadData(), 4);
    std::array<uint8_t, 200> buffer;
    buffer.fill(0xEE);
    EXPECT_EQ(csp2GetPacket(buffer.data(), 3, 100), csp2::kTooLarge);
    EXPECT_EQ(buffer[0], 0xEE);
    EXPECT_EQ(csp2GetPacket(buffer.data(), 3, 200), 126);
    EXPECT_EQ(csp2GetPacket(buffer.data(), 2, 100), 19);
    EXPECT_EQ(csp2ReadData(), 3);  // the fault fired once
}

TEST_F(Csp2SimTest, AVanishedScannerFailsWithinTheTimeOut) {
    Start();
    ASSERT_EQ(csp2InitEx(5), 0);
    sim.stop();
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(csp2Interrogate(), csp2::kNoAnswer);
    EXPECT_EQ(csp2ReadData(), csp2::kNoAnswer);
    EXPECT_LT(clock.elapsed(), 4000);
    EXPECT_LT(csp2InitEx(5), 0);
}

TEST_F(Csp2SimTest, ACallFromAnEventDuringAWaitIsTurnedAway) {
    Start({"--fault", "no-answer:upload"});
    ASSERT_EQ(csp2InitEx(5), 0);
    int32_t nested = 1;
    QTimer::singleShot(100, [&] { nested = csp2InitEx(5); });
    EXPECT_EQ(csp2ReadData(), csp2::kNoAnswer);
    EXPECT_EQ(nested, csp2::kBusy);
    // The port the waiting call used is still the library's and still works.
    EXPECT_EQ(csp2ReadData(), 3);
}

}  // namespace
}  // namespace vt
