// The port-open timer against a missing port and a pseudo-terminal.

#include "links/port_control.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <memory>

#include "settings/main_timers.h"
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
    test::PtyPair pty;
#ifdef _WIN32
    // A port Windows does not know yet, as a cradle not plugged in.
    ASSERT_TRUE(pty.unplug());
    ports.map(QStringLiteral("COM5"), pty.slave_path());
    const auto plug_in = [&pty] { return pty.plug(); };
#else
    const QString link = ports.folder() + "/cradle";
    ports.map(QStringLiteral("COM5"), link);
    const auto plug_in = [&pty, &link] { return QFile::link(pty.slave_path(), link); };
#endif
    QObject::connect(&opl_open, &QTimer::timeout, [] { TimerOPLComopenTimer(); });
    OpenComport();
    QElapsedTimer clock;
    clock.start();
    bool plugged = false;
    while (!opl.isActive() && clock.elapsed() < 8000) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        if (!plugged && display.bar.contains(u"konnte nicht")) {
            ASSERT_TRUE(plug_in());
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

#ifndef _WIN32
// Wine lets a second program open a port that another holds, so "belegt" is
// the Win32 seam's test there, and Windows has no device groups.

// Another program that has the port: the status bar says the port is taken,
// the retry goes on, and the port opens once the other program lets it go.
TEST_F(PortControlTest, APortHeldByAnotherProgramIsReportedAsTakenAndRetried) {
    test::PtyPair pty;
    ports.map(QStringLiteral("COM5"), pty.slave_path());
    QProcess holder;
    holder.start(QStringLiteral(VT_BIN_DIR "/port_probe"),
                 {QStringLiteral("hold"), QStringLiteral("COM5"), pty.slave_path()});
    ASSERT_TRUE(holder.waitForReadyRead(5000));
    ASSERT_EQ(holder.readLine().trimmed(), "held");

    opl.start();
    OpenComport();
    TimerOPLComopenTimer();
    EXPECT_EQ(ComHandle, -1);
    EXPECT_EQ(display.bar, u" Schnittstelle COM5 ist belegt.");
    EXPECT_TRUE(PortClosed);
    EXPECT_FALSE(opl.isActive());
    EXPECT_TRUE(opl_open.isActive());
    EXPECT_EQ(opl_open.interval(), 2500);

    holder.closeWriteChannel();
    ASSERT_TRUE(holder.waitForFinished(5000));
    TimerOPLComopenTimer();
    EXPECT_GT(ComHandle, 0);
    EXPECT_EQ(display.bar, u" Schnittstelle geöffnet");

    // A port that is simply missing keeps the catalogue's text.
    CloseComport();
    ports.map(QStringLiteral("COM5"), ports.folder() + "/no-cradle");
    TimerOPLComopenTimer();
    EXPECT_EQ(display.bar, u" Schnittstelle COM5 konnte nicht geöffnet werden.");
}

// What a user outside the device's group sees, tried as `nobody` against a
// pseudo-terminal that only root may open; joining the group is the cure.
TEST(PortPermission, ADeviceTheUserMayNotOpenNamesItsDeviceAndGroup) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to hand a device to another user";
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    if (setpriv.isEmpty()) GTEST_SKIP() << "setpriv is missing";
    test::PtyPair pty;
    const QByteArray node = QFile::encodeName(pty.slave_path());
    const group* dialout = ::getgrnam("dialout");
    const gid_t gid = dialout ? dialout->gr_gid : 0;
    const QString group_name = dialout ? QStringLiteral("dialout") : QStringLiteral("root");
    ASSERT_EQ(::chown(node.constData(), 0, gid), 0);
    ASSERT_EQ(::chmod(node.constData(), 0600), 0);

    auto probe_as_nobody = [&](const QStringList& groups) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TMPDIR"), QStringLiteral("/tmp"));
        p.setProcessEnvironment(env);
        QStringList args{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534")};
        args += groups;
        args += {QStringLiteral(VT_BIN_DIR "/port_probe"), QStringLiteral("open"),
                 QStringLiteral("COM5"), pty.slave_path()};
        p.start(setpriv, args);
        p.waitForFinished(10000);
        EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().constData();
        return QString::fromUtf8(p.readAllStandardOutput()).chopped(1);
    };

    EXPECT_EQ(probe_as_nobody({QStringLiteral("--clear-groups")}),
              " Keine Berechtigung für " + pty.slave_path() + " (Gruppe " + group_name + ").");

    ASSERT_EQ(::chmod(node.constData(), 0660), 0);
    EXPECT_EQ(probe_as_nobody({QStringLiteral("--groups=%1").arg(gid)}), u" Schnittstelle geöffnet")
        << "a member of the device's group opens it";
}
#endif

}  // namespace
}  // namespace vt
