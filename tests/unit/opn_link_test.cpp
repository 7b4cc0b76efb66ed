// The OPN-2001 link's cycle against the simulator, with a recording shop in
// place of the desktop: what the status list, the tray and the log show, what
// reaches the shop or the barcode CSV, and when the scanner is cleared.

#include "links/opn_link.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTimer>
#include <cstring>

#include "settings/main_timers.h"
#include "csp2/csp2.h"
#include "tests/support/com_ports.h"
#include "tests/support/opn_sim.h"
#include "tests/support/recording_ui.h"
#include "tests/support/temp_files.h"

namespace vt {
namespace {

class RecordingShop final : public DeliveryChannel {
  public:
    bool find_window(int shop) override {
        calls << QStringLiteral("find %1").arg(shop);
        browserrecord.handle = window ? handle : 0;
        return window;
    }
    bool bring_to_front() override {
        calls << "front";
        return window;
    }
    bool deliver_line(int shop, const QString& line) override {
        calls << QStringLiteral("line %1 ").arg(shop) + line;
        if (fail_at == lines.size())
            return false;
        lines << line;
        return true;
    }
    bool paste_batch() override {
        calls << "paste";
        return true;
    }
    bool await_last_paste() override { return true; }
    void begin_batch() override { calls << "batch"; }
    void confirm_first_line() override { calls << "first"; }

    bool window = true;
    uint64_t handle = 0;  // the found window's (0: none the memory keeps)
    qsizetype fail_at = -1;
    QStringList calls;
    QStringList lines;
};

class OpnLinkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_brand_ = BrandId;
        saved_mode_ = browserrecord.mode;
        BrandId = 0;
        browserrecord.mode = 0;
        progpar.port = QStringLiteral("COM5");
        progpar.device = 1;
        progpar.keysendmode = 0;
        progpar.debug = false;
        progpar.donotdelete = false;
        progpar.alwaysforeground = false;
        Timers = MainTimers{nullptr, nullptr, &poll_timer, &open_timer};
        opn = opnstruct{};
    }
    void TearDown() override {
        csp2InitEx(-1);  // releases the library's port
        Timers = MainTimers{};
        BrandId = saved_brand_;
        browserrecord.mode = saved_mode_;
        browserrecord.handle = 0;
    }

    void Start(const QList<test::SimBarcode>& barcodes, const QStringList& options = {}) {
        sim.set_barcodes(barcodes);
        ASSERT_TRUE(sim.start(options));
        ports.map(QStringLiteral("COM5"), sim.pty_path());
        TimerOPNComopenTimer();
        ASSERT_FALSE(PortClosed);
    }
    void Cycle() {
        display.log.clear();
        dialogs.boxes.clear();
        shop.calls.clear();
        shop.lines.clear();
        OpnCycle(shop);
    }
    QStringList Status(const MessageDef& browser, const MessageDef& mde) {
        return {Text(browser), Text(mde)};
    }
    qsizetype Clears() const { return sim.log_lines("CLEAR").size(); }

    test::ComPorts ports;
    test::RecordingDisplay display;
    test::RecordingDialogs dialogs;
    test::OpnSim sim{QStringLiteral(VT_BIN_DIR "/opn2001-sim")};
    RecordingShop shop;
    QTimer poll_timer;
    QTimer open_timer;

  private:
    int saved_brand_ = 0;
    int32_t saved_mode_ = 0;
};

TEST(OpnLinkRules, PortNumbersComeFromTheFourthAndFifthCharacters) {
    EXPECT_EQ(OpnPortNumber("COM1"), 1);
    EXPECT_EQ(OpnPortNumber("COM12"), 12);
    EXPECT_EQ(OpnPortNumber("COM123"), 12);
    EXPECT_EQ(OpnPortNumber("COM"), 0);
}

