// The main window opens its configured port through the port-open timer:
// the failure text while the device is missing, a retry every 2.5 s, and the
// poll timer once the simulated scanner appears.

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "app/trans_main.h"
#include "links/serial_link.h"
#include "settings/settings.h"
#include "tests/support/e2e_desktop.h"
#include "tests/support/opl_sim.h"
#include "tests/support/program_dir.h"
#include "tests/support/recording_ui.h"
#include "tests/support/temp_files.h"

static const bool kDisplay = vt::test::EnsureTestDesktop();

namespace {

// COM5 names a link in the start directory that the test points at a
// simulator when it wants the device to be there.
QString MapCom5ToLink(const vt::test::ProgramDir& dir) {
    const QString link = dir.filePath("scanner");
    vt::test::write_file(dir.filePath("VantorTrans.ini"),
                         ("[PORT]\r\nPort=COM5\r\n[Ports]\r\nCOM5=" + link + "\r\n").toUtf8());
    return link;
}

TEST(PortOpen, FailsUntilTheDeviceAppearsThenPolls) {
    ASSERT_TRUE(kDisplay);
    vt::test::ProgramDir dir;
    vt::test::RecordingDialogs dialogs;
    const QString link = MapCom5ToLink(dir);
    vt::BrandId = 0;
    auto form = std::make_unique<vt::TForm1>();
    form->show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->activated(); }, 5000));

    const QString failed = " Schnittstelle COM5 konnte nicht geöffnet werden.";
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->StatusPanel->text() == failed; }, 3000));
    EXPECT_EQ(form->TimerOPLComopen.interval(), 2500);
    EXPECT_TRUE(form->TimerOPLComopen.isActive()) << "it keeps retrying";
    EXPECT_FALSE(form->TimerOPL.isActive());
    EXPECT_TRUE(vt::PortClosed);

    vt::test::OplSim sim(QStringLiteral(VT_BIN_DIR "/opl98xx-sim"));
    ASSERT_TRUE(sim.start());
    ASSERT_TRUE(QFile::link(sim.pty_path(), link));
    QElapsedTimer t;
    t.start();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return form->StatusPanel->text() == " Schnittstelle geöffnet"; }, 4000));
    EXPECT_LE(t.elapsed(), 3000) << "the next attempt comes within 2.5 s";
    EXPECT_FALSE(vt::PortClosed);
    EXPECT_TRUE(form->TimerOPL.isActive());
    EXPECT_FALSE(form->TimerOPLComopen.isActive());
    EXPECT_NE(vt::ComHandle, 0);

    EXPECT_TRUE(form->close());
    EXPECT_EQ(vt::ComHandle, 0) << "the port is closed at exit";
    form.reset();
}

// A cradle that is unplugged and plugged in again: the dead handle is given
// up, the open timer reports the missing port, and polling goes on with the
// device that appears under the same name.
TEST(PortOpen, VanishedDeviceIsOpenedAgainWhenItReturns) {
    ASSERT_TRUE(kDisplay);
    vt::test::ProgramDir dir;
    vt::test::RecordingDialogs dialogs;
    const QString link = MapCom5ToLink(dir);
    auto first = std::make_unique<vt::test::OplSim>(QStringLiteral(VT_BIN_DIR "/opl98xx-sim"));
    ASSERT_TRUE(first->start({"--fault", "hangup:HMS0"}));
    ASSERT_TRUE(QFile::link(first->pty_path(), link));
    vt::BrandId = 0;
    auto form = std::make_unique<vt::TForm1>();
    form->show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->activated(); }, 5000));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return form->StatusPanel->text() == " Schnittstelle geöffnet"; }, 4000));

    // The first poll makes the device hang up; the next cycle notices.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !first->running(); }, 5000));
    const QString failed = " Schnittstelle COM5 konnte nicht geöffnet werden.";
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->StatusPanel->text() == failed; }, 6000));
    EXPECT_TRUE(vt::PortClosed);
    EXPECT_TRUE(form->TimerOPLComopen.isActive());

    vt::test::OplSim second(QStringLiteral(VT_BIN_DIR "/opl98xx-sim"));
    ASSERT_TRUE(second.start());
    QFile::remove(link);
    ASSERT_TRUE(QFile::link(second.pty_path(), link));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return form->StatusPanel->text() == " Schnittstelle geöffnet"; }, 4000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !second.log_lines("RX HMS0").isEmpty(); }, 4000))
        << "polling goes on with the new device";
    EXPECT_FALSE(vt::PortClosed);

    EXPECT_TRUE(form->close());
    form.reset();
}

}  // namespace
