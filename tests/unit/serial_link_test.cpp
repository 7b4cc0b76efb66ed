// The blocking port operations on real pseudo-terminals.

#include "links/serial_link.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

#ifndef _WIN32
#include <termios.h>

#include "platform/linux/serial_termios.h"
#endif
#include "platform/serial_port.h"
#include "tests/support/com_ports.h"
#include "tests/support/pty_pair.h"
#include "tests/support/recording_ui.h"

namespace vt {
namespace {

class SerialLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        ports.map(QStringLiteral("COM5"), pty.slave_path());
        handle = ComOpen(QStringLiteral("COM5"), 115200);
        ASSERT_GT(handle, 0);
    }
    void TearDown() override { ComClose(handle); }

    test::ComPorts ports;
    test::PtyPair pty;
    intptr_t handle = 0;
};

TEST_F(SerialLinkTest, EveryByteValuePassesUnchangedBothWays) {
    QByteArray all;
    for (int i = 0; i < 256; ++i) all.append(char(i));
    // Flow-control, CR and interrupt characters are where a cooked port bites.
    all += QByteArray("\x11\x13\x0d\x03\x0a\x7f", 6);

    EXPECT_EQ(ComWrite(handle, all), all.size());
    QByteArray heard;
    while (heard.size() < all.size()) {
        const QByteArray part = pty.receive(1000);
        if (part.isEmpty()) break;
        heard += part;
    }
    EXPECT_EQ(heard.toHex(), all.toHex());

    pty.send(all);
    QByteArray got;
    for (qsizetype i = 0; i < all.size(); ++i) {
        const int32_t b = ComReadByte(handle, 0);
        if (b < 0) break;
        got.append(char(b));
    }
    EXPECT_EQ(got.toHex(), all.toHex());
}

TEST_F(SerialLinkTest, PortIsRawEightBitsOneStopAndRefusesASecondOpener) {
    EXPECT_EQ(pty.line(), "bits=8 parity=none stop=1 cooked=0 translated=0 speed=115200");

#ifndef _WIN32
    // Wine lets a second handle open a COM port that Windows would refuse.
    EXPECT_EQ(ComOpen(QStringLiteral("COM5"), 115200), -1);
    EXPECT_EQ(serial::Open(pty.slave_path(), 9600, serial::Parity::None), serial::kNoPort);
#endif

    ASSERT_TRUE(ComClose(handle));
    EXPECT_EQ(handle, 0);
    handle = ComOpen(QStringLiteral("COM5"), 1200);  // not in the table: 115200
    ASSERT_GT(handle, 0);
    EXPECT_EQ(pty.line(), "bits=8 parity=none stop=1 cooked=0 translated=0 speed=115200");
}

#ifndef _WIN32
TEST(SerialLineSettings, OddParityKeepsTheHandshake) {
    // A pseudo-terminal keeps no parity, so the settings are checked as built.
    termios t{};
    t.c_cflag = CRTSCTS | CS7 | CSTOPB;
    t.c_iflag = IXON | ICRNL;
    t.c_lflag = ICANON | ECHO;
    ASSERT_TRUE(serial::ApplyLineSettings(t, 9600, serial::Parity::Odd));
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CSIZE | CSTOPB), tcflag_t(PARENB | PARODD | CS8));
    EXPECT_TRUE(t.c_cflag & CRTSCTS);
    EXPECT_EQ(t.c_iflag & (IXON | ICRNL), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B9600));
    ASSERT_TRUE(serial::ApplyLineSettings(t, 9600, serial::Parity::None));
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD), 0u);
    EXPECT_TRUE(t.c_cflag & CRTSCTS);
    EXPECT_FALSE(serial::ApplyLineSettings(t, 12345, serial::Parity::None));
}
#endif

TEST(SerialLineSettings, TheRateTable) {
    for (int32_t b : {2400, 4800, 9600, 19200, 38400, 57600, 115200}) EXPECT_EQ(ComBaudRate(b), b);
    for (int32_t b : {0, 1200, 230400, -9600}) EXPECT_EQ(ComBaudRate(b), 115200);
}

TEST_F(SerialLinkTest, ReadBudgetCountsSilentStepsAndAWaitingByteComesAtOnce) {
    QElapsedTimer clock;
    uint64_t before = serial::ReadAttempts();
    clock.start();
    EXPECT_EQ(ComReadByte(handle, 1000), -1);
    const qint64 silent_ms = clock.elapsed();
    EXPECT_EQ(serial::ReadAttempts() - before, 11u);
    EXPECT_GE(silent_ms, 1100);
    EXPECT_LT(silent_ms, 2000);

    before = serial::ReadAttempts();
    EXPECT_EQ(ComReadByte(handle, 0), -1);
    EXPECT_EQ(serial::ReadAttempts() - before, 1u);

    pty.send(QByteArray("\xA5", 1));
    QThread::msleep(20);
    before = serial::ReadAttempts();
    clock.restart();
    EXPECT_EQ(ComReadByte(handle, 2000), 0xA5);
    EXPECT_LT(clock.elapsed(), 50);
    EXPECT_EQ(serial::ReadAttempts() - before, 1u);
}