TEST(OpnLinkRules, CodesWithThreeItemsBecomeArticleAndQuantity) {
    struct Case {
        const char* code;
        const char* result;
    };
    const Case cases[] = {{"K1;4711;5", "4711\t5"},
                          {"4711;5", "4711;5"},
                          {"A;B;C;D", "A;B;C;D"},
                          {"A;B C;D", "A;B C;D"},  // a blank separates too: four items
                          {"4006381333931", "4006381333931"}};
    for (const Case& c : cases) {
        QString code = QString::fromLatin1(c.code);
        OpnSplitCode(code);
        EXPECT_EQ(code, QString::fromLatin1(c.result)) << c.code;
    }
}

TEST(OpnLinkRules, StampTextsBecomeDateAndTime) {
    struct Case {
        const char* text;
        const char* date;
        const char* time;
    };
    const Case cases[] = {
        {"12:30:00 AM 03/01/24", "01.03.2024", "00:30:00"},  // after midnight
        {"12:00:00 PM 03/01/24", "01.03.2024", "12:00:00"},  // noon
        {"01:05:07 PM 12/24/24", "24.12.2024", "13:05:07"},
        {"01:05:07 XM 12/24/24", "24.12.2024", "01:05:07"},
        {"12:15:00 XM 07/09/07", "09.07.2007", "12:15:00"},
        {" 1: 5: 7 PM  7/ 9/ 7", "09.07.2007", "13:05:07"},  // blanks count as zeros
    };
    for (const Case& c : cases) {
        char text[100] = {};
        std::strcpy(text, c.text);
        QString date;
        QString time;
        OpnStampTextToDateTime(text, date, time);
        EXPECT_EQ(date, QString::fromLatin1(c.date)) << c.text;
        EXPECT_EQ(time, QString::fromLatin1(c.time)) << c.text;
    }
    // A stamp the library cannot read.
    const uint8_t bad[5] = {0, 0, 0, 0, 0};
    QString date;
    QString time;
    OpnDecodeStamp(bad, date, time);
    EXPECT_EQ(date, "01.01.2000");
    EXPECT_EQ(time, "00:00:00");
}

TEST_F(OpnLinkTest, OpeningShowsThePortStateAndFetchesTheVersion) {
    Start({});
    EXPECT_EQ(display.bar, " Schnittstelle geöffnet");
    EXPECT_TRUE(poll_timer.isActive());
    EXPECT_FALSE(open_timer.isActive());
    EXPECT_EQ(opn.dllversion, "V1.00");  // "V 1,00" cleaned up

    progpar.port = QStringLiteral("COM9");
    ports.map(QStringLiteral("COM9"), QStringLiteral("/nonexistent/tty"));
    TimerOPNComopenTimer();
    EXPECT_EQ(display.bar, " Schnittstelle COM9 konnte nicht geöffnet werden.");
    EXPECT_TRUE(PortClosed);
    EXPECT_FALSE(poll_timer.isActive());
    EXPECT_TRUE(open_timer.isActive());
    EXPECT_EQ(open_timer.interval(), 2500);

    Cycle();
    EXPECT_EQ(display.status, Status(msg::BrowserOk, msg::MdeNotReady));
    EXPECT_FALSE(display.tray_ready);
    EXPECT_EQ(display.tray_tip, "VantorTrans : MDE nicht bereit.");
    EXPECT_TRUE(dialogs.boxes.empty());
}

