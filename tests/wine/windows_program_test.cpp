// The Windows programs of the cross build (dist/windows/), run under Wine on
// the test desktop and driven as a person drives them: what each brand shows
// at start, the second copy its mutex keeps out, the settings dialog's port
// list, the close that saves the INI file, and the OPL-98xx and OPN-2001
// cycles against the simulators, whose pseudo-terminals Wine knows as COM
// ports. Each test has a Wine prefix of its own.

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>

#include "links/journal.h"
#include "tests/support/e2e_desktop.h"
#include "tests/support/opl_records.h"
#include "tests/support/opl_sim.h"
#include "tests/support/opn_sim.h"
#include "tests/support/qt_print.h"
#include "tests/support/real_program.h"
#include "tests/support/temp_files.h"
#include "tests/support/wine.h"
#include "tests/support/wine_test.h"

namespace vt::test {
namespace {

const QString kSettings = QStringLiteral("Einstellungen");

class WineTest : public WinePrefixTest {
  protected:

    // Clicks the menu bar's "Einstellungen" and waits for the dialog.
    static std::optional<QJsonObject> OpenSettings(RealProgram& program) {
        const auto main = program.main_window();
        const auto bar = main ? Child(*main, QStringLiteral("MainMenu1")) : std::nullopt;
        const auto item = bar ? WithText(bar->value("actions").toArray(), kSettings) : std::nullopt;
        if (!item)
            return std::nullopt;
        Click(*item);
        return program.window(kSettings, 15000);
    }

    // The window manager's close key on the main window, as a person's.
    static void CloseMainWindow(RealProgram& program, const QString& caption) {
        if (const auto memo = program.widget(caption, QStringLiteral("Memo1")))
            Click(*memo);
        Keys(QStringLiteral("alt+F4"));
    }

    // Waits until the main window's widget `name` shows `text`.
    static bool WaitForText(RealProgram& program, const QString& name, const QString& text,
                            int timeout_ms) {
        return WaitFor([&] { return MainWindowText(program, name) == text; }, timeout_ms, 200);
    }

