// The port-open timer against a missing port and a pseudo-terminal.

#include "links/port_control.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <memory>

#include "app/main_timers.h"
#include "links/serial_link.h"
#include "tests/support/com_ports.h"
#include "tests/support/pty_pair.h"
#include "tests/support/recording_ui.h"

namespace vt {
namespace {

class PortControlTest : public ::testing::Test {
protected:
    void SetUp() override {
        // As the main window's designer leaves them: no interval given.
        for (QTimer* t : {&opl, &opl_open, &opn, &opn_open}) t->setInterval(1000);
        Timers = {&opl, &opl_open, &opn, &opn_open};
        progpar.device = 0;
        progpar.baud = 115200;
        progpar.port = QStringLiteral("COM5");
    }
    void TearDown() override { Timers = {}; }

    test::ComPorts ports;
    test::RecordingDisplay display;
    QTimer opl, opl_open, opn, opn_open;
};

TEST_F(PortControlTest, FailureRetriesEveryTwoAndAHalfSecondsForTheRestOfTheRun) {
    ports.map(QStringLiteral("COM5"), ports.folder() + "/no-cradle");
    opl.start();
    OpenComport();
    EXPECT_TRUE(PortClosed);
    EXPECT_TRUE(opl_open.isActive());
    EXPECT_EQ(opl_open.interval(), 1000);

    TimerOPLComopenTimer();
    EXPECT_EQ(ComHandle, -1);
    EXPECT_EQ(display.bar, u" Schnittstelle COM5 konnte nicht geöffnet werden.");
    EXPECT_TRUE(PortClosed);
    EXPECT_FALSE(opl.isActive());
    EXPECT_TRUE(opl_open.isActive());
    EXPECT_EQ(opl_open.interval(), 2500);

    test::PtyPair pty;
    ports.map(QStringLiteral("COM5"), pty.slave_path());
    TimerOPLComopenTimer();
    EXPECT_GT(ComHandle, 0);
    EXPECT_EQ(display.bar, u" Schnittstelle geöffnet");
    EXPECT_FALSE(PortClosed);
    EXPECT_TRUE(opl.isActive());
    EXPECT_EQ(opl.interval(), 1000);
    EXPECT_FALSE(opl_open.isActive());

    // Closing for the settings dialog leaves the poll timer running; the next
    // open still waits the longer interval.
    CloseComport();
    EXPECT_EQ(ComHandle, 0);
    EXPECT_FALSE(opl_open.isActive());
    EXPECT_TRUE(opl.isActive());
    EXPECT_FALSE(PortClosed);
    OpenComport();
    EXPECT_TRUE(PortClosed);
    EXPECT_TRUE(opl_open.isActive());
    EXPECT_EQ(opl_open.interval(), 2500);
    EXPECT_FALSE(opn_open.isActive());
}

TEST_F(PortControlTest, TheOtherScannerFamilyStartsOnlyItsOwnTimer) {
    progpar.device = 1;
    OpenComport();
    EXPECT_TRUE(opn_open.isActive());
    EXPECT_FALSE(opl_open.isActive());
    opl.start();
    CloseComport();
    EXPECT_FALSE(opn_open.isActive());
    EXPECT_TRUE(opl.isActive());
}

TEST_F(PortControlTest, AnOpenPortIsNotLostToASecondAttempt) {
    test::PtyPair pty;
    ports.map(QStringLiteral("COM5"), pty.slave_path());
    TimerOPLComopenTimer();
    const intptr_t first = ComHandle;
    ASSERT_GT(first, 0);
    TimerOPLComopenTimer();
    EXPECT_GT(ComHandle, 0);
    EXPECT_EQ(display.bar, u" Schnittstelle geöffnet");
}

TEST_F(PortControlTest, TheTimerFindsAPortThatAppearsLater) {
    const QString link = ports.folder() + "/cradle";
    ports.map(QStringLiteral("COM5"), link);
    QObject::connect(&opl_open, &QTimer::timeout, [] { TimerOPLComopenTimer(); });
    test::PtyPair pty;
    OpenComport();
    QElapsedTimer clock;
    clock.start();
    bool plugged = false;
    while (!opl.isActive() && clock.elapsed() < 8000) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        if (!plugged && display.bar.contains(u"konnte nicht")) {
            ASSERT_TRUE(QFile::link(pty.slave_path(), link));
            plugged = true;
        }
    }
    EXPECT_TRUE(plugged);
    EXPECT_TRUE(opl.isActive());
    // First attempt after 1 s, the retry 2.5 s after it (coarse timers may
    // fire a few per cent early; a 1 s retry would succeed after 2 s).
    EXPECT_GE(clock.elapsed(), 3200);
    EXPECT_EQ(display.bar, u" Schnittstelle geöffnet");
}

}  // namespace
}  // namespace vt