// An unplugged scanner: the cycle hands over to the open timer instead of
// polling a dead port, and the scanner that comes back is reached again.
TEST_F(OpnLinkTest, AVanishedScannerIsOpenedAgainByTheOpenTimer) {
    Start({{"40123455", 10, "2024-01-31 14:05:09"}});
    sim.stop();
    Cycle();
    EXPECT_EQ(display.status, Status(msg::BrowserOk, msg::MdeNotReady));
    EXPECT_TRUE(PortClosed);
    EXPECT_TRUE(open_timer.isActive());
    EXPECT_FALSE(poll_timer.isActive()) << "no polls on the dead port";

    test::OpnSim again{QStringLiteral(VT_BIN_DIR "/opn2001-sim")};
    again.set_barcodes({{"40123455", 10, "2024-01-31 14:05:09"}});
    ASSERT_TRUE(again.start());
    ports.map(QStringLiteral("COM5"), again.pty_path());
    TimerOPNComopenTimer();
    EXPECT_EQ(display.bar, " Schnittstelle geöffnet");
    EXPECT_FALSE(PortClosed);
    Cycle();
    EXPECT_EQ(display.status, Status(msg::BrowserOk, msg::MdeReady));
    EXPECT_TRUE(poll_timer.isActive());
}

TEST_F(OpnLinkTest, BrandShopGetsEveryScanOnceAndTheScannerIsCleared) {
    Start({{"40123455", 10},  // EAN-8: the check digit goes
           {"12345678", 1},   // eight characters, another symbology: whole
           {"4006381333931", 10},
           {"K1;4711;5", 1},
           {"4711;5", 1},
           {"A;B;C;D", 1}});
    Cycle();
    EXPECT_EQ(display.status, Status(msg::BrowserOk, msg::MdeReady));
    EXPECT_TRUE(display.tray_ready);
    EXPECT_EQ(display.tray_tip, "VantorTrans : bereit.");
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_EQ(dialogs.boxes[0].text, "Übertragung starten ?");
    EXPECT_EQ(dialogs.boxes[0].title, "Bestätigen");
    EXPECT_EQ(shop.lines, QStringList({"4012345\t1", "12345678\t1", "4006381333931\t1", "4711\t5",
                                       "4711;5", "A;B;C;D"}));
    // The window comes to the front after the box, before the first line.
    EXPECT_EQ(shop.calls.mid(0, 4), QStringList({"find 0", "front", "first", "line 0 4012345\t1"}));
    EXPECT_EQ(display.log, QStringList{"Übertragung erfolgreich"});
    EXPECT_EQ(sim.log_lines("CLEAR"), QStringList{"CLEAR 6 barcodes"});
    EXPECT_TRUE(poll_timer.isActive());

    Cycle();
    EXPECT_EQ(display.status, Status(msg::BrowserOk, msg::MdeNoData));
    EXPECT_TRUE(dialogs.boxes.empty());
    EXPECT_TRUE(shop.lines.isEmpty());
}

TEST_F(OpnLinkTest, SimpleSystemGetsTheCodesAsReadInOneBatch) {
    browserrecord.mode = 1;
    progpar.keysendmode = 1;
    progpar.debug = true;
    Start({{"40123455", 10}, {"K1;4711;5", 1}, {"A;B C;D", 1}});
    Cycle();
    EXPECT_EQ(shop.lines, QStringList({"40123455", "K1;4711;5", "A;B C;D"}));
    EXPECT_EQ(shop.calls.first(), "find 1");
    EXPECT_EQ(shop.calls.indexOf("batch"), 3);
    EXPECT_EQ(shop.calls.last(), "paste");
    EXPECT_EQ(display.log, QStringList({"Barcodes = 3", "Übertragung erfolgreich"}));
    EXPECT_EQ(Clears(), 1);
}

TEST_F(OpnLinkTest, AMissingShopWindowLeavesTheScannerAlone) {
    shop.window = false;
    Start({{"4711", 1}});
    Cycle();
    EXPECT_EQ(display.status, Status(msg::BrowserNoForm, msg::MdeReady));
    EXPECT_FALSE(display.tray_ready);
    EXPECT_EQ(display.tray_tip, "VantorTrans : Bestellformular nicht aktiv.");
    EXPECT_TRUE(dialogs.boxes.empty());
    EXPECT_EQ(sim.log_lines("UPLOAD").size(), 1);  // the poll's question only
    EXPECT_EQ(Clears(), 0);

    // An empty scanner leaves the tray as it was.
    shop.window = true;
    Cycle();
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    Cycle();
    EXPECT_EQ(display.status, Status(msg::BrowserOk, msg::MdeNoData));
    shop.window = false;
    Cycle();
    const QString tip = display.tray_tip;
    const int updates = display.tray_updates;
    shop.window = true;
    Cycle();
    EXPECT_EQ(display.tray_tip, tip);
    EXPECT_EQ(display.tray_updates, updates);
}