    static QStringList Files(const QString& folder) {
        return QDir(folder).entryList(QDir::Files, QDir::Name);
    }

};

struct Brand {
    const char* program;
    const char* caption;
    const char* logo;
};
void PrintTo(const Brand& b, std::ostream* os) { *os << b.program; }

class WindowsBrand : public WineTest, public ::testing::WithParamInterface<Brand> {};

TEST_P(WindowsBrand, StartsAloneWithItsCaptionAndLogoAndSavesOnClose) {
    const Brand& b = GetParam();
    RealProgram program(QString::fromLatin1(b.program));
    program.run_under_wine(&prefix_);
    program.write_ini("; von Hand\r\n[PORT]\r\nPort=COM9\r\n");
    ASSERT_TRUE(program.start()) << "the main window shows under Wine";
    const auto main = program.main_window();
    ASSERT_TRUE(main);
    const QString caption = QString::fromUtf8(b.caption);
    EXPECT_EQ(main->value("title").toString(), caption);
    const auto logo = Child(*main, QString::fromLatin1(b.logo));
    ASSERT_TRUE(logo) << "the brand's logo is shown";
    EXPECT_EQ(logo->value("pixmap").toObject(), (QJsonObject{{"w", 439}, {"h", 100}}))
        << "and decodes";
    EXPECT_TRUE(WaitForText(program, QStringLiteral("StatusPanel"),
                            " Schnittstelle COM9 konnte nicht geöffnet werden.", 15000))
        << "Wine has no COM9: " << MainWindowText(program, "StatusPanel").toStdString();

    // A second copy of the same brand ends at once, without a window.
    QProcess second;
    second.setProcessEnvironment(prefix_.environment(DesktopEnvironment()));
    second.setWorkingDirectory(program.dir());
    second.start(QString::fromLatin1(kWine), {WindowsExecutable(QString::fromLatin1(b.program))});
    ASSERT_TRUE(second.waitForStarted(5000));
    ASSERT_TRUE(WaitFor([&] { return second.state() == QProcess::NotRunning; }, 30000))
        << "the second copy ends";
    EXPECT_EQ(second.exitCode(), 0);
    const QByteArray shown =
        RunOnDesktop("xdotool", {"search", "--onlyvisible", "--name", "^" + caption + "$"})
            .value_or(QByteArray());
    EXPECT_EQ(shown.trimmed().split('\n').size(), 1) << "one main window: " << shown.constData();
    EXPECT_TRUE(program.running()) << "the first copy runs on";

    CloseMainWindow(program, caption);
    EXPECT_EQ(program.wait_exit(20000), 0) << "the close box ends the program";
    const QByteArray ini = program.ini();
    EXPECT_TRUE(ini.startsWith("; von Hand\r\n[PORT]\r\nPort=COM9\r\n")) << ini.constData();
    EXPECT_TRUE(ini.contains("Device=0\r\n")) << "the settings were saved: " << ini.constData();
}

INSTANTIATE_TEST_SUITE_P(
    All, WindowsBrand,
    ::testing::Values(Brand{"VantorTrans", "VantorTrans  Version 1.18", "ImageOrbelin"},
                      Brand{"MiraboTrans", "MiraboTrans  Version 1.18", "ImageMirabo"},
                      Brand{"DoerfalTrans", "DörfalTrans  Version 1.18", "ImageDoerfal"}));

// Windows asks a program to close (Task Manager's "End task", a logoff) by
// a WM_CLOSE to its windows; taskkill without /f sends just that. The
// program ends as by its close box, and saves its settings.
TEST_F(WineTest, AskedByWindowsToCloseItSavesAndEnds) {
    RealProgram program;
    program.run_under_wine(&prefix_);
    program.write_ini("[PORT]\r\nPort=COM9\r\nBaud=9600\r\n");
    ASSERT_TRUE(program.start());
    ASSERT_TRUE(WaitForText(program, QStringLiteral("StatusPanel"),
                            " Schnittstelle COM9 konnte nicht geöffnet werden.", 15000));
    ASSERT_TRUE(prefix_.run({QStringLiteral("taskkill"), QStringLiteral("/im"),
                             QStringLiteral("VantorTrans.exe")}))
        << "taskkill found the program";
    EXPECT_EQ(program.wait_exit(20000), 0);
    const QByteArray ini = program.ini();
    EXPECT_TRUE(ini.contains("Baud=9600\r\n")) << ini.constData();
    EXPECT_TRUE(ini.contains("Device=0\r\n")) << "saved: " << ini.constData();
}

// The ports Wine maps are the system's own COM ports: the program opens
// COM3 by its name (no [Ports] entry), and the settings dialog lists COM3
// and COM5 with a description at their places of the 100 entries.
TEST_F(WineTest, TheSettingsListTheComPortsWineKnows) {
    OplSim opl(QStringLiteral(VT_BIN_DIR "/opl98xx-sim"));
    OplSim other(QStringLiteral(VT_BIN_DIR "/opl98xx-sim"));
    ASSERT_TRUE(opl.start());
    ASSERT_TRUE(other.start());
    ASSERT_TRUE(prefix_.map_com(3, opl.pty_path()));
    ASSERT_TRUE(prefix_.map_com(5, other.pty_path()));
    RealProgram program;
    program.run_under_wine(&prefix_);
    program.write_ini("[PORT]\r\nPort=COM3\r\n");
    ASSERT_TRUE(program.start());
    ASSERT_TRUE(opl.wait_for_log("RX HMS0", 30000)) << "the OPL-98xx on COM3 is polled";

    const auto dialog = OpenSettings(program);
    ASSERT_TRUE(dialog) << "\"Einstellungen\" opens the settings dialog";
    const auto port = Child(*dialog, QStringLiteral("ComboBoxCom"));
    ASSERT_TRUE(port);
    const QStringList items = Texts(port->value("items").toArray());
    ASSERT_EQ(items.size(), 100);
    EXPECT_EQ(port->value("index").toInt(), 2);
    EXPECT_TRUE(items[2].startsWith("COM3  :  ")) << items[2];
    EXPECT_TRUE(items[4].startsWith("COM5  :  ")) << items[4];
    EXPECT_GT(items[2].size(), 9) << "with what the port is";
    EXPECT_EQ(items[9], "COM10");
    ASSERT_TRUE(program.widget(kSettings, QStringLiteral("ButtonBeenden")));
    Click(*program.widget(kSettings, QStringLiteral("ButtonBeenden")));
    ASSERT_TRUE(program.gone(kSettings, 10000));
    const int polls = opl.count("RX HMS0");
    EXPECT_TRUE(WaitFor([&] { return opl.count("RX HMS0") > polls; }, 15000))
        << "the port is opened again after the dialog";
}

class WindowsOplCycle : public WineTest {
  protected:
    void TearDown() override {
        if (HasFailure()) {
            // What the scanner heard last and what the program said.
            const QStringList log = sim_.log();
            QStringList shown;
            for (const QJsonValue& w : program_.windows()) {
                if (w.toObject().value("visible").toBool())
                    shown << w.toObject().value("title").toString() + ": " +
                                 w.toObject().value("text").toString();
            }
            std::fprintf(stderr,
                         "simulator, last lines:\n%s\nstatus: %s\nlog list:\n%s\nstatus list:\n%s\n"
                         "windows: %s\n",
                         qPrintable(log.mid(std::max<qsizetype>(0, log.size() - 25)).join('\n')),
                         qPrintable(MainWindowText(program_, "StatusPanel")),
                         qPrintable(MainWindowText(program_, "Memo1")),
                         qPrintable(MainWindowText(program_, "Memo2")),
                         qPrintable(shown.join(" | ")));
        }
        WinePrefixTest::TearDown();
    }
    void SetUp() override {
        WinePrefixTest::SetUp();
        if (HasFatalFailure())
            return;
        sim_.set_file(0, {ShopRecord("4711", "12"), ShopRecord("X;0815;Y", "3")});
        sim_.set_file(1, {ShopRecord("S-100", "1"), ShopRecord("S-200", "4")});
        sim_.set_file(2, {CsvRecord("4711", "12"), CsvRecord("0815", "3")});
        sim_.set_file(3, {UgsRecord("4711", "12"), UgsRecord("0815", "3")});
    }

