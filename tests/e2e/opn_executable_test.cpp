// The real MiraboTrans executable with an OPN-2001 scanner and the CSV
// target: the barcodes land in the barcode CSV with their scan times, no box
// asks, and the scanner is cleared only after the complete file.

#include <gtest/gtest.h>
#include <signal.h>

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QProcess>
#include <QTemporaryDir>

#include "tests/support/e2e_desktop.h"
#include "tests/support/opn_sim.h"
#include "links/journal.h"
#include "tests/support/qt_print.h"
#include "tests/support/real_program.h"
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

// The scanner read again before its clear, in the real program: a barcode
// scanned while the first ones were written is exported once and then the
// scanner is cleared; a scanner whose first barcode changed meanwhile is not
// cleared, and the log list says why. Each read is in the journal.
struct Interleaved {
    const char* option;
    bool cleared;
};
void PrintTo(const Interleaved& i, std::ostream* os) {
    *os << i.option;
}
class OpnScannedMeanwhile : public ::testing::TestWithParam<Interleaved> {};

TEST_P(OpnScannedMeanwhile, IsDeliveredOnceOrKeepsTheScanner) {
    ASSERT_TRUE(kDesktop);
    OpnSim sim(QStringLiteral(VT_BIN_DIR "/opn2001-sim"));
    sim.set_barcodes(
        {{"40123455", 10, "2024-01-31 14:05:09"}, {"4006381333931", 1, "2024-01-31 23:59:58"}});
    ASSERT_TRUE(sim.start({GetParam().option, "5012345678900"}));
    RealProgram program(QStringLiteral("MiraboTrans"));
    QDir(program.dir()).mkdir("export");
    program.write_ini(QString("[PORT]\r\nPort=COM4\r\nDevice=1\r\n[Ports]\r\nCOM4=%1\r\n"
                              "[Browser]\r\nActiveBrowser=2\r\n[Directory]\r\nCSVOPN2001=%2/\r\n")
                          .arg(sim.pty_path(), program.file("export"))
                          .toUtf8());
    ASSERT_TRUE(program.start());
    auto exported = [&] {
        QByteArray all;
        for (const QString& f : QDir(program.file("export")).entryList(QDir::Files, QDir::Name))
            all += read_file(program.file("export/" + f));
        return all;
    };
    if (GetParam().cleared) {
        ASSERT_TRUE(sim.wait_for_log("CLEAR 3 barcodes", 30000));
        // The one scanned meanwhile carries the time it was scanned.
        const QByteArray all = exported();
        EXPECT_TRUE(all.startsWith(
            "40123455;31.01.2024;14:05:09\r\n4006381333931;31.01.2024;23:59:58\r\n"
            "5012345678900;"))
            << all.constData();
        EXPECT_EQ(all.count("\r\n"), 3) << all.constData();
    } else {
        const auto memo = program.wait_for(
            [](const QJsonArray& all) -> std::optional<QJsonObject> {
                for (const QJsonValue& v : all) {
                    const auto m = Child(v.toObject(), QStringLiteral("Memo1"));
                    if (m && m->value("text").toString().contains("MDE nicht gelöscht"))
                        return m;
                }
                return std::nullopt;
            },
            30000);
        ASSERT_TRUE(memo) << "the log list says why the scanner keeps its barcodes";
        EXPECT_TRUE(memo->value("text").toString().contains(
            "MDE nicht gelöscht: der Inhalt hat sich während der Übertragung geändert."));
        EXPECT_TRUE(sim.log_lines("CLEAR").isEmpty());
        EXPECT_TRUE(exported().startsWith(
            "40123455;31.01.2024;14:05:09\r\n4006381333931;31.01.2024;23:59:58\r\n"));
    }
    // Every read is in a complete journal entry, oldest last, with what
    // became of it: the first read's two barcodes, then the one scanned
    // meanwhile.
    const QList<JournalEntry> entries = ReadJournal(program.file("Journal"));
    ASSERT_FALSE(entries.isEmpty());
    for (const JournalEntry& e : entries) {
        EXPECT_EQ(e.state, JournalEntry::State::Complete) << e.path;
        EXPECT_EQ(e.target, int32_t(JournalTarget::BarcodeCsv));
        EXPECT_EQ(e.outcome, JournalOutcome::Exported) << e.path;
    }
    EXPECT_EQ(entries.last().lines.size(), 2);
    if (GetParam().cleared) {
        ASSERT_EQ(entries.size(), 2);
        EXPECT_EQ(entries.first().lines.size(), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(, OpnScannedMeanwhile,
                         ::testing::Values(Interleaved{"--scan-after-upload", true},
                                           Interleaved{"--change-after-upload", false}),
                         [](const auto& info) {
                             return std::string(info.param.cleared ? "ScannedAfterTheRead"
                                                                   : "ChangedAfterTheRead");
                         });

}  // namespace
}  // namespace vt::test