TEST_F(OpnLinkTest, AFailedPacketFailsTheWholeReadAndKeepsEveryBarcode) {
    progpar.keysendmode = 0;
    Start({{"4711", 1}, {"0815", 1}, {QByteArray(120, '9'), 1}});
    Cycle();
    EXPECT_TRUE(shop.lines.isEmpty());  // nothing half-delivered to be doubled later
    EXPECT_EQ(display.log, QStringList({"Get Packet = -9", "Übertragungsfehler"}));
    EXPECT_EQ(Clears(), 0);
    Cycle();
    EXPECT_EQ(dialogs.boxes.size(), 1u);  // offered again
    EXPECT_EQ(Clears(), 0);
}

TEST_F(OpnLinkTest, AFailedDeliveryEndsTheTransferAndKeepsEveryBarcode) {
    Start({{"4711", 1}, {"0815", 1}, {"4712", 1}});
    shop.fail_at = 1;
    Cycle();
    EXPECT_EQ(shop.lines, QStringList{"4711\t1"});
    EXPECT_FALSE(shop.calls.contains("line 0 4712\t1"));
    EXPECT_EQ(display.log, QStringList{"Übertragungsfehler"});
    EXPECT_EQ(Clears(), 0);

    progpar.keysendmode = 1;
    shop.fail_at = -1;
    Cycle();
    EXPECT_EQ(shop.lines.size(), 3);
    EXPECT_EQ(Clears(), 1);
}

TEST_F(OpnLinkTest, BarcodesThatReachedTheFormAreNotTypedIntoItAgain) {
    Start({{"4711", 1}, {"0815", 1}, {"4712", 1}});
    shop.handle = 0x500001;
    shop.fail_at = 2;
    Cycle();
    EXPECT_EQ(shop.lines, QStringList({"4711\t1", "0815\t1"}));
    EXPECT_EQ(Clears(), 0);

    // A new form gets every barcode (here it fails after the first).
    shop.handle = 0x600001;
    shop.fail_at = 1;
    Cycle();
    EXPECT_EQ(shop.lines, QStringList{"4711\t1"});
    EXPECT_EQ(Clears(), 0);

    // Into that same form again: only what it does not hold yet.
    shop.fail_at = -1;
    Cycle();
    EXPECT_EQ(shop.lines, QStringList({"0815\t1", "4712\t1"}));
    EXPECT_EQ(display.log,
              QStringList({"1 Zeilen bereits übertragen, übersprungen", "Übertragung erfolgreich"}));
    EXPECT_EQ(Clears(), 1);
}

TEST_F(OpnLinkTest, DebugWithDoNotDeleteKeepsTheBarcodesAfterASuccess) {
    progpar.debug = true;
    progpar.donotdelete = true;
    Start({{"4711", 1}, {"0815", 1}});
    Cycle();
    EXPECT_EQ(display.log, QStringList({"Barcodes = 2", "Übertragung erfolgreich"}));
    Cycle();
    EXPECT_EQ(shop.lines.size(), 2);  // the same barcodes, offered again
    EXPECT_EQ(Clears(), 0);
    progpar.donotdelete = false;
    Cycle();
    EXPECT_EQ(Clears(), 1);
}