    // The simulator behind COM3 (through a link that follows it when it
    // hangs up and comes back), the program with its exports in csv/ and
    // ugs/ of its start directory, named as Windows paths.
    void Start(const QStringList& sim_options) {
        const QString link = link_dir_.filePath("com3");
        ASSERT_TRUE(sim_.start(QStringList{"--drop-after-end", "--link", link,
                                           "--watch-dir", program_.file("Journal")} +
                               sim_options));
        ASSERT_TRUE(prefix_.map_com(3, link));
        QDir(program_.dir()).mkdir("csv");
        QDir(program_.dir()).mkdir("ugs");
        program_.write_ini(QString("[PORT]\r\nPort=COM3\r\n"
                                   "[Vantor]\r\nBrowser=0\r\nBrowserTitle=Chromium\r\n"
                                   "FormTitle=Testshop Bestellformular\r\n"
                                   "[Directory]\r\nCSV=%1\\\r\nUGS=%2\\\r\n")
                               .arg(WindowsPath(program_.file("csv")),
                                    WindowsPath(program_.file("ugs")))
                               .toUtf8());
        program_.run_under_wine(&prefix_);
        ASSERT_TRUE(program_.start());
    }
    bool WaitForExports(int timeout_ms) {
        return WaitFor(
            [&] {
                return !Files(program_.file("csv")).isEmpty() &&
                       !Files(program_.file("ugs")).isEmpty();
            },
            timeout_ms, 100);
    }
    QByteArray Export(const QString& folder) {
        return read_file(program_.file(folder + "/" + Files(program_.file(folder)).value(0)));
    }

