// The real MiraboTrans executable with an OPN-2001 scanner and the CSV
// target: the barcodes land in the barcode CSV with their scan times, no box
// asks, and the scanner is cleared only after the complete file.

#include <gtest/gtest.h>
#include <signal.h>

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include "tests/support/e2e_desktop.h"
#include "tests/support/opn_sim.h"
#include "tests/support/qt_print.h"
#include "tests/support/temp_files.h"

namespace vt::test {
namespace {

static const bool kDesktop = EnsureTestDesktop();

TEST(OpnExecutable, MiraboWritesTheBarcodeCsvAndClearsTheScanner) {
    ASSERT_TRUE(kDesktop);
    QTemporaryDir dir, runtime;
    QDir(dir.path()).mkdir("export");
    OpnSim sim(QStringLiteral(VT_BIN_DIR "/opn2001-sim"));
    sim.set_barcodes(
        {{"40123455", 10, "2024-01-31 14:05:09"}, {"4006381333931", 1, "2024-01-31 23:59:58"}});
    ASSERT_TRUE(sim.start());
    write_file(dir.filePath("MiraboTrans.ini"),
               QString("[PORT]\r\nPort=COM4\r\nDevice=1\r\n[Ports]\r\nCOM4=%1\r\n"
                       "[Browser]\r\nActiveBrowser=2\r\n[Directory]\r\nCSVOPN2001=%2/\r\n")
                   .arg(sim.pty_path(), dir.filePath("export"))
                   .toUtf8());
    QProcess program;
    QProcessEnvironment env = DesktopEnvironment();
    env.insert("XDG_RUNTIME_DIR", runtime.path());
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(dir.path());
    program.start(QStringLiteral(VT_BIN_DIR "/MiraboTrans"), {});
    ASSERT_TRUE(program.waitForStarted(5000));

    QElapsedTimer t;
    t.start();
    QStringList files;
    while (files.isEmpty() && t.elapsed() < 30000) {
        PumpEvents(100);
        files = QDir(dir.filePath("export")).entryList(QDir::Files);
    }
    ASSERT_EQ(files.size(), 1);
    EXPECT_TRUE(files[0].startsWith("EXPORT_") && files[0].endsWith(".CSV")) << files[0];
    EXPECT_EQ(read_file(dir.filePath("export/" + files[0])),
              "40123455;31.01.2024;14:05:09\r\n4006381333931;31.01.2024;23:59:58\r\n");
    EXPECT_TRUE(sim.wait_for_log("CLEAR 2 barcodes", 5000));
    // Nothing more arrives from the empty scanner, and the program runs on.
    PumpEvents(2500);
    EXPECT_EQ(QDir(dir.filePath("export")).entryList(QDir::Files).size(), 1);
    EXPECT_EQ(program.state(), QProcess::Running);
    ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(program.exitCode(), 0);
}

}  // namespace
}  // namespace vt::test