TEST_F(OpnLinkTest, EveryReadFaultKeepsTheBarcodes) {
    // The poll's upload is the first, the transfer's the second of a cycle.
    for (const char* fault :
         {"no-answer:upload:1", "bad-crc:upload:1", "truncate:upload:1", "oversize:upload:1"}) {
        SCOPED_TRACE(fault);
        sim.stop();
        Start({{"4711", 1}, {"0815", 1}}, {"--fault", fault});
        Cycle();
        EXPECT_EQ(display.log.last(), "Übertragungsfehler");
        EXPECT_TRUE(shop.lines.isEmpty());
        EXPECT_EQ(Clears(), 0);
    }
    // A low battery: the scanner is not ready, nothing is read.
    sim.stop();
    Start({{"4711", 1}}, {"--fault", "battery-low::1"});
    Cycle();
    EXPECT_EQ(display.status, Status(msg::BrowserOk, msg::MdeNotReady));
    EXPECT_TRUE(dialogs.boxes.empty());
    Cycle();
    EXPECT_EQ(shop.lines, QStringList{"4711\t1"});
}

TEST_F(OpnLinkTest, ACsvTargetOutsideMiraboAndDoerfalIsNeverRead) {
    browserrecord.mode = 2;
    Start({{"4711", 1}});
    Cycle();
    EXPECT_EQ(display.status, QStringList{Text(msg::MdeReady)});
    EXPECT_TRUE(dialogs.boxes.empty());
    EXPECT_TRUE(shop.calls.isEmpty());
    EXPECT_EQ(sim.log_lines("UPLOAD").size(), 1);
    EXPECT_EQ(Clears(), 0);
}

TEST_F(OpnLinkTest, MiraboWritesTheBarcodeCsvWithoutAsking) {
    BrandId = 1;
    browserrecord.mode = 2;
    progpar.opn_csvdir = WithTrailingSeparator(ports.folder() + "/out");
    progpar.opn_csvfilename = QStringLiteral("BARCODES.CSV");
    progpar.opn_csvpos = {0, 1, 2};
    progpar.opn_csvseparator = 0;
    QDir().mkpath(progpar.opn_csvdir);
    Start({{"40123455", 10, "2024-01-31 14:05:09"},
           {"K1;4711;5", 1, "2024-03-01 00:30:00"},
           {"0815", 1, "2007-07-09 12:00:00"}});
    Cycle();
    EXPECT_TRUE(dialogs.boxes.empty());
    EXPECT_EQ(display.status, QStringList{Text(msg::MdeReady)});
    EXPECT_EQ(display.tray_tip, "MiraboTrans : bereit.");
    const QStringList files = QDir(progpar.opn_csvdir).entryList(QDir::Files);
    ASSERT_EQ(files.size(), 1);
    EXPECT_TRUE(files[0].startsWith("BARCODES_")) << files[0].toStdString();
    EXPECT_EQ(test::read_file(progpar.opn_csvdir + files[0]),
              "40123455;31.01.2024;14:05:09\r\n"
              "K1;4711;5;01.03.2024;00:30:00\r\n"
              "0815;09.07.2007;12:00:00\r\n");
    EXPECT_EQ(display.log, QStringList{"Übertragung erfolgreich"});
    EXPECT_EQ(Clears(), 1);

    // A directory that takes no file: the user sees the box, the scanner
    // keeps its barcodes.
    sim.stop();
    progpar.opn_csvdir = ports.folder() + "/gone/";
    Start({{"4711", 1}});
    Cycle();
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_TRUE(dialogs.boxes[0].text.startsWith("Fehler beim öffnen der Datei : "));
    EXPECT_EQ(display.log, QStringList{"Übertragungsfehler"});
    EXPECT_EQ(Clears(), 0);
}

TEST_F(OpnLinkTest, OnlyTheOpnDeviceRunsTheCycle) {
    Start({{"4711", 1}});
    progpar.device = 0;
    poll_timer.start();
    Cycle();
    EXPECT_TRUE(poll_timer.isActive());
    EXPECT_TRUE(shop.calls.isEmpty());
    EXPECT_TRUE(display.status.isEmpty());
    EXPECT_EQ(display.toggles, 0);
}

}  // namespace
}  // namespace vt