    QTemporaryDir link_dir_;
    OplSim sim_{QStringLiteral(VT_BIN_DIR "/opl98xx-sim")};
    RealProgram program_;
};

TEST_F(WindowsOplCycle, ExportsTheSameBytesAsLinuxAndKeepsTheShopFilesWithoutTheirForms) {
    Start({});
    ASSERT_TRUE(WaitForExports(60000));
    EXPECT_EQ(Export("csv"), kCsvExport);
    EXPECT_EQ(Export("ugs"), UgsExport());
    const QStringList csv = Files(program_.file("csv"));
    ASSERT_EQ(csv.size(), 1);
    EXPECT_TRUE(QRegularExpression("^CSV_\\d{8}_\\d{6}\\.TXT$").match(csv[0]).hasMatch()) << csv[0];
    ASSERT_TRUE(WaitFor([&] { return sim_.count("DROP 2") + sim_.count("DROP 3") == 2; }, 15000))
        << "the scanner let the exported files go";
    ASSERT_TRUE(WaitFor([&] {
        return MainWindowText(program_, "Memo2").contains(" Bestellformular nicht aktiv");
    }, 15000)) << "the status list says why the shop files wait";
    const int polls = sim_.count("RX HMS0");
    ASSERT_TRUE(WaitFor([&] { return sim_.count("RX HMS0") >= polls + 2; }, 15000));
    EXPECT_EQ(sim_.count("DROP 0") + sim_.count("DROP 1"), 0) << "the shop files stay";
    EXPECT_EQ(sim_.count("RX HMS1") + sim_.count("RX HMS2"), 0) << "and are not even read";
    EXPECT_EQ(Files(program_.file("csv")).size(), 1) << "nothing twice";
    EXPECT_EQ(Files(program_.file("Temp")), (QStringList{"CSV.TXT", "UGS.TXT"}));
    EXPECT_EQ(read_file(program_.file("Temp/CSV.TXT")),
              CsvRecord("4711", "12") + "\r\n" + CsvRecord("0815", "3") + "\r\n");

    const QList<JournalEntry> entries = ReadJournal(program_.file("Journal"));
    ASSERT_EQ(entries.size(), 2);
    QMap<int32_t, JournalEntry> by_target;
    for (const JournalEntry& e : entries) {
        EXPECT_EQ(e.state, JournalEntry::State::Complete) << e.path;
        EXPECT_EQ(e.outcome, JournalOutcome::Exported) << e.path;
        by_target[e.target] = e;
    }
    EXPECT_EQ(by_target[2].lines, (QList<QByteArray>{CsvRecord("4711", "12"),
                                                     CsvRecord("0815", "3")}));
    EXPECT_EQ(by_target[3].lines, (QList<QByteArray>{UgsRecord("4711", "12"),
                                                     UgsRecord("0815", "3")}));
    EXPECT_EQ(by_target[2].outcome_text,
              WindowsPath(program_.file("csv")) + "\\" + Files(program_.file("csv")).value(0));
    // Each entry was whole on the disk when the scanner let its file go.
    for (const JournalEntry& e : entries) {
        const QString name = QFileInfo(e.path).fileName();
        const QStringList seen = sim_.log_lines("AT-END-ACK " + name + " ");
        ASSERT_FALSE(seen.isEmpty()) << name.toStdString();
        const JournalEntry at_ack =
            ParseJournalEntry(read_file(e.path).left(seen.first().section(' ', 2, 2).toLongLong()));
        EXPECT_EQ(at_ack.state, JournalEntry::State::Complete) << name.toStdString();
    }
}

// A broken frame and a scanner that hangs up in the middle of the CSV file
// and comes back as a new terminal: the broken download is not exported,
// the port is found again, and each file arrives exactly once.
TEST_F(WindowsOplCycle, ABrokenFrameAndAHangUpAreRecoveredAsOnLinux) {
    Start({"--fault", "broken-frame:HMS0:2", "--fault", "hangup:HMS3:1", "--reconnect-ms",
           "1500"});
    ASSERT_TRUE(WaitForExports(90000));
    EXPECT_GE(sim_.count("FAULT broken-frame"), 1);
    EXPECT_GE(sim_.count("FAULT hangup"), 1);
    EXPECT_EQ(Export("csv"), kCsvExport);
    EXPECT_EQ(Export("ugs"), UgsExport());
    const int polls = sim_.count("RX HMS0");
    ASSERT_TRUE(WaitFor([&] { return sim_.count("RX HMS0") >= polls + 2; }, 20000))
        << "polling goes on after the hang-up";
    EXPECT_EQ(Files(program_.file("csv")).size(), 1) << "the cut download was not exported";
    EXPECT_EQ(Files(program_.file("ugs")).size(), 1);
}

// MiraboTrans with an OPN-2001 on COM4 (9600 baud, odd parity) and the
// barcode CSV target: the barcodes land in the file with their scan times,
// and the scanner is cleared only after the file is complete.
TEST_F(WineTest, MiraboWritesTheBarcodeCsvAndThenClearsTheOpn2001) {
    OpnSim sim(QStringLiteral(VT_BIN_DIR "/opn2001-sim"));
    sim.set_barcodes(
        {{"40123455", 10, "2024-01-31 14:05:09"}, {"4006381333931", 1, "2024-01-31 23:59:58"}});
    ASSERT_TRUE(sim.start());
    ASSERT_TRUE(prefix_.map_com(4, sim.pty_path()));
    RealProgram program(QStringLiteral("MiraboTrans"));
    program.run_under_wine(&prefix_);
    QDir(program.dir()).mkdir("export");
    program.write_ini(QString("[PORT]\r\nPort=COM4\r\nDevice=1\r\n"
                              "[Browser]\r\nActiveBrowser=2\r\n[Directory]\r\nCSVOPN2001=%1\\\r\n")
                          .arg(WindowsPath(program.file("export")))
                          .toUtf8());
    ASSERT_TRUE(program.start());
    ASSERT_TRUE(sim.wait_for_log("CLEAR 2 barcodes", 60000)) << "the scanner is cleared";
    const QStringList files = Files(program.file("export"));
    ASSERT_EQ(files.size(), 1);
    EXPECT_TRUE(files[0].startsWith("EXPORT_") && files[0].endsWith(".CSV")) << files[0];
    EXPECT_EQ(read_file(program.file("export/" + files[0])),
              "40123455;31.01.2024;14:05:09\r\n4006381333931;31.01.2024;23:59:58\r\n");
    // The file was complete before the clear went out.
    const QList<JournalEntry> entries = ReadJournal(program.file("Journal"));
    ASSERT_EQ(entries.size(), 1);
    EXPECT_EQ(entries[0].state, JournalEntry::State::Complete);
    EXPECT_EQ(entries[0].outcome, JournalOutcome::Exported);
    PumpEvents(2500);
    EXPECT_EQ(Files(program.file("export")).size(), 1) << "nothing more from the empty scanner";
    EXPECT_TRUE(program.running());
}

}  // namespace
}  // namespace vt::test