TEST_F(SerialLinkTest, ShutdownEndsEveryWait) {
    AppClosing = true;
    uint64_t before = serial::ReadAttempts();
    EXPECT_EQ(ComReadByte(handle, 1000), -1);
    EXPECT_EQ(serial::ReadAttempts(), before);
    QElapsedTimer clock;
    clock.start();
    DelayWithMessages(1000);
    EXPECT_LT(clock.elapsed(), 50);

    // Set from an event handled inside the wait, as a window close would be.
    AppClosing = false;
    QTimer::singleShot(150, [] { AppClosing = true; });
    before = serial::ReadAttempts();
    clock.restart();
    EXPECT_EQ(ComReadByte(handle, 10000), -1);
    EXPECT_LT(clock.elapsed(), 600);
    EXPECT_LE(serial::ReadAttempts() - before, 4u);

    // A close that the first attempt's pump handles ends the wait before
    // the pause that would follow a silent attempt.
    AppClosing = false;
    QTimer::singleShot(0, [] { AppClosing = true; });
    before = serial::ReadAttempts();
    clock.restart();
    EXPECT_EQ(ComReadByte(handle, 10000), -1);
    EXPECT_EQ(serial::ReadAttempts() - before, 1u);
    EXPECT_LT(clock.elapsed(), 80);

    AppClosing = false;
    QTimer::singleShot(100, [] { AppClosing = true; });
    clock.restart();
    DelayWithMessages(10000);
    EXPECT_LT(clock.elapsed(), 600);
}

TEST_F(SerialLinkTest, ClosedAndFailedHandlesAreRefusedWithoutIo) {
    test::RecordingDialogs boxes;
    const uint64_t before = serial::ReadAttempts();
    for (intptr_t bad : {intptr_t(0), intptr_t(-1)}) {
        EXPECT_EQ(ComReadByte(bad, 1000), -1);
        EXPECT_EQ(ComWrite(bad, "\x02HMS0\x03"), -1);
        ComPurgeInput(bad);
        intptr_t var = bad;
        EXPECT_FALSE(ComClose(var));
        EXPECT_EQ(var, bad);
    }
    EXPECT_EQ(serial::ReadAttempts(), before);
    EXPECT_EQ(boxes.beeps, 0);
}

TEST_F(SerialLinkTest, PurgeDropsWhatWasReceived) {
    pty.send("stale bytes");
    QThread::msleep(20);
    ComPurgeInput(handle);
    EXPECT_EQ(ComReadByte(handle, 0), -1);
    pty.send("N");
    EXPECT_EQ(ComReadByte(handle, 0), 'N');
}

TEST_F(SerialLinkTest, AVanishedDeviceReadsAsSilence) {
    pty.close_master();
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(ComReadByte(handle, 300), -1);
    // Four attempts, each with its pause: the wait keeps its length instead of
    // spinning on the dead device.
    EXPECT_GE(clock.elapsed(), 400);
    EXPECT_TRUE(ComVanished(handle)) << "told by the read, before any write";
    EXPECT_LE(ComWrite(handle, "\x06"), 1);
    EXPECT_TRUE(ComClose(handle));
}

#ifndef _WIN32
// Windows' own names are the Win32 seam's test.
TEST(ComNames, ResolveThroughThePortsSectionFirst) {
    test::ComPorts ports;
    ports.map(QStringLiteral("COM5"), QStringLiteral("/dev/pts/77"));
    ports.map(QStringLiteral("COM40"), QStringLiteral("/tmp/cradle"));
    EXPECT_EQ(ComDevicePath(QStringLiteral("COM5")), u"/dev/pts/77");
    EXPECT_EQ(ComDevicePath(QStringLiteral("com5")), u"/dev/pts/77");
    EXPECT_EQ(ComDevicePath(QStringLiteral("COM40")), u"/tmp/cradle");
    EXPECT_EQ(ComDevicePath(QStringLiteral("COM1")), u"/dev/ttyS0");
    EXPECT_EQ(ComDevicePath(QStringLiteral("COM32")), u"/dev/ttyS31");
    EXPECT_EQ(ComDevicePath(QStringLiteral("COM33")), u"/dev/ttyUSB0");
    EXPECT_EQ(ComDevicePath(QStringLiteral("COM64")), u"/dev/ttyUSB31");
    EXPECT_EQ(ComDevicePath(QStringLiteral("COM65")), u"/dev/ttyACM0");
    EXPECT_EQ(ComDevicePath(QStringLiteral("COM96")), u"/dev/ttyACM31");
    for (const char* none : {"COM0", "COM97", "COM", "COM1x", "LPT1", "", "COM-1"}) {
        EXPECT_TRUE(ComDevicePath(QString::fromLatin1(none)).isEmpty()) << none;
    }
}
#endif

TEST(ComNames, MissingAndUnconfigurablePortsFail) {
    test::ComPorts ports;
    test::RecordingDialogs boxes;
    ports.map(QStringLiteral("COM6"), ports.folder() + "/nothing-here");
    EXPECT_EQ(ComOpen(QStringLiteral("COM6"), 9600), -1);
    EXPECT_EQ(ComOpen(QStringLiteral("COM97"), 9600), -1);
    EXPECT_EQ(boxes.beeps, 0);

    // Opens, but is no serial port: one beep per attempt.
#ifdef _WIN32
    ports.map(QStringLiteral("COM7"), QStringLiteral("NUL"));
#else
    ports.map(QStringLiteral("COM7"), QStringLiteral("/dev/null"));
#endif
    EXPECT_EQ(ComOpen(QStringLiteral("COM7"), 9600), -1);
    EXPECT_EQ(boxes.beeps, 1);
}

}  // namespace
}  // namespace vt
